#include "removal/launch.h"

#include <algorithm>
#include <vector>

#include "discovery/entry_scan.h"
#include "removal/environment.h"
#include "removal/in_use.h"
#include "removal/poll.h"
#include "removal/program.h"

namespace {

// The longest the job wait goes without asking the job itself whether it is empty.
constexpr std::uint32_t kJobSliceMs = 1000;

// Whether the started process has ended, by a wait that does not block: only then is its exit
// code its own (GetExitCodeProcess gives STILL_ACTIVE, 259, for a process that still runs).
bool HasEnded(ProcessApi& processes, ProcessHandle process) {
  Status error = kSuccess;
  return processes.WaitForProcess(process, 0, &error) == kWaitObject0;
}

// Waits until the uninstall in `job` is over: the job itself says that no process is active in
// it, after each slice of at most kJobSliceMs. A job message only prompts the question: a nested
// job's messages reach this port too (an uninstaller may put its helpers in a job of its own), and
// the platform may lose one. Once the started process has ended and its entry is gone, what is
// still in the job gets kLeftoverWaitMs more, within the limit; then the uninstall is done. Returns
// 0 when it is over or done, kWaitTimeout when the limit runs out first, or the error of the wait;
// `doneAt` is when it was last found done, or is left as it was.
Status WaitForJob(ProcessApi& processes, ProcessHandle job, ProcessHandle port,
                  ProcessHandle process, const UninstallEntry& entry, std::uint64_t startedAt,
                  std::uint32_t limitMs, std::uint64_t* doneAt) {
  bool done = false;  // the started process has ended and its entry is gone
  for (;;) {
    const std::uint32_t limitLeft = Remaining(processes, startedAt, limitMs);
    std::uint32_t remaining = limitLeft;
    if (done) remaining = std::min(remaining, Remaining(processes, *doneAt, kLeftoverWaitMs));
    const Status waited = processes.WaitForJobMessage(port, std::min(remaining, kJobSliceMs));
    if (waited != kSuccess && waited != kWaitTimeout) return waited;
    std::uint32_t active;  // written by a count that succeeds
    const bool empty = processes.CountActiveProcesses(job, &active) == kSuccess && active == 0;
    const bool ended = HasEnded(processes, process);
    if (empty && ended) return kSuccess;
    // What it left running (a page in a browser, a helper that deletes the uninstaller, the
    // desktop process it made the system start) is not the uninstall.
    const bool nowDone =
        ended && LookUpEntry(entry.registry, entry.view, entry.name) == kErrorFileNotFound;
    if (nowDone && !done) *doneAt = processes.TickCount();
    done = nowDone;
    // Past the limit, a stream of messages (processes coming and going) must not keep the tool
    // waiting.
    if (remaining == 0 && (done || limitLeft == 0)) return done ? kSuccess : kWaitTimeout;
  }
}

// Waits for the started process alone.
Status WaitForProcess(ProcessApi& processes, ProcessHandle process, std::uint64_t startedAt,
                      std::uint32_t limitMs) {
  Status error = kSuccess;
  const std::uint32_t waited =
      processes.WaitForProcess(process, Remaining(processes, startedAt, limitMs), &error);
  if (waited == kWaitFailed) return error;
  // WAIT_TIMEOUT, and anything else that is not the end of the process, counts as the limit
  // having run out.
  return waited == kWaitObject0 ? kSuccess : kWaitTimeout;
}

// Waits at most `forMs` until `entry` is gone (or cannot be looked up).
void WaitForEntryToGo(ProcessApi& processes, const UninstallEntry& entry, std::uint32_t forMs) {
  static_cast<void>(PollUntil(processes, forMs, [&] {
    return LookUpEntry(entry.registry, entry.view, entry.name) != kSuccess;
  }));
}

}  // namespace

Status RunUninstaller(ProcessApi& processes, WindowsKind windows, const UninstallEntry& entry,
                      std::wstring_view uninstallString, std::uint32_t waitMs) {
  StartCommand command;
  const Status chosen = ChooseProgram(processes, windows, entry.view, uninstallString, &command);
  if (chosen != kSuccess) return chosen;
  // An uninstaller cannot delete a program in use, and goes on without it: the installation would
  // be left half removed, its entry gone, with nothing left to remove it by. Kept whole, a later
  // run removes it.
  const std::vector<std::wstring> programs = InstallationPrograms(processes, command.folder);
  // In use after the last try, or not to be told: the installation is kept whole.
  const Status free = WaitForProgramsFree(processes, programs);
  if (free != kSuccess) return free;
  const std::wstring environment = UninstallerEnvironment(processes);
  const std::uint64_t startedAt = processes.TickCount();

  // Declared in the reverse of the order they close in: job, port, thread, process.
  OwnedHandle process;
  OwnedHandle thread;
  const std::uint32_t flags = kCreateNoWindow | kCreateDefaultErrorMode | kCreateSuspended |
                              (environment.empty() ? 0 : kCreateUnicodeEnvironment);
  const Status started = processes.StartProcess(
      command.program.c_str(), command.commandLine.data(), flags,
      environment.empty() ? nullptr : environment.c_str(), L"C:\\", &process, &thread);
  if (started != kSuccess) return started;

  // An uninstaller may hand its work to a process of its own and exit at once: an NSIS
  // uninstaller copies itself to the temporary folder, starts the copy and ends. In a job of its
  // own, with everything it starts, the uninstall is over when the job is empty. The child is
  // placed in the job before it runs, so nothing it starts escapes unless it asks to. Where no job
  // can be had (the tool may itself run in a job that allows no nesting) the tool waits for the
  // child, then for its entry to go.
  OwnedHandle port;
  OwnedHandle job;
  const bool inJob = processes.CreateJob(&job, &port) == kSuccess &&
                     processes.AssignToJob(job.Get(), process.Get()) == kSuccess;

  const Status resumed = processes.ResumeThread(thread.Get());
  if (resumed != kSuccess) {
    // A child that never ran must not stay behind, suspended.
    static_cast<void>(processes.TerminateProcess(process.Get(), static_cast<std::uint32_t>(resumed)));
    return resumed;
  }

  // On a run-out wait everything is left running: closing the job stops nothing. Either wait
  // returns 0 only once the started process has ended.
  std::uint64_t doneAt = 0;
  const Status waited =
      inJob ? WaitForJob(processes, job.Get(), port.Get(), process.Get(), entry, startedAt, waitMs,
                         &doneAt)
            : WaitForProcess(processes, process.Get(), startedAt, waitMs);
  if (waited != kSuccess) return waited;

  std::uint32_t exitCode;  // written by a read that succeeds
  const Status read = processes.GetExitCode(process.Get(), &exitCode);
  if (read != kSuccess) return read;
  // An uninstaller that exited with 0 may have handed its work on. Without a job, to a copy of
  // itself (an NSIS uninstaller does) that the tool does not see: its entry is waited for within
  // the limit. In a job that is empty with the entry still there, to what a job does not hold (a
  // service, a scheduled task, a process that broke away): its entry gets the half minute that
  // leftovers get, from the job's emptying, within the limit.
  if (exitCode == 0 && doneAt == 0) {  // only a job wait that saw the entry gone set doneAt
    std::uint32_t entryFor = Remaining(processes, startedAt, waitMs);
    if (inJob) entryFor = std::min(entryFor, kLeftoverWaitMs);
    WaitForEntryToGo(processes, entry, entryFor);
  }
  // An uninstall that is done, its entry gone, has taken its programs too: an NSIS uninstaller
  // deletes its entry first and its files after, so they get the same half minute as what it
  // left running, counted from when it was found done. A program left after that needs a person:
  // with its entry gone, no later run can remove it.
  if (exitCode == 0 && !programs.empty() &&
      LookUpEntry(entry.registry, entry.view, entry.name) == kErrorFileNotFound) {
    if (doneAt == 0) doneAt = processes.TickCount();
    const std::uint32_t leftFor =
        std::min(Remaining(processes, doneAt, kLeftoverWaitMs), Remaining(processes, startedAt, waitMs));
    if (!WaitForProgramsToGo(processes, programs, leftFor))
      return kErrorInstallFailure;
  }
  // An exit code with its top bit set (a crash, say) becomes a negative status.
  return static_cast<Status>(exitCode);
}
