#pragma once

#include "discovery/registry.h"

// The registry operations on the Windows registry. Not final: a test may take a call's place.
class WinRegistry : public RegistryApi {
 public:
  Status OpenKey(const std::wstring& path, std::uint32_t access, OwnedKey* key) override;
  Status QuerySubkeyCount(KeyHandle key, std::uint32_t* count) override;
  Status EnumerateSubkey(KeyHandle key, std::uint32_t index, wchar_t* name,
                         std::uint32_t* length) override;
  Status QueryValue(KeyHandle key, const wchar_t* valueName, std::uint8_t* data,
                    std::uint32_t* size) override;
  void CloseKey(KeyHandle key) override;
};
