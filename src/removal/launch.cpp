#include "removal/launch.h"

#include <algorithm>
#include <cwctype>
#include <vector>

#include "discovery/entry_scan.h"
#include "removal/program.h"

namespace {

// The longest the job wait goes without asking the job itself whether it is empty.
constexpr std::uint32_t kJobSliceMs = 1000;
// How often an entry is looked up while waiting for it to go, without a job, and how often an
// installation's programs are looked at while they are in use or still there.
constexpr std::uint32_t kPollMs = 250;
// How long an installation's program in use is waited for before its uninstall is given up: a
// virus scanner's look passes within it.
constexpr std::uint32_t kInUseWaitMs = 2000;

// Milliseconds left of `limitMs` since `startedAt`; 0 once it has run out.
std::uint32_t Remaining(ProcessApi& processes, std::uint64_t startedAt, std::uint32_t limitMs) {
  const std::uint64_t elapsed = processes.TickCount() - startedAt;
  return static_cast<std::uint32_t>(limitMs - std::min<std::uint64_t>(elapsed, limitMs));
}

// Whether the started process has ended, by a wait that does not block: only then is its exit
// code its own (GetExitCodeProcess gives STILL_ACTIVE, 259, for a process that still runs).
bool HasEnded(ProcessApi& processes, ProcessHandle process) {
  Status error = kSuccess;
  return processes.WaitForProcess(process, 0, &error) == kWaitObject0;
}

// Asks `settled` now, then every kPollMs for at most `limitMs`. Returns whether it said yes.
template <typename Settled>
bool PollUntil(ProcessApi& processes, std::uint32_t limitMs, Settled settled) {
  const std::uint64_t since = processes.TickCount();
  while (!settled()) {
    const std::uint32_t remaining = Remaining(processes, since, limitMs);
    if (remaining == 0) return false;
    processes.Sleep(std::min(remaining, kPollMs));
  }
  return true;
}

// Whether `refused`, programs whose open for writing was refused, are in use. The platform refuses
// such an open (a read-only file, an access list or a security product that denies writing)
// before it looks at sharing, so the refusal says nothing either way: the Restart Manager, which
// needs no access to the files, says who uses them. A program seen loaded in a running process is
// in use whatever the Restart Manager says; only the Restart Manager can tell that none is used
// (a module list shows no file held open, nor the processes it may not read). Returns 0 when none
// is in use, kErrorSharingViolation when one is, and the Restart Manager's error when that cannot
// be told: its own answer (no session left, 353, or its registry lock timed out, 121, both of
// which a restart of the machine mends), not the refusal, which says only that a file is
// read-only or denied.
Status TestRefused(ProcessApi& processes, const std::vector<std::wstring>& refused) {
  std::uint32_t users;  // written by a count that succeeds
  const Status asked = processes.CountFileUsers(refused, &users);
  if (asked == kSuccess && users != 0) return kErrorSharingViolation;
  std::uint32_t loaders;  // written by a count that succeeds
  if (processes.CountModuleLoaders(refused, &loaders) == kSuccess && loaders != 0)
    return kErrorSharingViolation;
  return asked;
}

// Whether one of `programs` is in use: a running program has loaded it or holds it open, so that
// an uninstaller could not delete it. Each is opened for writing without sharing, which fails with
// kErrorSharingViolation while it is in use; one that opens, or that has gone, is not. Returns 0,
// kErrorSharingViolation, or, when an open was refused and nothing could tell whether that
// program is in use, the error of the Restart Manager.
Status TestPrograms(ProcessApi& processes, const std::vector<std::wstring>& programs) {
  std::vector<std::wstring> refused;
  for (const std::wstring& program : programs) {
    const Status opened = processes.OpenUnshared(program);
    if (opened == kErrorSharingViolation) return opened;
    if (opened == kSuccess || opened == kErrorFileNotFound || opened == kErrorPathNotFound) continue;
    refused.push_back(program);
  }
  return refused.empty() ? kSuccess : TestRefused(processes, refused);
}

bool AnyLeft(ProcessApi& processes, const std::vector<std::wstring>& programs) {
  return std::any_of(programs.begin(), programs.end(),
                     [&](const std::wstring& program) { return processes.FileExists(program); });
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

// What an environment block is sorted by: a "NAME=value" variable's name, in capitals. The
// platform's "=C:=C:\" (drive C:'s current folder) gives "", which sorts first, as it does.
std::wstring SortKey(std::wstring_view variable) {
  std::wstring key(variable.substr(0, variable.find(L'=')));
  std::transform(key.begin(), key.end(), key.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
  return key;
}

// The environment block an uninstaller gets, or "" for the tool's own. An NSIS uninstaller copies
// itself to its temporary folder and runs the copy; for a process running as SYSTEM that folder
// is C:\Windows\Temp, where any user may create files and folders. Where the platform gives
// SYSTEM a folder of its own (GetTempPath2W: C:\Windows\SystemTemp, which other users cannot
// reach), TMP and TEMP name that folder; for any other user GetTempPath2W gives what
// GetTempPathW gives, and there, as on a Windows without the function, the environment is the
// tool's, unchanged. The platform does not check that the folder is there, and nothing says that
// the updates that brought the function to older Windows made it: where it is not a folder, the
// environment is the tool's too. The block stays sorted by name, as the platform asks.
std::wstring UninstallerEnvironment(ProcessApi& processes) {
  std::wstring folder = processes.TempFolder2();
  if (folder.empty() || folder == processes.TempFolder()) return L"";
  // Written as TEMP is, without its last backslash, but for a drive's root, "X:\".
  if (folder.back() == L'\\' && folder.size() != 3) folder.pop_back();
  if (!processes.FolderExists(folder)) return L"";
  std::vector<std::wstring> variables = processes.Environment();
  for (const std::wstring name : {L"TEMP", L"TMP"}) {
    const auto at = std::find_if(variables.begin(), variables.end(),
                                 [&](const std::wstring& variable) { return SortKey(variable) >= name; });
    const std::wstring variable = name + L"=" + folder;
    if (at != variables.end() && SortKey(*at) == name)
      *at = variable;
    else
      variables.insert(at, variable);
  }
  // Each variable ends in a NUL; the string's own terminator ends the block.
  std::wstring block;
  for (const std::wstring& variable : variables) {
    block += variable;
    block += L'\0';
  }
  return block;
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
  Status tested = kSuccess;
  static_cast<void>(PollUntil(processes, kInUseWaitMs, [&] {
    tested = TestPrograms(processes, programs);
    return tested != kErrorSharingViolation;
  }));
  // In use after the last try, or not to be told: the installation is kept whole.
  if (tested != kSuccess) return tested;
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
    if (!PollUntil(processes, leftFor, [&] { return !AnyLeft(processes, programs); }))
      return kErrorInstallFailure;
  }
  // An exit code with its top bit set (a crash, say) becomes a negative status.
  return static_cast<Status>(exitCode);
}
