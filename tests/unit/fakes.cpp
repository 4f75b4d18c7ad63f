#include "fakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace {

constexpr Status kErrorNoMoreItems = 259;

// Handles are small numbers; 0 is never handed out.
void* HandleFor(std::size_t index) { return reinterpret_cast<void*>(index + 1); }
std::size_t IndexOf(void* handle) { return reinterpret_cast<std::uintptr_t>(handle) - 1; }

}  // namespace

std::vector<std::uint8_t> Utf16Bytes(std::wstring_view text, bool terminated) {
  std::vector<std::uint8_t> bytes;
  for (wchar_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
  }
  if (terminated) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

FakeRegistry::~FakeRegistry() { EXPECT_EQ(openKeys, 0) << "keys left open"; }

Status FakeRegistry::OpenKey(const std::wstring& fullPath, std::uint32_t access, OwnedKey* key) {
  ++openCalls;
  // The platform takes a key path as a C string: it ends at the first NUL.
  const std::wstring path = fullPath.substr(0, fullPath.find(L'\0'));
  if (onOpen) onOpen(path);
  const Status status = Open(path, access, key);
  opens.push_back({path, access, status});
  return status;
}

Status FakeRegistry::Open(const std::wstring& path, std::uint32_t access, OwnedKey* key) {
  FakeView* view = nullptr;
  bool forEntry = false;
  // KEY_READ (0x20019) or KEY_QUERY_VALUE (0x1), with the view's flag: KEY_WOW64_64KEY for the
  // 64-bit view; for the 32-bit view none in a 32-bit build, whose own view it is, and
  // KEY_WOW64_32KEY in a 64-bit one.
#if defined(_WIN64)
  constexpr std::uint32_t kView32 = 0x200;
#else
  constexpr std::uint32_t kView32 = 0;
#endif
  switch (access) {
    case 0x20019 | 0x100: view = &view64; break;
    case 0x20019 | kView32: view = &View(RegistryView::View32); break;
    case 0x1 | 0x100: view = &view64; forEntry = true; break;
    case 0x1 | kView32: view = &View(RegistryView::View32); forEntry = true; break;
    default:
      ADD_FAILURE() << "unexpected access mask 0x" << std::hex << access;
      return kErrorAccessDenied;
  }
  const std::wstring uninstall = kUninstallKeyPath;
  std::optional<std::wstring> entryName;
  if (!forEntry) {
    EXPECT_EQ(path, uninstall);
    if (view->openStatus != kSuccess) return view->openStatus;
  } else {
    const std::wstring prefix = uninstall + L"\\";
    EXPECT_EQ(path.compare(0, prefix.size(), prefix), 0);
    entryName = path.substr(prefix.size());
    const FakeEntry* entry = Find(*view, *entryName);
    if (entry == nullptr) return kErrorFileNotFound;
    if (entry->openStatus != kSuccess) return entry->openStatus;
  }
  handles_.push_back({view, entryName});
  ++openKeys;
  *key = OwnedKey(this, HandleFor(handles_.size() - 1));
  return kSuccess;
}

const FakeEntry* FakeRegistry::Find(const FakeView& view, const std::wstring& name) const {
  for (const FakeEntry& entry : view.entries)
    if (entry.name == name) return &entry;
  return nullptr;
}

const FakeRegistry::Opened& FakeRegistry::Lookup(KeyHandle key) const {
  return handles_.at(IndexOf(key));
}

Status FakeRegistry::QuerySubkeyCount(KeyHandle key, std::uint32_t* count) {
  const Opened& opened = Lookup(key);
  if (opened.view->countStatus != kSuccess) return opened.view->countStatus;
  *count = static_cast<std::uint32_t>(opened.view->entries.size());
  return kSuccess;
}

Status FakeRegistry::EnumerateSubkey(KeyHandle key, std::uint32_t index, wchar_t* name,
                                     std::uint32_t* length) {
  const Opened& opened = Lookup(key);
  EXPECT_FALSE(opened.entry) << "enumerating an entry key";
  EXPECT_EQ(*length, 255u);
  if (index >= opened.view->entries.size()) return kErrorNoMoreItems;
  const FakeEntry& entry = opened.view->entries[index];
  // The name as far as it fits, and its length, are written whether or not the call succeeds, as
  // a platform may: only a success makes them the name.
  const std::size_t fits = std::min<std::size_t>(entry.name.size(), *length - 1);
  std::copy_n(entry.name.begin(), fits, name);
  name[fits] = L'\0';
  Status status = entry.enumerateStatus;
  if (status == kSuccess && entry.claimedLength == 0 && fits < entry.name.size()) status = kErrorMoreData;
  *length = entry.claimedLength != 0 ? entry.claimedLength : static_cast<std::uint32_t>(fits);
  if (status == kSuccess) enumerated.push_back({opens.size(), entry.name});
  return status;
}

Status FakeRegistry::Query(KeyHandle key, const wchar_t* valueName, std::uint8_t* data,
                           std::uint32_t* size) {
  const Opened& opened = Lookup(key);
  EXPECT_TRUE(opened.entry) << "reading a value of the Uninstall key";
  EXPECT_EQ(std::wstring(valueName), L"UninstallString");
  EXPECT_EQ(*size, 1024u);
  if (!opened.entry) return kErrorInvalidHandle;
  const FakeEntry* entry = Find(*opened.view, *opened.entry);
  if (entry == nullptr) return kErrorKeyDeleted;
  if (entry->queryStatus != kSuccess) return entry->queryStatus;
  if (!entry->uninstallString) return kErrorFileNotFound;
  const std::vector<std::uint8_t>& bytes = *entry->uninstallString;
  if (bytes.size() > *size) return kErrorMoreData;
  std::fill_n(data, *size, std::uint8_t{'A'});
  std::copy(bytes.begin(), bytes.end(), data);
  *size = entry->claimedSize != 0 ? entry->claimedSize : static_cast<std::uint32_t>(bytes.size());
  return kSuccess;
}

Status FakeRegistry::QueryValue(KeyHandle key, const wchar_t* valueName, std::uint8_t* data,
                                std::uint32_t* size) {
  const Status status = Query(key, valueName, data, size);
  reads.push_back(status);
  return status;
}

void FakeRegistry::CloseKey(KeyHandle key) {
  Lookup(key);
  --openKeys;
}

FakeProcesses::~FakeProcesses() {
  for (const auto& [value, handle] : open_) ADD_FAILURE() << "handle left open: " << handle.name;
}

OwnedHandle FakeProcesses::Open(const std::string& kind, std::size_t n, std::size_t child) {
  const ProcessHandle handle = HandleFor(handles_++);
  open_[handle] = {kind + " " + std::to_string(n), child};
  return OwnedHandle(this, handle);
}

std::string FakeProcesses::Name(ProcessHandle handle) const {
  const auto found = open_.find(handle);
  if (found == open_.end()) {
    ADD_FAILURE() << "not an open handle: " << handle;
    return "?";
  }
  return found->second.name;
}

FakeProcesses::Started& FakeProcesses::Child(ProcessHandle handle, const std::string& kind) {
  const std::string name = Name(handle);
  EXPECT_EQ(name.rfind(kind + " ", 0), 0u) << "not a " << kind << " handle: " << name;
  const auto found = open_.find(handle);
  return started_.at(found == open_.end() ? started_.size() - 1 : found->second.child);
}

Status FakeProcesses::StartProcess(const wchar_t* application, wchar_t* commandLine,
                                   std::uint32_t startFlags, const wchar_t* block,
                                   const wchar_t* directory, OwnedHandle* process,
                                   OwnedHandle* thread) {
  if (beforeStart) beforeStart();
  events.push_back("start");
  commands.emplace_back(commandLine);
  applications.emplace_back(application == nullptr ? L"" : application);
  flags.push_back(startFlags);
  directories.emplace_back(directory);
  // A block ends at its first empty string.
  std::wstring given;
  for (const wchar_t* at = block; at != nullptr && *at != L'\0'; at += std::wcslen(at) + 1) {
    given += at;
    given += L'\0';
  }
  environments.push_back(block == nullptr ? L"" : given + L'\0');
  const std::uint64_t startingAt = now;
  now += startMs;
  FakeChild child;
  if (auto found = children.find(commandLine); found != children.end()) child = found->second;
  if (child.startStatus != kSuccess) return child.startStatus;
  if (child.onStart) child.onStart();
  if (afterStart) afterStart(commandLine, child);
  started_.push_back({{child, startingAt, now}});
  const std::size_t n = started_.size() - 1;
  *process = Open("process", n, n);
  *thread = Open("thread", n, n);
  return kSuccess;
}

bool FakeProcesses::Exists(const std::wstring& path) const {
  const std::size_t separator = path.find_last_of(L'\\');
  const auto folder = folders.find(path.substr(0, separator == std::wstring::npos ? 0 : separator));
  if (folder == folders.end()) return !files || files->count(path) != 0;
  const auto deleted = deletedAt.find(path);
  return folder->second.count(path.substr(separator + 1)) != 0 &&
         (deleted == deletedAt.end() || now < deleted->second);
}

bool FakeProcesses::FileExists(const std::wstring& path) {
  fileChecks.push_back(path);
  return Exists(path);
}

Status FakeProcesses::ListFiles(const std::wstring& folder, std::vector<std::wstring>* names) {
  const auto found = folders.find(folder);
  if (found == folders.end()) return kErrorPathNotFound;
  names->clear();
  for (const std::wstring& name : found->second)
    if (Exists(folder + L"\\" + name)) names->push_back(name);
  return kSuccess;
}

Status FakeProcesses::OpenUnshared(const std::wstring& path) {
  unsharedOpens.push_back(path);
  if (!Exists(path)) return kErrorFileNotFound;
  const auto failure = openFailures.find(path);
  return failure != openFailures.end() && now < failure->second.untilMs ? failure->second.status
                                                                        : kSuccess;
}

namespace {

// How many of `paths` are in `until` with the clock before their time.
std::uint32_t CountUntil(const std::map<std::wstring, std::uint64_t>& until,
                         const std::vector<std::wstring>& paths, std::uint64_t now) {
  std::uint32_t count = 0;
  for (const std::wstring& path : paths) {
    const auto found = until.find(path);
    if (found != until.end() && now < found->second) ++count;
  }
  return count;
}

}  // namespace

Status FakeProcesses::CountFileUsers(const std::vector<std::wstring>& paths, std::uint32_t* count) {
  fileUserQueries.push_back(paths);
  if (fileUsersStatus != kSuccess) return fileUsersStatus;
  *count = CountUntil(usedUntil, paths, now);
  return kSuccess;
}

Status FakeProcesses::NativeMachine(std::uint16_t* machine) {
  if (nativeMachineStatus == kSuccess) *machine = nativeMachine;
  return nativeMachineStatus;
}

Status FakeProcesses::IsWow64(bool* wow64) {
  if (isWow64Status == kSuccess) *wow64 = isWow64;
  return isWow64Status;
}

Status FakeProcesses::CountModuleLoaders(const std::vector<std::wstring>& paths,
                                         std::uint32_t* count) {
  if (moduleLoadersStatus != kSuccess) return moduleLoadersStatus;
  *count = CountUntil(loadedUntil, paths, now);
  return kSuccess;
}

std::uint32_t FakeProcesses::WaitForProcess(ProcessHandle process, std::uint32_t timeoutMs,
                                            Status* error) {
  events.push_back("wait " + Name(process));
  processWaitLimits.push_back(timeoutMs);
  const Started& started = Child(process, "process");
  const FakeChild& child = started.child;
  if (child.waitResult == kWaitFailed) *error = child.waitError;
  if (child.waitResult != kWaitObject0) {
    if (child.waitResult != kWaitFailed) now += timeoutMs;
    return child.waitResult;
  }
  const std::uint64_t endsAt = started.startedAt + child.processMs;
  if (endsAt <= now + timeoutMs) {
    now = std::max(now, endsAt);
    return kWaitObject0;
  }
  now += timeoutMs;
  return static_cast<std::uint32_t>(kWaitTimeout);
}

Status FakeProcesses::GetExitCode(ProcessHandle process, std::uint32_t* exitCode) {
  const Started& started = Child(process, "process");
  const FakeChild& child = started.child;
  if (child.exitCodeStatus != kSuccess) return child.exitCodeStatus;
  constexpr std::uint32_t kStillActive = 259;
  const bool running = now < started.startedAt + child.processMs || child.waitResult != kWaitObject0;
  if (running) ++earlyExitCodeReads;
  *exitCode = running ? kStillActive : child.exitCode;
  return kSuccess;
}

Status FakeProcesses::ResumeThread(ProcessHandle thread) {
  events.push_back("resume " + Name(thread));
  return Child(thread, "thread").child.resumeStatus;
}

Status FakeProcesses::TerminateProcess(ProcessHandle process, std::uint32_t exitCode) {
  events.push_back("terminate " + Name(process) + " " + std::to_string(exitCode));
  return kSuccess;
}

Status FakeProcesses::OpenLock(const wchar_t* name, OwnedHandle* lock) {
  EXPECT_EQ(std::wstring(name), L"Global\\gs-uninstall removal");
  events.push_back("open lock");
  if (openLockStatus != kSuccess) return openLockStatus;
  *lock = Open("lock", 0, 0);
  return kSuccess;
}

Status FakeProcesses::LockOwnedByAdministrators(ProcessHandle lock, bool* byAdministrators) {
  EXPECT_EQ(Name(lock), "lock 0");
  if (lockOwnerStatus == kSuccess) *byAdministrators = lockByAdministrators;
  return lockOwnerStatus;
}

Status FakeProcesses::TryLock(ProcessHandle lock) {
  events.push_back("take " + Name(lock));
  return tryLockStatus;
}

void FakeProcesses::ReleaseLock(ProcessHandle lock) { events.push_back("release " + Name(lock)); }

Status FakeProcesses::CreateJob(OwnedHandle* job, OwnedHandle* port) {
  events.push_back("create job");
  if (createJobStatus != kSuccess) return createJobStatus;
  const std::size_t n = jobs_++;
  *job = Open("job", n, started_.size() - 1);
  *port = Open("port", n, started_.size() - 1);
  return kSuccess;
}

Status FakeProcesses::AssignToJob(ProcessHandle job, ProcessHandle process) {
  events.push_back("assign " + Name(process) + " to " + Name(job));
  return assignStatus;
}

Status FakeProcesses::WaitForJobMessage(ProcessHandle port, std::uint32_t timeoutMs) {
  events.push_back("wait " + Name(port));
  waitLimits.push_back(timeoutMs);
  // One job per launch: only the latest job's port has anything to say.
  EXPECT_EQ(Name(port), "port " + std::to_string(jobs_ - 1)) << "waiting on another job's port";
  Started& started = Child(port, "port");
  const FakeChild& child = started.child;
  if (child.waitError != kSuccess) return child.waitError;
  if (started.messagesSent < child.otherMessages && child.messageGapMs <= timeoutMs) {
    ++started.messagesSent;
    now += child.messageGapMs;  // JOB_OBJECT_MSG_NEW_PROCESS, say
    return kSuccess;
  }
  const std::uint64_t innerEmptiesAt = started.startedAt + child.innerJobMs;
  if (child.innerJobMs != 0 && !started.innerZeroSent && innerEmptiesAt <= now + timeoutMs) {
    started.innerZeroSent = true;
    now = std::max(now, innerEmptiesAt);  // JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO of the nested job
    return kSuccess;
  }
  const std::uint64_t emptiesAt = started.startedAt + child.jobMs;
  if (!child.losesZeroMessage && !started.zeroSent && started.messagesSent >= child.otherMessages &&
      emptiesAt <= now + timeoutMs) {
    started.zeroSent = true;
    now = std::max(now, emptiesAt);  // JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO
    return kSuccess;
  }
  now += timeoutMs;
  return kWaitTimeout;
}

Status FakeProcesses::CountActiveProcesses(ProcessHandle job, std::uint32_t* count) {
  events.push_back("count " + Name(job));
  const Started& started = Child(job, "job");
  if (countStatus != kSuccess) return countStatus;
  *count = now >= started.startedAt + started.child.jobMs ? 0 : 1;
  return kSuccess;
}

void FakeProcesses::Sleep(std::uint32_t ms) {
  sleeps.push_back(ms);
  now += ms;
}

void FakeProcesses::CloseHandle(ProcessHandle handle) {
  const std::string name = Name(handle);
  events.push_back("close " + name);
  if (name.rfind("process ", 0) == 0) Child(handle, "process").closedAt = now;
  open_.erase(handle);
}

void UninstallersRemoveTheirEntries(FakeProcesses& processes, FakeRegistry& registry) {
  processes.afterStart = [&registry](const std::wstring& command, const FakeChild& child) {
    if (child.exitCode != 0 || child.leavesEntry) return;
    const std::wstring suffix = L" /S";
    if (command.size() < suffix.size()) return;
    const std::wstring value = command.substr(0, command.size() - suffix.size());
    for (RegistryView view : {RegistryView::View64, RegistryView::View32}) {
      auto& entries = registry.View(view).entries;
      for (auto entry = entries.begin(); entry != entries.end();) {
        const bool runsThis = entry->uninstallString &&
                              (*entry->uninstallString == Utf16Bytes(value) ||
                               *entry->uninstallString == Utf16Bytes(value, false));
        entry = runsThis ? entries.erase(entry) : entry + 1;
      }
    }
  };
}
