#include <gtest/gtest.h>

#include "fakes.h"
#include "removal/removal.h"

namespace {

struct ValueCase {
  const char* what;
  std::vector<std::uint8_t> bytes;
  std::wstring text;
};

// The value is never read past what the registry returned, whatever its type or ending.
TEST(ValueText, TakesTheCharactersTheDataHolds) {
  std::vector<std::uint8_t> odd = Utf16Bytes(L"C:\\u.exe", false);
  odd.push_back('X');
  const ValueCase cases[] = {
      {"terminated", Utf16Bytes(L"C:\\u.exe"), L"C:\\u.exe"},
      {"unterminated", Utf16Bytes(L"C:\\u.exe", false), L"C:\\u.exe"},
      {"odd byte count drops the half character", odd, L"C:\\u.exe"},
      {"stops at the first terminator", Utf16Bytes(std::wstring(L"a.exe\0b.exe", 11)), L"a.exe"},
      {"empty", {}, L""},
      {"one byte", {'A'}, L""},
      {"a DWORD is two characters", {0x41, 0x00, 0x42, 0x00}, L"AB"},
      {"UTF-16 beyond Latin-1", Utf16Bytes(L"C:\\\u65e5\\u.exe"), L"C:\\\u65e5\\u.exe"},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ValueText(c.bytes.data(), static_cast<std::uint32_t>(c.bytes.size())), c.text);
  }
}

FakeEntry Entry(const wchar_t* name, std::wstring_view uninstall) {
  return {name, Utf16Bytes(uninstall)};
}

class RemoveInViewTest : public ::testing::Test {
 protected:
  Status Remove(RegistryView view) {
    Platform platform{registry, processes, console, 5000};
    UninstallersRemoveTheirEntries(processes, registry);
    return RemoveInView(platform, view);
  }
  void Exit(const std::wstring& command, std::uint32_t code) {
    processes.children[command].exitCode = code;
  }

  FakeRegistry registry;
  FakeProcesses processes;
  FakeConsole console;
};

TEST_F(RemoveInViewTest, LinesOfBothViews) {
  registry.view64.entries = {Entry(L"GPL Ghostscript 1", L"u1.exe"),
                             Entry(L"GPL Ghostscript 2", L"u2.exe")};
  registry.view32.entries = {Entry(L"GPL Ghostscript 1", L"v1.exe"),
                             Entry(L"GPL Ghostscript 2", L"v2.exe")};
  Exit(L"u2.exe /S", 1);
  Exit(L"v2.exe /S", 1);
  EXPECT_EQ(Remove(RegistryView::View64), 1);
  EXPECT_EQ(Remove(RegistryView::View32), 1);
  EXPECT_EQ(console.text,
            "GPL Ghostscript 1 is uninstalled\n"
            "GPL Ghostscript 2 is failed to uninstall\n"
            "32bit GPL Ghostscript 1 is uninstalled\n"
            "32bit GPL Ghostscript 2 is failed to uninstalled\n");
  EXPECT_EQ(registry.openKeys, 0);
}

// The recorded text runs as it stands, with " /S" after it: no quotes added or removed, nothing
// cut short, up to the 511 characters one read can return, and nothing taken from the buffer past
// what the read returned, even where the read claims more than the buffer holds.
TEST_F(RemoveInViewTest, CommandIsTheValueThenSlashS) {
  const std::wstring longest = L"C:\\" + std::wstring(504, L'g') + L".exe";  // 511 characters
  std::vector<std::uint8_t> unterminated = Utf16Bytes(L"C:\\" + std::wstring(505, L'h') + L".exe", false);
  ASSERT_EQ(unterminated.size(), 1024u);
  registry.view64.entries = {
      Entry(L"GPL Ghostscript a", L"\"C:\\Program Files\\gs\\uninstgs.exe\""),
      Entry(L"GPL Ghostscript b", L"C:\\Program Files\\gs\\uninstgs.exe /LANG=en"),
      Entry(L"GPL Ghostscript c", L"MsiExec.exe /X{0000-1111}"),
      Entry(L"GPL Ghostscript d", longest),
      {L"GPL Ghostscript e", unterminated},
      {L"GPL Ghostscript f", Utf16Bytes(L"C:\\u.exe", false)},
      {L"GPL Ghostscript g", Utf16Bytes(L"C:\\" + std::wstring(505, L'i') + L".exe", false), kSuccess,
       kSuccess, kSuccess, 0, 4096},
  };
  // Without a job, each launch waits for its process with the whole limit the pass was given.
  processes.createJobStatus = kErrorAccessDenied;
  EXPECT_EQ(Remove(RegistryView::View64), kSuccess);
  const std::vector<std::wstring> expected = {
      L"\"C:\\Program Files\\gs\\uninstgs.exe\" /S",
      L"C:\\Program Files\\gs\\uninstgs.exe /LANG=en /S",
      L"MsiExec.exe /X{0000-1111} /S",
      longest + L" /S",
      L"C:\\" + std::wstring(505, L'h') + L".exe /S",
      L"C:\\u.exe /S",
      L"C:\\" + std::wstring(505, L'i') + L".exe /S",
  };
  EXPECT_EQ(processes.commands, expected);
  EXPECT_EQ(processes.processWaitLimits, std::vector<std::uint32_t>(7, 5000));
}

struct PassCase {
  const char* what;
  std::vector<FakeEntry> entries;
  std::map<std::wstring, std::uint32_t> exitCodes;
  Status status;
  std::string output;
  std::size_t launches;
};

// A failure is never hidden by a later success; a later failure replaces it.
TEST_F(RemoveInViewTest, PassStatusKeepsTheLastFailure) {
  FakeEntry denied = Entry(L"GPL Ghostscript denied", L"d.exe");
  denied.openStatus = kErrorAccessDenied;
  FakeEntry noValue{L"GPL Ghostscript novalue", std::nullopt};
  FakeEntry tooLong = Entry(L"GPL Ghostscript long", std::wstring(600, L'x'));
  FakeEntry unreadable = Entry(L"GPL Ghostscript unreadable", L"r.exe");
  unreadable.queryStatus = kErrorAccessDenied;
  FakeEntry deleted = Entry(L"GPL Ghostscript deleted", L"d.exe");
  deleted.queryStatus = kErrorKeyDeleted;  // deleted between its open and the read

  const PassCase cases[] = {
      {"no entries", {Entry(L"Other", L"o.exe")}, {}, kSuccess, "", 0},
      {"first fails, second succeeds",
       {Entry(L"GPL Ghostscript 1", L"a.exe"), Entry(L"GPL Ghostscript 2", L"b.exe")},
       {{L"a.exe /S", 3}},
       3,
       "GPL Ghostscript 1 is failed to uninstall\nGPL Ghostscript 2 is uninstalled\n",
       2},
      {"both fail: the later one",
       {Entry(L"GPL Ghostscript 1", L"a.exe"), Entry(L"GPL Ghostscript 2", L"b.exe")},
       {{L"a.exe /S", 3}, {L"b.exe /S", 0x80000000}},
       static_cast<Status>(0x80000000),
       "GPL Ghostscript 1 is failed to uninstall\nGPL Ghostscript 2 is failed to uninstall\n",
       2},
      // An exit status of -1 would tell the caller that nothing was installed.
      {"exit code -1 is a failed uninstall, not 'not installed'",
       {Entry(L"GPL Ghostscript 1", L"a.exe")},
       {{L"a.exe /S", 0xFFFFFFFF}},
       kErrorInstallFailure,
       "GPL Ghostscript 1 is failed to uninstall\n",
       1},
      {"success, then missing UninstallString",
       {Entry(L"GPL Ghostscript 1", L"a.exe"), noValue},
       {},
       kSuccess,
       "GPL Ghostscript 1 is uninstalled\n",
       1},
      {"key deleted before its value was read is gone, then a success",
       {deleted, Entry(L"GPL Ghostscript 2", L"b.exe")},
       {},
       kSuccess,
       "GPL Ghostscript 2 is uninstalled\n",
       1},
      {"key that will not open, then a success",
       {denied, Entry(L"GPL Ghostscript 2", L"b.exe")},
       {},
       kErrorAccessDenied,
       "GPL Ghostscript 2 is uninstalled\n",
       1},
      // The platform would read the first name as "GPL Ghostscript 1", another installation.
      {"name with a NUL is never opened as the shorter name",
       {FakeEntry{std::wstring(L"GPL Ghostscript 1\0x", 19), Utf16Bytes(L"x.exe")},
        Entry(L"GPL Ghostscript 1", L"a.exe")},
       {},
       kErrorInvalidName,
       "GPL Ghostscript 1 is uninstalled\n",
       1},
      // The installation is still there: no line, as for a key that will not open, but its error.
      {"value too long for one read",
       {tooLong, Entry(L"GPL Ghostscript 3", L"c.exe")},
       {},
       kErrorMoreData,
       "GPL Ghostscript 3 is uninstalled\n",
       1},
      {"value that cannot be read, then a too long one",
       {unreadable, tooLong},
       {},
       kErrorMoreData,
       "",
       0},
      {"value too long, then one that cannot be read",
       {tooLong, unreadable, noValue},
       {},
       kErrorAccessDenied,
       "",
       0},
  };
  for (const PassCase& c : cases) {
    SCOPED_TRACE(c.what);
    registry = FakeRegistry();
    processes = FakeProcesses();
    console = FakeConsole();
    registry.view64.entries = c.entries;
    for (const auto& [command, code] : c.exitCodes) Exit(command, code);
    EXPECT_EQ(Remove(RegistryView::View64), c.status);
    EXPECT_EQ(console.text, c.output);
    EXPECT_EQ(processes.commands.size(), c.launches);
    EXPECT_EQ(registry.openKeys, 0);
  }
}

// An uninstaller that exits with 0 has succeeded only when its entry is gone: an entry that still
// opens is ERROR_INSTALL_FAILURE with the failure line, and one that will not open for any reason
// but "not found" (access denied, say) may still be there: its error, with the failure line.
TEST_F(RemoveInViewTest, ExitZeroWithTheEntryStillThereIsAFailure) {
  for (RegistryView view : {RegistryView::View64, RegistryView::View32}) {
    const std::wstring suffix = view == RegistryView::View64 ? L"64.exe" : L"32.exe";
    registry.View(view).entries = {Entry(L"GPL Ghostscript aborted", L"a" + suffix),
                                   Entry(L"GPL Ghostscript removed", L"r" + suffix),
                                   Entry(L"GPL Ghostscript locked", L"l" + suffix)};
    processes.children[L"a" + suffix + L" /S"].leavesEntry = true;
    FakeChild& locked = processes.children[L"l" + suffix + L" /S"];
    locked.leavesEntry = true;
    // The entry is still there but can no longer be opened: no proof that it is gone.
    locked.onStart = [this, view] {
      registry.View(view).entries.back().openStatus = kErrorAccessDenied;
    };
  }
  EXPECT_EQ(Remove(RegistryView::View64), kErrorAccessDenied);
  EXPECT_EQ(Remove(RegistryView::View32), kErrorAccessDenied);
  EXPECT_EQ(console.text,
            "GPL Ghostscript aborted is failed to uninstall\n"
            "GPL Ghostscript removed is uninstalled\n"
            "GPL Ghostscript locked is failed to uninstall\n"
            "32bit GPL Ghostscript aborted is failed to uninstalled\n"
            "32bit GPL Ghostscript removed is uninstalled\n"
            "32bit GPL Ghostscript locked is failed to uninstalled\n");
  EXPECT_EQ(registry.openKeys, 0);
}

TEST_F(RemoveInViewTest, UninstallKeyThatWillNotOpenPrintsNothing) {
  registry.view32.openStatus = kErrorAccessDenied;
  EXPECT_EQ(Remove(RegistryView::View32), kErrorAccessDenied);
  EXPECT_EQ(console.text, "");
  EXPECT_TRUE(processes.commands.empty());
}

// An uninstaller may delete other installations' entries after the scan listed them: an entry
// not found at its turn is gone, with nothing left to remove. No line, and no failure; a
// failure before it stays.
TEST_F(RemoveInViewTest, EntryGoneBeforeItsTurnIsNoFailure) {
  for (std::uint32_t firstExit : {0u, 3u}) {
    registry = FakeRegistry();
    processes = FakeProcesses();
    console = FakeConsole();
    registry.view64.entries = {Entry(L"GPL Ghostscript 1", L"a.exe"),
                               Entry(L"GPL Ghostscript 2", L"b.exe")};
    processes.children[L"a.exe /S"].exitCode = firstExit;
    processes.children[L"a.exe /S"].onStart = [this] { registry.view64.entries.pop_back(); };
    EXPECT_EQ(Remove(RegistryView::View64), static_cast<Status>(firstExit));
    EXPECT_EQ(console.text, firstExit == 0 ? "GPL Ghostscript 1 is uninstalled\n"
                                           : "GPL Ghostscript 1 is failed to uninstall\n");
    EXPECT_EQ(processes.commands, std::vector<std::wstring>{L"a.exe /S"});
  }
}

// A line must not sit in a buffer while an uninstaller runs for minutes.
TEST_F(RemoveInViewTest, EveryLineIsOutBeforeEachLaunch) {
  registry.view64.entries = {Entry(L"GPL Ghostscript 1", L"a.exe"),
                             Entry(L"GPL Ghostscript 2", L"b.exe")};
  console.Write("earlier line\n");
  int launches = 0;
  processes.beforeStart = [&] {
    ++launches;
    EXPECT_EQ(console.flushed, console.text.size());
  };
  EXPECT_EQ(Remove(RegistryView::View64), kSuccess);
  EXPECT_EQ(launches, 2);
}

}  // namespace
