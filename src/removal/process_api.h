#pragma once

#include <cstdint>
#include <string>

#include "status.h"

// A process or thread handle as the platform hands it out (a HANDLE on Windows).
using ProcessHandle = void*;

inline constexpr std::uint32_t kWaitObject0 = 0;             // WAIT_OBJECT_0
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;     // WAIT_FAILED
inline constexpr std::uint32_t kCreateNoWindow = 0x08000000;          // CREATE_NO_WINDOW
inline constexpr std::uint32_t kCreateDefaultErrorMode = 0x04000000;  // CREATE_DEFAULT_ERROR_MODE
inline constexpr std::uint32_t kCreateSuspended = 0x00000004;         // CREATE_SUSPENDED
// The job message that its count of active processes has dropped to zero.
inline constexpr std::uint32_t kJobMessageActiveProcessZero = 4;  // JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO

class ProcessApi;

// Owns two handles of the process API and closes the first, then the second. Move-only.
class OwnedHandles {
 public:
  OwnedHandles() = default;
  OwnedHandles(ProcessApi* processes, ProcessHandle first, ProcessHandle second)
      : processes_(processes), first_(first), second_(second) {}
  OwnedHandles(OwnedHandles&& other) noexcept { *this = static_cast<OwnedHandles&&>(other); }
  OwnedHandles& operator=(OwnedHandles&& other) noexcept;
  OwnedHandles(const OwnedHandles&) = delete;
  OwnedHandles& operator=(const OwnedHandles&) = delete;
  ~OwnedHandles() { Close(); }

  void Close();

 protected:
  ProcessApi* processes_ = nullptr;
  ProcessHandle first_ = nullptr;
  ProcessHandle second_ = nullptr;
};

// A started child's handles: the thread handle is closed first, then the process handle.
// Closing them does not stop the child.
class OwnedProcess : public OwnedHandles {
 public:
  OwnedProcess() = default;
  OwnedProcess(ProcessApi* processes, ProcessHandle process, ProcessHandle thread)
      : OwnedHandles(processes, thread, process) {}
  ProcessHandle Process() const { return second_; }
  ProcessHandle Thread() const { return first_; }
};

// A job object and the completion port that receives its messages. Closing them does not stop
// the processes in the job.
class OwnedJob : public OwnedHandles {
 public:
  OwnedJob() = default;
  OwnedJob(ProcessApi* processes, ProcessHandle job, ProcessHandle port)
      : OwnedHandles(processes, job, port) {}
  ProcessHandle Job() const { return first_; }
  ProcessHandle Port() const { return second_; }
};

// The process operations the launch uses. WinProcesses calls Windows; the unit tests put a fake
// in its place.
class ProcessApi {
 public:
  virtual ~ProcessApi() = default;

  // CreateProcessW with `application` (null: the platform takes the program from the command
  // line), `commandLine` (which the platform may change in place), no security attributes, no
  // inherited handles, `flags`, the caller's environment, `directory`, and a STARTUPINFOW that is
  // zero but for its size and STARTF_USESTDHANDLES (the child gets no standard handle of ours).
  // Returns 0, with `process` owning the child's handles, or the error code of the failed start.
  [[nodiscard]] virtual Status StartProcess(const wchar_t* application, wchar_t* commandLine,
                                            std::uint32_t flags, const wchar_t* directory,
                                            OwnedProcess* process) = 0;

  // Whether `path` names an existing file (a folder is not one).
  virtual bool FileExists(const std::wstring& path) = 0;

  // GetSystemDirectoryW and GetSystemWindowsDirectoryW: the system folder and the Windows folder
  // shared by every user, without a trailing backslash; "" when the platform does not say.
  virtual std::wstring SystemFolder() = 0;
  virtual std::wstring WindowsFolder() = 0;

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

  // CreateJobObjectW with no name and no limits (so closing it stops nothing), and
  // CreateIoCompletionPort with SetInformationJobObject to send its messages to a port of its
  // own. Returns 0, with `job` owning both, or the error code.
  [[nodiscard]] virtual Status CreateJob(OwnedJob* job) = 0;

  // AssignProcessToJobObject. Returns 0 or the error code.
  [[nodiscard]] virtual Status AssignToJob(ProcessHandle job, ProcessHandle process) = 0;

  // GetQueuedCompletionStatus on a job's port: 0 with `message` set to the job message that
  // came within `timeoutMs`, kWaitTimeout when none came, or the error code.
  [[nodiscard]] virtual Status WaitForJobMessage(ProcessHandle port, std::uint32_t timeoutMs,
                                                 std::uint32_t* message) = 0;

  // GetTickCount64: milliseconds since some fixed moment.
  virtual std::uint64_t TickCount() = 0;

  virtual void CloseHandle(ProcessHandle handle) = 0;
};

inline OwnedHandles& OwnedHandles::operator=(OwnedHandles&& other) noexcept {
  if (this != &other) {
    Close();
    processes_ = other.processes_;
    first_ = other.first_;
    second_ = other.second_;
    other.processes_ = nullptr;
    other.first_ = nullptr;
    other.second_ = nullptr;
  }
  return *this;
}

inline void OwnedHandles::Close() {
  if (processes_ != nullptr) {
    if (first_ != nullptr) processes_->CloseHandle(first_);
    if (second_ != nullptr) processes_->CloseHandle(second_);
  }
  processes_ = nullptr;
  first_ = nullptr;
  second_ = nullptr;
}
