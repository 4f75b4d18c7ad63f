// The launch against real Windows processes: exit codes, failed starts, a run-out wait, the
// working directory and the exact command line the child receives.
#include <gtest/gtest.h>

#include <cstdio>

#include "discovery/win_registry.h"
#include "harness.h"
#include "removal/launch.h"
#include "removal/win_processes.h"
#include "win_platform.h"

namespace {

// Launches `uninstallString` as the uninstaller of an entry that is not in the registry.
Status Launch(const std::wstring& uninstallString, std::uint32_t waitMs = 60000) {
  WinRegistry registry;
  WinProcesses processes;
  return RunUninstaller(processes, TellWindows(processes),
                        {registry, RegistryView::View64, L"GPL Ghostscript no entry"},
                        uninstallString, waitMs);
}

// The product waits ten minutes for each uninstaller.
TEST(RealLaunch, TheProductWaitsTenMinutes) {
  WinRegistry registry;
  WinProcesses processes;
  CapturedConsole console;
  EXPECT_EQ(WindowsPlatform(registry, processes, console).uninstallWaitMs, 600000u);
}

TEST(RealLaunch, ExitCodeBecomesTheStatus) {
  struct Case {
    const wchar_t* code;
    Status status;
  };
  const Case cases[] = {
      {L"0", 0},
      {L"3", 3},
      {L"0xC0000005", static_cast<Status>(0xC0000005)},  // negative, as a crash gives
      {L"0xFFFFFFFF", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.code)));
    EXPECT_EQ(Launch(FixtureCommand(L"--exit ") + c.code), c.status);
  }
}

TEST(RealLaunch, ProgramThatDoesNotExistGivesTheStartError) {
  EXPECT_EQ(Launch(Quoted(BuildDir() + L"\\no-such-uninstaller.exe")), ERROR_FILE_NOT_FOUND);
  // Windows says ERROR_PATH_NOT_FOUND for a missing folder where Wine may say
  // ERROR_FILE_NOT_FOUND: the launch passes on whatever the platform says.
  const std::wstring missingFolder = L"C:\\no\\such\\folder\\uninst.exe";
  const Status expected = static_cast<Status>(StartError(missingFolder + L" /S", missingFolder));
  EXPECT_TRUE(expected == ERROR_FILE_NOT_FOUND || expected == ERROR_PATH_NOT_FOUND) << expected;
  EXPECT_EQ(Launch(missingFolder), expected);
}

// The command line reaches the child exactly as built, and it runs in C:\. Its environment is the
// tool's, but for TMP and TEMP where GetTempPath2W gives another folder than GetTempPathW (SYSTEM's
// own) and that folder is there: Wine 8 has no GetTempPath2W, Wine 10 has one that gives any user
// GetTempPathW's folder.
// The test says which way this Windows went.
TEST(RealLaunch, ChildGetsTheCommandLineAsIsAndRunsInDriveC) {
  const std::wstring record = ScratchFile(L"record");
  const std::wstring value =
      FixtureCommand(L"--record " + Quoted(record) + L" \"quoted arg\" plain  two-spaces");
  ASSERT_EQ(Launch(value), 0);
  EXPECT_EQ(RecordedLines(record, "cmd="), std::vector<std::string>{Narrow(value) + " /S"});
  EXPECT_EQ(RecordedLines(record, "cwd="), std::vector<std::string>{"C:\\"});
  WinProcesses processes;
  std::wstring systemTemp = processes.TempFolder2();
  const bool has2 = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W") != nullptr;
  const bool same = systemTemp.empty() || systemTemp == processes.TempFolder();
  if (!same) systemTemp.pop_back();  // without its last backslash, as TEMP is written
  const bool own = same || !processes.FolderExists(systemTemp);
  std::printf("GetTempPath2W: %s\n",
              !has2  ? "missing: the uninstaller gets the tool's TMP and TEMP"
              : same ? "gives GetTempPathW's folder: the tool's TMP and TEMP"
              : own  ? "gives another folder, which is not there: the tool's TMP and TEMP"
                     : "gives another folder: the uninstaller's TMP and TEMP");
  for (const wchar_t* variable : {L"TEMP", L"TMP"}) {
    wchar_t tool[MAX_PATH] = {};
    ASSERT_NE(GetEnvironmentVariableW(variable, tool, MAX_PATH), 0u);
    std::string tag = Narrow(variable) + "=";
    for (char& c : tag) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(RecordedLines(record, tag), std::vector<std::string>{Narrow(own ? tool : systemTemp)});
  }
  DeleteFileW(record.c_str());
}

// A child that outlasts the limit gives 258 and is left running.
TEST(RealLaunch, ChildThatOutlastsTheLimitIsLeftRunning) {
  const std::wstring record = ScratchFile(L"record");
  const DWORD started = GetTickCount();
  EXPECT_EQ(Launch(FixtureCommand(L"--record " + Quoted(record) + L" --sleep 20000"), 1500),
            kWaitTimeout);
  const DWORD elapsed = GetTickCount() - started;
  EXPECT_GE(elapsed, 1400u);
  EXPECT_LT(elapsed, 15000u);

  ExpectStillRunningAndEnd(record);
  DeleteFileW(record.c_str());
}

// What an uninstaller leaves running once its uninstall is done is not waited for: a process that
// left the job is not waited for at all; one that stayed in it keeps the wait going only to the
// limit, and then the uninstall, its process ended and its entry gone, counts as done. Either way
// that process is still running afterwards.
TEST(RealLaunch, ProcessesLeftRunningDoNotFailADoneUninstall) {
  struct Case {
    const char* what;
    const wchar_t* extra;
    std::uint32_t limitMs;
    bool waitsForTheLimit;
  };
  const Case cases[] = {
      {"a helper in the job", L" --spawn 30000", 2000, true},
      {"a process that broke away", L" --spawn 30000 --breakaway", 60000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UninstallEntries entries;
    const std::wstring record = ScratchFile(L"record");
    const std::wstring name = L"GPL Ghostscript leaves a process";
    entries.Add(RegistryView::View64, name,
                SelfRemovingUninstaller(record, RegistryView::View64, name, 0, c.extra));
    // The tool's own code against Windows, with the limit cut short.
    WinProcesses processes;
    const DWORD started = GetTickCount();
    const InProcessResult result = RunToolInProcess(processes, c.limitMs, L"remove");
    const DWORD elapsed = GetTickCount() - started;
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "GPL Ghostscript leaves a process is detected\n"
                             "GPL Ghostscript leaves a process is uninstalled\n");
    if (c.waitsForTheLimit) {
      EXPECT_GE(elapsed, c.limitMs - 100);
    }
    EXPECT_LT(elapsed, 15000u);
    EXPECT_FALSE(UninstallEntries::Exists(RegistryView::View64, name));
    EXPECT_EQ(RecordedLines(record, "spawn="), std::vector<std::string>{"0"});
    ExpectStillRunningAndEnd(record, "spawned=");
    DeleteFileW(record.c_str());
  }
}

}  // namespace
