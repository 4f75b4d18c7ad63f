#include "harness.h"

#include <gtest/gtest.h>

#include <cwchar>

#include "discovery/win_registry.h"
#include "driver.h"

namespace {

const std::wstring kUninstall = kUninstallKeyPath;

HANDLE InheritableFile(const std::wstring& path) {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::wstring BuildDir() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, length);
  return dir.substr(0, dir.find_last_of(L'\\'));
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

std::wstring FixtureCommand(const std::wstring& arguments) {
  return Quoted(BuildDir() + L"\\fixture_uninstaller.exe") + L" " + arguments;
}

std::wstring SelfRemovingUninstaller(const std::wstring& record, RegistryView view,
                                     const std::wstring& name, DWORD exitCode,
                                     const std::wstring& extra) {
  return FixtureCommand(L"--record " + Quoted(record) + L" --delete-key " +
                        (view == RegistryView::View64 ? L"64 " : L"32 ") + Quoted(name) +
                        L" --exit " + std::to_wstring(exitCode) + extra);
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

void ExpectStillRunningAndEnd(const std::wstring& record, const std::string& tag) {
  const std::vector<std::string> pids = RecordedLines(record, tag);
  ASSERT_FALSE(pids.empty());
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, std::stoul(pids[0]));
  ASSERT_NE(process, nullptr);
  EXPECT_EQ(WaitForSingleObject(process, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  TerminateProcess(process, 0);
  WaitForSingleObject(process, 10000);
  CloseHandle(process);
}

RunningProgram::RunningProgram(std::wstring commandLine) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                      nullptr, nullptr, &startup, &info)) {
    ADD_FAILURE() << "start failed: " << GetLastError();
    return;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
}

std::string RunningProgram::AwaitRecord(const std::wstring& record, const std::string& tag) {
  const ULONGLONG startedAt = GetTickCount64();
  bool ended = process_ == nullptr;
  while (RecordedLines(record, tag).empty() && !ended && GetTickCount64() - startedAt < 300000)
    ended = WaitForSingleObject(process_, 50) == WAIT_OBJECT_0;
  return "its record: \"" + ReadFile(record) + "\"" + (ended ? " (it has ended)" : "");
}

void RunningProgram::End() {
  if (process_ == nullptr) return;
  TerminateProcess(process_, 0);
  EXPECT_EQ(WaitForSingleObject(process_, 10000), WAIT_OBJECT_0);
  CloseHandle(process_);
  process_ = nullptr;
}

DWORD StartError(const std::wstring& commandLine, const std::wstring& application) {
  std::wstring writable = commandLine;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(application.empty() ? nullptr : application.c_str(), writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info))
    return GetLastError();
  TerminateProcess(info.hProcess, 0);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return 0;
}

std::wstring ScratchFile(const wchar_t* stem) {
  static int counter = 0;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring path = std::wstring(temp) + L"gsu-" + stem + L"-" +
                            std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(++counter) + L".txt";
  DeleteFileW(path.c_str());
  return path;
}

std::string ReadFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE |
                            FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "";
  std::string contents;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
    contents.append(buffer, read);
  CloseHandle(file);
  return contents;
}

std::vector<std::string> RecordedLines(const std::wstring& record, const std::string& tag) {
  std::vector<std::string> lines;
  const std::string text = ReadFile(record);
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    if (text.compare(at, tag.size(), tag) == 0)
      lines.push_back(text.substr(at + tag.size(), end - at - tag.size()));
    at = end + 1;
  }
  return lines;
}

ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs,
                         const wchar_t* directory) {
  const std::wstring outPath = ScratchFile(L"stdout");
  const std::wstring errPath = ScratchFile(L"stderr");
  HANDLE out = InheritableFile(outPath);
  HANDLE err = InheritableFile(errPath);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION info = {};
  std::wstring writable = commandLine;
  ProcessResult result;
  const BOOL started = CreateProcessW(nullptr, writable.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, directory, &startup, &info);
  CloseHandle(out);
  CloseHandle(err);
  EXPECT_TRUE(started) << "cannot start, error " << GetLastError();
  if (started) {
    if (WaitForSingleObject(info.hProcess, timeoutMs) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "still running after " << timeoutMs << " ms: " << Narrow(commandLine);
      TerminateProcess(info.hProcess, 1);
      WaitForSingleObject(info.hProcess, 10000);
    }
    GetExitCodeProcess(info.hProcess, &result.exitCode);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
  result.output = ReadFile(outPath);
  result.errors = ReadFile(errPath);
  DeleteFileW(outPath.c_str());
  DeleteFileW(errPath.c_str());
  return result;
}

ProcessResult RunTool(const std::wstring& arguments, DWORD timeoutMs) {
  std::wstring command = Quoted(BuildDir() + L"\\gs-uninstall.exe");
  if (!arguments.empty()) command += L" " + arguments;
  return RunProcess(command, timeoutMs);
}

ProcessResult RunToolStreaming(const std::wstring& arguments,
                               const std::function<void(const std::string&)>& onLine) {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  ProcessResult result;
  EXPECT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherit, 0));
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION info = {};
  std::wstring command = Quoted(BuildDir() + L"\\gs-uninstall.exe") + L" " + arguments;
  const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &info);
  CloseHandle(writeEnd);
  EXPECT_TRUE(started) << GetLastError();
  // The pipe ends when the tool does: it hands no handle on to its uninstallers.
  std::string pending;
  char buffer[4096];
  DWORD read = 0;
  while (started && ReadFile(readEnd, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    result.output.append(buffer, read);
    pending.append(buffer, read);
    for (std::size_t end; (end = pending.find("\r\n")) != std::string::npos;) {
      onLine(pending.substr(0, end));
      pending.erase(0, end + 2);
    }
  }
  CloseHandle(readEnd);
  if (started) {
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 120000), WAIT_OBJECT_0);
    GetExitCodeProcess(info.hProcess, &result.exitCode);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
  return result;
}

void CapturedConsole::Write(std::string_view message) {
  text.append(message);
  if (onLine && !message.empty() && message.back() == '\n')
    onLine(std::string(message.substr(0, message.size() - 1)));
}

InProcessResult RunToolInProcess(ProcessApi& processes, std::uint32_t waitMs,
                                 const wchar_t* argument,
                                 const std::function<void(const std::string&)>& onLine) {
  WinRegistry registry;
  return RunToolInProcess(registry, processes, waitMs, argument, onLine);
}

InProcessResult RunToolInProcess(RegistryApi& registry, ProcessApi& processes,
                                 std::uint32_t waitMs, const wchar_t* argument,
                                 const std::function<void(const std::string&)>& onLine) {
  CapturedConsole console;
  console.onLine = onLine;
  Platform platform{registry, processes, console, waitMs};
  const wchar_t* argv[] = {L"gs-uninstall.exe", argument};
  InProcessResult result;
  result.status = RunTool(platform, argument == nullptr ? 1 : 2, argv);
  result.output = console.text;
  return result;
}

PlantedPrograms::~PlantedPrograms() {
  for (auto file = files_.rbegin(); file != files_.rend(); ++file) DeleteFileW(file->c_str());
  for (auto folder = folders_.rbegin(); folder != folders_.rend(); ++folder)
    RemoveDirectoryW(folder->c_str());
}

void PlantedPrograms::Folder(const std::wstring& path) {
  if (CreateDirectoryW(path.c_str(), nullptr)) folders_.push_back(path);
}

void PlantedPrograms::Program(const std::wstring& path, const std::wstring& source) {
  ASSERT_TRUE(CopyFileW(source.c_str(), path.c_str(), FALSE)) << Narrow(path) << " " << GetLastError();
  files_.push_back(path);
}

void PlantedPrograms::File(const std::wstring& path, const std::string& text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << Narrow(path);
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  files_.push_back(path);
}

std::wstring EntryValue(RegistryView view, const std::wstring& name, const wchar_t* value) {
  wchar_t data[1024] = {};
  DWORD size = sizeof(data) - sizeof(wchar_t);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, (kUninstall + L"\\" + name).c_str(), value,
                   RRF_RT_REG_SZ | (view == RegistryView::View64 ? RRF_SUBKEY_WOW6464KEY
                                                                  : RRF_SUBKEY_WOW6432KEY),
                   nullptr, data, &size) != ERROR_SUCCESS)
    return L"";
  return data;
}

REGSAM ViewFlag(RegistryView view) {
  return view == RegistryView::View64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

UninstallEntries::UninstallEntries() { RemoveGhostscriptEntries(); }

UninstallEntries::~UninstallEntries() {
  for (const auto& [view, name] : added_) {
    const std::wstring path = kUninstall + L"\\" + name;
    // An uninstaller may have locked its entry: its owner can still let everyone in again.
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC | ViewFlag(view), &key) ==
        ERROR_SUCCESS) {
      SECURITY_DESCRIPTOR open;
      InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
      SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
      RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &open);
      RegCloseKey(key);
    }
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), ViewFlag(view), 0);
  }
  RemoveGhostscriptEntries();
}

void UninstallEntries::Add(RegistryView view, const std::wstring& name,
                           const std::wstring& uninstall) {
  if (uninstall.empty()) return AddRaw(view, name, REG_NONE, "");
  const auto* bytes = reinterpret_cast<const char*>(uninstall.c_str());
  AddRaw(view, name, REG_SZ, std::string(bytes, (uninstall.size() + 1) * sizeof(wchar_t)));
}

void UninstallEntries::AddRaw(RegistryView view, const std::wstring& name, DWORD type,
                              const std::string& bytes) {
  HKEY key = nullptr;
  const LONG created = RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kUninstall + L"\\" + name).c_str(), 0,
                                       nullptr, 0, KEY_SET_VALUE | ViewFlag(view), nullptr, &key,
                                       nullptr);
  ASSERT_EQ(created, ERROR_SUCCESS);
  added_.emplace_back(view, name);
  if (type != REG_NONE) {
    const LONG set = RegSetValueExW(key, L"UninstallString", 0, type,
                                    reinterpret_cast<const BYTE*>(bytes.data()),
                                    static_cast<DWORD>(bytes.size()));
    EXPECT_EQ(set, ERROR_SUCCESS);
  }
  RegCloseKey(key);
}

bool UninstallEntries::Exists(RegistryView view, const std::wstring& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kUninstall + L"\\" + name).c_str(), 0,
                    KEY_QUERY_VALUE | ViewFlag(view), &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

void UninstallEntries::DeleteUninstallKey(RegistryView view) {
  HKEY parent = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                          KEY_ALL_ACCESS | ViewFlag(view), &parent),
            ERROR_SUCCESS);
  const LONG deleted = RegDeleteTreeW(parent, L"Uninstall");
  RegCloseKey(parent);
  ASSERT_TRUE(deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND) << deleted;
  HKEY check = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstall.c_str(), 0, KEY_READ | ViewFlag(view),
                          &check),
            ERROR_FILE_NOT_FOUND);
}

void UninstallEntries::RecreateUninstallKey(RegistryView view, const std::wstring& className) {
  DeleteUninstallKey(view);
  HKEY key = nullptr;
  std::wstring writableClass = className;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstall.c_str(), 0, writableClass.data(), 0,
                            KEY_ALL_ACCESS | ViewFlag(view), nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

void UninstallEntries::RemoveGhostscriptEntries() {
  for (RegistryView view : {RegistryView::View64, RegistryView::View32}) {
    HKEY key = nullptr;
    // Make sure the Uninstall key exists: a fresh prefix may not have one.
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstall.c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS | ViewFlag(view), nullptr, &key, nullptr),
              ERROR_SUCCESS);
    std::vector<std::wstring> doomed;
    wchar_t name[512];
    for (DWORD index = 0;; ++index) {
      DWORD length = 512;
      if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      // Case-insensitively: the tests also write near misses such as "gpl ghostscript".
      std::wstring lower(name, length);
      for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
      if (lower.find(L"ghostscript") != std::wstring::npos) doomed.emplace_back(name, length);
    }
    for (const std::wstring& entry : doomed) RegDeleteTreeW(key, entry.c_str());
    RegCloseKey(key);
  }
}
