#include "discovery/entry_scan.h"

EntryList ScanUninstallEntries(RegistryApi& registry, const OwnedKey& uninstallKey) {
  EntryList entries;
  // A count that cannot be read is left at 0: nothing to scan.
  std::uint32_t count = 0;
  static_cast<void>(registry.QuerySubkeyCount(uninstallKey.Get(), &count));

  wchar_t name[kEnumeratedNameLength];
  for (std::uint32_t index = 0; index < count; ++index) {
    std::uint32_t length = kEnumeratedNameLength;
    if (registry.EnumerateSubkey(uninstallKey.Get(), index, name, &length) != kSuccess) continue;
    // The name is the length the enumeration gives, whatever it holds: a NUL inside it does not
    // end it. A length past the buffer would be a platform fault.
    if (length >= kEnumeratedNameLength) continue;
    const std::wstring_view found(name, length);
    if (found.find(kProductMarker) != std::wstring_view::npos) entries.emplace_back(found);
  }
  return entries;
}

Status OpenEntry(RegistryApi& registry, RegistryView view, std::wstring_view name, OwnedKey* key) {
  // The platform reads a key path up to its first NUL: this name would open another key.
  if (name.find(L'\0') != std::wstring_view::npos) return kErrorInvalidName;
  std::wstring path = kUninstallKeyPath;
  path += L'\\';
  path += name;
  return registry.OpenKey(path, ValueAccess(view), key);
}

Status LookUpEntry(RegistryApi& registry, RegistryView view, std::wstring_view name) {
  OwnedKey key;
  return OpenEntry(registry, view, name, &key);
}
