// gs-uninstall.exe as shipped: its only resource is the manifest that keeps Windows from asking
// for elevation.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

BOOL CALLBACK AddType(HMODULE, LPWSTR type, LONG_PTR list) {
  reinterpret_cast<std::vector<ULONG_PTR>*>(list)->push_back(reinterpret_cast<ULONG_PTR>(type));
  return TRUE;
}

BOOL CALLBACK AddName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR list) {
  reinterpret_cast<std::vector<ULONG_PTR>*>(list)->push_back(reinterpret_cast<ULONG_PTR>(name));
  return TRUE;
}

TEST(Executable, ManifestIsTheOnlyResourceAndAsksForNoElevation) {
  const std::wstring path = BuildDir() + L"\\gs-uninstall.exe";
  HMODULE image = LoadLibraryExW(path.c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(image, nullptr) << GetLastError();

  std::vector<ULONG_PTR> types;
  EnumResourceTypesW(image, AddType, reinterpret_cast<LONG_PTR>(&types));
  EXPECT_EQ(types, std::vector<ULONG_PTR>{24});  // RT_MANIFEST
  std::vector<ULONG_PTR> names;
  EnumResourceNamesW(image, MAKEINTRESOURCEW(24), AddName, reinterpret_cast<LONG_PTR>(&names));
  EXPECT_EQ(names, std::vector<ULONG_PTR>{1});  // the manifest of a process

  HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(found, nullptr);
  const char* data = static_cast<const char*>(LockResource(LoadResource(image, found)));
  const std::string manifest(data, SizeofResource(image, found));
  EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"),
            std::string::npos)
      << manifest;
  FreeLibrary(image);
}

}  // namespace
