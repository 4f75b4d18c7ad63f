#pragma once

#include <cstdint>
#include <string>

#include "status.h"

// The two registry views a pass can work in. A 32-bit process sees the 32-bit view by default and
// reaches the 64-bit one only by asking for it.
enum class RegistryView { View64, View32 };

// Under HKEY_LOCAL_MACHINE, in either view.
inline constexpr wchar_t kUninstallKeyPath[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Access mask to open the Uninstall key for counting and enumerating its subkeys.
std::uint32_t EnumerateAccess(RegistryView view);
// Access mask to open one entry's key for reading a value.
std::uint32_t ValueAccess(RegistryView view);

// An open key as the platform hands it out (an HKEY on Windows).
using KeyHandle = void*;

class RegistryApi;

// Owns an open key and closes it when it goes out of scope. Move-only.
class OwnedKey {
 public:
  OwnedKey() = default;
  OwnedKey(RegistryApi* registry, KeyHandle key) : registry_(registry), key_(key) {}
  OwnedKey(OwnedKey&& other) noexcept { *this = static_cast<OwnedKey&&>(other); }
  OwnedKey& operator=(OwnedKey&& other) noexcept;
  OwnedKey(const OwnedKey&) = delete;
  OwnedKey& operator=(const OwnedKey&) = delete;
  ~OwnedKey() { Close(); }

  KeyHandle Get() const { return key_; }

 private:
  void Close();

  RegistryApi* registry_ = nullptr;
  KeyHandle key_ = nullptr;
};

// The registry operations the tool uses. All of them read; all keys are under HKEY_LOCAL_MACHINE.
// WinRegistry calls the Windows registry; the unit tests put a fake in its place.
class RegistryApi {
 public:
  virtual ~RegistryApi() = default;

  // RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access). On success `key` owns the open key;
  // on failure it is left as it was.
  [[nodiscard]] virtual Status OpenKey(const std::wstring& path, std::uint32_t access,
                                       OwnedKey* key) = 0;

  // RegQueryInfoKeyW, asking for the number of subkeys alone: not the class, which may be longer
  // than any buffer given and would fail the call. `count` is written only on success.
  [[nodiscard]] virtual Status QuerySubkeyCount(KeyHandle key, std::uint32_t* count) = 0;

  // RegEnumKeyExW. On input *length is the capacity of `name` in characters, counting the
  // terminator. Status 0 means `name` holds the name of the subkey at `index` and *length its
  // length in characters, which counts any NUL the name holds; a name that does not fit gives
  // kErrorMoreData.
  [[nodiscard]] virtual Status EnumerateSubkey(KeyHandle key, std::uint32_t index, wchar_t* name,
                                               std::uint32_t* length) = 0;

  // RegQueryValueExW without asking for the type. On input *size is the capacity of `data` in
  // bytes; on success it is the number of bytes written, which need not hold a terminator, nor
  // a whole number of wide characters.
  [[nodiscard]] virtual Status QueryValue(KeyHandle key, const wchar_t* valueName,
                                          std::uint8_t* data, std::uint32_t* size) = 0;

  virtual void CloseKey(KeyHandle key) = 0;
};

inline OwnedKey& OwnedKey::operator=(OwnedKey&& other) noexcept {
  if (this != &other) {
    Close();
    registry_ = other.registry_;
    key_ = other.key_;
    other.registry_ = nullptr;
    other.key_ = nullptr;
  }
  return *this;
}

inline void OwnedKey::Close() {
  if (registry_ != nullptr && key_ != nullptr) registry_->CloseKey(key_);
  registry_ = nullptr;
  key_ = nullptr;
}
