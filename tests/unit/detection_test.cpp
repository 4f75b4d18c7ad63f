#include <gtest/gtest.h>

#include "discovery/detection.h"
#include "discovery/entry_scan.h"
#include "fakes.h"

namespace {

FakeView ViewOf(std::initializer_list<const wchar_t*> names) {
  FakeView view;
  for (const wchar_t* name : names) view.entries.push_back({name});
  return view;
}

EntryList Scan(FakeRegistry& registry, RegistryView view) {
  OwnedKey key;
  EXPECT_EQ(registry.OpenKey(kUninstallKeyPath, EnumerateAccess(view), &key), kSuccess);
  return ScanUninstallEntries(registry, key);
}

TEST(ScanUninstallEntries, MatchesTheMarkerAnywhereInTheNameInThisCaseOnly) {
  FakeRegistry registry;
  registry.view64 = ViewOf({
      L"GPL Ghostscript",
      L"gpl ghostscript 9.50",
      L"{4B8E3C1A-0000} GPL Ghostscript 10.01.2",
      L"GPL GHOSTSCRIPT",
      L"GPL  Ghostscript",
      L"GPL Ghostscrip",
      L"Ghostscript GPL",
      L"GPL Ghostscript 9.54.0 (64-bit)",
      L"Artifex GPL Ghostscriptx",
  });
  const EntryList expected = {L"GPL Ghostscript", L"{4B8E3C1A-0000} GPL Ghostscript 10.01.2",
                              L"GPL Ghostscript 9.54.0 (64-bit)", L"Artifex GPL Ghostscriptx"};
  EXPECT_EQ(Scan(registry, RegistryView::View64), expected);
}

TEST(ScanUninstallEntries, SkipsSubkeysThatFailToEnumerateAndGoesOn) {
  FakeRegistry registry;
  registry.view32 = ViewOf({L"GPL Ghostscript 1", L"GPL Ghostscript 2", L"GPL Ghostscript 3",
                            L"GPL Ghostscript 4"});
  registry.view32.entries[0].enumerateStatus = kErrorAccessDenied;
  registry.view32.entries[2].enumerateStatus = kErrorMoreData;
  const EntryList expected = {L"GPL Ghostscript 2", L"GPL Ghostscript 4"};
  EXPECT_EQ(Scan(registry, RegistryView::View32), expected);
}

// The enumeration is told 255 characters with the terminator: 254 fit, 255 do not, even where
// the platform claims that they did.
TEST(ScanUninstallEntries, SeesNamesOfUpTo254Characters) {
  const std::wstring fits = L"GPL Ghostscript " + std::wstring(254 - 16, L'x');
  const std::wstring tooLong = L"GPL Ghostscript " + std::wstring(255 - 16, L'y');
  FakeEntry claimedToFit{tooLong};
  claimedToFit.claimedLength = 255;
  FakeRegistry registry;
  registry.view64.entries = {{tooLong}, claimedToFit, {fits}, {L"GPL Ghostscript after"}};
  const EntryList expected = {fits, L"GPL Ghostscript after"};
  EXPECT_EQ(Scan(registry, RegistryView::View64), expected);
}

TEST(ScanUninstallEntries, FailedSubkeyCountGivesAnEmptyList) {
  FakeRegistry registry;
  registry.view64 = ViewOf({L"GPL Ghostscript 10"});
  registry.view64.countStatus = kErrorAccessDenied;
  EXPECT_TRUE(Scan(registry, RegistryView::View64).empty());
}

struct DetectCase {
  const char* what;
  RegistryView view;
  FakeView fake;
  bool foundBefore;
  Status status;
  bool found;
  std::string output;
};

TEST(DetectInView, StatusFoundFlagAndLines) {
  FakeView unopenable;
  unopenable.openStatus = kErrorFileNotFound;
  FakeView denied = ViewOf({L"GPL Ghostscript 10"});
  denied.openStatus = kErrorAccessDenied;
  FakeView noCount = ViewOf({L"GPL Ghostscript 10"});
  noCount.countStatus = kErrorAccessDenied;
  // A name is as long as the enumeration says, a NUL inside it included.
  FakeView withNul;
  withNul.entries = {{std::wstring(L"GPL Ghostscript 10\0x", 20)}, {std::wstring(L"\0GPL Ghostscript", 16)}};

  const DetectCase cases[] = {
      {"two entries, 64-bit view", RegistryView::View64,
       ViewOf({L"GPL Ghostscript 9.54", L"Other", L"GPL Ghostscript 10.02"}), false, kSuccess,
       true, "GPL Ghostscript 9.54 is detected\nGPL Ghostscript 10.02 is detected\n"},
      {"two entries, 32-bit view", RegistryView::View32,
       ViewOf({L"GPL Ghostscript 9.54", L"GPL Ghostscript 10.02"}), false, kSuccess, true,
       "32bit GPL Ghostscript 9.54 is detected\n32bit GPL Ghostscript 10.02 is detected\n"},
      {"no subkeys", RegistryView::View64, FakeView{}, true, kSuccess, false, ""},
      {"no match", RegistryView::View32, ViewOf({L"7-Zip", L"gpl ghostscript"}), true, kSuccess,
       false, ""},
      {"key missing leaves the flag alone", RegistryView::View64, unopenable, true,
       kErrorFileNotFound, true, ""},
      {"key denied", RegistryView::View32, denied, false, kErrorAccessDenied, false, ""},
      {"count fails", RegistryView::View64, noCount, true, kSuccess, false, ""},
      {"non-ASCII name is written whole", RegistryView::View32,
       ViewOf({L"GPL Ghostscript \u65e5\u672c 10 caf\u00e9"}), false, kSuccess, true,
       "32bit GPL Ghostscript ?? 10 caf\xe9 is detected\n"},
      {"a NUL in a name is part of it", RegistryView::View64, withNul, false, kSuccess, true,
       "GPL Ghostscript 10?x is detected\n?GPL Ghostscript is detected\n"},
  };
  for (const DetectCase& c : cases) {
    SCOPED_TRACE(c.what);
    FakeRegistry registry;
    registry.View(c.view) = c.fake;
    FakeProcesses processes;
    FakeConsole console;
    Platform platform{registry, processes, console, 1000};
    bool found = c.foundBefore;
    EXPECT_EQ(DetectInView(platform, c.view, found), c.status);
    EXPECT_TRUE(processes.commands.empty());
    EXPECT_EQ(found, c.found);
    EXPECT_EQ(console.text, c.output);
    EXPECT_EQ(registry.openKeys, 0);
  }
}

}  // namespace
