// Hostile command lines, misbehaving uninstallers, a crowded registry, and proof that the tool
// writes nothing to the registry: the real tool under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "discovery/win_registry.h"
#include "harness.h"
#include "removal/win_processes.h"

namespace {

constexpr RegistryView k64 = RegistryView::View64;
constexpr RegistryView k32 = RegistryView::View32;
const std::string kInvalid = "Invalid switch\r\nOperation failed with the error code : 4317";

class HostileTest : public ::testing::Test {
 protected:
  void TearDown() override { DeleteFileW(record_.c_str()); }
  UninstallEntries entries_;
  std::wstring record_ = ScratchFile(L"record");
};

TEST_F(HostileTest, CommandLines) {
  struct Case {
    std::wstring arguments;
    std::string output;  // "" for a run that reports the one installation
    DWORD exitCode;
  };
  const std::string detected = "GPL Ghostscript 10 is detected\r\n";
  const std::string removed = detected + "GPL Ghostscript 10 is uninstalled\r\n";
  const Case cases[] = {
      {L"", removed, 0},
      {L"remove", removed, 0},
      {L"detect", detected, 0},
      {L"detect remove", detected, 0},
      {L"remove detect extra \"\"", removed, 0},
      {L"Detect", kInvalid, 4317},
      {L"DETECT", kInvalid, 4317},
      {L"-detect", kInvalid, 4317},
      {L"/detect", kInvalid, 4317},
      {L"--remove", kInvalid, 4317},
      {L"detec", kInvalid, 4317},
      {L"detectx", kInvalid, 4317},
      {L"\"detect \"", kInvalid, 4317},
      {L"\"\"", kInvalid, 4317},
      {L"\"\" detect", kInvalid, 4317},
      {std::wstring(30000, L'd'), kInvalid, 4317},
      {L"d\u00e9tect", kInvalid, 4317},
      {L"\u0443\u0434\u0430\u043b\u0438\u0442\u044c", kInvalid, 4317},
      {L"\u68c0\u6d4b \xD83D\xDE00", kInvalid, 4317},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.arguments.substr(0, 40)));
    UninstallEntries entries;
    DeleteFileW(record_.c_str());
    entries.Add(k64, L"GPL Ghostscript 10", SelfRemovingUninstaller(record_, k64, L"GPL Ghostscript 10"));
    const ProcessResult result = RunTool(c.arguments);
    EXPECT_EQ(result.output, c.output);
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(result.errors, "");
    // Only a removal runs anything.
    EXPECT_EQ(RecordedLines(record_, "cmd=").size(), c.output == removed ? 1u : 0u);
  }
}

// Every key and value under HKEY_LOCAL_MACHINE, in both views, as text.
void Walk(HKEY key, const std::wstring& path, REGSAM view,
          std::map<std::wstring, std::wstring>& into, const std::wstring& skip) {
  std::wstring values;
  std::vector<wchar_t> name(16384);
  std::vector<BYTE> data(1 << 16);
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataSize = static_cast<DWORD>(data.size());
    DWORD type = 0;
    if (RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(),
                      &dataSize) != ERROR_SUCCESS)
      break;
    values += std::wstring(name.data(), nameLength) + L"=" + std::to_wstring(type) + L":" +
              std::wstring(reinterpret_cast<wchar_t*>(data.data()), dataSize / 2) + L"\n";
  }
  into[path] = values;
  std::vector<std::wstring> subkeys;
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    if (RegEnumKeyExW(key, index, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    subkeys.emplace_back(name.data(), nameLength);
  }
  for (const std::wstring& subkey : subkeys) {
    if (_wcsicmp((path + L"\\" + subkey).c_str(), skip.c_str()) == 0) continue;
    HKEY child = nullptr;
    if (RegOpenKeyExW(key, subkey.c_str(), 0, KEY_READ | view, &child) != ERROR_SUCCESS) continue;
    Walk(child, path + L"\\" + subkey, view, into, skip);
    RegCloseKey(child);
  }
}

// The keys that differ between two snapshots, for a readable failure.
std::vector<std::string> Differences(const std::map<std::wstring, std::wstring>& a,
                                     const std::map<std::wstring, std::wstring>& b) {
  std::vector<std::string> keys;
  for (const auto& [key, values] : a) {
    auto found = b.find(key);
    if (found == b.end()) keys.push_back("only before: " + Narrow(key));
    else if (found->second != values) keys.push_back("changed: " + Narrow(key) + " " + Narrow(values) + " -> " + Narrow(found->second));
  }
  for (const auto& [key, values] : b)
    if (!a.count(key)) keys.push_back("only after: " + Narrow(key));
  return keys;
}

// All of HKEY_LOCAL_MACHINE in the 64-bit view, and its SOFTWARE key, the part that differs, in
// the 32-bit view (seen in the 64-bit view as Wow6432Node, which that walk leaves out).
std::map<std::wstring, std::wstring> Snapshot() {
  std::map<std::wstring, std::wstring> snapshot;
  Walk(HKEY_LOCAL_MACHINE, L"64:", KEY_WOW64_64KEY, snapshot, L"64:\\SOFTWARE\\Wow6432Node");
  HKEY software32 = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_READ | KEY_WOW64_32KEY,
                          &software32),
            ERROR_SUCCESS);
  Walk(software32, L"32:\\SOFTWARE", KEY_WOW64_32KEY, snapshot, L"");
  RegCloseKey(software32);
  return snapshot;
}

// The tool only reads: whatever it does, the registry holds afterwards exactly what it held
// before, but for the entries the uninstallers removed themselves.
TEST_F(HostileTest, WritesNothingToTheRegistry) {
  entries_.Add(k64, L"GPL Ghostscript A", SelfRemovingUninstaller(record_, k64, L"GPL Ghostscript A"));
  entries_.Add(k32, L"GPL Ghostscript B", SelfRemovingUninstaller(record_, k32, L"GPL Ghostscript B", 7));
  entries_.Add(k32, L"GPL Ghostscript C", L"C:\\no\\such\\uninstaller.exe");
  const auto before = Snapshot();
  EXPECT_GT(before.size(), 100u);
  std::printf("registry snapshot: %u keys\n", static_cast<unsigned>(before.size()));

  EXPECT_EQ(RunTool(L"detect").exitCode, 0u);
  EXPECT_EQ(Differences(before, Snapshot()), std::vector<std::string>{});

  EXPECT_EQ(RunTool(L"").exitCode, StartError(L"C:\\no\\such\\uninstaller.exe /S",
                                                   L"C:\\no\\such\\uninstaller.exe"));
  auto expected = before;
  const std::wstring uninstall = L"\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  expected.erase(L"64:\\Software" + uninstall + L"GPL Ghostscript A");
  expected.erase(L"32:\\SOFTWARE" + uninstall + L"GPL Ghostscript B");
  EXPECT_EQ(Differences(expected, Snapshot()), std::vector<std::string>{});
}

// Nothing an uninstaller writes, to its own standard handles or to handles it might have
// inherited, reaches the tool's output.
TEST_F(HostileTest, UninstallerOutputNeverReachesTheToolsOutput) {
  entries_.Add(k64, L"GPL Ghostscript A",
               SelfRemovingUninstaller(record_, k64, L"GPL Ghostscript A", 0, L" --chatter"));
  entries_.Add(k32, L"GPL Ghostscript B",
               SelfRemovingUninstaller(record_, k32, L"GPL Ghostscript B", 0, L" --try-handles"));
  const ProcessResult result = RunTool(L"");
  EXPECT_EQ(result.output,
            "GPL Ghostscript A is detected\r\n32bit GPL Ghostscript B is detected\r\n"
            "GPL Ghostscript A is uninstalled\r\n32bit GPL Ghostscript B is uninstalled\r\n");
  EXPECT_EQ(result.errors, "");
  EXPECT_EQ(result.exitCode, 0u);

  // Read through a pipe as well: a handle passed on would also hold the pipe open.
  entries_.Add(k64, L"GPL Ghostscript A",
               SelfRemovingUninstaller(record_, k64, L"GPL Ghostscript A", 0, L" --chatter --try-handles"));
  const ProcessResult piped = RunToolStreaming(L"", [](const std::string&) {});
  EXPECT_EQ(piped.output, "GPL Ghostscript A is detected\r\nGPL Ghostscript A is uninstalled\r\n");
}

// Uninstallers that crash, delete other installations' entries, or do not exist: the lines and
// statuses of any failure, and the next entry is still handled.
TEST_F(HostileTest, MisbehavingUninstallers) {
  entries_.Add(k64, L"GPL Ghostscript 1 crash", FixtureCommand(L"--crash"));
  entries_.Add(k64, L"GPL Ghostscript 2 missing", L"\"C:\\Program Files\\gs\\no-such.exe\"");
  entries_.Add(k64, L"GPL Ghostscript 3 ok", SelfRemovingUninstaller(record_, k64, L"GPL Ghostscript 3 ok"));
  const ProcessResult result = RunTool(L"");
  EXPECT_EQ(result.output,
            "GPL Ghostscript 1 crash is detected\r\n"
            "GPL Ghostscript 2 missing is detected\r\n"
            "GPL Ghostscript 3 ok is detected\r\n"
            "GPL Ghostscript 1 crash is failed to uninstall\r\n"
            "GPL Ghostscript 2 missing is failed to uninstall\r\n"
            "GPL Ghostscript 3 ok is uninstalled\r\n");
  // The last failure: the start that the platform refused.
  EXPECT_EQ(result.exitCode, StartError(L"\"C:\\Program Files\\gs\\no-such.exe\" /S",
                                        L"C:\\Program Files\\gs\\no-such.exe"));

  // Alone, the crash is the exit status: an access violation, negative.
  UninstallEntries crashOnly;
  crashOnly.Add(k32, L"GPL Ghostscript crash", FixtureCommand(L"--crash"));
  EXPECT_EQ(RunTool(L"remove").exitCode, 0xC0000005u);
}

// An uninstaller that exits with 0 but leaves its entry locked against everyone has not shown
// that the entry is gone: the failure line and the error of the lookup, in either view.
TEST_F(HostileTest, EntryLockedByItsUninstallerIsAFailure) {
  entries_.Add(k64, L"GPL Ghostscript locked",
               FixtureCommand(L"--lock-key 64 \"GPL Ghostscript locked\""));
  entries_.Add(k32, L"GPL Ghostscript locked",
               FixtureCommand(L"--lock-key 32 \"GPL Ghostscript locked\""));
  const ProcessResult result = RunTool(L"remove");
  EXPECT_EQ(result.output,
            "GPL Ghostscript locked is detected\r\n32bit GPL Ghostscript locked is detected\r\n"
            "GPL Ghostscript locked is failed to uninstall\r\n"
            "32bit GPL Ghostscript locked is failed to uninstalled\r\n");
  EXPECT_EQ(result.exitCode, static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// An uninstaller that also deletes another installation's entry after the pass has listed it:
// that entry is gone by its turn, with nothing left to remove: no line, and no failure.
TEST_F(HostileTest, UninstallerThatDeletesOtherEntries) {
  entries_.Add(k64, L"GPL Ghostscript A",
               SelfRemovingUninstaller(record_, k64, L"GPL Ghostscript A", 0,
                                       L" --delete-key 64 \"GPL Ghostscript B\""));
  entries_.Add(k64, L"GPL Ghostscript B", SelfRemovingUninstaller(record_, k64, L"GPL Ghostscript B"));
  const ProcessResult result = RunTool(L"");
  EXPECT_EQ(result.output,
            "GPL Ghostscript A is detected\r\nGPL Ghostscript B is detected\r\n"
            "GPL Ghostscript A is uninstalled\r\n");
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(RecordedLines(record_, "cmd=").size(), 1u);
  EXPECT_FALSE(UninstallEntries::Exists(k64, L"GPL Ghostscript B"));
}

// A program planted on a shorter prefix of an unquoted path, beside the tool for a bare name, or
// in the tool's current folder for a relative path, never runs: only the program the entry names
// does, with the recorded value and " /S" (a batch file through the command interpreter).
TEST_F(HostileTest, PlantedProgramsNeverRun) {
  PlantedPrograms planted;
  planted.Folder(L"C:\\gsu-plant");
  planted.Folder(L"C:\\gsu-plant\\My Apps");
  planted.Program(L"C:\\gsu-plant\\My.exe");
  planted.Program(L"C:\\gsu-plant\\My Apps\\uninst.exe");
  planted.Folder(L"C:\\Program Files\\gs");
  planted.Program(L"C:\\Program Files\\gs\\uninstgs.exe");
  planted.Program(L"C:\\Program.exe");
  planted.Program(BuildDir() + L"\\bareuninst.exe");
  // Nothing planted beside these: C:\gsu-plant\Only.exe does not exist.
  const std::wstring fixture = BuildDir() + L"\\fixture_uninstaller.exe";
  planted.Folder(L"C:\\gsu-plant\\Only Real");
  planted.Program(L"C:\\gsu-plant\\Only Real\\uninst.exe");
  const std::string batch = "@" + Narrow(Quoted(fixture)) + " %*\r\n";
  planted.File(L"C:\\gsu-plant\\Only Real\\uninst.bat", batch);
  planted.File(L"C:\\gsu-plant\\My Apps\\uninst.bat", batch);
  // In the tool's current folder, which is whatever folder a deployment agent starts it in.
  wchar_t current[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, current);
  planted.Folder(std::wstring(current) + L"\\gsu-sub");
  planted.Program(std::wstring(current) + L"\\gsu-sub\\uninst.exe");

  const std::wstring name = L"GPL Ghostscript planted";
  const std::wstring removes = L" --record " + Quoted(record_) + L" --delete-key 64 " + Quoted(name);
  struct Case {
    std::wstring value;
    std::string ran;  // the program that ran, "" for none
    std::string line;
    DWORD exitCode;
    std::string commandLine = "";  // what it got: "" for the value and " /S"
  };
  const std::string removed = " is uninstalled\r\n";
  const std::string failed = " is failed to uninstall\r\n";
  const Case cases[] = {
      {L"C:\\gsu-plant\\My Apps\\uninst.exe REAL 0 0" + removes, "C:\\gsu-plant\\My Apps\\uninst.exe",
       removed, 0},
      {L"C:\\Program Files\\gs\\uninstgs.exe \"C:\\Program Files\\gs\\gs8.64\\uninstal.txt\"" + removes,
       "C:\\Program Files\\gs\\uninstgs.exe", removed, 0},
      {L"C:\\gsu-plant\\My Apps\\missing.exe" + removes, "", failed, ERROR_FILE_NOT_FOUND},
      {L"bareuninst.exe" + removes, "", failed, ERROR_FILE_NOT_FOUND},
      // A bare name from the system folder does run; it leaves the entry, hence 1603.
      {L"cmd.exe /c exit 0 &", "", failed, ERROR_INSTALL_FAILURE},
      // Without ".exe": the one program of those the platform would try that exists runs; with
      // one planted on a shorter prefix, none does.
      {L"C:\\gsu-plant\\Only Real\\uninst" + removes, "C:\\gsu-plant\\Only Real\\uninst.exe", removed, 0},
      {L"C:\\gsu-plant\\My Apps\\uninst" + removes, "", failed, ERROR_BAD_PATHNAME},
      {L"C:\\gsu-plant\\Only Real\\uninst.bat" + removes, Narrow(fixture), removed, 0,
       Narrow(Quoted(fixture) + removes) + " /S"},
      {L"C:\\gsu-plant\\My Apps\\uninst.bat" + removes, "", failed, ERROR_BAD_PATHNAME},
      // A relative path would be found in the current folder.
      {L"gsu-sub\\uninst.exe" + removes, "", failed, ERROR_BAD_PATHNAME},
      {L".\\gsu-sub\\uninst.exe" + removes, "", failed, ERROR_BAD_PATHNAME},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.value));
    UninstallEntries entries;
    DeleteFileW(record_.c_str());
    entries.Add(k64, name, c.value);
    const ProcessResult result = RunTool(L"remove");
    EXPECT_EQ(result.output, Narrow(name) + " is detected\r\n" + Narrow(name) + c.line);
    EXPECT_EQ(result.exitCode, c.exitCode);
    const std::vector<std::string> ran = RecordedLines(record_, "exe=");
    EXPECT_EQ(ran, c.ran.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.ran});
    if (!c.ran.empty()) {
      const std::string commandLine = c.commandLine.empty() ? Narrow(c.value) + " /S" : c.commandLine;
      EXPECT_EQ(RecordedLines(record_, "cmd="), std::vector<std::string>{commandLine});
    }
  }
}

// A program in the system folder of the entry's own view runs, named by its path under System32
// or by a bare name, though it is not in the tool's own system folder: the 32-bit product reaches
// the 64-bit one as Sysnative (here an x86-64 program, as rundll32 with a 64-bit DLL needs), the
// x86-64 build the 32-bit one where GetSystemWow64DirectoryW says.
TEST_F(HostileTest, ProgramsOfEachViewComeFromItsOwnSystemFolder) {
  wchar_t buffer[MAX_PATH] = {};
  GetSystemWindowsDirectoryW(buffer, MAX_PATH);
  const std::wstring windows = buffer;
  const std::wstring file = L"gsu-view-fixture.exe";
  PlantedPrograms planted;
  RegistryView view = k64;
  std::wstring ranFrom;
  if (sizeof(void*) == 4) {
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64) && wow64) << "needs a 64-bit prefix";
    const std::wstring x64 = BuildDir() + L"\\..\\windows-x64\\fixture_uninstaller.exe";
    ASSERT_NE(GetFileAttributesW(x64.c_str()), INVALID_FILE_ATTRIBUTES)
        << "the x86-64 fixture is built by the windows-x64 preset: " << Narrow(x64);
    planted.Program(windows + L"\\Sysnative\\" + file, x64);
    ranFrom = windows + L"\\system32\\" + file;
  } else {
    ASSERT_NE(GetSystemWow64DirectoryW(buffer, MAX_PATH), 0u);
    view = k32;
    planted.Folder(buffer);  // a prefix made without Wine's 32-bit side may lack it
    planted.Program(std::wstring(buffer) + L"\\" + file);
    ranFrom = std::wstring(buffer) + L"\\" + file;
  }
  // Nothing of that name in the tool's own system folder.
  GetSystemDirectoryW(buffer, MAX_PATH);
  ASSERT_EQ(GetFileAttributesW((std::wstring(buffer) + L"\\" + file).c_str()), INVALID_FILE_ATTRIBUTES);

  const std::wstring name = L"GPL Ghostscript system";
  const std::wstring removes = L" --record " + Quoted(record_) + L" --delete-key " +
                               (view == k64 ? L"64 " : L"32 ") + Quoted(name);
  const std::string prefix = view == k64 ? "" : "32bit ";
  auto lower = [](std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
  };
  for (const std::wstring& value : {windows + L"\\System32\\" + file + removes, file + removes,
                                    L"gsu-view-fixture" + removes}) {
    SCOPED_TRACE(Narrow(value));
    UninstallEntries entries;
    DeleteFileW(record_.c_str());
    entries.Add(view, name, value);
    const ProcessResult result = RunTool(L"remove");
    EXPECT_EQ(result.output, prefix + Narrow(name) + " is detected\r\n" + prefix + Narrow(name) +
                                 " is uninstalled\r\n");
    EXPECT_EQ(result.exitCode, 0u);
    const std::vector<std::string> ran = RecordedLines(record_, "exe=");
    ASSERT_EQ(ran.size(), 1u);
    EXPECT_EQ(lower(ran[0]), lower(Narrow(ranFrom)));
  }
}

// The 32-bit product runs a 64-bit entry's batch file in the 64-bit command interpreter, which it
// starts through Sysnative. That interpreter reads its command line as a 64-bit program, to which
// Sysnative names nothing: there, the batch file under System32 is named by System32. Named by
// its path or by a bare name, it runs, with " /S".
TEST_F(HostileTest, SixtyFourBitBatchFileUnderSystem32Runs) {
  if (sizeof(void*) != 4) GTEST_SKIP() << "the x86-64 build sees the 64-bit System32 as its own";
  BOOL wow64 = FALSE;
  ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64) && wow64) << "needs a 64-bit prefix";
  wchar_t buffer[MAX_PATH] = {};
  GetSystemWindowsDirectoryW(buffer, MAX_PATH);
  const std::wstring windows = buffer;
  const std::wstring fixture = BuildDir() + L"\\fixture_uninstaller.exe";
  PlantedPrograms planted;
  planted.File(windows + L"\\Sysnative\\gsu.bat", "@" + Narrow(Quoted(fixture)) + " %*\r\n");
  const std::wstring name = L"GPL Ghostscript 10.01.1";
  const std::wstring removes = L" --record " + Quoted(record_) + L" --delete-key 64 " + Quoted(name);
  for (const std::wstring& value : {windows + L"\\System32\\gsu.bat" + removes, L"gsu.bat" + removes}) {
    SCOPED_TRACE(Narrow(value));
    UninstallEntries entries;
    DeleteFileW(record_.c_str());
    entries.Add(k64, name, value);
    const ProcessResult result = RunTool(L"remove");
    EXPECT_EQ(result.output, Narrow(name) + " is detected\r\n" + Narrow(name) + " is uninstalled\r\n");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(RecordedLines(record_, "cmd="),
              std::vector<std::string>{Narrow(Quoted(fixture) + removes) + " /S"});
  }
}

// A hanging uninstaller, with the limit cut to 1.5 s: 258, left running, and the next entry is
// still removed. The tool's own code against the real registry and processes.
TEST_F(HostileTest, HangingUninstallerIsLeftRunningAndTheNextOneRuns) {
  entries_.Add(k64, L"GPL Ghostscript 1 hangs",
               FixtureCommand(L"--record " + Quoted(record_) + L" --sleep 30000"));
  entries_.Add(k64, L"GPL Ghostscript 2 ok", SelfRemovingUninstaller(record_, k64, L"GPL Ghostscript 2 ok"));
  WinProcesses processes;
  const InProcessResult result = RunToolInProcess(processes, 1500);
  EXPECT_EQ(result.status, kWaitTimeout);
  EXPECT_EQ(result.output,
            "GPL Ghostscript 1 hangs is detected\nGPL Ghostscript 2 ok is detected\n"
            "GPL Ghostscript 1 hangs is failed to uninstall\nGPL Ghostscript 2 ok is uninstalled\n");

  // The first fixture recorded (the hanging one) is left running.
  ASSERT_EQ(RecordedLines(record_, "pid=").size(), 2u);
  ExpectStillRunningAndEnd(record_);
}

// An entry whose key is deleted between its open and the read of its value (by an uninstaller
// still finishing, or another program): Windows says ERROR_KEY_DELETED, and the entry is gone, as
// one not found at its turn: no line, and no failure. The tool's own code against the real
// registry, with the key deleted right before the read.
TEST_F(HostileTest, EntryDeletedBeforeItsValueIsReadIsGone) {
  class DeletingRegistry final : public WinRegistry {
   public:
    Status QueryValue(KeyHandle key, const wchar_t* valueName, std::uint8_t* data,
                      std::uint32_t* size) override {
      if (!deleted_) {
        deleted_ = true;
        EXPECT_EQ(RegDeleteKeyExW(HKEY_LOCAL_MACHINE,
                                  (std::wstring(kUninstallKeyPath) + L"\\GPL Ghostscript 1").c_str(),
                                  KEY_WOW64_64KEY, 0),
                  ERROR_SUCCESS);
      }
      const Status read = WinRegistry::QueryValue(key, valueName, data, size);
      reads.push_back(read);
      return read;
    }
    std::vector<Status> reads;

   private:
    bool deleted_ = false;
  } registry;
  entries_.Add(k64, L"GPL Ghostscript 1", SelfRemovingUninstaller(record_, k64, L"GPL Ghostscript 1"));
  entries_.Add(k64, L"GPL Ghostscript 2", SelfRemovingUninstaller(record_, k64, L"GPL Ghostscript 2"));
  WinProcesses processes;
  const InProcessResult result = RunToolInProcess(registry, processes, 60000, L"remove");
  EXPECT_EQ(registry.reads, (std::vector<Status>{kErrorKeyDeleted, kSuccess}));
  EXPECT_EQ(result.output,
            "GPL Ghostscript 1 is detected\nGPL Ghostscript 2 is detected\n"
            "GPL Ghostscript 2 is uninstalled\n");
  EXPECT_EQ(result.status, kSuccess);
  EXPECT_EQ(RecordedLines(record_, "cmd=").size(), 1u);
}

// 10,000 subkeys in each view, 1,000 of them matching, some with names of 254 characters (the
// longest the enumeration returns) and some of 255: every matching name that fits is reported
// once per view, in the registry's order.
TEST_F(HostileTest, TenThousandSubkeysPerView) {
  std::wstring expected[2];
  std::vector<std::wstring> names;
  for (int i = 0; i < 10000; ++i) {
    std::wstring name = (i % 10 == 0 ? L"GPL Ghostscript load " : L"Product load ") + std::to_wstring(i);
    if (i % 100 == 0) name.append(254 - name.size(), L'x');
    if (i % 100 == 50) name.append(255 - name.size(), L'y');
    names.push_back(name);
  }
  for (RegistryView view : {k64, k32}) {
    HKEY uninstall = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKeyPath, 0,
                            KEY_CREATE_SUB_KEY | ViewFlag(view), &uninstall),
              ERROR_SUCCESS);
    for (const std::wstring& name : names) {
      HKEY key = nullptr;
      ASSERT_EQ(RegCreateKeyExW(uninstall, name.c_str(), 0, nullptr, 0, KEY_WRITE | ViewFlag(view),
                                nullptr, &key, nullptr),
                ERROR_SUCCESS);
      RegCloseKey(key);
    }
    RegCloseKey(uninstall);
  }
  // The order to expect is the registry's own.
  for (RegistryView view : {k64, k32}) {
    HKEY uninstall = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKeyPath, 0, KEY_READ | ViewFlag(view),
                            &uninstall),
              ERROR_SUCCESS);
    wchar_t name[512];
    for (DWORD index = 0;; ++index) {
      DWORD length = 512;
      if (RegEnumKeyExW(uninstall, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      const std::wstring found(name, length);
      if (found.find(L"GPL Ghostscript") != std::wstring::npos && length <= 254)
        expected[view == k32] += (view == k32 ? L"32bit " : L"") + found + L" is detected\r\n";
    }
    RegCloseKey(uninstall);
  }
  const ProcessResult result = RunTool(L"detect");
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(result.output, Narrow(expected[0] + expected[1]));
  // 1,000 matching per view, less the 100 whose names are one character too long.
  EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 2 * 900);

  for (RegistryView view : {k64, k32}) {
    HKEY uninstall = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKeyPath, 0, KEY_ALL_ACCESS | ViewFlag(view),
                            &uninstall),
              ERROR_SUCCESS);
    for (const std::wstring& name : names) RegDeleteTreeW(uninstall, name.c_str());
    RegCloseKey(uninstall);
  }
}

}  // namespace
