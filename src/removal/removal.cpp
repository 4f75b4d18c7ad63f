#include "removal/removal.h"

#include <algorithm>

#include "discovery/detection.h"
#include "discovery/entry_scan.h"
#include "removal/launch.h"

namespace {

// What one read of UninstallString can return: 511 characters and a terminator.
constexpr std::uint32_t kValueBufferBytes = 1024;

// A failure stays until a later failure replaces it: an entry that succeeds must not hide one
// that failed before it.
void Keep(Status& overall, Status status) {
  if (status != kSuccess) overall = status;
}

// The same for a registry failure, but for an entry that is gone, which leaves nothing to remove:
// "not found", or its key deleted since it was opened (an uninstaller still finishing, or another
// program, removed it).
void KeepUnlessGone(Status& overall, Status status) {
  if (status != kErrorFileNotFound && status != kErrorKeyDeleted) Keep(overall, status);
}

// Reads the UninstallString of the entry `name` in `view` into `text`. Returns 0, or the error of
// the open or of the read. The entry's key is closed again before the uninstaller, which deletes
// it, runs.
Status ReadUninstallString(RegistryApi& registry, RegistryView view, std::wstring_view name,
                           std::wstring* text) {
  OwnedKey entryKey;
  const Status opened = OpenEntry(registry, view, name, &entryKey);
  if (opened != kSuccess) return opened;
  std::uint8_t data[kValueBufferBytes];
  std::uint32_t size = kValueBufferBytes;
  const Status read = registry.QueryValue(entryKey.Get(), L"UninstallString", data, &size);
  if (read != kSuccess) return read;
  // A size beyond the buffer would be a platform fault; never read past what was written.
  *text = ValueText(data, std::min(size, kValueBufferBytes));
  return kSuccess;
}

}  // namespace

std::wstring ValueText(const std::uint8_t* data, std::uint32_t size) {
  std::wstring text;
  for (std::uint32_t offset = 0; offset + 1 < size; offset += 2) {
    // Registry strings are UTF-16 little-endian.
    const auto unit = static_cast<wchar_t>(data[offset] | (data[offset + 1] << 8));
    if (unit == L'\0') break;
    text.push_back(unit);
  }
  return text;
}

Status RemoveInView(Platform& platform, WindowsKind windows, RegistryView view, EntryList& handled) {
  OwnedKey uninstallKey;
  const Status opened =
      platform.registry.OpenKey(kUninstallKeyPath, EnumerateAccess(view), &uninstallKey);
  if (opened != kSuccess) return opened;

  const EntryList entries = ScanUninstallEntries(platform.registry, uninstallKey);
  Status status = kSuccess;
  for (const std::wstring& entry : entries) {
    if (std::find(handled.begin(), handled.end(), entry) != handled.end()) continue;
    handled.push_back(entry);
    // An entry gone by its turn (an earlier uninstaller removed it too, before the open or between
    // the open and the read), or without an UninstallString, leaves nothing to remove. Any other
    // failure (a key that will not open, a value longer than one read can return) may leave an
    // installation behind, which 0 must not hide.
    std::wstring uninstallString;
    const Status read = ReadUninstallString(platform.registry, view, entry, &uninstallString);
    if (read != kSuccess) {
      KeepUnlessGone(status, read);
      continue;
    }

    // Every line so far must be out before an uninstaller that may run for minutes.
    platform.console.Flush();
    const UninstallEntry target{platform.registry, view, entry};
    Status result = RunUninstaller(platform.processes, windows, target, uninstallString,
                                   platform.uninstallWaitMs);
    // Exit code -1 would reach the caller as "not installed", the one status that reads as
    // nothing to do: it is a failed uninstall.
    if (result == kNotInstalled) result = kErrorInstallFailure;
    if (result == kSuccess) {
      // An uninstaller that ends with 0 may still have removed nothing (an NSIS uninstaller's
      // exit code is that of the copy that hands over the work, not of the uninstall): it is
      // done only when its entry is gone. An entry that will not open for another reason may
      // still be there.
      const Status lookedUp = LookUpEntry(platform.registry, view, entry);
      if (lookedUp == kSuccess) result = kErrorInstallFailure;
      else if (lookedUp != kErrorFileNotFound) result = lookedUp;
    }
    Keep(status, result);

    const char* outcome = " is uninstalled\n";
    if (result != kSuccess)
      outcome = view == RegistryView::View64 ? " is failed to uninstall\n"
                                             : " is failed to uninstalled\n";
    platform.console.Write(ViewPrefix(view) + NarrowName(entry) + outcome);
  }
  return status;
}
