#include "driver.h"

#include <cwchar>
#include <string>

#include "discovery/detection.h"
#include "removal/removal.h"
#include "removal/removal_lock.h"
#include "windows_kind.h"

Status ParseSwitch(int argc, const wchar_t* const* argv, Console& console, RunMode& mode) {
  if (argc < 1) return kErrorInvalidOperation;
  if (argc == 1) return kSuccess;
  if (std::wcscmp(argv[1], L"detect") == 0) {
    mode = RunMode::Detect;
    return kSuccess;
  }
  if (std::wcscmp(argv[1], L"remove") == 0) {
    mode = RunMode::Remove;
    return kSuccess;
  }
  console.Write("Invalid switch\n");
  return kErrorInvalidOperation;
}

namespace {

Status Run(Platform& platform, int argc, const wchar_t* const* argv) {
  RunMode mode = RunMode::Remove;
  const Status parsed = ParseSwitch(argc, argv, platform.console, mode);
  if (parsed != kSuccess) {
    // The only message without a line end.
    platform.console.Write("Operation failed with the error code : " + std::to_string(parsed));
    return parsed;
  }

  // One removal at a time on a machine: a run that finds another removing detects and starts
  // nothing, and says so; the deployment system tries again later. Detection alone takes no lock.
  RemovalLock lock(platform.processes);
  if (mode == RunMode::Remove) {
    const Status locked = lock.Take();
    if (locked == kErrorInstallAlreadyRunning) {
      platform.console.Write("Another gs-uninstall is removing Ghostscript: try again later.\n");
      return locked;
    }
    if (locked != kSuccess) {
      platform.console.Write("The lock that keeps removals apart could not be taken: error " +
                             std::to_string(locked) + ".\n");
      return locked;
    }
  }

  bool found64 = false;
  bool found32 = false;
  const Status status64 = DetectInView(platform, RegistryView::View64, found64);
  const Status status32 = DetectInView(platform, RegistryView::View32, found32);
  if (!found64 && !found32) {
    platform.console.Write("Ghostscript is not installed.\n");
    return kNotInstalled;
  }

  // A view whose Uninstall key would not open gets no removal pass. A failure, once seen, is
  // replaced only by a later failure, never by a later success.
  Status result = kSuccess;
  // Which Windows this is decides whether the views are one and where each view's system
  // programs are: asked once, for both passes.
  const WindowsKind windows =
      mode == RunMode::Remove ? TellWindows(platform.processes) : WindowsKind::Windows64;
  EntryList handled64;
  if (status64 != kSuccess)
    result = status64;
  else if (mode == RunMode::Remove)
    result = RemoveInView(platform, windows, RegistryView::View64, handled64);

  if (status32 != kSuccess) return status32;
  if (mode == RunMode::Remove) {
    // Where both views are one registry (32-bit Windows), the second pass finds the first one's
    // entries again: each installation is handled once a run, its uninstaller run once.
    EntryList handled32;
    EntryList& handled = windows == WindowsKind::Windows32 ? handled64 : handled32;
    const Status removed32 = RemoveInView(platform, windows, RegistryView::View32, handled);
    if (removed32 != kSuccess) result = removed32;
  }
  return result;
}

}  // namespace

Status RunTool(Platform& platform, int argc, const wchar_t* const* argv) {
  const Status status = Run(platform, argc, argv);
  // Nothing may stay in a buffer when the exit status goes back to the caller.
  platform.console.Flush();
  return status;
}
