#include "discovery/detection.h"

#include "discovery/entry_scan.h"

const char* ViewPrefix(RegistryView view) { return view == RegistryView::View32 ? "32bit " : ""; }

Status DetectInView(Platform& platform, RegistryView view, bool& found) {
  OwnedKey uninstallKey;
  const Status status =
      platform.registry.OpenKey(kUninstallKeyPath, EnumerateAccess(view), &uninstallKey);
  if (status != kSuccess) return status;

  const EntryList entries = ScanUninstallEntries(platform.registry, uninstallKey);
  found = false;
  for (const std::wstring& entry : entries) {
    platform.console.Write(ViewPrefix(view) + NarrowName(entry) + " is detected\n");
    found = true;
  }
  return kSuccess;
}
