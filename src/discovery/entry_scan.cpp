#include "discovery/entry_scan.h"

#include <cwchar>

EntryList ScanUninstallEntries(RegistryApi& registry, const OwnedKey& uninstallKey) {
  EntryList entries;
  std::uint32_t count = 0;
  if (registry.QuerySubkeyCount(uninstallKey.Get(), &count) != kSuccess) return entries;

  // One character more than the enumeration is told, so a name is terminated whatever the
  // platform wrote.
  wchar_t name[kEnumeratedNameLength + 1];
  for (std::uint32_t index = 0; index < count; ++index) {
    std::uint32_t length = kEnumeratedNameLength;
    name[kEnumeratedNameLength] = L'\0';
    if (registry.EnumerateSubkey(uninstallKey.Get(), index, name, &length) != kSuccess) continue;
    if (std::wcsstr(name, kProductMarker) != nullptr) entries.emplace_back(name);
  }
  return entries;
}
