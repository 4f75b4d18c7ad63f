#include <gtest/gtest.h>

#include "fakes.h"
#include "removal/launch.h"
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
    EntryList handled;
    return RemoveInView(platform, WindowsKind::Windows64, view, handled);
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
  const std::uint64_t start = processes.now;
  EXPECT_EQ(Remove(RegistryView::View64), kErrorAccessDenied);
  EXPECT_EQ(Remove(RegistryView::View32), kErrorAccessDenied);
  // Each aborted one's entry was given time to go (the half minute, cut to the pass's limit of
  // 5 s); a locked one's cannot be looked up, and was given none.
  EXPECT_EQ(processes.now - start, 2 * 5000u);
  EXPECT_EQ(console.text,
            "GPL Ghostscript aborted is failed to uninstall\n"
            "GPL Ghostscript removed is uninstalled\n"
            "GPL Ghostscript locked is failed to uninstall\n"
            "32bit GPL Ghostscript aborted is failed to uninstalled\n"
            "32bit GPL Ghostscript removed is uninstalled\n"
            "32bit GPL Ghostscript locked is failed to uninstalled\n");
  EXPECT_EQ(registry.openKeys, 0);
}

struct InUseCase {
  const char* what;
  std::map<std::wstring, FakeProcesses::OpenFailure> failures;  // by file name, before the start
  std::set<std::wstring> leftBehind;  // files the uninstaller cannot delete, by name
  std::uint64_t goneAfterMs;          // nonzero: they go that long after the start
  bool inJob;
  Status status;
  std::size_t launches;
  std::uint64_t elapsedMs;  // on the clock, for the whole pass
  std::uint32_t exitCode = 0;
  // By file name: what the Restart Manager sees used, and the module lists see loaded, by a
  // running process for so long from the start (kForGood: throughout); and the errors of asking.
  std::map<std::wstring, std::uint64_t> usedFor = {};
  std::map<std::wstring, std::uint64_t> loadedFor = {};
  Status restartManager = kSuccess;
  Status moduleLists = kSuccess;
};

constexpr std::uint64_t kForGood = UINT64_MAX;

// An uninstaller cannot delete a program that is in use, and an NSIS one goes on without it and
// deletes the entry: the installation would be left with its files and nothing to remove it by.
// A program in use is waited for two seconds, then nothing is started (32) and the installation
// stays whole for a later run. An open that is refused (a read-only file: access denied comes
// before any sharing check) says nothing either way: the Restart Manager and the running
// processes' module lists are asked instead, and where they cannot tell, nothing is started and
// the Restart Manager's error is the status (353: no session left; 121: its registry lock timed
// out), not the refusal. After an uninstall that removed its entry, a program still there
// half a minute later is a failure (1603), however the uninstaller exited.
TEST_F(RemoveInViewTest, InstallationInUseIsKeptWhole) {
  const std::wstring bin = L"C:\\gs\\gs10.06.0\\bin";
  const std::wstring command = L"\"C:\\gs\\gs10.06.0\\uninstgs.exe\" /S";
  const FakeProcesses::OpenFailure inUse{};
  const FakeProcesses::OpenFailure denied{kErrorAccessDenied};
  constexpr Status kLockViolation = 33;  // ERROR_LOCK_VIOLATION
  constexpr Status kWriteFault = 29;     // ERROR_WRITE_FAULT, of the Restart Manager
  const InUseCase cases[] = {
      {"programs free", {}, {}, 0, true, kSuccess, 1, 0},
      {"no job, programs free", {}, {}, 0, false, kSuccess, 1, 0},
      {"in use throughout", {{L"gsdll64.dll", inUse}}, {}, 0, true, kErrorSharingViolation, 0, 2000},
      {"in use for a moment: a scanner's look", {{L"gsdll64.dll", {kErrorSharingViolation, 5600}}},
       {}, 0, true, kSuccess, 1, 750},
      {"refused, and nothing uses it", {{L"gswin64c.exe", denied}}, {}, 0, true, kSuccess, 1, 0},
      {"refused, and used by a running program", {{L"gsdll64.dll", denied}}, {}, 0, true,
       kErrorSharingViolation, 0, 2000, 0, {{L"gsdll64.dll", kForGood}}},
      {"refused, and loaded though the Restart Manager names no one", {{L"gsdll64.dll", denied}}, {},
       0, true, kErrorSharingViolation, 0, 2000, 0, {}, {{L"gsdll64.dll", kForGood}}},
      {"refused, and used for a moment", {{L"gsdll64.dll", denied}}, {}, 0, true, kSuccess, 1, 750, 0,
       {{L"gsdll64.dll", 600}}},
      {"refused, another one used", {{L"GSWIN64.EXE", denied}}, {}, 0, true, kSuccess, 1, 0, 0,
       {{L"gsdll64.dll", kForGood}}, {{L"gswin64c.exe", kForGood}}},
      {"refused, the Restart Manager fails: cannot tell", {{L"gsdll64.dll", denied}}, {}, 0, true,
       kWriteFault, 0, 0, 0, {}, {}, kWriteFault},
      {"refused, no Restart Manager session left", {{L"gsdll64.dll", denied}}, {}, 0, true, 353, 0,
       0, 0, {}, {}, 353},
      {"refused, the Restart Manager timed out", {{L"gsdll64.dll", denied}}, {}, 0, true, 121, 0, 0,
       0, {}, {}, 121},
      {"refused, the Restart Manager fails, loaded", {{L"gsdll64.dll", denied}}, {}, 0, true,
       kErrorSharingViolation, 0, 2000, 0, {}, {{L"gsdll64.dll", kForGood}}, kWriteFault},
      {"refused, the module lists fail: the Restart Manager decides", {{L"gsdll64.dll", denied}}, {},
       0, true, kSuccess, 1, 0, 0, {}, {}, kSuccess, kErrorAccessDenied},
      {"refused with another error, cannot tell", {{L"gswin64c.exe", {kLockViolation}}}, {}, 0, true,
       kWriteFault, 0, 0, 0, {}, {}, kWriteFault},
      {"two refused, cannot tell", {{L"gsdll64.dll", denied}, {L"gswin64c.exe", {kLockViolation}}},
       {}, 0, true, kWriteFault, 0, 0, 0, {}, {}, kWriteFault},
      {"one refused, one in use", {{L"GSWIN64.EXE", denied}, {L"gsdll64.dll", inUse}}, {}, 0, true,
       kErrorSharingViolation, 0, 2000},
      {"gone by its open", {{L"gswin64c.exe", {kErrorFileNotFound}}}, {}, 0, true, kSuccess, 1, 0},
      {"taken into use while it runs", {}, {L"gsdll64.dll"}, 0, true, kErrorInstallFailure, 1, 30000},
      {"no job, taken into use while it runs", {}, {L"gsdll64.dll"}, 0, false, kErrorInstallFailure,
       1, 30000},
      {"gone a moment after the entry", {}, {L"gsdll64.dll"}, 2000, true, kSuccess, 1, 2000},
      {"no job, gone a moment after the entry", {}, {L"gsdll64.dll"}, 2000, false, kSuccess, 1, 2000},
      {"gone just within the half minute", {}, {L"GSWIN64.EXE"}, 30000, true, kSuccess, 1, 30000},
      {"gone just after the half minute", {}, {L"GSWIN64.EXE"}, 30001, true, kErrorInstallFailure, 1,
       30000},
      // A failed uninstall is its exit code's failure, whatever it left.
      {"fails, its entry gone, a program left", {}, {L"gsdll64.dll"}, 0, true, 3, 1, 0, 3},
  };
  for (const InUseCase& c : cases) {
    SCOPED_TRACE(c.what);
    registry = FakeRegistry();
    processes = FakeProcesses();
    console = FakeConsole();
    registry.view64.entries = {Entry(L"GPL Ghostscript 10.06.0", L"\"C:\\gs\\gs10.06.0\\uninstgs.exe\"")};
    // Programs in any letter case; other files are not programs, nor is a folder's program.
    processes.folders[bin] = {L"gsdll64.dll", L"gswin64c.exe", L"GSWIN64.EXE", L"readme.txt",
                              L"gs.exe.bak"};
    processes.folders[L"C:\\gs\\gs10.06.0"] = {L"uninstgs.exe"};
    if (!c.inJob) processes.createJobStatus = kErrorAccessDenied;
    for (const auto& [name, failure] : c.failures) processes.openFailures[bin + L"\\" + name] = failure;
    const auto until = [&](std::uint64_t forMs) { return forMs == kForGood ? kForGood : processes.now + forMs; };
    for (const auto& [name, forMs] : c.usedFor) processes.usedUntil[bin + L"\\" + name] = until(forMs);
    for (const auto& [name, forMs] : c.loadedFor) processes.loadedUntil[bin + L"\\" + name] = until(forMs);
    processes.fileUsersStatus = c.restartManager;
    processes.moduleLoadersStatus = c.moduleLists;
    processes.children[command].exitCode = c.exitCode;
    // The uninstaller deletes its entry, then what it can of its files.
    processes.children[command].onStart = [this, &c, bin] {
      registry.view64.entries.clear();
      std::set<std::wstring>& files = processes.folders[bin];
      for (const std::wstring& name : std::set<std::wstring>(files)) {
        if (!c.leftBehind.count(name)) files.erase(name);
        else if (c.goneAfterMs != 0) processes.deletedAt[bin + L"\\" + name] = processes.now + c.goneAfterMs;
        else processes.openFailures[bin + L"\\" + name] = {};
      }
    };
    const std::uint64_t before = processes.now;
    Platform platform{registry, processes, console, kUninstallWaitMs};
    EntryList handled;
    EXPECT_EQ(RemoveInView(platform, WindowsKind::Windows64, RegistryView::View64, handled), c.status);
    EXPECT_EQ(console.text, c.status == kSuccess ? "GPL Ghostscript 10.06.0 is uninstalled\n"
                                                 : "GPL Ghostscript 10.06.0 is failed to uninstall\n");
    EXPECT_EQ(processes.commands.size(), c.launches);
    EXPECT_EQ(processes.now - before, c.elapsedMs);
    // Nothing started, nothing removed: the entry stays for a later run.
    EXPECT_EQ(registry.view64.entries.size(), c.launches == 0 ? 1u : 0u);
    // The programs are opened to test them, and nothing else (the first whose open says it is in
    // use ends a round).
    std::set<std::wstring> programs = {bin + L"\\GSWIN64.EXE", bin + L"\\gsdll64.dll"};
    const bool openSaysInUse = c.failures.count(L"gsdll64.dll") != 0 &&
                               c.failures.at(L"gsdll64.dll").status == kErrorSharingViolation;
    if (c.status != kErrorSharingViolation || !openSaysInUse) programs.insert(bin + L"\\gswin64c.exe");
    EXPECT_EQ(std::set<std::wstring>(processes.unsharedOpens.begin(), processes.unsharedOpens.end()),
              programs);
    // Only the refused ones are asked about, all at once, and only when one was refused.
    std::vector<std::wstring> refused;
    for (const auto& [name, failure] : c.failures)
      if (failure.status != kErrorSharingViolation && failure.status != kErrorFileNotFound)
        refused.push_back(bin + L"\\" + name);
    EXPECT_EQ(processes.fileUserQueries.empty(), refused.empty() || openSaysInUse);
    for (const std::vector<std::wstring>& asked : processes.fileUserQueries) EXPECT_EQ(asked, refused);
  }
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
