#include "discovery/win_registry.h"

#include <windows.h>

namespace {

HKEY ToHkey(KeyHandle key) { return static_cast<HKEY>(key); }

}  // namespace

Status WinRegistry::OpenKey(const std::wstring& path, std::uint32_t access, OwnedKey* key) {
  HKEY opened = nullptr;
  const LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &opened);
  if (status == ERROR_SUCCESS) *key = OwnedKey(this, opened);
  return status;
}

Status WinRegistry::QuerySubkeyCount(KeyHandle key, std::uint32_t* count) {
  DWORD subkeys = 0;
  const LONG status = RegQueryInfoKeyW(ToHkey(key), nullptr, nullptr, nullptr, &subkeys, nullptr,
                                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  if (status == ERROR_SUCCESS) *count = subkeys;
  return status;
}

Status WinRegistry::EnumerateSubkey(KeyHandle key, std::uint32_t index, wchar_t* name,
                                    std::uint32_t* length) {
  DWORD nameLength = *length;
  FILETIME lastWrite;
  const LONG status = RegEnumKeyExW(ToHkey(key), index, name, &nameLength, nullptr, nullptr,
                                    nullptr, &lastWrite);
  if (status == ERROR_SUCCESS) *length = nameLength;
  return status;
}

Status WinRegistry::QueryValue(KeyHandle key, const wchar_t* valueName, std::uint8_t* data,
                               std::uint32_t* size) {
  DWORD dataSize = *size;
  const LONG status = RegQueryValueExW(ToHkey(key), valueName, nullptr, nullptr, data, &dataSize);
  if (status == ERROR_SUCCESS) *size = dataSize;
  return status;
}

void WinRegistry::CloseKey(KeyHandle key) { RegCloseKey(ToHkey(key)); }
