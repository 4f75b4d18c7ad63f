// gs-uninstall.exe run for real against the registry of the test prefix, with fixture uninstallers
// as its children. Output is compared byte for byte; exit statuses in all 32 bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>

#include "harness.h"

namespace {

constexpr RegistryView k64 = RegistryView::View64;
constexpr RegistryView k32 = RegistryView::View32;

class ToolTest : public ::testing::Test {
 protected:
  // A fixture uninstaller that records its start in record_, deletes its own entry, and exits
  // with `exitCode`.
  std::wstring Uninstaller(RegistryView view, const std::wstring& name, DWORD exitCode = 0,
                           const std::wstring& extra = L"") {
    return SelfRemovingUninstaller(record_, view, name, exitCode, extra);
  }

  // The command lines the fixtures were started with, in order.
  std::vector<std::string> Commands() const { return RecordedLines(record_, "cmd="); }

  void TearDown() override { DeleteFileW(record_.c_str()); }

  UninstallEntries entries_;
  std::wstring record_ = ScratchFile(L"record");
};

TEST_F(ToolTest, DetectReportsBothViewsAndRunsNothing) {
  entries_.Add(k64, L"GPL Ghostscript 10.02.1", Uninstaller(k64, L"GPL Ghostscript 10.02.1"));
  entries_.Add(k64, L"Other Product", L"other.exe");
  entries_.Add(k32, L"GPL Ghostscript 9.54.0", Uninstaller(k32, L"GPL Ghostscript 9.54.0"));
  const ProcessResult result = RunTool(L"detect");
  EXPECT_EQ(result.output,
            "GPL Ghostscript 10.02.1 is detected\r\n"
            "32bit GPL Ghostscript 9.54.0 is detected\r\n");
  EXPECT_EQ(result.errors, "");
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_TRUE(Commands().empty());
  EXPECT_TRUE(UninstallEntries::Exists(k64, L"GPL Ghostscript 10.02.1"));
}

TEST_F(ToolTest, NothingInstalledExitsWithMinusOne) {
  entries_.Add(k64, L"Other Product", L"other.exe");
  for (const wchar_t* arguments : {L"", L"detect", L"remove"}) {
    const ProcessResult result = RunTool(arguments);
    EXPECT_EQ(result.output, "Ghostscript is not installed.\r\n");
    EXPECT_EQ(result.exitCode, 0xFFFFFFFFu);
  }
}

TEST_F(ToolTest, BadSwitchRunsNothing) {
  entries_.Add(k64, L"GPL Ghostscript 10", Uninstaller(k64, L"GPL Ghostscript 10"));
  const ProcessResult result = RunTool(L"Detect");
  EXPECT_EQ(result.output, "Invalid switch\r\nOperation failed with the error code : 4317");
  EXPECT_EQ(result.exitCode, 4317u);
  EXPECT_TRUE(Commands().empty());
}

// The marker is matched in this letter case, anywhere in the name; the registry's order holds.
TEST_F(ToolTest, MatchesCaseSensitiveSubstring) {
  for (const wchar_t* name : {L"gpl ghostscript 1", L"Artifex GPL Ghostscript 2",
                              L"GPL GHOSTSCRIPT 3", L"GPL Ghostscript", L"XGPL Ghostscript 4"})
    entries_.Add(k64, name, L"u.exe");
  const ProcessResult result = RunTool(L"detect");
  EXPECT_EQ(result.output,
            "Artifex GPL Ghostscript 2 is detected\r\n"
            "GPL Ghostscript is detected\r\n"
            "XGPL Ghostscript 4 is detected\r\n");
  EXPECT_EQ(result.exitCode, 0u);
}

// A character beyond Latin-1 comes out as "?", and the rest of the line follows; so does a
// control character, so that a name never prints a line of its own.
TEST_F(ToolTest, NonAsciiNamesAreWrittenWhole) {
  entries_.Add(k64, L"GPL Ghostscript caf\u00e9", L"u.exe");
  entries_.Add(k64, L"GPL Ghostscript 10\nGPL Ghostscript 11 is uninstalled", L"u.exe");
  entries_.Add(k32, L"GPL Ghostscript \u65e5\u672c\u8a9e 10", L"u.exe");
  const ProcessResult result = RunTool(L"detect");
  EXPECT_EQ(result.output,
            "GPL Ghostscript 10?GPL Ghostscript 11 is uninstalled is detected\r\n"
            "GPL Ghostscript caf\xe9 is detected\r\n"
            "32bit GPL Ghostscript ??? 10 is detected\r\n");
}

TEST_F(ToolTest, RemovesEveryEntryOfBothViewsOneAtATime) {
  const std::wstring lock = ScratchFile(L"lock");
  const std::wstring hold = L" --lock " + Quoted(lock) + L" --sleep 300";
  entries_.Add(k64, L"GPL Ghostscript 10.02.1", Uninstaller(k64, L"GPL Ghostscript 10.02.1", 0, hold));
  entries_.Add(k64, L"GPL Ghostscript 10.03.0", Uninstaller(k64, L"GPL Ghostscript 10.03.0", 0, hold));
  entries_.Add(k32, L"GPL Ghostscript 9.54.0", Uninstaller(k32, L"GPL Ghostscript 9.54.0", 0, hold));
  const ProcessResult result = RunTool(L"");
  EXPECT_EQ(result.output,
            "GPL Ghostscript 10.02.1 is detected\r\n"
            "GPL Ghostscript 10.03.0 is detected\r\n"
            "32bit GPL Ghostscript 9.54.0 is detected\r\n"
            "GPL Ghostscript 10.02.1 is uninstalled\r\n"
            "GPL Ghostscript 10.03.0 is uninstalled\r\n"
            "32bit GPL Ghostscript 9.54.0 is uninstalled\r\n");
  EXPECT_EQ(result.exitCode, 0u);
  const std::vector<std::string> expected = {
      Narrow(Uninstaller(k64, L"GPL Ghostscript 10.02.1", 0, hold)) + " /S",
      Narrow(Uninstaller(k64, L"GPL Ghostscript 10.03.0", 0, hold)) + " /S",
      Narrow(Uninstaller(k32, L"GPL Ghostscript 9.54.0", 0, hold)) + " /S",
  };
  EXPECT_EQ(Commands(), expected);
  EXPECT_EQ(ReadFile(record_).find("overlap"), std::string::npos);
  EXPECT_EQ(RecordedLines(record_, "cwd="), std::vector<std::string>(3, "C:\\"));

  const ProcessResult again = RunTool(L"remove");
  EXPECT_EQ(again.output, "Ghostscript is not installed.\r\n");
  EXPECT_EQ(again.exitCode, 0xFFFFFFFFu);
}

// The tool itself, with its own ten-minute limit: an uninstall is over when what it started has
// ended, but a process it leaves running for good costs at most half a minute once its uninstaller
// has ended and its entry is gone; a copy that goes on working after the entry went is waited for.
TEST_F(ToolTest, TheWaitEndsWithTheUninstall) {
  struct Case {
    const char* what;
    const wchar_t* arguments;  // after --record
    DWORD minMs;
    DWORD maxMs;
    bool leftRunning;  // the copy is still running afterwards
  };
  const Case cases[] = {
      {"a helper left running for ten minutes", L" --delete-key 64 \"GPL Ghostscript 1\" --spawn 600000",
       29000, 60000, true},
      {"a copy still at work 8 s after it deleted the entry",
       L" --hand-over --delete-key 64 \"GPL Ghostscript 1\" --spawn 8000", 8000, 29000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UninstallEntries entries;
    DeleteFileW(record_.c_str());
    entries.Add(k64, L"GPL Ghostscript 1", FixtureCommand(L"--record " + Quoted(record_) + c.arguments));
    std::vector<std::string> endedAtTheLine;  // the processes that had ended when the line came
    const DWORD started = GetTickCount();
    const ProcessResult result = RunToolStreaming(L"remove", [&](const std::string& line) {
      if (line == "GPL Ghostscript 1 is uninstalled") endedAtTheLine = RecordedLines(record_, "exit=");
    });
    const DWORD elapsed = GetTickCount() - started;
    std::printf("%s: %lu ms\n", c.what, static_cast<unsigned long>(elapsed));
    EXPECT_EQ(result.output, "GPL Ghostscript 1 is detected\r\nGPL Ghostscript 1 is uninstalled\r\n");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_GE(elapsed, c.minMs);
    EXPECT_LT(elapsed, c.maxMs);
    EXPECT_FALSE(UninstallEntries::Exists(k64, L"GPL Ghostscript 1"));
    const std::vector<std::string> copy = RecordedLines(record_, "spawned=");
    ASSERT_EQ(copy.size(), 1u);
    const bool copyEnded =
        std::find(endedAtTheLine.begin(), endedAtTheLine.end(), copy[0]) != endedAtTheLine.end();
    EXPECT_EQ(copyEnded, !c.leftRunning);
    if (c.leftRunning) ExpectStillRunningAndEnd(record_, "spawned=");
  }
}

// An uninstaller may hand its work to what its job does not hold (a process that breaks away, a
// service, a scheduled task) and exit with 0 at once, its job empty and its entry still there: the
// entry is given the half minute that what is left running gets, so that the uninstall is reported
// as it is, and the next uninstaller starts only after it.
TEST_F(ToolTest, WorkHandedOutOfTheJobIsWaitedFor) {
  const std::wstring first = L"GPL Ghostscript 10.01.1";
  const std::wstring second = L"GPL Ghostscript 10.02.0";
  // Its copy breaks away from the job, and deletes the entry 4 s later.
  entries_.Add(k64, first, FixtureCommand(L"--record " + Quoted(record_) +
                                          L" --hand-over --late --breakaway --delete-key 64 " +
                                          Quoted(first) + L" --spawn 4000"));
  entries_.Add(k64, second, Uninstaller(k64, second));
  bool firstGoneAtItsLine = false;
  const DWORD started = GetTickCount();
  const ProcessResult result = RunToolStreaming(L"remove", [&](const std::string& line) {
    if (line != Narrow(first) + " is uninstalled") return;
    firstGoneAtItsLine = !UninstallEntries::Exists(k64, first);
  });
  const DWORD elapsed = GetTickCount() - started;
  std::printf("work handed out of the job: %lu ms\n", static_cast<unsigned long>(elapsed));
  EXPECT_EQ(result.output, Narrow(first) + " is detected\r\n" + Narrow(second) + " is detected\r\n" +
                               Narrow(first) + " is uninstalled\r\n" + Narrow(second) +
                               " is uninstalled\r\n");
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(RecordedLines(record_, "spawn="), std::vector<std::string>{"0"});  // it broke away
  EXPECT_TRUE(firstGoneAtItsLine);
  EXPECT_GE(elapsed, 4000u);
  EXPECT_LT(elapsed, 29000u);
  EXPECT_EQ(Commands().size(), 3u);
}

// Ghostscript 9.04 and earlier are removed by their own uninstaller, which is silent only with
// "-q" after the path of its log and otherwise waits for a click that never comes: a stand-in that
// reads its command line as that uninstaller does. Each form is removed in seconds, files, log and
// entry, with the success line, and the stand-in sees its program quoted and " -q".
TEST_F(ToolTest, OldGhostscriptUninstallerRunsSilently) {
  struct Case {
    RegistryView view;
    std::wstring root;  // the folder of uninstgs.exe
    const wchar_t* version;
    bool quotedProgram;
    bool quotedLog;
  };
  const Case cases[] = {
      {k32, L"C:\\Program Files\\gsu-old", L"8.64", false, true},
      {k64, L"C:\\Program Files\\gsu-old", L"9.04", true, true},
      {k32, L"C:\\gsu-old", L"8.54", false, false},
  };
  for (const Case& c : cases) {
    const std::wstring name = std::wstring(L"GPL Ghostscript ") + c.version;
    SCOPED_TRACE(Narrow(name));
    const std::wstring program = c.root + L"\\uninstgs.exe";
    const std::wstring folder = c.root + L"\\gs" + c.version;
    const std::wstring installed = folder + L"\\gswin32c.exe";
    const std::wstring log = folder + L"\\uninstal.txt";
    const std::wstring record = c.root + L"\\record.txt";
    UninstallEntries entries;
    PlantedPrograms planted;
    planted.Folder(c.root);
    planted.Folder(folder);
    planted.Program(program, BuildDir() + L"\\old_uninstaller.exe");
    planted.File(installed, "installed");
    planted.File(log, "file " + Narrow(installed) + "\r\nentry " + (c.view == k64 ? "64 " : "32 ") +
                          Narrow(name) + "\r\n");
    planted.File(record, "");
    const std::wstring logPart = c.quotedLog ? Quoted(log) : log;
    const std::wstring value = (c.quotedProgram ? Quoted(program) : program) + L" " + logPart;
    entries.Add(c.view, name, value);

    const DWORD started = GetTickCount();
    const ProcessResult result = RunTool(L"remove", 60000);
    const DWORD elapsed = GetTickCount() - started;
    std::printf("%s: %lu ms\n", Narrow(value).c_str(), static_cast<unsigned long>(elapsed));
    const std::string prefix = c.view == k32 ? "32bit " : "";
    EXPECT_EQ(result.output, prefix + Narrow(name) + " is detected\r\n" + prefix + Narrow(name) +
                                 " is uninstalled\r\n");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_LT(elapsed, 20000u);
    EXPECT_EQ(RecordedLines(record, "cmd="),
              std::vector<std::string>{Narrow(Quoted(program) + L" " + logPart) + " -q"});
    EXPECT_EQ(RecordedLines(record, "exit="), std::vector<std::string>{"0"});
    EXPECT_FALSE(UninstallEntries::Exists(c.view, name));
    EXPECT_EQ(GetFileAttributesW(installed.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(log.c_str()), INVALID_FILE_ATTRIBUTES);
    // One still waiting for its click is ended here.
    if (RecordedLines(record, "exit=").empty()) {
      for (const std::string& pid : RecordedLines(record, "pid=")) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, std::stoul(pid));
        if (process == nullptr) continue;
        TerminateProcess(process, 0);
        WaitForSingleObject(process, 10000);
        CloseHandle(process);
      }
    }
  }
}

// A failed uninstall must not end in exit status 0, whatever succeeds after it.
TEST_F(ToolTest, FailureIsNotHiddenByALaterSuccess) {
  entries_.Add(k64, L"GPL Ghostscript 10", Uninstaller(k64, L"GPL Ghostscript 10", 0xC0000005));
  entries_.Add(k32, L"GPL Ghostscript 9", Uninstaller(k32, L"GPL Ghostscript 9"));
  const ProcessResult result = RunTool(L"remove");
  EXPECT_EQ(result.output,
            "GPL Ghostscript 10 is detected\r\n"
            "32bit GPL Ghostscript 9 is detected\r\n"
            "GPL Ghostscript 10 is failed to uninstall\r\n"
            "32bit GPL Ghostscript 9 is uninstalled\r\n");
  EXPECT_EQ(result.exitCode, 0xC0000005u);
}

TEST_F(ToolTest, MissingUninstallStringIsSkippedSilently) {
  entries_.Add(k32, L"GPL Ghostscript 1", Uninstaller(k32, L"GPL Ghostscript 1", 3));
  entries_.Add(k32, L"GPL Ghostscript 2", L"");
  const ProcessResult result = RunTool(L"");
  EXPECT_EQ(result.output,
            "32bit GPL Ghostscript 1 is detected\r\n"
            "32bit GPL Ghostscript 2 is detected\r\n"
            "32bit GPL Ghostscript 1 is failed to uninstalled\r\n");
  EXPECT_EQ(result.exitCode, 3u);
}

// What the registry holds is run as it stands, however it is stored: without a terminator, with
// an odd byte count, as another type, or as long as one read can return (511 characters).
TEST_F(ToolTest, ValueIsRunWholeWhateverItsStorage) {
  auto bytes = [](const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  };
  // Each fixture deletes its own entry, named by its number.
  auto command = [this](int n) {
    const std::wstring name = L"GPL Ghostscript " + std::to_wstring(n);
    return FixtureCommand(L"--record " + Quoted(record_) + L" --delete-key 64 " + Quoted(name) +
                          L" --pad ");
  };
  const std::wstring longest = command(5) + std::wstring(511 - command(5).size(), L'x');
  const std::wstring tooLong = command(6) + std::wstring(512 - command(6).size(), L'x');
  entries_.AddRaw(k64, L"GPL Ghostscript 1", REG_SZ, bytes(command(1) + L"unterminated"));
  entries_.AddRaw(k64, L"GPL Ghostscript 2", REG_SZ, bytes(command(2) + L"odd") + "A");
  entries_.AddRaw(k64, L"GPL Ghostscript 3", REG_EXPAND_SZ, bytes(command(3) + L"%TEMP%"));
  entries_.AddRaw(k64, L"GPL Ghostscript 4", REG_BINARY, bytes(command(4) + L"binary"));
  entries_.AddRaw(k64, L"GPL Ghostscript 5", REG_SZ, bytes(longest) + std::string(2, '\0'));
  entries_.AddRaw(k64, L"GPL Ghostscript 6", REG_SZ, bytes(tooLong) + std::string(2, '\0'));

  const ProcessResult result = RunTool(L"remove");
  // The value one character too long for the read is skipped without a line, but it leaves an
  // installation behind: the read's error (ERROR_MORE_DATA) is the exit status.
  EXPECT_EQ(result.output,
            "GPL Ghostscript 1 is detected\r\n"
            "GPL Ghostscript 2 is detected\r\n"
            "GPL Ghostscript 3 is detected\r\n"
            "GPL Ghostscript 4 is detected\r\n"
            "GPL Ghostscript 5 is detected\r\n"
            "GPL Ghostscript 6 is detected\r\n"
            "GPL Ghostscript 1 is uninstalled\r\n"
            "GPL Ghostscript 2 is uninstalled\r\n"
            "GPL Ghostscript 3 is uninstalled\r\n"
            "GPL Ghostscript 4 is uninstalled\r\n"
            "GPL Ghostscript 5 is uninstalled\r\n");
  EXPECT_EQ(result.exitCode, static_cast<DWORD>(ERROR_MORE_DATA));
  const std::vector<std::string> expected = {
      Narrow(command(1)) + "unterminated /S", Narrow(command(2)) + "odd /S",
      Narrow(command(3)) + "%TEMP% /S", Narrow(command(4)) + "binary /S", Narrow(longest) + " /S"};
  EXPECT_EQ(Commands(), expected);
}

// However long the class name of an Uninstall key, its entries are seen.
TEST_F(ToolTest, LongClassNameHidesNoEntry) {
  entries_.RecreateUninstallKey(k64, std::wstring(300, L'c'));
  entries_.Add(k64, L"GPL Ghostscript class", L"u.exe");
  const ProcessResult result = RunTool(L"detect");
  EXPECT_EQ(result.output, "GPL Ghostscript class is detected\r\n");
  EXPECT_EQ(result.exitCode, 0u);
}

TEST_F(ToolTest, MissingUninstallKeyInOneView) {
  struct Case {
    RegistryView missing;
    const wchar_t* arguments;
    std::string output;
    DWORD exitCode;
  };
  const Case cases[] = {
      {k32, L"detect", "GPL Ghostscript A is detected\r\n", ERROR_FILE_NOT_FOUND},
      {k32, L"remove", "GPL Ghostscript A is detected\r\nGPL Ghostscript A is uninstalled\r\n",
       ERROR_FILE_NOT_FOUND},
      {k64, L"detect", "32bit GPL Ghostscript B is detected\r\n", ERROR_FILE_NOT_FOUND},
      {k64, L"remove",
       "32bit GPL Ghostscript B is detected\r\n32bit GPL Ghostscript B is uninstalled\r\n",
       ERROR_FILE_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    UninstallEntries entries;
    entries.DeleteUninstallKey(c.missing);
    if (c.missing == k32)
      entries.Add(k64, L"GPL Ghostscript A", Uninstaller(k64, L"GPL Ghostscript A"));
    else
      entries.Add(k32, L"GPL Ghostscript B", Uninstaller(k32, L"GPL Ghostscript B"));
    const ProcessResult result = RunTool(c.arguments);
    EXPECT_EQ(result.output, c.output);
    EXPECT_EQ(result.exitCode, c.exitCode);
  }
}

// One removal at a time: a second run while the first removes (its uninstaller slow) detects and
// starts nothing, says so and exits with 1618, and the first goes on; a run after both finds the
// installation gone.
TEST_F(ToolTest, SecondRemovalAtOnceIsToldToTryAgainLater) {
  const std::wstring name = L"GPL Ghostscript 10.01.1";
  entries_.Add(k64, name, FixtureCommand(L"--record " + Quoted(record_) +
                                         L" --pause 8000 --delete-key 64 " + Quoted(name)));
  ProcessResult first;
  std::thread firstRun([&first] { first = RunTool(L"remove"); });
  // The first run holds the lock once its uninstaller has started.
  const ULONGLONG startedAt = GetTickCount64();
  while (Commands().empty() && GetTickCount64() - startedAt < 300000) Sleep(50);
  const ProcessResult second = RunTool(L"remove");
  const bool firstStillRemoving = RecordedLines(record_, "exit=").empty();
  firstRun.join();
  EXPECT_EQ(second.output, "Another gs-uninstall is removing Ghostscript: try again later.\r\n");
  EXPECT_EQ(second.exitCode, static_cast<DWORD>(ERROR_INSTALL_ALREADY_RUNNING));
  EXPECT_TRUE(firstStillRemoving);
  EXPECT_EQ(first.output, Narrow(name) + " is detected\r\n" + Narrow(name) + " is uninstalled\r\n");
  EXPECT_EQ(first.exitCode, 0u);
  EXPECT_EQ(Commands().size(), 1u);
  const ProcessResult after = RunTool(L"remove");
  EXPECT_EQ(after.output, "Ghostscript is not installed.\r\n");
  EXPECT_EQ(after.exitCode, 0xFFFFFFFFu);
}

// A lock that stops no removal: one left by a run that ended without giving it up (taken over, not
// waited for), and one that a user who is not an administrator made and holds (not the removal
// lock at all).
TEST_F(ToolTest, LocksThatStopNoRemoval) {
  struct Case {
    const char* what;
    const wchar_t* owner;
    bool holderEnds;
  };
  const Case cases[] = {
      {"left by a run that died", L"BA", true},
      {"made and held by a user who is no administrator", L"BU", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring name = L"GPL Ghostscript 10.01.1";
    entries_.Add(k64, name, Uninstaller(k64, name));
    const std::wstring lockRecord = ScratchFile(L"lock");
    RunningProgram holder(FixtureCommand(L"--record " + Quoted(lockRecord) + L" --hold-lock " +
                                         c.owner + L" --sleep 600000"));
    const std::string said = holder.AwaitRecord(lockRecord, "locked=");
    ASSERT_EQ(RecordedLines(lockRecord, "locked="), std::vector<std::string>{"0"}) << said;
    if (c.holderEnds) holder.End();
    const ProcessResult result = RunTool(L"remove");
    EXPECT_EQ(result.output,
              Narrow(name) + " is detected\r\n" + Narrow(name) + " is uninstalled\r\n");
    EXPECT_EQ(result.exitCode, 0u);
    holder.End();
    DeleteFileW(lockRecord.c_str());
  }
}

// The command lines that the README gives deployment systems, run by the command interpreter in
// the folder that holds the tool, as an engine runs them: the lines go to the log file, and the
// status comes through "cmd /c" as the tool gave it, -1 and 1618 included; the package program's
// line turns -1 into 0 and passes every other status on.
TEST(DeployTest, CommandLinesPassTheStatusOn) {
  const std::wstring log = L"%ProgramData%\\gsu-deploy.log";
  wchar_t expanded[MAX_PATH] = {};
  ASSERT_NE(ExpandEnvironmentStringsW(log.c_str(), expanded, MAX_PATH), 0u);
  const std::wstring intune = L"cmd.exe /c gs-uninstall.exe > \"" + log + L"\"";
  const std::wstring package =
      L"cmd.exe /v:on /c \"gs-uninstall.exe remove & if !errorlevel! equ -1 (exit 0) else exit "
      L"!errorlevel!\"";
  const std::string busy = "Another gs-uninstall is removing Ghostscript: try again later.\r\n";
  const std::string name = "GPL Ghostscript 10.01.1";
  struct Case {
    const char* what;
    const std::wstring& command;
    bool installed;
    bool lockHeld;
    DWORD status;
    std::string log;  // what the tool wrote, to the log or to standard output
  };
  const Case cases[] = {
      {"nothing installed", intune, false, false, 0xFFFFFFFF, "Ghostscript is not installed.\r\n"},
      {"one installed", intune, true, false, 0,
       name + " is detected\r\n" + name + " is uninstalled\r\n"},
      {"another run removing", intune, true, true, ERROR_INSTALL_ALREADY_RUNNING, busy},
      {"package, nothing installed", package, false, false, 0, "Ghostscript is not installed.\r\n"},
      {"package, another run removing", package, true, true, ERROR_INSTALL_ALREADY_RUNNING, busy},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteFileW(expanded);
    UninstallEntries entries;
    const std::wstring record = ScratchFile(L"record");
    if (c.installed)
      entries.Add(RegistryView::View64, L"GPL Ghostscript 10.01.1",
                  SelfRemovingUninstaller(record, RegistryView::View64, L"GPL Ghostscript 10.01.1"));
    std::unique_ptr<RunningProgram> holder;
    if (c.lockHeld) {
      holder = std::make_unique<RunningProgram>(
          FixtureCommand(L"--record " + Quoted(record) + L" --hold-lock BA --sleep 600000"));
      const std::string said = holder->AwaitRecord(record, "locked=");
      ASSERT_EQ(RecordedLines(record, "locked="), std::vector<std::string>{"0"}) << said;
    }
    const ProcessResult result = RunProcess(c.command, 120000, BuildDir().c_str());
    EXPECT_EQ(result.exitCode, c.status);
    EXPECT_EQ(&c.command == &intune ? ReadFile(expanded) : result.output, c.log);
    DeleteFileW(record.c_str());
  }
  DeleteFileW(expanded);
}

}  // namespace
