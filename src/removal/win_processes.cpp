#include "removal/win_processes.h"

#include <windows.h>

#include <aclapi.h>
#include <restartmanager.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <utility>

namespace {

// A folder as GetSystemDirectoryW and its kin give it, or "" when the call fails.
std::wstring Folder(UINT(WINAPI* get)(LPWSTR, UINT)) {
  wchar_t path[MAX_PATH];
  const UINT length = get(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return L"";
  std::wstring folder(path, length);
  if (folder.back() == L'\\') folder.pop_back();
  return folder;
}

// A temporary folder as GetTempPathW and GetTempPath2W give it, with its trailing backslash, or ""
// when the call fails.
std::wstring TempPath(decltype(&GetTempPathW) get) {
  wchar_t path[MAX_PATH + 1];
  const DWORD length = get(MAX_PATH + 1, path);
  return length == 0 || length > MAX_PATH ? L"" : std::wstring(path, length);
}

// Owns a FindFirstFileW search, closed with FindClose.
class OwnedSearch {
 public:
  explicit OwnedSearch(HANDLE search) : search_(search) {}
  OwnedSearch(const OwnedSearch&) = delete;
  OwnedSearch& operator=(const OwnedSearch&) = delete;
  ~OwnedSearch() {
    if (search_ != INVALID_HANDLE_VALUE) FindClose(search_);
  }
  HANDLE Get() const { return search_; }

 private:
  HANDLE search_;
};

// Owns a loaded DLL, freed with FreeLibrary.
class OwnedLibrary {
 public:
  explicit OwnedLibrary(HMODULE library) : library_(library) {}
  OwnedLibrary(const OwnedLibrary&) = delete;
  OwnedLibrary& operator=(const OwnedLibrary&) = delete;
  ~OwnedLibrary() {
    if (library_ != nullptr) FreeLibrary(library_);
  }
  HMODULE Get() const { return library_; }

 private:
  HMODULE library_;
};

// The function `name` of `library`, as a pointer to `Function`; null when the library has none.
template <typename Function>
Function Find(HMODULE library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

// Ends a Restart Manager session when it goes out of scope.
class OwnedSession {
 public:
  OwnedSession(decltype(&RmEndSession) end, DWORD session) : end_(end), session_(session) {}
  OwnedSession(const OwnedSession&) = delete;
  OwnedSession& operator=(const OwnedSession&) = delete;
  ~OwnedSession() { end_(session_); }

 private:
  decltype(&RmEndSession) end_;
  DWORD session_;
};

// Whether the process `id` has one of `paths` loaded, by its module list. A process whose list
// cannot be read has not, as far as anyone can tell here.
bool HasLoaded(ProcessApi& processes, DWORD id, const std::vector<std::wstring>& paths) {
  HANDLE snapshot = INVALID_HANDLE_VALUE;
  // ERROR_BAD_LENGTH: the process was loading or unloading a module; the platform asks for
  // another try.
  for (int tries = 0; tries < 5 && snapshot == INVALID_HANDLE_VALUE; ++tries) {
    snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, id);
    if (snapshot == INVALID_HANDLE_VALUE && GetLastError() != ERROR_BAD_LENGTH) return false;
  }
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  const OwnedHandle owned(&processes, snapshot);
  MODULEENTRY32W module = {};
  module.dwSize = sizeof(module);
  for (BOOL more = Module32FirstW(snapshot, &module); more; more = Module32NextW(snapshot, &module)) {
    for (const std::wstring& path : paths)
      if (CompareStringOrdinal(module.szExePath, -1, path.c_str(), -1, TRUE) == CSTR_EQUAL) return true;
  }
  return false;
}

}  // namespace

Status WinProcesses::StartProcess(const wchar_t* application, wchar_t* commandLine,
                                  std::uint32_t flags, const wchar_t* environment,
                                  const wchar_t* directory, OwnedHandle* process,
                                  OwnedHandle* thread) {
  // The uninstaller gets no handle of ours, and none of our standard handles either: with no
  // standard handles given, the platform may hand the child the parent's own (Wine does: the
  // child could write into our output, which callers parse). It gets none at all.
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION info = {};
  // The platform takes the block as it is: it is not changed, whatever the declaration says.
  void* block = const_cast<wchar_t*>(environment);
  if (!CreateProcessW(application, commandLine, nullptr, nullptr, FALSE, flags, block, directory,
                      &startup, &info))
    return static_cast<Status>(GetLastError());
  *process = OwnedHandle(this, info.hProcess);
  *thread = OwnedHandle(this, info.hThread);
  return kSuccess;
}

std::vector<std::wstring> WinProcesses::Environment() {
  std::vector<std::wstring> variables;
  wchar_t* const block = GetEnvironmentStringsW();
  if (block == nullptr) return variables;
  for (const wchar_t* variable = block; *variable != L'\0'; variable += variables.back().size() + 1)
    variables.emplace_back(variable);
  FreeEnvironmentStringsW(block);
  return variables;
}

std::wstring WinProcesses::TempFolder() { return TempPath(GetTempPathW); }

std::wstring WinProcesses::TempFolder2() {
  // Windows 11 and Windows Server 2022 have it, and Windows 10 and Server 2016 with the updates of
  // March 2025 or later.
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return L"";
  const auto get = Find<decltype(&GetTempPathW)>(kernel, "GetTempPath2W");
  return get == nullptr ? L"" : TempPath(get);
}

bool WinProcesses::FileExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool WinProcesses::FolderExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

Status WinProcesses::ListFiles(const std::wstring& folder, std::vector<std::wstring>* names) {
  WIN32_FIND_DATAW found;
  const OwnedSearch search(FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (search.Get() == INVALID_HANDLE_VALUE) return static_cast<Status>(GetLastError());
  std::vector<std::wstring> files;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) files.emplace_back(found.cFileName);
  } while (FindNextFileW(search.Get(), &found));
  const DWORD error = GetLastError();
  if (error != ERROR_NO_MORE_FILES) return static_cast<Status>(error);
  *names = std::move(files);
  return kSuccess;
}

Status WinProcesses::OpenUnshared(const std::wstring& path) {
  // Write access with no sharing is what a file in use refuses: a loaded DLL or a running program
  // can be opened for reading, and even for DELETE, though its deletion then fails.
  const HANDLE opened = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return static_cast<Status>(GetLastError());
  const OwnedHandle file(this, opened);  // closed at once
  return kSuccess;
}

Status WinProcesses::CountFileUsers(const std::vector<std::wstring>& paths, std::uint32_t* count) {
  // Loaded at run time, by its full path: the executable imports only what every Windows has, and
  // no search for the DLL can find a planted copy.
  const std::wstring system = SystemFolder();
  if (system.empty()) return static_cast<Status>(ERROR_PATH_NOT_FOUND);
  const OwnedLibrary library(LoadLibraryW((system + L"\\rstrtmgr.dll").c_str()));
  if (library.Get() == nullptr) return static_cast<Status>(GetLastError());
  const auto start = Find<decltype(&RmStartSession)>(library.Get(), "RmStartSession");
  const auto end = Find<decltype(&RmEndSession)>(library.Get(), "RmEndSession");
  const auto add = Find<decltype(&RmRegisterResources)>(library.Get(), "RmRegisterResources");
  const auto list = Find<decltype(&RmGetList)>(library.Get(), "RmGetList");
  if (start == nullptr || end == nullptr || add == nullptr || list == nullptr)
    return static_cast<Status>(ERROR_PROC_NOT_FOUND);

  DWORD session = 0;
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  DWORD status = start(&session, 0, key);
  if (status != ERROR_SUCCESS) return static_cast<Status>(status);
  const OwnedSession ends(end, session);
  std::vector<LPCWSTR> files;
  for (const std::wstring& path : paths) files.push_back(path.c_str());
  status = add(session, static_cast<UINT>(files.size()), files.data(), 0, nullptr, 0, nullptr);
  if (status != ERROR_SUCCESS) return static_cast<Status>(status);
  // Asked with no room for the list: ERROR_MORE_DATA says how long it is.
  UINT needed = 0;
  UINT given = 0;
  DWORD reasons = 0;
  status = list(session, &needed, &given, nullptr, &reasons);
  if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) return static_cast<Status>(status);
  *count = needed;
  return kSuccess;
}

Status WinProcesses::CountModuleLoaders(const std::vector<std::wstring>& paths,
                                        std::uint32_t* count) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return static_cast<Status>(GetLastError());
  const OwnedHandle owned(this, snapshot);
  PROCESSENTRY32W process = {};
  process.dwSize = sizeof(process);
  if (!Process32FirstW(snapshot, &process)) return static_cast<Status>(GetLastError());
  std::uint32_t loaders = 0;
  do {
    // Process id 0, the idle process, would name this process to a module snapshot.
    if (process.th32ProcessID != 0 && HasLoaded(*this, process.th32ProcessID, paths)) ++loaders;
  } while (Process32NextW(snapshot, &process));
  *count = loaders;
  return kSuccess;
}

std::wstring WinProcesses::SystemFolder() { return Folder(GetSystemDirectoryW); }

// The shared Windows folder: GetWindowsDirectoryW may give a folder of the user's own.
std::wstring WinProcesses::WindowsFolder() { return Folder(GetSystemWindowsDirectoryW); }

std::wstring WinProcesses::SystemWow64Folder() { return Folder(GetSystemWow64DirectoryW); }

bool WinProcesses::Is64BitProcess() { return sizeof(void*) == 8; }

Status WinProcesses::NativeMachine(std::uint16_t* machine) {
  // Windows 10 version 1511 and later have it; the headers of older SDKs do not declare it.
  using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto ask = kernel == nullptr ? nullptr : Find<IsWow64Process2Function>(kernel, "IsWow64Process2");
  if (ask == nullptr) return static_cast<Status>(ERROR_PROC_NOT_FOUND);
  USHORT process = 0;
  USHORT native = 0;
  if (!ask(GetCurrentProcess(), &process, &native)) return static_cast<Status>(GetLastError());
  *machine = native;
  return kSuccess;
}

Status WinProcesses::IsWow64(bool* wow64) {
  BOOL under = FALSE;
  if (!IsWow64Process(GetCurrentProcess(), &under)) return static_cast<Status>(GetLastError());
  *wow64 = under != FALSE;
  return kSuccess;
}

std::uint32_t WinProcesses::WaitForProcess(ProcessHandle process, std::uint32_t timeoutMs,
                                           Status* error) {
  const DWORD result = WaitForSingleObject(process, timeoutMs);
  if (result == WAIT_FAILED) *error = static_cast<Status>(GetLastError());
  return result;
}

Status WinProcesses::GetExitCode(ProcessHandle process, std::uint32_t* exitCode) {
  DWORD code = 0;
  if (!GetExitCodeProcess(process, &code)) return static_cast<Status>(GetLastError());
  *exitCode = code;
  return kSuccess;
}

Status WinProcesses::ResumeThread(ProcessHandle thread) {
  if (::ResumeThread(thread) == static_cast<DWORD>(-1)) return static_cast<Status>(GetLastError());
  return kSuccess;
}

Status WinProcesses::TerminateProcess(ProcessHandle process, std::uint32_t exitCode) {
  if (!::TerminateProcess(process, exitCode)) return static_cast<Status>(GetLastError());
  return kSuccess;
}

Status WinProcesses::CreateJob(OwnedHandle* job, OwnedHandle* port) {
  OwnedHandle created(this, CreateJobObjectW(nullptr, nullptr));
  if (created.Get() == nullptr) return static_cast<Status>(GetLastError());
  // A process that asks to leave the job (CREATE_BREAKAWAY_FROM_JOB) may, and is not waited for.
  // No other limit: closing the job stops nothing.
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  if (!SetInformationJobObject(created.Get(), JobObjectExtendedLimitInformation, &limits,
                               sizeof(limits)))
    return static_cast<Status>(GetLastError());
  OwnedHandle messages(this, CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
  if (messages.Get() == nullptr) return static_cast<Status>(GetLastError());
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {};
  association.CompletionKey = created.Get();
  association.CompletionPort = messages.Get();
  if (!SetInformationJobObject(created.Get(), JobObjectAssociateCompletionPortInformation,
                               &association, sizeof(association)))
    return static_cast<Status>(GetLastError());
  *job = static_cast<OwnedHandle&&>(created);
  *port = static_cast<OwnedHandle&&>(messages);
  return kSuccess;
}

Status WinProcesses::AssignToJob(ProcessHandle job, ProcessHandle process) {
  if (!AssignProcessToJobObject(job, process)) return static_cast<Status>(GetLastError());
  return kSuccess;
}

Status WinProcesses::WaitForJobMessage(ProcessHandle port, std::uint32_t timeoutMs) {
  DWORD code = 0;
  ULONG_PTR key = 0;
  LPOVERLAPPED overlapped = nullptr;
  // A run-out wait fails with WAIT_TIMEOUT, which is kWaitTimeout.
  if (!GetQueuedCompletionStatus(port, &code, &key, &overlapped, timeoutMs))
    return static_cast<Status>(GetLastError());
  return kSuccess;
}

Status WinProcesses::CountActiveProcesses(ProcessHandle job, std::uint32_t* count) {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
  if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                 sizeof(accounting), nullptr))
    return static_cast<Status>(GetLastError());
  *count = accounting.ActiveProcesses;
  return kSuccess;
}

Status WinProcesses::OpenLock(const wchar_t* name, OwnedHandle* lock) {
  SECURITY_ATTRIBUTES security = {};
  security.nLength = sizeof(security);
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)", SDDL_REVISION_1, &security.lpSecurityDescriptor,
          nullptr))
    return static_cast<Status>(GetLastError());
  const HANDLE mutex = CreateMutexW(&security, FALSE, name);
  const DWORD error = GetLastError();
  LocalFree(security.lpSecurityDescriptor);
  if (mutex == nullptr) return static_cast<Status>(error);
  *lock = OwnedHandle(this, mutex);
  return kSuccess;
}

Status WinProcesses::LockOwnedByAdministrators(ProcessHandle lock, bool* byAdministrators) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD status = GetSecurityInfo(lock, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                       nullptr, nullptr, nullptr, &descriptor);
  if (status != ERROR_SUCCESS) return static_cast<Status>(status);
  // An object may have no owner at all: then it is nobody's lock.
  *byAdministrators = owner != nullptr && (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
                                           IsWellKnownSid(owner, WinLocalSystemSid));
  LocalFree(descriptor);
  return kSuccess;
}

Status WinProcesses::TryLock(ProcessHandle lock) {
  switch (WaitForSingleObject(lock, 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:  // its holder ended without giving it up: it is this thread's now
      return kSuccess;
    case WAIT_TIMEOUT:
      return kWaitTimeout;
    default:
      return static_cast<Status>(GetLastError());
  }
}

void WinProcesses::ReleaseLock(ProcessHandle lock) { ReleaseMutex(lock); }

std::uint64_t WinProcesses::TickCount() { return GetTickCount64(); }

void WinProcesses::Sleep(std::uint32_t ms) { ::Sleep(ms); }

void WinProcesses::CloseHandle(ProcessHandle handle) { ::CloseHandle(handle); }
