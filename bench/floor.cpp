// The floor for detection: open the Uninstall key in both registry views and enumerate every
// subkey name, nothing more. Prints nothing.
#include <windows.h>

#include <initializer_list>

int wmain() {
  for (REGSAM view : {static_cast<REGSAM>(KEY_WOW64_64KEY), static_cast<REGSAM>(0)}) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                      0, KEY_READ | view, &key) != ERROR_SUCCESS)
      continue;
    DWORD count = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr);
    wchar_t name[256];
    for (DWORD index = 0; index < count; ++index) {
      DWORD length = 256;
      RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    }
    RegCloseKey(key);
  }
  return 0;
}
