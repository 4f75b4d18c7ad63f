#pragma once

#include <cstdint>

#include "removal/process_api.h"

// How long the tool waits for one uninstaller before it moves on: ten minutes.
inline constexpr std::uint32_t kUninstallWaitMs = 600000;

// Runs `commandLine` (writable and terminated; the platform may change it) without a window, in
// "C:\", and waits, at most `waitMs` from the start, until it and every process it started have
// ended. Returns the exit code of the process it started, kWaitTimeout when the wait ran out
// (everything is left running), or the error code of a failed start or wait.
[[nodiscard]] Status RunUninstaller(ProcessApi& processes, wchar_t* commandLine,
                                    std::uint32_t waitMs);
