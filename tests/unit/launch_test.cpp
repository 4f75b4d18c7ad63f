#include <gtest/gtest.h>

#include "fakes.h"
#include "removal/launch.h"

namespace {

struct LaunchCase {
  const char* what;
  FakeChild child;
  Status status;
  bool waited;
};

FakeChild Exits(std::uint32_t code) {
  FakeChild child;
  child.exitCode = code;
  return child;
}

FakeChild Waits(std::uint32_t result, Status error = kSuccess) {
  FakeChild child;
  child.waitResult = result;
  child.waitError = error;
  return child;
}

TEST(RunUninstaller, StatusForEachOutcome) {
  FakeChild missing;
  missing.startStatus = kErrorFileNotFound;
  FakeChild unreadable;
  unreadable.exitCodeStatus = kErrorAccessDenied;

  const LaunchCase cases[] = {
      {"exit 0", Exits(0), 0, true},
      {"exit 3", Exits(3), 3, true},
      {"exit with the top bit set", Exits(0xC0000005), static_cast<Status>(0xC0000005), true},
      {"exit 258 looks like a run-out wait", Exits(258), kWaitTimeout, true},
      {"start fails", missing, kErrorFileNotFound, false},
      {"wait runs out", Waits(258), kWaitTimeout, true},
      {"abandoned wait counts as run out", Waits(0x80), kWaitTimeout, true},
      {"wait fails", Waits(kWaitFailed, 6), 6, true},
      {"exit code unreadable", unreadable, kErrorAccessDenied, true},
  };
  for (const LaunchCase& c : cases) {
    SCOPED_TRACE(c.what);
    FakeProcesses processes;
    processes.children[L"u.exe /S"] = c.child;
    std::wstring command = L"u.exe /S";
    EXPECT_EQ(RunUninstaller(processes, command.data(), 1234), c.status);
    ASSERT_EQ(processes.commands, std::vector<std::wstring>{L"u.exe /S"});
    EXPECT_EQ(processes.flags[0], 0x0C000000u);
    EXPECT_EQ(processes.directories[0], L"C:\\");
    if (c.waited) {
      EXPECT_EQ(processes.waitLimits, std::vector<std::uint32_t>{1234});
      // Thread handle first, then the process handle; closing them leaves the child running.
      EXPECT_EQ(processes.closed, (std::vector<std::string>{"thread 0", "process 0"}));
    } else {
      EXPECT_TRUE(processes.waitLimits.empty());
      EXPECT_TRUE(processes.closed.empty());
    }
  }
}

}  // namespace
