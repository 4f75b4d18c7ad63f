#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "discovery/registry.h"
#include "removal/process_api.h"
#include "windows_kind.h"

// How long the tool waits for one uninstaller before it moves on: ten minutes.
inline constexpr std::uint32_t kUninstallWaitMs = 600000;

// How long an uninstall whose uninstaller has ended and whose entry is gone is still waited for,
// for the processes it started to end too (an NSIS copy still deleting files): 30 seconds. What
// runs after that is left running.
inline constexpr std::uint32_t kLeftoverWaitMs = 30000;

// The Uninstall entry of the installation an uninstaller removes: whether the uninstall is done
// shows in whether it is gone.
struct UninstallEntry {
  RegistryApi& registry;
  RegistryView view;
  std::wstring_view name;
};

// Runs `uninstallString` followed by " /S", the recorded text with no quotes added or removed, as
// the command line of the program that ChooseProgram names for `entry`'s view of `windows` (a batch file's
// through the command interpreter; the old Ghostscript uninstaller's with " -q" in place of " /S"),
// without a window, in "C:\", and waits, at most `waitMs` from the start, for the uninstall to
// end. In a job of its own: until the job says it is empty (a process that leaves the job is not
// waited for), or until kLeftoverWaitMs after the started process has ended and `entry` is gone;
// a job that empties, its process exiting with 0, with `entry` still there, gives `entry`
// kLeftoverWaitMs more to go. Without a job: until the started process has ended and, when it
// exits with 0, until `entry` is gone. Its environment is the tool's, but for TMP and TEMP where
// the platform gives SYSTEM a temporary folder of its own and that folder is there. Before the
// start, the installation's programs (InstallationPrograms) must be free: one in use is tested
// again every quarter second, and after two seconds nothing is started; one whose test is refused
// (a read-only file) is asked about of the Restart Manager and the running processes' modules, and
// where they cannot tell, nothing is started either. After an uninstall that exited with 0 and
// removed `entry`, they must be gone, within kLeftoverWaitMs of its being found done. Returns the
// exit code of the process it started, read only once that process has ended; kWaitTimeout when
// the wait ran out with the uninstall not done (everything is left running);
// kErrorSharingViolation for an installation in use, left whole; kErrorInstallFailure for programs
// left behind; or the error code of a failed choice, start or wait, or, for a refused test of a
// program that nothing could tell in use or free, the Restart Manager's (the installation left
// whole).
[[nodiscard]] Status RunUninstaller(ProcessApi& processes, WindowsKind windows,
                                    const UninstallEntry& entry, std::wstring_view uninstallString,
                                    std::uint32_t waitMs);
