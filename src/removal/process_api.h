#pragma once

#include <cstdint>

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

// Owns a job object and the completion port that receives its messages; closes both. Closing
// them does not stop the processes in the job. Move-only.
class OwnedJob {
 public:
  OwnedJob() = default;
  OwnedJob(ProcessApi* processes, ProcessHandle job, ProcessHandle port)
      : processes_(processes), job_(job), port_(port) {}
  OwnedJob(OwnedJob&& other) noexcept { *this = static_cast<OwnedJob&&>(other); }
  OwnedJob& operator=(OwnedJob&& other) noexcept;
  OwnedJob(const OwnedJob&) = delete;
  OwnedJob& operator=(const OwnedJob&) = delete;
  ~OwnedJob() { Close(); }

  ProcessHandle Job() const { return job_; }
  ProcessHandle Port() const { return port_; }
  void Close();

 private:
  ProcessApi* processes_ = nullptr;
  ProcessHandle job_ = nullptr;
  ProcessHandle port_ = nullptr;
};

// Owns the two handles of a started child and closes the thread handle, then the process handle.
// Closing them does not stop the child. Move-only.
class OwnedProcess {
 public:
  OwnedProcess() = default;
  OwnedProcess(ProcessApi* processes, ProcessHandle process, ProcessHandle thread)
      : processes_(processes), process_(process), thread_(thread) {}
  OwnedProcess(OwnedProcess&& other) noexcept { *this = static_cast<OwnedProcess&&>(other); }
  OwnedProcess& operator=(OwnedProcess&& other) noexcept;
  OwnedProcess(const OwnedProcess&) = delete;
  OwnedProcess& operator=(const OwnedProcess&) = delete;
  ~OwnedProcess() { Close(); }

  ProcessHandle Process() const { return process_; }
  ProcessHandle Thread() const { return thread_; }

 private:
  void Close();

  ProcessApi* processes_ = nullptr;
  ProcessHandle process_ = nullptr;
  ProcessHandle thread_ = nullptr;
};

// The process operations the launch uses. WinProcesses calls Windows; the unit tests put a fake
// in its place.
class ProcessApi {
 public:
  virtual ~ProcessApi() = default;

  // CreateProcessW with no application name, `commandLine` (which the platform may change in
  // place), no security attributes, no inherited handles, `flags`, the caller's environment,
  // `directory`, and a STARTUPINFOW that is zero but for its size and STARTF_USESTDHANDLES (the
  // child gets no standard handle of ours). Returns 0, with `process`
  // owning the child's handles, or the error code of the failed start.
  [[nodiscard]] virtual Status StartProcess(wchar_t* commandLine, std::uint32_t flags,
                                            const wchar_t* directory, OwnedProcess* process) = 0;

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

inline OwnedJob& OwnedJob::operator=(OwnedJob&& other) noexcept {
  if (this != &other) {
    Close();
    processes_ = other.processes_;
    job_ = other.job_;
    port_ = other.port_;
    other.processes_ = nullptr;
    other.job_ = nullptr;
    other.port_ = nullptr;
  }
  return *this;
}

inline void OwnedJob::Close() {
  if (processes_ != nullptr) {
    if (job_ != nullptr) processes_->CloseHandle(job_);
    if (port_ != nullptr) processes_->CloseHandle(port_);
  }
  processes_ = nullptr;
  job_ = nullptr;
  port_ = nullptr;
}

inline OwnedProcess& OwnedProcess::operator=(OwnedProcess&& other) noexcept {
  if (this != &other) {
    Close();
    processes_ = other.processes_;
    process_ = other.process_;
    thread_ = other.thread_;
    other.processes_ = nullptr;
    other.process_ = nullptr;
    other.thread_ = nullptr;
  }
  return *this;
}

inline void OwnedProcess::Close() {
  if (processes_ != nullptr) {
    if (thread_ != nullptr) processes_->CloseHandle(thread_);
    if (process_ != nullptr) processes_->CloseHandle(process_);
  }
  processes_ = nullptr;
  process_ = nullptr;
  thread_ = nullptr;
}
