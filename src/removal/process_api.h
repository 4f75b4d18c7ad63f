#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "status.h"

// A process, thread, job or port handle as the platform hands it out (a HANDLE on Windows).
using ProcessHandle = void*;

inline constexpr std::uint32_t kWaitObject0 = 0;             // WAIT_OBJECT_0
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;     // WAIT_FAILED
inline constexpr std::uint32_t kCreateNoWindow = 0x08000000;          // CREATE_NO_WINDOW
inline constexpr std::uint32_t kCreateDefaultErrorMode = 0x04000000;  // CREATE_DEFAULT_ERROR_MODE
inline constexpr std::uint32_t kCreateSuspended = 0x00000004;         // CREATE_SUSPENDED
inline constexpr std::uint32_t kCreateUnicodeEnvironment = 0x00000400;  // CREATE_UNICODE_ENVIRONMENT
inline constexpr std::uint16_t kMachineI386 = 0x014C;    // IMAGE_FILE_MACHINE_I386
inline constexpr std::uint16_t kMachineAmd64 = 0x8664;   // IMAGE_FILE_MACHINE_AMD64
inline constexpr std::uint16_t kMachineArm64 = 0xAA64;   // IMAGE_FILE_MACHINE_ARM64

class ProcessApi;

// Owns one handle of the process API and closes it when it goes out of scope; closing stops
// nothing. Where handles must close in an order, their owners are declared in the reverse order.
// Move-only.
class OwnedHandle {
 public:
  OwnedHandle() = default;
  OwnedHandle(ProcessApi* processes, ProcessHandle handle) : processes_(processes), handle_(handle) {}
  OwnedHandle(OwnedHandle&& other) noexcept { *this = static_cast<OwnedHandle&&>(other); }
  OwnedHandle& operator=(OwnedHandle&& other) noexcept;
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() { Close(); }

  ProcessHandle Get() const { return handle_; }

 private:
  void Close();

  ProcessApi* processes_ = nullptr;
  ProcessHandle handle_ = nullptr;
};

// The process operations the launch uses. WinProcesses calls Windows; the unit tests put a fake
// in its place.
class ProcessApi {
 public:
  virtual ~ProcessApi() = default;

  // CreateProcessW with `application` (null: the platform takes the program from the command
  // line), `commandLine` (which the platform may change in place), no security attributes, no
  // inherited handles, `flags`, `environment` (null: the caller's; else a block of "NAME=value"
  // strings, each ending in a NUL, and a NUL after the last, with kCreateUnicodeEnvironment in
  // `flags`), `directory`, and a STARTUPINFOW that is zero but for its size and
  // STARTF_USESTDHANDLES (the child gets no standard handle of ours). Returns 0, with `process`
  // and `thread` owning the child's handles, or the error code of the failed start.
  [[nodiscard]] virtual Status StartProcess(const wchar_t* application, wchar_t* commandLine,
                                            std::uint32_t flags, const wchar_t* environment,
                                            const wchar_t* directory, OwnedHandle* process,
                                            OwnedHandle* thread) = 0;

  // The caller's environment, GetEnvironmentStringsW: its "NAME=value" strings, in order.
  virtual std::vector<std::wstring> Environment() = 0;

  // GetTempPathW: the caller's temporary folder, with its trailing backslash; "" when the
  // platform does not say.
  virtual std::wstring TempFolder() = 0;

  // GetTempPath2W, looked up at run time (older Windows lacks it): the same as TempFolder, but for
  // a process running as SYSTEM, C:\Windows\SystemTemp, which only SYSTEM may use. "" where the
  // platform has no such function or does not say.
  virtual std::wstring TempFolder2() = 0;

  // Whether `path` names an existing file (a folder is not one).
  virtual bool FileExists(const std::wstring& path) = 0;

  // Whether `path` names an existing folder.
  virtual bool FolderExists(const std::wstring& path) = 0;

  // FindFirstFileW and FindNextFileW on "`folder`\*": the names of the files in `folder` (not of
  // its folders). Returns 0 with `names` set, or the error code (kErrorPathNotFound or
  // kErrorFileNotFound for a folder that is not there).
  [[nodiscard]] virtual Status ListFiles(const std::wstring& folder,
                                         std::vector<std::wstring>* names) = 0;

  // CreateFileW on an existing `path` for GENERIC_WRITE with no sharing, closed again at once:
  // nothing is created, written or changed. Returns 0, or the error code: kErrorSharingViolation
  // while a running program has loaded the file or another program holds it open.
  [[nodiscard]] virtual Status OpenUnshared(const std::wstring& path) = 0;

  // The Restart Manager (RmStartSession, RmRegisterResources with the files `paths`, RmGetList,
  // RmEndSession): the number of running programs and services that use one of `paths`, whether
  // they have it loaded or hold it open; it needs no access to the files. Returns 0 with `count`
  // written, or the error of the Restart Manager (or of loading it).
  [[nodiscard]] virtual Status CountFileUsers(const std::vector<std::wstring>& paths,
                                              std::uint32_t* count) = 0;

  // The number of running processes that have one of `paths` loaded as a module, by their module
  // lists (CreateToolhelp32Snapshot), paths compared in any letter case. A process whose modules
  // cannot be read (a protected process, a 64-bit one for a 32-bit caller, one that has just
  // ended) is not counted: it says nothing either way. Returns 0 with `count` written, or the
  // error of listing the processes.
  [[nodiscard]] virtual Status CountModuleLoaders(const std::vector<std::wstring>& paths,
                                                  std::uint32_t* count) = 0;

  // GetSystemDirectoryW, GetSystemWindowsDirectoryW and GetSystemWow64DirectoryW: the system
  // folder, the Windows folder shared by every user, and the 32-bit system folder of 64-bit
  // Windows, without a trailing backslash; "" when the platform does not say (there is no 32-bit
  // system folder on 32-bit Windows).
  virtual std::wstring SystemFolder() = 0;
  virtual std::wstring WindowsFolder() = 0;
  virtual std::wstring SystemWow64Folder() = 0;

  // Whether this process is a 64-bit one.
  virtual bool Is64BitProcess() = 0;

  // IsWow64Process2 for this process, looked up at run time (Windows 10 version 1511 and later
  // have it): the native machine of the system, an IMAGE_FILE_MACHINE_* value (kMachineI386 on
  // 32-bit Windows). Returns 0 with `machine` written, or the error (kErrorProcNotFound where the
  // platform has no such function).
  [[nodiscard]] virtual Status NativeMachine(std::uint16_t* machine) = 0;

  // IsWow64Process for this process: whether it is a 32-bit process under WOW64. Returns 0 with
  // `wow64` written, or the error.
  [[nodiscard]] virtual Status IsWow64(bool* wow64) = 0;

  // WaitForSingleObject on a process handle: kWaitObject0 once the process has ended, kWaitFailed
  // with `*error` set to the error code when the wait failed, anything else when it ran out.
  [[nodiscard]] virtual std::uint32_t WaitForProcess(ProcessHandle process,
                                                     std::uint32_t timeoutMs, Status* error) = 0;

  // GetExitCodeProcess. Returns 0, with `exitCode` written, or the error code.
  [[nodiscard]] virtual Status GetExitCode(ProcessHandle process, std::uint32_t* exitCode) = 0;

  // ResumeThread. Returns 0 or the error code.
  [[nodiscard]] virtual Status ResumeThread(ProcessHandle thread) = 0;

  // TerminateProcess with exit code `exitCode`. Returns 0 or the error code.
  [[nodiscard]] virtual Status TerminateProcess(ProcessHandle process, std::uint32_t exitCode) = 0;

  // CreateJobObjectW with no name and only JOB_OBJECT_LIMIT_BREAKAWAY_OK (a process that asks to
  // leave the job may; closing the job stops nothing), and CreateIoCompletionPort with
  // SetInformationJobObject to send its messages to a port of its own. Returns 0, with `job` and
  // `port` owning the two, or the error code.
  [[nodiscard]] virtual Status CreateJob(OwnedHandle* job, OwnedHandle* port) = 0;

  // AssignProcessToJobObject. Returns 0 or the error code.
  [[nodiscard]] virtual Status AssignToJob(ProcessHandle job, ProcessHandle process) = 0;

  // GetQueuedCompletionStatus on a job's port: 0 when a job message came within `timeoutMs`,
  // kWaitTimeout when none came, or the error code. Which message it was is not said: a message
  // only prompts the question whether the job is empty. The platform does not promise to deliver
  // every message.
  [[nodiscard]] virtual Status WaitForJobMessage(ProcessHandle port, std::uint32_t timeoutMs) = 0;

  // QueryInformationJobObject(JobObjectBasicAccountingInformation): the number of processes
  // active in the job. Returns 0, with `count` written, or the error code.
  [[nodiscard]] virtual Status CountActiveProcesses(ProcessHandle job, std::uint32_t* count) = 0;

  // CreateMutexW named `name`, not taken: where it is new, with the Administrators group for its
  // owner and an access list that lets SYSTEM and the Administrators group alone at it
  // ("O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)"). Returns 0 with `lock` owning a handle to it, new or made
  // before, or the error: kErrorAccessDenied where an object of that name is there and denies this
  // process, kErrorInvalidHandle where it is another kind of object, kErrorInvalidOwner where this
  // process may not make the Administrators group an owner (it is not an administrator).
  [[nodiscard]] virtual Status OpenLock(const wchar_t* name, OwnedHandle* lock) = 0;

  // GetSecurityInfo: whether the owner of `lock` is SYSTEM or the Administrators group. Returns 0
  // with `byAdministrators` written, or the error.
  [[nodiscard]] virtual Status LockOwnedByAdministrators(ProcessHandle lock,
                                                         bool* byAdministrators) = 0;

  // WaitForSingleObject on `lock` without waiting: 0 when this thread now holds it (also when the
  // process that held it ended without giving it up: WAIT_ABANDONED), kWaitTimeout when another
  // holds it, or the error.
  [[nodiscard]] virtual Status TryLock(ProcessHandle lock) = 0;

  // ReleaseMutex: gives up a lock this thread holds.
  virtual void ReleaseLock(ProcessHandle lock) = 0;

  // GetTickCount64: milliseconds since some fixed moment.
  virtual std::uint64_t TickCount() = 0;

  // Sleep.
  virtual void Sleep(std::uint32_t ms) = 0;

  virtual void CloseHandle(ProcessHandle handle) = 0;
};

inline OwnedHandle& OwnedHandle::operator=(OwnedHandle&& other) noexcept {
  if (this != &other) {
    Close();
    processes_ = other.processes_;
    handle_ = other.handle_;
    other.processes_ = nullptr;
    other.handle_ = nullptr;
  }
  return *this;
}

inline void OwnedHandle::Close() {
  if (processes_ != nullptr && handle_ != nullptr) processes_->CloseHandle(handle_);
  processes_ = nullptr;
  handle_ = nullptr;
}
