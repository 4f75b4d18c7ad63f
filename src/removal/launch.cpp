#include "removal/launch.h"

namespace {

// Milliseconds left of `limitMs` since `startedAt`; 0 once it has run out.
std::uint32_t Remaining(ProcessApi& processes, std::uint64_t startedAt, std::uint32_t limitMs) {
  const std::uint64_t elapsed = processes.TickCount() - startedAt;
  return elapsed >= limitMs ? 0 : static_cast<std::uint32_t>(limitMs - elapsed);
}

// Waits until no process is left in `job`. Returns 0, kWaitTimeout when the limit runs out
// first, or the error of the wait.
Status WaitForEmptyJob(ProcessApi& processes, const OwnedJob& job, std::uint64_t startedAt,
                       std::uint32_t limitMs) {
  for (;;) {
    const std::uint32_t remaining = Remaining(processes, startedAt, limitMs);
    std::uint32_t message = 0;
    const Status status = processes.WaitForJobMessage(job.Port(), remaining, &message);
    if (status != kSuccess) return status;
    if (message == kJobMessageActiveProcessZero) return kSuccess;
    // Any other message (a process started or ended in the job) means the job goes on; past the
    // limit, a stream of them must not keep the tool waiting.
    if (remaining == 0) return kWaitTimeout;
  }
}

// Waits for the started process alone.
Status WaitForProcess(ProcessApi& processes, const OwnedProcess& child, std::uint64_t startedAt,
                      std::uint32_t limitMs) {
  Status error = kSuccess;
  const std::uint32_t waited =
      processes.WaitForProcess(child.Process(), Remaining(processes, startedAt, limitMs), &error);
  if (waited == kWaitFailed) return error;
  // WAIT_TIMEOUT, and anything else that is not the end of the child, counts as the limit
  // having run out.
  return waited == kWaitObject0 ? kSuccess : kWaitTimeout;
}

}  // namespace

Status RunUninstaller(ProcessApi& processes, wchar_t* commandLine, std::uint32_t waitMs) {
  const std::uint64_t startedAt = processes.TickCount();
  OwnedProcess child;
  const Status started = processes.StartProcess(
      commandLine, kCreateNoWindow | kCreateDefaultErrorMode | kCreateSuspended, L"C:\\", &child);
  if (started != kSuccess) return started;

  // An uninstaller may hand its work to a process of its own and exit at once: an NSIS
  // uninstaller copies itself to the temporary folder, starts the copy and ends. In a job of its
  // own, with everything it starts, the uninstall is over when the job is empty. The child is
  // placed in the job before it runs, so nothing it starts escapes. Where no job can be had (the
  // tool may itself run in a job that allows no nesting) the tool waits for the child alone.
  OwnedJob job;
  if (processes.CreateJob(&job) != kSuccess ||
      processes.AssignToJob(job.Job(), child.Process()) != kSuccess)
    job.Close();

  const Status resumed = processes.ResumeThread(child.Thread());
  if (resumed != kSuccess) {
    // A child that never ran must not stay behind, suspended.
    static_cast<void>(processes.TerminateProcess(child.Process(), static_cast<std::uint32_t>(resumed)));
    return resumed;
  }

  // On a run-out wait everything is left running: closing the job stops nothing.
  const Status waited = job.Job() != nullptr ? WaitForEmptyJob(processes, job, startedAt, waitMs)
                                             : WaitForProcess(processes, child, startedAt, waitMs);
  if (waited != kSuccess) return waited;

  std::uint32_t exitCode = 0;
  const Status read = processes.GetExitCode(child.Process(), &exitCode);
  if (read != kSuccess) return read;
  // An exit code with its top bit set (a crash, say) becomes a negative status.
  return static_cast<Status>(exitCode);
}
