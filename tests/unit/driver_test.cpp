#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "driver.h"
#include "fakes.h"

namespace {

struct SwitchCase {
  std::vector<const wchar_t*> args;  // after the program name
  Status status;
  std::optional<RunMode> mode;  // none: left as it was
  std::string output;
};

TEST(ParseSwitch, AcceptsExactlyDetectAndRemove) {
  const std::string invalid = "Invalid switch\n";
  const SwitchCase cases[] = {
      {{}, kSuccess, std::nullopt, ""},
      {{L"detect"}, kSuccess, RunMode::Detect, ""},
      {{L"remove"}, kSuccess, RunMode::Remove, ""},
      {{L"detect", L"remove"}, kSuccess, RunMode::Detect, ""},
      {{L"remove", L"detect", L"x"}, kSuccess, RunMode::Remove, ""},
      {{L"Detect"}, kErrorInvalidOperation, std::nullopt, invalid},
      {{L"REMOVE"}, kErrorInvalidOperation, std::nullopt, invalid},
      {{L"-detect"}, kErrorInvalidOperation, std::nullopt, invalid},
      {{L"/detect"}, kErrorInvalidOperation, std::nullopt, invalid},
      {{L"--remove"}, kErrorInvalidOperation, std::nullopt, invalid},
      {{L"detec"}, kErrorInvalidOperation, std::nullopt, invalid},
      {{L"detectx"}, kErrorInvalidOperation, std::nullopt, invalid},
      {{L"detect "}, kErrorInvalidOperation, std::nullopt, invalid},
      {{L""}, kErrorInvalidOperation, std::nullopt, invalid},
  };
  for (const SwitchCase& c : cases) {
    std::vector<const wchar_t*> argv = {L"gs-uninstall.exe"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(argv.size() > 1 ? testing::PrintToString(std::wstring(argv[1])) : "none");
    for (RunMode before : {RunMode::Detect, RunMode::Remove}) {
      FakeConsole console;
      RunMode mode = before;
      EXPECT_EQ(ParseSwitch(static_cast<int>(argv.size()), argv.data(), console, mode), c.status);
      EXPECT_EQ(mode, c.mode.value_or(before));
      EXPECT_EQ(console.text, c.output);
    }
  }
}

// Deployment systems match these numbers: each exit status is pinned to its value.
TEST(ExitStatus, DocumentedNumbers) {
  const std::pair<Status, std::int64_t> statuses[] = {
      {kSuccess, 0},           {kNotInstalled, -1},           {kErrorFileNotFound, 2},
      {kErrorAccessDenied, 5}, {kErrorInvalidName, 123},      {kErrorBadPathname, 161},
      {kErrorMoreData, 234},   {kWaitTimeout, 258},           {kErrorKeyDeleted, 1018},
      {kErrorInstallFailure, 1603}, {kErrorInvalidOperation, 4317},
  };
  for (const auto& [status, number] : statuses) EXPECT_EQ(status, number);
}

// Sets up both views, runs the whole tool, and gives back its output.
struct ToolRun {
  FakeRegistry registry;
  FakeProcesses processes;
  FakeConsole console;

  Status Go(std::vector<const wchar_t*> args) {
    std::vector<const wchar_t*> argv = {L"gs-uninstall.exe"};
    argv.insert(argv.end(), args.begin(), args.end());
    Platform platform{registry, processes, console, 1000};
    UninstallersRemoveTheirEntries(processes, registry);
    return RunTool(platform, static_cast<int>(argv.size()), argv.data());
  }
};

TEST(RunTool, BadCommandLineRunsNothing) {
  ToolRun run;
  run.registry.view64.entries = {{L"GPL Ghostscript 1", Utf16Bytes(L"a.exe")}};
  EXPECT_EQ(run.Go({L"Remove"}), kErrorInvalidOperation);
  EXPECT_EQ(run.console.text, "Invalid switch\nOperation failed with the error code : 4317");
  EXPECT_EQ(run.registry.openCalls, 0);
  EXPECT_TRUE(run.processes.commands.empty());

  ToolRun none;
  Platform platform{none.registry, none.processes, none.console, 1000};
  const wchar_t* argv[] = {nullptr};
  EXPECT_EQ(RunTool(platform, 0, argv), kErrorInvalidOperation);
  EXPECT_EQ(none.console.text, "Operation failed with the error code : 4317");
  EXPECT_EQ(none.registry.openCalls, 0);
}

FakeEntry Entry(const wchar_t* name, const wchar_t* uninstall) { return {name, Utf16Bytes(uninstall)}; }

FakeView Installed(std::vector<FakeEntry> entries) {
  FakeView view;
  view.entries = std::move(entries);
  return view;
}

FakeView Unopenable(Status status) {
  FakeView view;
  view.openStatus = status;
  return view;
}

struct DriverCase {
  const char* what;
  FakeView view64;
  FakeView view32;
  std::map<std::wstring, std::uint32_t> exitCodes;
  Status detectStatus;
  Status removeStatus;
  std::string detectLines;  // printed in both modes
  std::string removeLines;  // printed after them in Remove mode
};

// The decision table of the driver, in both modes, with failures never replaced by successes.
TEST(RunTool, DecisionTable) {
  const FakeView a64 = Installed({Entry(L"GPL Ghostscript A", L"a.exe")});
  const FakeView b32 = Installed({Entry(L"GPL Ghostscript B", L"b.exe")});
  const std::string detectA = "GPL Ghostscript A is detected\n";
  const std::string detectB = "32bit GPL Ghostscript B is detected\n";
  const std::string removedA = "GPL Ghostscript A is uninstalled\n";
  const std::string removedB = "32bit GPL Ghostscript B is uninstalled\n";
  const std::string failedA = "GPL Ghostscript A is failed to uninstall\n";
  const std::string failedB = "32bit GPL Ghostscript B is failed to uninstalled\n";
  const std::string notInstalled = "Ghostscript is not installed.\n";

  const DriverCase cases[] = {
      {"nothing in either view", Installed({Entry(L"7-Zip", L"z.exe")}), FakeView{}, {},
       kNotInstalled, kNotInstalled, notInstalled, ""},
      {"neither key opens", Unopenable(kErrorFileNotFound), Unopenable(kErrorAccessDenied), {},
       kNotInstalled, kNotInstalled, notInstalled, ""},
      {"both views", a64, b32, {}, kSuccess, kSuccess, detectA + detectB, removedA + removedB},
      {"64-bit only, uninstaller fails", a64, FakeView{}, {{L"a.exe /S", 3}}, kSuccess, 3,
       detectA, failedA},
      {"32-bit only", FakeView{}, b32, {{L"b.exe /S", 5}}, kSuccess, 5, detectB, failedB},
      {"64-bit fails, 32-bit succeeds", a64, b32, {{L"a.exe /S", 3}}, kSuccess, 3,
       detectA + detectB, failedA + removedB},
      {"64-bit succeeds, 32-bit fails", a64, b32, {{L"b.exe /S", 4}}, kSuccess, 4,
       detectA + detectB, removedA + failedB},
      {"both fail: the 32-bit failure", a64, b32, {{L"a.exe /S", 3}, {L"b.exe /S", 4}}, kSuccess,
       4, detectA + detectB, failedA + failedB},
      {"64-bit key denied, 32-bit removed cleanly", Unopenable(kErrorAccessDenied), b32, {},
       kErrorAccessDenied, kErrorAccessDenied, detectB, removedB},
      {"64-bit key denied, 32-bit fails", Unopenable(kErrorAccessDenied), b32,
       {{L"b.exe /S", 7}}, kErrorAccessDenied, 7, detectB, failedB},
      {"32-bit key missing: only the 64-bit view is removed", a64, Unopenable(kErrorFileNotFound),
       {}, kErrorFileNotFound, kErrorFileNotFound, detectA, removedA},
      {"32-bit key missing outranks a 64-bit failure", a64, Unopenable(kErrorFileNotFound),
       {{L"a.exe /S", 3}}, kErrorFileNotFound, kErrorFileNotFound, detectA, failedA},
  };
  for (const DriverCase& c : cases) {
    SCOPED_TRACE(c.what);
    ToolRun detect;
    detect.registry.view64 = c.view64;
    detect.registry.view32 = c.view32;
    EXPECT_EQ(detect.Go({L"detect"}), c.detectStatus);
    EXPECT_EQ(detect.console.text, c.detectLines);
    EXPECT_TRUE(detect.processes.commands.empty());

    for (bool noSwitch : {false, true}) {
      ToolRun removal;
      removal.registry.view64 = c.view64;
      removal.registry.view32 = c.view32;
      for (const auto& [command, code] : c.exitCodes)
        removal.processes.children[command].exitCode = code;
      EXPECT_EQ(noSwitch ? removal.Go({}) : removal.Go({L"remove", L"extra"}), c.removeStatus);
      EXPECT_EQ(removal.console.text, c.detectLines + c.removeLines);
      EXPECT_EQ(removal.console.flushed, removal.console.text.size());
      EXPECT_EQ(removal.registry.openKeys, 0);
    }
  }
}

// On 32-bit Windows both views are one registry: an entry is detected in each, but handled once a
// run, by the first pass, whose status stands: its uninstaller is not run, tested or reported
// again (a hung one would cost twenty minutes more). On 64-bit Windows, x86-64 or ARM64, an entry
// of the same name in each view is two installations, and the 32-bit tool reaches the 64-bit
// entry's programs through Sysnative. Which Windows this is comes from IsWow64Process2's native
// machine where it answers (IsWow64Process says FALSE to a 32-bit process on ARM64), else from
// IsWow64Process; where neither answers, the views are two and System32 is taken as it is.
TEST(RunTool, EachInstallationIsHandledOnceARun) {
  const std::string detected = "GPL Ghostscript A is detected\n32bit GPL Ghostscript A is detected\n";
  FakeEntry denied = Entry(L"GPL Ghostscript A", L"a.exe");
  denied.openStatus = kErrorAccessDenied;
  FakeEntry kept = Entry(L"GPL Ghostscript A", L"a.exe");
  // What IsWow64Process2 and IsWow64Process say, to a 32-bit tool unless `tool64`.
  struct Machine {
    bool oneRegistry;
    Status nativeStatus;
    std::uint16_t native;
    Status wow64Status;
    bool wow64;
    bool tool64 = false;
  };
  const Machine windows32 = {true, kSuccess, kMachineI386, kSuccess, false};
  const Machine x64 = {false, kSuccess, kMachineAmd64, kSuccess, true};
  const Machine arm64 = {false, kSuccess, kMachineArm64, kSuccess, false};
  const std::wstring system = L"C:\\Windows\\system32\\a.exe";
  const std::wstring sysnative = L"C:\\Windows\\Sysnative\\a.exe";
  struct Case {
    const char* what;
    Machine machine;
    FakeEntry entry;
    FakeChild child;
    Status status;
    std::string removeLines;
    std::vector<std::wstring> programs;  // started, in order
  };
  FakeChild fails;
  fails.exitCode = 3;
  FakeChild leaves;
  leaves.leavesEntry = true;
  const std::string failedTwice =
      "GPL Ghostscript A is failed to uninstall\n32bit GPL Ghostscript A is failed to uninstalled\n";
  const Case cases[] = {
      {"fails", windows32, kept, fails, 3, "GPL Ghostscript A is failed to uninstall\n", {system}},
      {"succeeds", windows32, kept, FakeChild{}, kSuccess, "GPL Ghostscript A is uninstalled\n",
       {system}},
      {"exits 0, its entry still there", windows32, kept, leaves, kErrorInstallFailure,
       "GPL Ghostscript A is failed to uninstall\n", {system}},
      {"key that will not open", windows32, denied, FakeChild{}, kErrorAccessDenied, "", {}},
      {"x86-64: each view's own", x64, kept, fails, 3, failedTwice, {sysnative, system}},
      {"ARM64, IsWow64Process FALSE", arm64, kept, fails, 3, failedTwice, {sysnative, system}},
      {"no IsWow64Process2, 32-bit Windows", {true, kErrorProcNotFound, 0, kSuccess, false}, kept,
       fails, 3, "GPL Ghostscript A is failed to uninstall\n", {system}},
      {"no IsWow64Process2, 64-bit Windows", {false, kErrorProcNotFound, 0, kSuccess, true}, kept,
       fails, 3, failedTwice, {sysnative, system}},
      {"neither answers", {false, kErrorProcNotFound, 0, kErrorAccessDenied, false}, kept, fails, 3,
       failedTwice, {system, system}},
      {"x86-64 build, no IsWow64Process2", {false, kErrorProcNotFound, 0, kSuccess, false, true},
       kept, fails, 3, failedTwice, {system, system}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ToolRun run;
    run.registry.viewsAreOne = c.machine.oneRegistry;
    run.processes.process64 = c.machine.tool64;
    run.processes.nativeMachineStatus = c.machine.nativeStatus;
    run.processes.nativeMachine = c.machine.native;
    run.processes.isWow64Status = c.machine.wow64Status;
    run.processes.isWow64 = c.machine.wow64;
    run.registry.view64.entries = {c.entry};
    if (!c.machine.oneRegistry) run.registry.view32.entries = {c.entry};
    run.processes.children[L"a.exe /S"] = c.child;
    EXPECT_EQ(run.Go({}), c.status);
    EXPECT_EQ(run.console.text, detected + c.removeLines);
    EXPECT_EQ(run.processes.applications, c.programs);
    // The second pass does not so much as open an entry the first took up.
    const std::wstring entryPath = std::wstring(kUninstallKeyPath) + L"\\GPL Ghostscript A";
    const auto entryOpens = std::count_if(run.registry.opens.begin(), run.registry.opens.end(),
                                          [&](const FakeRegistry::OpenRecord& open) {
                                            return open.path == entryPath && open.access == ValueAccess(RegistryView::View32);
                                          });
    EXPECT_EQ(entryOpens == 0, c.machine.oneRegistry);
  }

  // An installation recorded after the first pass's scan (while its uninstaller ran) is the
  // second pass's to remove, after one it passes over.
  ToolRun late;
  late.registry.viewsAreOne = true;
  late.processes.nativeMachine = kMachineI386;
  late.registry.view64.entries = {kept};
  late.processes.children[L"a.exe /S"] = fails;
  late.processes.children[L"a.exe /S"].onStart = [&late] {
    late.registry.view64.entries.push_back(Entry(L"GPL Ghostscript B", L"b.exe"));
  };
  EXPECT_EQ(late.Go({}), 3);
  EXPECT_EQ(late.console.text, detected + "GPL Ghostscript A is failed to uninstall\n"
                                          "32bit GPL Ghostscript B is uninstalled\n");
  EXPECT_EQ(late.processes.commands, (std::vector<std::wstring>{L"a.exe /S", L"b.exe /S"}));
}

// A view whose key opened takes a removal pass even with nothing detected in it, and that pass
// scans afresh: an entry that appeared after detection is removed too.
TEST(RunTool, RemovalPassScansItsViewAgain) {
  FakeRegistry registry;
  FakeProcesses processes;
  registry.view32.entries = {Entry(L"GPL Ghostscript B", L"b.exe")};
  // Adds an entry to the 64-bit view as soon as detection has printed its last line.
  struct LateConsole final : Console {
    FakeRegistry* registry = nullptr;
    std::string text;
    void Write(std::string_view message) override {
      text.append(message);
      if (message == "32bit GPL Ghostscript B is detected\n")
        registry->view64.entries = {Entry(L"GPL Ghostscript Late", L"late.exe")};
    }
    void Flush() override {}
  } console;
  console.registry = &registry;
  UninstallersRemoveTheirEntries(processes, registry);
  Platform platform{registry, processes, console, 1000};
  const wchar_t* argv[] = {L"gs-uninstall.exe"};
  EXPECT_EQ(RunTool(platform, 1, argv), kSuccess);
  EXPECT_EQ(console.text,
            "32bit GPL Ghostscript B is detected\n"
            "GPL Ghostscript Late is uninstalled\n"
            "32bit GPL Ghostscript B is uninstalled\n");
  EXPECT_EQ(processes.commands, (std::vector<std::wstring>{L"late.exe /S", L"b.exe /S"}));
}

// One removal at a time on a machine: a removal takes the lock before it detects anything and
// gives it up at its end; a run that finds it held detects and starts nothing, and says so (1618,
// a deployment system's "try again later"). A lock that a user who is not an administrator made,
// an object of its name that denies the run or is no lock, or a run that is no administrator:
// nothing to respect, and the removal goes on. Any other failure to take the lock or to read its
// owner: no removal without it. Detection takes no lock.
TEST(RunTool, OneRemovalAtATime) {
  const std::string removes = "GPL Ghostscript A is detected\nGPL Ghostscript A is uninstalled\n";
  const std::string failed = "The lock that keeps removals apart could not be taken: error ";
  struct Case {
    const char* what;
    Status open;
    bool byAdministrators;
    Status owner;
    Status take;
    Status status;
    std::string output;
    std::vector<std::string> lockEvents;  // and the start, in order
  };
  const std::vector<std::string> held = {"open lock", "take lock 0", "start", "release lock 0",
                                         "close lock 0"};
  const std::vector<std::string> ignored = {"open lock", "start", "close lock 0"};
  const Case cases[] = {
      {"free", kSuccess, true, kSuccess, kSuccess, kSuccess, removes, held},
      {"held by another run", kSuccess, true, kSuccess, kWaitTimeout, kErrorInstallAlreadyRunning,
       "Another gs-uninstall is removing Ghostscript: try again later.\n",
       {"open lock", "take lock 0", "close lock 0"}},
      {"made by a user who is not an administrator", kSuccess, false, kSuccess, kWaitTimeout,
       kSuccess, removes, ignored},
      {"its name taken by an object that denies the run", kErrorAccessDenied, true, kSuccess,
       kSuccess, kSuccess, removes, {"open lock", "start"}},
      {"its name taken by another kind of object", kErrorInvalidHandle, true, kSuccess, kSuccess,
       kSuccess, removes, {"open lock", "start"}},
      {"the run is no administrator", kErrorInvalidOwner, true, kSuccess, kSuccess, kSuccess,
       removes, {"open lock", "start"}},
      {"cannot be made", 1450, true, kSuccess, kSuccess, 1450, failed + "1450.\n", {"open lock"}},
      {"its owner cannot be read", kSuccess, true, kErrorAccessDenied, kSuccess, kErrorAccessDenied,
       failed + "5.\n", {"open lock", "close lock 0"}},
      {"cannot be tried", kSuccess, true, kSuccess, kErrorInvalidHandle, kErrorInvalidHandle,
       failed + "6.\n", {"open lock", "take lock 0", "close lock 0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ToolRun run;
    run.registry.view64.entries = {Entry(L"GPL Ghostscript A", L"a.exe")};
    run.processes.openLockStatus = c.open;
    run.processes.lockByAdministrators = c.byAdministrators;
    run.processes.lockOwnerStatus = c.owner;
    run.processes.tryLockStatus = c.take;
    // The lock comes before the first look at the registry.
    std::size_t eventsAtFirstOpen = SIZE_MAX;
    run.registry.onOpen = [&](const std::wstring&) {
      eventsAtFirstOpen = std::min(eventsAtFirstOpen, run.processes.events.size());
    };
    EXPECT_EQ(run.Go({L"remove"}), c.status);
    EXPECT_EQ(run.console.text, c.output);
    std::vector<std::string> lockEvents;
    for (const std::string& event : run.processes.events)
      if (event.find("lock") != std::string::npos || event == "start") lockEvents.push_back(event);
    EXPECT_EQ(lockEvents, c.lockEvents);
    // Nothing is looked at before the lock has been asked about; nothing at all without it.
    const bool takes = c.lockEvents.size() > 1 && c.lockEvents[1] == "take lock 0";
    EXPECT_EQ(eventsAtFirstOpen, c.output == removes ? (takes ? 2u : 1u) : SIZE_MAX);
  }

  ToolRun detect;
  detect.registry.view64.entries = {Entry(L"GPL Ghostscript A", L"a.exe")};
  detect.processes.tryLockStatus = kWaitTimeout;
  EXPECT_EQ(detect.Go({L"detect"}), kSuccess);
  EXPECT_EQ(detect.console.text, "GPL Ghostscript A is detected\n");
  EXPECT_EQ(detect.processes.events, std::vector<std::string>{});
}

}  // namespace
