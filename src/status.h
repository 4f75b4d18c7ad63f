#pragma once

#include <cstdint>

// Every function of the tool that can fail returns a Status: 0 is success; any other value is a
// Windows error code (as a registry function or GetLastError gives it), an uninstaller's exit
// code, kWaitTimeout, kErrorInstallFailure (an uninstaller that left its entry or its programs
// behind), kErrorSharingViolation (an installation in use, not removed),
// kErrorInstallAlreadyRunning (another run is removing), kErrorInvalidOperation, or kNotInstalled.
using Status = std::int32_t;

inline constexpr Status kSuccess = 0;
inline constexpr Status kNotInstalled = -1;               // no installation in either view
inline constexpr Status kErrorFileNotFound = 2;           // ERROR_FILE_NOT_FOUND
inline constexpr Status kErrorPathNotFound = 3;           // ERROR_PATH_NOT_FOUND
inline constexpr Status kErrorAccessDenied = 5;           // ERROR_ACCESS_DENIED
inline constexpr Status kErrorInvalidHandle = 6;          // ERROR_INVALID_HANDLE
inline constexpr Status kErrorSharingViolation = 32;      // ERROR_SHARING_VIOLATION
inline constexpr Status kErrorInvalidName = 123;          // ERROR_INVALID_NAME
inline constexpr Status kErrorProcNotFound = 127;         // ERROR_PROC_NOT_FOUND
inline constexpr Status kErrorBadPathname = 161;          // ERROR_BAD_PATHNAME
inline constexpr Status kErrorMoreData = 234;             // ERROR_MORE_DATA
inline constexpr Status kWaitTimeout = 258;               // WAIT_TIMEOUT
inline constexpr Status kErrorKeyDeleted = 1018;          // ERROR_KEY_DELETED
inline constexpr Status kErrorInstallFailure = 1603;      // ERROR_INSTALL_FAILURE
inline constexpr Status kErrorInstallAlreadyRunning = 1618;  // ERROR_INSTALL_ALREADY_RUNNING
inline constexpr Status kErrorInvalidOwner = 1307;        // ERROR_INVALID_OWNER
inline constexpr Status kErrorInvalidOperation = 4317;    // ERROR_INVALID_OPERATION
