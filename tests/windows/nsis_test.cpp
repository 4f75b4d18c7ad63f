// Real NSIS uninstallers, which hand their work to a copy of themselves and exit at once: the tool
// must wait for the copy, report an uninstall only once it is done, and never start the next one
// before.
#include <gtest/gtest.h>

#include <cstdio>

#include "harness.h"
#include "removal/win_processes.h"

namespace {

const std::wstring kSample64 = L"GPL Ghostscript Sample 10.02.1";
const std::wstring kSample32 = L"GPL Ghostscript Sample 9.54.0";
const std::wstring kAbort = L"GPL Ghostscript Sample Abort";
const std::wstring kBin = L"GPL Ghostscript Sample Bin";
const wchar_t kLog[] = L"C:\\gsu-sample.log";

bool FolderExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

class NsisTest : public ::testing::Test {
 protected:
  void SetUp() override { DeleteFileW(kLog); }
  void TearDown() override {
    DeleteFileW(kLog);
    // What an aborted uninstall left behind.
    for (const std::wstring& folder : folders_) {
      for (const wchar_t* file : {L"gsdll.dat", L"gswin.dat", L"uninstgs.exe", L"bin\\gsdll.dll"}) {
        SetFileAttributesW((folder + L"\\" + file).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW((folder + L"\\" + file).c_str());
      }
      RemoveDirectoryW((folder + L"\\bin").c_str());
      RemoveDirectoryW(folder.c_str());
    }
  }

  // Installs a sample silently; returns its folder.
  std::wstring Install(const wchar_t* setup, RegistryView view, const std::wstring& name) {
    const ProcessResult installed = RunProcess(Quoted(BuildDir() + L"\\" + setup) + L" /S");
    EXPECT_EQ(installed.exitCode, 0u);
    EXPECT_TRUE(UninstallEntries::Exists(view, name));
    const std::wstring folder = EntryValue(view, name, L"InstallLocation");
    EXPECT_TRUE(FolderExists(folder));
    folders_.push_back(folder);
    return folder;
  }

  void InstallBoth() {
    Install(L"sample64-setup.exe", RegistryView::View64, kSample64);
    Install(L"sample32-setup.exe", RegistryView::View32, kSample32);
  }

 public:
  // Checks, as each line arrives, that what it reports is already true.
  void CheckLine(const std::string& line) {
    const bool is64 = line == "GPL Ghostscript Sample 10.02.1 is uninstalled";
    const bool is32 = line == "32bit GPL Ghostscript Sample 9.54.0 is uninstalled";
    if (!is64 && !is32) return;
    const RegistryView view = is64 ? RegistryView::View64 : RegistryView::View32;
    if (UninstallEntries::Exists(view, is64 ? kSample64 : kSample32))
      leftovers_.push_back(line + ": entry still there");
    if (FolderExists(folders_.at(is64 ? 0 : 1))) leftovers_.push_back(line + ": files still there");
  }

 protected:
  // Both samples were removed, one at a time, and each reported only once done.
  void ExpectBothRemovedOneAtATime() {
    EXPECT_EQ(leftovers_, std::vector<std::string>{});
    // One at a time: the second began after the first had ended.
    EXPECT_EQ(ReadFile(kLog),
              "begin GPL Ghostscript Sample 10.02.1\r\nend GPL Ghostscript Sample 10.02.1\r\n"
              "begin GPL Ghostscript Sample 9.54.0\r\nend GPL Ghostscript Sample 9.54.0\r\n");
    // Nothing is left installed, or running, when the tool has exited.
    EXPECT_FALSE(UninstallEntries::Exists(RegistryView::View64, kSample64));
    EXPECT_FALSE(UninstallEntries::Exists(RegistryView::View32, kSample32));
    for (const std::wstring& folder : folders_) EXPECT_FALSE(FolderExists(folder));
  }

  UninstallEntries entries_;
  std::vector<std::wstring> folders_;
  std::vector<std::string> leftovers_;
};

TEST_F(NsisTest, EachUninstallIsReportedOnlyOnceItIsDone) {
  InstallBoth();
  const ProcessResult result =
      RunToolStreaming(L"", [this](const std::string& line) { CheckLine(line); });
  EXPECT_EQ(result.output,
            "GPL Ghostscript Sample 10.02.1 is detected\r\n"
            "32bit GPL Ghostscript Sample 9.54.0 is detected\r\n"
            "GPL Ghostscript Sample 10.02.1 is uninstalled\r\n"
            "32bit GPL Ghostscript Sample 9.54.0 is uninstalled\r\n");
  EXPECT_EQ(result.exitCode, 0u);
  ExpectBothRemovedOneAtATime();

  const ProcessResult again = RunTool(L"");
  EXPECT_EQ(again.output, "Ghostscript is not installed.\r\n");
  EXPECT_EQ(again.exitCode, 0xFFFFFFFFu);
}

// The launch where no job can be had (the tool inside a job that allows no nesting): it waits for
// each uninstaller, then for its entry to go, so each NSIS uninstall is still reported only once
// done, and the next one starts only after it. The tool's own code against Windows but for jobs.
TEST_F(NsisTest, WithoutAJobEachUninstallIsStillReportedOnlyOnceItIsDone) {
  InstallBoth();
  struct NoJobs final : WinProcesses {
    Status CreateJob(OwnedHandle*, OwnedHandle*) override { return ERROR_NOT_SUPPORTED; }
  } processes;
  const InProcessResult result =
      RunToolInProcess(processes, 60000, nullptr, [this](const std::string& line) { CheckLine(line); });
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output,
            "GPL Ghostscript Sample 10.02.1 is detected\n"
            "32bit GPL Ghostscript Sample 9.54.0 is detected\n"
            "GPL Ghostscript Sample 10.02.1 is uninstalled\n"
            "32bit GPL Ghostscript Sample 9.54.0 is uninstalled\n");
  ExpectBothRemovedOneAtATime();
}

// The uninstaller exits with 0 whatever its copy does: an aborted uninstall shows only in the
// entry that is still there.
TEST_F(NsisTest, AbortedUninstallIsAFailure) {
  const std::wstring folder = Install(L"sample-abort-setup.exe", RegistryView::View64, kAbort);
  const ProcessResult result = RunTool(L"remove");
  EXPECT_EQ(result.output,
            "GPL Ghostscript Sample Abort is detected\r\n"
            "GPL Ghostscript Sample Abort is failed to uninstall\r\n");
  EXPECT_EQ(result.exitCode, static_cast<DWORD>(ERROR_INSTALL_FAILURE));
  EXPECT_EQ(ReadFile(kLog),
            "begin GPL Ghostscript Sample Abort\r\nabort GPL Ghostscript Sample Abort\r\n");
  EXPECT_TRUE(UninstallEntries::Exists(RegistryView::View64, kAbort));
  EXPECT_TRUE(FolderExists(folder));
}

// The error of an open of `path` for writing without sharing, as the tool tests a program.
DWORD UnsharedOpenError(const std::wstring& path) {
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(file);
  return ERROR_SUCCESS;
}

// Starts a program that loads the sample Bin installation's DLL in `folder` and keeps it loaded, as
// a renderer that uses Ghostscript does; once it says it has (and the tool's open for writing then
// gives `openError`), removal starts nothing, 32, and the installation stays whole, entry and
// files. Once the renderer has ended, a later run removes it.
void ExpectKeptWholeForALaterRun(const std::wstring& folder, DWORD openError) {
  const std::wstring dll = folder + L"\\bin\\gsdll.dll";
  const std::wstring record = ScratchFile(L"renderer");
  RunningProgram renderer(FixtureCommand(L"--record " + Quoted(record) + L" --load " + Quoted(dll) +
                                         L" --sleep 600000"));
  const std::string said = renderer.AwaitRecord(record, "loaded=");
  ASSERT_EQ(RecordedLines(record, "loaded="), std::vector<std::string>{"0"}) << said;
  ASSERT_EQ(UnsharedOpenError(dll), openError) << said;

  const ULONGLONG startedAt = GetTickCount64();
  const ProcessResult inUse = RunTool(L"remove");
  std::printf("in use: %llu ms\n", static_cast<unsigned long long>(GetTickCount64() - startedAt));
  EXPECT_EQ(inUse.output,
            "GPL Ghostscript Sample Bin is detected\r\n"
            "GPL Ghostscript Sample Bin is failed to uninstall\r\n");
  EXPECT_EQ(inUse.exitCode, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(ReadFile(kLog), "");  // the uninstaller never ran
  EXPECT_TRUE(UninstallEntries::Exists(RegistryView::View64, kBin));
  EXPECT_NE(GetFileAttributesW((folder + L"\\bin\\gsdll.dll").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesW((folder + L"\\uninstgs.exe").c_str()), INVALID_FILE_ATTRIBUTES);

  renderer.End();
  const ProcessResult later = RunTool(L"remove");
  EXPECT_EQ(later.output,
            "GPL Ghostscript Sample Bin is detected\r\n"
            "GPL Ghostscript Sample Bin is uninstalled\r\n");
  EXPECT_EQ(later.exitCode, 0u);
  EXPECT_FALSE(UninstallEntries::Exists(RegistryView::View64, kBin));
  EXPECT_FALSE(FolderExists(folder));
  DeleteFileW(record.c_str());
}

// While a running program has loaded the installation's DLL, its uninstaller could not delete it
// (and would go on without a word, deleting the entry): nothing is started, and the installation
// stays whole, entry and files. Once that program has ended, a later run removes it.
TEST_F(NsisTest, InstallationInUseIsKeptWholeForALaterRun) {
  const std::wstring folder = Install(L"sample-bin-setup.exe", RegistryView::View64, kBin);
  const std::wstring dll = folder + L"\\bin\\gsdll.dll";
  ASSERT_EQ(UnsharedOpenError(dll), static_cast<DWORD>(ERROR_SUCCESS));
  ExpectKeptWholeForALaterRun(folder, ERROR_SHARING_VIOLATION);
}

// A read-only DLL refuses the open for writing (access denied) before any sharing check, so that
// test cannot see that a running program has it loaded: the tool asks the Restart Manager and the
// running processes' module lists instead. Loaded: nothing is started, 32, the installation kept
// whole; once that program has ended, a later run removes it. Wine refuses that open only to a
// user who is not root: scripts/test runs this test as such a user, in a prefix of its own.
TEST_F(NsisTest, ReadOnlyInstallationInUseIsKeptWholeForALaterRun) {
  const std::wstring folder = Install(L"sample-bin-setup.exe", RegistryView::View64, kBin);
  const std::wstring dll = folder + L"\\bin\\gsdll.dll";
  ASSERT_TRUE(SetFileAttributesW(dll.c_str(), FILE_ATTRIBUTE_READONLY));
  if (UnsharedOpenError(dll) != ERROR_ACCESS_DENIED)
    GTEST_SKIP() << "the open for writing of a read-only file is not refused here (root under Wine)";
  ExpectKeptWholeForALaterRun(folder, ERROR_ACCESS_DENIED);
}

}  // namespace
