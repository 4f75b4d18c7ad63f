#include "fakes.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr Status kErrorNoMoreItems = 259;
constexpr Status kErrorInvalidHandle = 6;
constexpr Status kErrorKeyDeleted = 1018;

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

Status FakeRegistry::OpenKey(const std::wstring& path, std::uint32_t access, OwnedKey* key) {
  ++openCalls;
  FakeView* view = nullptr;
  bool forEntry = false;
  switch (access) {
    case 0x20119: view = &view64; break;
    case 0x20019: view = &view32; break;
    case 0x101: view = &view64; forEntry = true; break;
    case 0x1: view = &view32; forEntry = true; break;
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
  if (entry.enumerateStatus != kSuccess) return entry.enumerateStatus;
  if (entry.name.size() + 1 > *length) return kErrorMoreData;
  std::copy(entry.name.begin(), entry.name.end(), name);
  name[entry.name.size()] = L'\0';
  *length = static_cast<std::uint32_t>(entry.name.size());
  return kSuccess;
}

Status FakeRegistry::QueryValue(KeyHandle key, const wchar_t* valueName, std::uint8_t* data,
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
  std::memcpy(data, bytes.data(), bytes.size());
  *size = static_cast<std::uint32_t>(bytes.size());
  return kSuccess;
}

void FakeRegistry::CloseKey(KeyHandle key) {
  Lookup(key);
  --openKeys;
}

Status FakeProcesses::StartProcess(wchar_t* commandLine, std::uint32_t startFlags,
                                   const wchar_t* directory, OwnedProcess* process) {
  if (beforeStart) beforeStart();
  commands.emplace_back(commandLine);
  flags.push_back(startFlags);
  directories.emplace_back(directory);
  FakeChild child;
  if (auto found = children.find(commandLine); found != children.end()) child = found->second;
  if (child.startStatus != kSuccess) return child.startStatus;
  if (child.onStart) child.onStart();
  started_.push_back(child);
  // Process handle 2n+1, thread handle 2n+2 for the n-th child.
  const std::size_t n = started_.size() - 1;
  *process = OwnedProcess(this, HandleFor(2 * n), HandleFor(2 * n + 1));
  return kSuccess;
}

const FakeChild& FakeProcesses::Child(ProcessHandle process) const {
  const std::size_t index = IndexOf(process);
  EXPECT_EQ(index % 2, 0u) << "a thread handle used as a process handle";
  return started_.at(index / 2);
}

std::uint32_t FakeProcesses::WaitForProcess(ProcessHandle process, std::uint32_t timeoutMs,
                                            Status* error) {
  waitLimits.push_back(timeoutMs);
  const FakeChild& child = Child(process);
  if (child.waitResult == kWaitFailed) *error = child.waitError;
  return child.waitResult;
}

Status FakeProcesses::GetExitCode(ProcessHandle process, std::uint32_t* exitCode) {
  const FakeChild& child = Child(process);
  if (child.exitCodeStatus != kSuccess) return child.exitCodeStatus;
  *exitCode = child.exitCode;
  return kSuccess;
}

void FakeProcesses::CloseHandle(ProcessHandle handle) {
  const std::size_t index = IndexOf(handle);
  closed.push_back((index % 2 == 0 ? "process " : "thread ") + std::to_string(index / 2));
}
