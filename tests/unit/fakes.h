#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "console.h"
#include "discovery/registry.h"
#include "removal/process_api.h"

// One subkey of a fake Uninstall key, with the statuses the platform gives for it.
struct FakeEntry {
  std::wstring name;
  std::optional<std::vector<std::uint8_t>> uninstallString;  // raw value bytes; none: missing
  Status enumerateStatus = kSuccess;
  Status openStatus = kSuccess;
  Status queryStatus = kSuccess;
  // A platform that breaks its own contract: nonzero, the length an enumeration reports for the
  // name (of which it wrote what fits), and the size a value read reports.
  std::uint32_t claimedLength = 0;
  std::uint32_t claimedSize = 0;
};

// One registry view's Uninstall key.
struct FakeView {
  Status openStatus = kSuccess;
  Status countStatus = kSuccess;
  std::vector<FakeEntry> entries;
};

// UTF-16LE bytes of `text`, with the terminator unless told otherwise.
std::vector<std::uint8_t> Utf16Bytes(std::wstring_view text, bool terminated = true);

// A registry that answers the tool's operations from two FakeViews. The view is told apart by the
// access mask, so a wrong mask is caught: it fails the test and the open. A key left open when it
// goes away fails the test too. A value read fills the whole buffer before it writes the value, as
// the platform may: nothing past the size it returns is the value.
class FakeRegistry final : public RegistryApi {
 public:
  FakeView view64;
  FakeView view32;  // unused where the views are one: both are view64
  bool viewsAreOne = false;  // 32-bit Windows
  int openKeys = 0;   // keys opened and not yet closed
  int openCalls = 0;  // every open asked for, failed or not
  struct OpenRecord {
    std::wstring path;
    std::uint32_t access;
    Status status;
  };
  std::vector<OpenRecord> opens;  // every open asked for, in order
  std::vector<Status> reads;      // the status of every value read, in order
  struct EnumerateRecord {
    std::size_t opensBefore;  // how many opens had been asked for then
    std::wstring name;
  };
  std::vector<EnumerateRecord> enumerated;  // every name handed out, in order
  // Runs before each open with its path, as the platform sees it (up to its first NUL).
  std::function<void(const std::wstring&)> onOpen;

  ~FakeRegistry() override;

  FakeView& View(RegistryView view) {
    return view == RegistryView::View64 || viewsAreOne ? view64 : view32;
  }

  Status OpenKey(const std::wstring& path, std::uint32_t access, OwnedKey* key) override;
  Status QuerySubkeyCount(KeyHandle key, std::uint32_t* count) override;
  Status EnumerateSubkey(KeyHandle key, std::uint32_t index, wchar_t* name,
                         std::uint32_t* length) override;
  Status QueryValue(KeyHandle key, const wchar_t* valueName, std::uint8_t* data,
                    std::uint32_t* size) override;
  void CloseKey(KeyHandle key) override;

 private:
  struct Opened {
    FakeView* view;
    std::optional<std::wstring> entry;  // none for the Uninstall key itself
  };
  std::vector<Opened> handles_;
  Status Open(const std::wstring& path, std::uint32_t access, OwnedKey* key);
  Status Query(KeyHandle key, const wchar_t* valueName, std::uint8_t* data, std::uint32_t* size);
  const Opened& Lookup(KeyHandle key) const;
  // The entry of an open entry key, or null once the entry has been deleted.
  const FakeEntry* Find(const FakeView& view, const std::wstring& name) const;
};

// What a fake child does when started. Its process ends `processMs` after the start (its exit
// code reads as STILL_ACTIVE before); in a job, the job empties `jobMs` after the start, after
// `otherMessages` job messages `messageGapMs` apart, and the platform announces it once unless it
// `losesZeroMessage`. A job of the child's own nested in it empties `innerJobMs` after the start
// (0: none), and its message reaches the port too, as Windows 8 and later send it. Alone, a
// `waitResult` other than kWaitObject0 is what waiting for its process gives.
struct FakeChild {
  Status startStatus = kSuccess;
  Status resumeStatus = kSuccess;
  std::uint32_t waitResult = kWaitObject0;
  Status waitError = kSuccess;  // of the process wait when it fails, or of the job wait if set
  std::uint64_t processMs = 0;
  std::uint64_t jobMs = 0;
  int otherMessages = 0;
  std::uint64_t messageGapMs = 0;
  bool losesZeroMessage = false;
  std::uint64_t innerJobMs = 0;
  Status exitCodeStatus = kSuccess;
  std::uint32_t exitCode = 0;
  bool leavesEntry = false;       // an uninstaller that exits 0 yet removes nothing
  std::function<void()> onStart;  // runs when the child starts, as the uninstaller would
};

// Processes that "run" by the table `children` (keyed by command line; unknown commands end at
// once with 0), on a clock of their own, recording what the tool asked for. Every handle it hands
// out must be closed once, and a job's port waited on only while its job is the latest: a test
// that leaks a handle, closes one twice or waits on the wrong port fails.
class FakeProcesses final : public ProcessApi {
 public:
  ~FakeProcesses() override;

  std::map<std::wstring, FakeChild> children;
  std::vector<std::wstring> commands;      // every start attempted, in order
  std::vector<std::wstring> applications;  // the program handed to each, "" for none
  std::optional<std::set<std::wstring>> files;  // the files that exist; none: every file does
  std::vector<std::wstring> fileChecks;         // every path asked about, in order
  // Folders whose files the platform lists, by path, with the names of the files in each; a
  // folder not here is not there (by default, no `bin` folder is). A file of a listed folder
  // exists, whatever `files` says, while its name is in the set and the clock has not reached its
  // `deletedAt` (an uninstaller deleting it).
  std::map<std::wstring, std::set<std::wstring>> folders;
  std::map<std::wstring, std::uint64_t> deletedAt;
  // Files whose open for writing without sharing fails with `status` (kErrorSharingViolation for a
  // file in use) until the clock reaches `untilMs`.
  struct OpenFailure {
    Status status = kErrorSharingViolation;
    std::uint64_t untilMs = UINT64_MAX;
  };
  std::map<std::wstring, OpenFailure> openFailures;
  std::vector<std::wstring> unsharedOpens;  // every path opened for the test, in order
  // What the Restart Manager and the running processes' module lists say: each file here is used
  // (held open or loaded), or loaded as a module, by one process until the clock reaches its
  // value; a status other than 0 is the error of asking.
  std::map<std::wstring, std::uint64_t> usedUntil;
  std::map<std::wstring, std::uint64_t> loadedUntil;
  Status fileUsersStatus = kSuccess;
  Status moduleLoadersStatus = kSuccess;
  std::vector<std::vector<std::wstring>> fileUserQueries;  // the paths of each question, in order
  std::wstring systemFolder = L"C:\\Windows\\system32";
  std::wstring windowsFolder = L"C:\\Windows";
  std::wstring systemWow64Folder;  // none, as on 32-bit Windows
  // Which Windows this is: the tool a 64-bit process, and what IsWow64Process2 (the native
  // machine) and IsWow64Process say, or the error of asking.
  bool process64 = true;
  Status nativeMachineStatus = kSuccess;
  std::uint16_t nativeMachine = kMachineAmd64;
  Status isWow64Status = kSuccess;
  bool isWow64 = false;
  std::vector<std::uint32_t> flags;
  std::vector<std::wstring> directories;
  // The environment block each start was given, NULs and all; "" for the tool's own.
  std::vector<std::wstring> environments;
  // The tool's environment and temporary folders (GetTempPathW, GetTempPath2W: "" for a Windows
  // without it).
  std::vector<std::wstring> environment = {L"PATH=C:\\Windows\\system32", L"TEMP=C:\\Temp",
                                           L"TMP=C:\\Temp"};
  std::wstring tempFolder = L"C:\\Temp\\";
  std::wstring tempFolder2;
  std::vector<std::uint32_t> waitLimits;         // of job port waits
  std::vector<std::uint32_t> processWaitLimits;  // of process waits
  std::vector<std::uint32_t> sleeps;
  std::vector<std::string> events;  // start, job, assign, resume, wait, count, close ...
  std::function<void()> beforeStart;
  // Runs after each start, with the command line and what the child does.
  std::function<void(const std::wstring&, const FakeChild&)> afterStart;
  // The removal lock: the error of opening it, whether SYSTEM or an administrator owns it (or the
  // error of asking), and what trying it gives (kWaitTimeout: another run holds it).
  Status openLockStatus = kSuccess;
  bool lockByAdministrators = true;
  Status lockOwnerStatus = kSuccess;
  Status tryLockStatus = kSuccess;
  Status createJobStatus = kSuccess;
  Status assignStatus = kSuccess;
  Status countStatus = kSuccess;
  std::uint64_t now = 5000;
  std::uint64_t startMs = 0;  // how long a start takes on the clock
  int earlyExitCodeReads = 0;  // exit codes read while their process still ran

  std::size_t OpenHandles() const { return open_.size(); }

  // One started child as the clock saw it.
  struct Launch {
    FakeChild child;
    std::uint64_t startingAt;  // the clock when the start was asked for
    std::uint64_t startedAt;
    std::uint64_t closedAt = 0;  // when the launch closed its process handle; 0: not yet
  };
  std::vector<Launch> Launches() const { return {started_.begin(), started_.end()}; }

  Status StartProcess(const wchar_t* application, wchar_t* commandLine, std::uint32_t flags,
                      const wchar_t* environment, const wchar_t* directory, OwnedHandle* process,
                      OwnedHandle* thread) override;
  std::vector<std::wstring> Environment() override { return environment; }
  std::wstring TempFolder() override { return tempFolder; }
  std::wstring TempFolder2() override { return tempFolder2; }
  bool FileExists(const std::wstring& path) override;
  // A folder exists where its files are listed (`folders`).
  bool FolderExists(const std::wstring& path) override { return folders.count(path) != 0; }
  Status ListFiles(const std::wstring& folder, std::vector<std::wstring>* names) override;
  Status OpenUnshared(const std::wstring& path) override;
  Status CountFileUsers(const std::vector<std::wstring>& paths, std::uint32_t* count) override;
  Status CountModuleLoaders(const std::vector<std::wstring>& paths, std::uint32_t* count) override;
  std::wstring SystemFolder() override { return systemFolder; }
  std::wstring WindowsFolder() override { return windowsFolder; }
  std::wstring SystemWow64Folder() override { return systemWow64Folder; }
  bool Is64BitProcess() override { return process64; }
  Status NativeMachine(std::uint16_t* machine) override;
  Status IsWow64(bool* wow64) override;
  std::uint32_t WaitForProcess(ProcessHandle process, std::uint32_t timeoutMs,
                               Status* error) override;
  Status GetExitCode(ProcessHandle process, std::uint32_t* exitCode) override;
  Status ResumeThread(ProcessHandle thread) override;
  Status TerminateProcess(ProcessHandle process, std::uint32_t exitCode) override;
  Status CreateJob(OwnedHandle* job, OwnedHandle* port) override;
  Status AssignToJob(ProcessHandle job, ProcessHandle process) override;
  Status WaitForJobMessage(ProcessHandle port, std::uint32_t timeoutMs) override;
  Status CountActiveProcesses(ProcessHandle job, std::uint32_t* count) override;
  Status OpenLock(const wchar_t* name, OwnedHandle* lock) override;
  Status LockOwnedByAdministrators(ProcessHandle lock, bool* byAdministrators) override;
  Status TryLock(ProcessHandle lock) override;
  void ReleaseLock(ProcessHandle lock) override;
  std::uint64_t TickCount() override { return now; }
  void Sleep(std::uint32_t ms) override;
  void CloseHandle(ProcessHandle handle) override;

 private:
  // A launch, with the job messages sent for it so far.
  struct Started : Launch {
    int messagesSent = 0;
    bool innerZeroSent = false;
    bool zeroSent = false;
  };
  // A new open handle named "<kind> <n>", for the n-th child or job.
  OwnedHandle Open(const std::string& kind, std::size_t n, std::size_t child);
  // The name of an open handle; a handle that is not open fails the test.
  std::string Name(ProcessHandle handle) const;
  // The child a handle of `kind` belongs to.
  Started& Child(ProcessHandle handle, const std::string& kind);
  // Whether `path` exists now, without recording the question.
  bool Exists(const std::wstring& path) const;
  std::vector<Started> started_;
  std::size_t jobs_ = 0;
  std::size_t handles_ = 0;  // handed out so far
  struct Handle {
    std::string name;
    std::size_t child;  // the child a process or thread handle is of, the latest child for a job
  };
  std::map<ProcessHandle, Handle> open_;
};

// Makes each child that exits with 0 delete the entries whose UninstallString it was started
// from, as a real uninstaller does, unless it `leavesEntry`.
void UninstallersRemoveTheirEntries(FakeProcesses& processes, FakeRegistry& registry);

// Standard output captured as text, with how much of it had been flushed.
class FakeConsole final : public Console {
 public:
  std::string text;
  std::size_t flushed = 0;
  void Write(std::string_view message) override { text.append(message); }
  void Flush() override { flushed = text.size(); }
};
