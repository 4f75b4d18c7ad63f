#include "removal/in_use.h"

#include <algorithm>

#include "removal/poll.h"

namespace {

// How long an installation's program in use is waited for before its uninstall is given up: a
// virus scanner's look passes within it.
constexpr std::uint32_t kInUseWaitMs = 2000;

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

}  // namespace

Status WaitForProgramsFree(ProcessApi& processes, const std::vector<std::wstring>& programs) {
  Status tested = kSuccess;
  static_cast<void>(PollUntil(processes, kInUseWaitMs, [&] {
    tested = TestPrograms(processes, programs);
    return tested != kErrorSharingViolation;
  }));
  return tested;
}

bool WaitForProgramsToGo(ProcessApi& processes, const std::vector<std::wstring>& programs,
                         std::uint32_t limitMs) {
  return PollUntil(processes, limitMs, [&] { return !AnyLeft(processes, programs); });
}
