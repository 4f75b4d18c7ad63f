#include <gtest/gtest.h>

#include <algorithm>

#include "fakes.h"
#include "removal/launch.h"

namespace {

const wchar_t kEntryName[] = L"GPL Ghostscript u";

// Launches "u.exe" for an entry that stays in the registry throughout.
Status Launch(FakeProcesses& processes, std::uint32_t waitMs = 1000) {
  FakeRegistry registry;
  registry.view64.entries = {{kEntryName, Utf16Bytes(L"u.exe")}};
  return RunUninstaller(processes, WindowsKind::Windows64, {registry, RegistryView::View64, kEntryName},
                        L"u.exe", waitMs);
}

struct LaunchCase {
  const char* what;
  FakeChild child;
  Status status;
};

FakeChild Child(std::uint32_t exitCode, std::uint64_t jobMs = 0) {
  FakeChild child;
  child.exitCode = exitCode;
  child.jobMs = jobMs;
  return child;
}

FakeChild Failing(Status FakeChild::*field, Status error) {
  FakeChild child;
  child.*field = error;
  return child;
}

// Outcomes of a launch whose child, with everything it starts, runs in a job.
TEST(RunUninstaller, StatusOfEachOutcomeInAJob) {
  const LaunchCase cases[] = {
      {"exit 0", Child(0), 0},
      {"exit 3 once its job is empty", Child(3, 999), 3},
      {"exit with the top bit set", Child(0xC0000005), static_cast<Status>(0xC0000005)},
      {"exit 258 looks like a run-out wait", Child(258), kWaitTimeout},
      {"job outlasts the limit", Child(0, 1001), kWaitTimeout},
      {"start fails", Failing(&FakeChild::startStatus, kErrorFileNotFound), kErrorFileNotFound},
      {"job wait fails", Failing(&FakeChild::waitError, 6), 6},
      {"exit code unreadable", Failing(&FakeChild::exitCodeStatus, kErrorAccessDenied),
       kErrorAccessDenied},
  };
  for (const LaunchCase& c : cases) {
    SCOPED_TRACE(c.what);
    FakeProcesses processes;
    processes.children[L"u.exe /S"] = c.child;
    EXPECT_EQ(Launch(processes), c.status);
    ASSERT_EQ(processes.commands, std::vector<std::wstring>{L"u.exe /S"});
    EXPECT_EQ(processes.flags[0], 0x0C000004u);  // no window, default error mode, suspended
    EXPECT_EQ(processes.directories[0], L"C:\\");
  }
}

// The child is in its job before it runs a single instruction, and every handle is closed
// (which stops nothing) whether or not the wait ran out.
TEST(RunUninstaller, AssignsBeforeResumingAndClosesEverything) {
  const std::vector<std::string> launch = {"start", "create job", "assign process 0 to job 0",
                                           "resume thread 0"};
  const std::vector<std::string> close = {"close job 0", "close port 0", "close thread 0",
                                          "close process 0"};
  struct Case {
    std::uint64_t jobMs;
    std::vector<std::string> wait;
  };
  const Case cases[] = {
      // The message only prompts the question: the job is asked, then whether the started
      // process has ended (without waiting) before its exit code is read.
      {10, {"wait port 0", "count job 0", "wait process 0"}},
      // Run out: the same after each slice.
      {5000, {"wait port 0", "count job 0", "wait process 0", "wait port 0", "count job 0",
              "wait process 0"}},
  };
  for (const Case& c : cases) {
    FakeProcesses processes;
    processes.children[L"u.exe /S"] = Child(0, c.jobMs);
    static_cast<void>(Launch(processes));
    std::vector<std::string> expected = launch;
    expected.insert(expected.end(), c.wait.begin(), c.wait.end());
    expected.insert(expected.end(), close.begin(), close.end());
    EXPECT_EQ(processes.events, expected);
  }
}

struct JobWaitCase {
  const char* what;
  FakeChild child;
  std::int64_t entryGoesAtMs;  // when the entry is found gone, after the start; -1: never
  Status status;
  std::vector<std::uint32_t> slices;  // the port waits, in order; none: not checked
  std::uint32_t limitMs = 2500;
  std::uint64_t elapsedMs = 0;  // on the clock, from the start to the verdict; 0: not checked
};

FakeChild InJob(std::uint32_t exitCode, std::uint64_t jobMs, std::uint64_t processMs,
                bool losesZeroMessage = false) {
  FakeChild child = Child(exitCode, jobMs);
  child.processMs = processMs;
  child.losesZeroMessage = losesZeroMessage;
  return child;
}

FakeChild WithInnerJob(FakeChild child, std::uint64_t innerJobMs) {
  child.innerJobMs = innerJobMs;
  return child;
}

// The wait ends when the job itself says it is empty, whatever messages come, and an uninstall
// whose process has ended and whose entry is gone is done 30 s later, or at the run-out if that
// comes first, whatever it left running. Slices are of at most a second.
TEST(RunUninstaller, JobWaitEndsWithTheUninstall) {
  constexpr std::uint32_t kTen = kUninstallWaitMs;
  const JobWaitCase cases[] = {
      {"message comes", InJob(0, 1500, 10), 0, 0, {1000, 1000}},
      {"message lost: the count says empty", InJob(0, 1500, 10, true), 0, 0, {1000, 1000}},
      {"message lost, never empty, entry still there", InJob(0, 9000, 10, true), -1,
       kWaitTimeout, {1000, 1000, 500, 0}},
      {"message would come after the run-out", InJob(0, 2600, 10), -1, kWaitTimeout,
       {1000, 1000, 500, 0}},
      {"lingering helper, entry gone: done at the run-out", InJob(0, 100000, 300), 0, 0,
       {1000, 1000, 500, 0}},
      {"lingering helper, failed exit code", InJob(3, 100000, 300), 0, 3, {1000, 1000, 500, 0}},
      {"uninstaller itself still running", InJob(0, 100000, 100000), 0, kWaitTimeout,
       {1000, 1000, 500, 0}},
      // On Windows 8 and later a nested job's messages reach every port up its chain: the
      // uninstaller's own helpers' job empties while the uninstaller still runs.
      {"a nested job's message while the job is not empty", WithInnerJob(InJob(0, 1400, 1400), 300),
       0, 0, {1000, 1000, 1000}, kTen, 1400},
      {"a nested job's message, then nothing until the run-out", WithInnerJob(InJob(0, 9000, 9000), 300),
       -1, kWaitTimeout, {}, 2500, 2500},
      // A count of 0 for a process that has not ended (no exit code of its own yet).
      {"the job says empty, the uninstaller still runs", InJob(0, 100, 100000), 0, kWaitTimeout,
       {}, 2500, 2500},
      {"entry gone after slice 3, job never empties: 30 s more", InJob(0, 1u << 31, 10), 3000, 0,
       {}, kTen, 33000},
      // Seen gone after the first slice.
      {"helper left in the job for good, entry gone at once", InJob(0, 1u << 31, 300), 0, 0, {},
       kTen, 31000},
      {"the entry goes, then the limit cuts the 30 s short", InJob(0, 1u << 31, 10), 590000, 0, {},
       kTen, kTen},
      // An NSIS copy that goes on deleting files for 8 s after its entry has gone.
      {"a copy that ends 8 s after the entry goes", InJob(0, 10010, 10), 2000, 0, {}, kTen, 10010},
      {"entry still there, job never empties", InJob(0, 1u << 31, 10), -1, kWaitTimeout, {}, kTen,
       kTen},
      // The job empties with the entry still there: the work was handed to what the job does not
      // hold (a process that broke away, a service). The entry gets half a minute from then,
      // looked up every 250 ms; still there, the caller fails the uninstall.
      {"work handed out of the job, entry gone 10 s later", InJob(0, 100, 100), 10000, 0, {}, kTen,
       10100},
      {"work handed out of the job, entry still there", InJob(0, 100, 100), -1, 0, {}, kTen, 30100},
      {"work handed out of the job, the limit cuts it short", InJob(0, 100, 100), -1, 0, {}, 5000,
       5000},
      {"job empties, uninstaller failed: no wait", InJob(3, 100, 100), -1, 3, {}, kTen, 100},
  };
  for (const JobWaitCase& c : cases) {
    SCOPED_TRACE(c.what);
    FakeRegistry registry;
    registry.view64.entries = {{kEntryName, Utf16Bytes(L"u.exe")}};
    FakeProcesses processes;
    const std::uint64_t start = processes.now;
    if (c.entryGoesAtMs >= 0) {
      registry.onOpen = [&](const std::wstring&) {
        if (processes.now >= start + c.entryGoesAtMs) registry.view64.entries.clear();
      };
    }
    processes.children[L"u.exe /S"] = c.child;
    EXPECT_EQ(RunUninstaller(processes, WindowsKind::Windows64,
                             {registry, RegistryView::View64, kEntryName}, L"u.exe",
                             c.limitMs),
              c.status);
    if (!c.slices.empty()) {
      EXPECT_EQ(processes.waitLimits, c.slices);
    }
    for (std::uint32_t slice : processes.waitLimits) EXPECT_LE(slice, 1000u);
    EXPECT_EQ(processes.earlyExitCodeReads, 0);
    if (c.elapsedMs != 0) {
      EXPECT_EQ(processes.now - start, c.elapsedMs);
    }
  }

  // A job that will not give its count never says it is empty, whatever its message: with the
  // entry still there, the limit.
  FakeProcesses processes;
  processes.countStatus = kErrorAccessDenied;
  processes.children[L"u.exe /S"] = InJob(0, 1500, 10, true);
  EXPECT_EQ(Launch(processes, 2500), kWaitTimeout);
}

// The uninstaller's environment (see environment_test.cpp) reaches the start as a block of wide
// characters, which the start must be told of; the tool's own is handed on as no block at all.
TEST(RunUninstaller, HandsOnTheUninstallersEnvironment) {
  for (const bool system : {true, false}) {
    SCOPED_TRACE(system ? "SYSTEM" : "a user");
    FakeProcesses processes;
    const std::wstring folder = L"C:\\Windows\\SystemTemp";
    processes.tempFolder2 = system ? folder + L"\\" : processes.tempFolder;
    processes.folders[folder] = {};
    processes.environment = {L"TEMP=C:\\Temp"};
    ASSERT_EQ(Launch(processes), 0);
    const std::wstring block = L"TEMP=" + folder + L'\0' + L"TMP=" + folder + L'\0' + L'\0';
    EXPECT_EQ(processes.environments, std::vector<std::wstring>{system ? block : L""});
    EXPECT_EQ(processes.flags[0], system ? 0x0C000404u : 0x0C000004u);
  }
}

// Without a job, an uninstaller that exits with 0 is waited for until its entry goes, looked up
// every 250 ms within the limit; one that fails is not.
TEST(RunUninstaller, WithoutAJobWaitsForTheEntryToGo) {
  struct Case {
    std::uint32_t exitCode;
    int foundLookups;  // how often the entry is still found before it goes; -1: never goes
    std::uint32_t limitMs;
    std::vector<std::uint32_t> sleeps;
  };
  const Case cases[] = {
      {0, 0, 5000, {}},
      {0, 3, 5000, std::vector<std::uint32_t>(3, 250)},
      {0, 12, 5000, std::vector<std::uint32_t>(12, 250)},
      {0, -1, 900, {250, 250, 250, 150}},  // the limit, exactly
      {3, -1, 5000, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.foundLookups);
    FakeRegistry registry;
    registry.view64.entries = {{kEntryName, Utf16Bytes(L"u.exe")}};
    int lookups = 0;
    registry.onOpen = [&](const std::wstring&) {
      if (++lookups > c.foundLookups && c.foundLookups >= 0) registry.view64.entries.clear();
    };
    FakeProcesses processes;
    processes.createJobStatus = kErrorAccessDenied;
    processes.children[L"u.exe /S"] = Child(c.exitCode);
    EXPECT_EQ(RunUninstaller(processes, WindowsKind::Windows64,
                             {registry, RegistryView::View64, kEntryName}, L"u.exe",
                             c.limitMs),
              static_cast<Status>(c.exitCode));
    EXPECT_EQ(processes.sleeps, c.sleeps);
  }
}

// Where no job can be had, the launch waits for the child alone, as before jobs.
TEST(RunUninstaller, FallsBackToTheChildAloneWithoutAJob) {
  struct Case {
    const char* what;
    Status createJob;
    Status assign;
    std::uint32_t waitResult;
    Status status;
  };
  const Case cases[] = {
      {"no job", kErrorAccessDenied, kSuccess, kWaitObject0, 3},
      {"job refuses the child", kSuccess, kErrorAccessDenied, kWaitObject0, 3},
      {"child outlasts the limit", kSuccess, kErrorAccessDenied, 258, kWaitTimeout},
      {"abandoned wait counts as run out", kErrorAccessDenied, kSuccess, 0x80, kWaitTimeout},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeProcesses processes;
    processes.createJobStatus = c.createJob;
    processes.assignStatus = c.assign;
    processes.startMs = 300;
    FakeChild child = Child(3);
    child.waitResult = c.waitResult;
    processes.children[L"u.exe /S"] = child;
    EXPECT_EQ(Launch(processes), c.status);
    // The limit counts from the start of the launch.
    EXPECT_EQ(processes.processWaitLimits, std::vector<std::uint32_t>{700});
    EXPECT_EQ(std::count(processes.events.begin(), processes.events.end(), "resume thread 0"), 1);
    EXPECT_EQ(processes.events.back(), "close process 0");
  }

  FakeProcesses failedWait;
  failedWait.createJobStatus = kErrorAccessDenied;
  failedWait.children[L"u.exe /S"] = Child(0);
  failedWait.children[L"u.exe /S"].waitResult = kWaitFailed;
  failedWait.children[L"u.exe /S"].waitError = 6;
  EXPECT_EQ(Launch(failedWait), 6);
}

// Messages about processes coming and going in the job do not restart the limit.
TEST(RunUninstaller, LimitCountsFromTheStartAcrossJobMessages) {
  FakeProcesses processes;
  processes.startMs = 100;
  FakeChild child = Child(0, 5000);
  child.otherMessages = 3;
  child.messageGapMs = 300;
  processes.children[L"u.exe /S"] = child;
  EXPECT_EQ(Launch(processes), kWaitTimeout);
  EXPECT_EQ(processes.waitLimits, (std::vector<std::uint32_t>{900, 600, 300, 0}));

  // A job that keeps sending messages past the limit does not keep the tool waiting.
  FakeProcesses busy;
  FakeChild chatty = Child(0, 100000);
  chatty.otherMessages = 1000000;
  chatty.messageGapMs = 0;
  busy.now = 10000;
  busy.children[L"u.exe /S"] = chatty;
  busy.startMs = 1000;  // the whole limit goes in the start
  EXPECT_EQ(Launch(busy), kWaitTimeout);
  EXPECT_EQ(busy.waitLimits, std::vector<std::uint32_t>{0});

  FakeProcesses inTime;
  child.jobMs = 999;
  inTime.children[L"u.exe /S"] = child;
  EXPECT_EQ(Launch(inTime), 0);
}

// A child that cannot be resumed never ran: it is ended rather than left suspended.
TEST(RunUninstaller, ChildThatCannotBeResumedIsTerminated) {
  FakeProcesses processes;
  processes.children[L"u.exe /S"] = Failing(&FakeChild::resumeStatus, kErrorAccessDenied);
  EXPECT_EQ(Launch(processes), kErrorAccessDenied);
  EXPECT_EQ(std::count(processes.events.begin(), processes.events.end(), "terminate process 0 5"),
            1);
  EXPECT_TRUE(processes.waitLimits.empty());
}

}  // namespace
