// The launch against real Windows processes: exit codes, failed starts, a run-out wait, the
// working directory and the exact command line the child receives.
#include <gtest/gtest.h>

#include "harness.h"
#include "removal/launch.h"
#include "removal/win_processes.h"

namespace {

Status Launch(const std::wstring& uninstallString, std::uint32_t waitMs = 60000) {
  WinProcesses processes;
  return RunUninstaller(processes, uninstallString, waitMs);
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

// The command line reaches the child exactly as built, and it runs in C:\.
TEST(RealLaunch, ChildGetsTheCommandLineAsIsAndRunsInDriveC) {
  const std::wstring record = ScratchFile(L"record");
  const std::wstring value =
      FixtureCommand(L"--record " + Quoted(record) + L" \"quoted arg\" plain  two-spaces");
  ASSERT_EQ(Launch(value), 0);
  EXPECT_EQ(RecordedLines(record, "cmd="), std::vector<std::string>{Narrow(value) + " /S"});
  EXPECT_EQ(RecordedLines(record, "cwd="), std::vector<std::string>{"C:\\"});
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

}  // namespace
