// A stand-in uninstaller for the tests. It understands, in any order:
//   --record FILE      append "cmd=<its command line>", "cwd=<its working directory>",
//                      "pid=<its process id>", "exe=<its own path>", "temp=<its TEMP>" and
//                      "tmp=<its TMP>" to FILE (UTF-8)
//   --lock FILE        hold FILE open while it runs; if another holder exists, record "overlap"
//   --load DLL         load DLL, as a program that renders through Ghostscript loads its DLL,
//                      and keep it loaded while it runs; record "loaded=<0 or the error>"
//   --delete-key 64|32 NAME   delete its Uninstall entry NAME in that registry view
//   --delete FILE      delete FILE, as an uninstaller deletes the installation's files
//   --lock-key 64|32 NAME     leave its Uninstall entry NAME in that view but deny everyone
//                      every access to it (an empty DACL)
//   --sleep MS         sleep before exiting
//   --exit CODE        exit with CODE (decimal or 0x hex); 0 by default
//   --chatter          write to its standard output and standard error, through the C runtime
//                      and through the handles
//   --try-handles      write to every small handle value but its own standard ones, as a
//                      program would that expected to have inherited its parent's handles
//   --crash            die of an access violation
//   --spawn MS         before exiting, start a copy of itself that records to the same FILE and
//                      sleeps MS, and record "spawn=<0 or the error of the start>" and, once
//                      started, "spawned=<its process id>"
//   --breakaway        start that copy outside any job it is in (CREATE_BREAKAWAY_FROM_JOB)
//   --hand-over        leave the --delete-key to that copy, as an NSIS uninstaller leaves its
//                      work to a copy of itself: the copy deletes the entry, then sleeps MS
//   --late             with --hand-over, the copy sleeps MS first and deletes the entry after
//   --pause MS         sleep MS at once, before the arguments after it
//   --hold-lock OWNER  make the tool's removal lock with OWNER (an SDDL owner: BA for the
//                      Administrators group, BU for the Users group) and an access list that lets
//                      everyone at it, take it and hold it while it runs; record "locked=<0 or the
//                      error>"
// When it records, it also appends "exit=<its process id>" just before it exits.
// Anything else (such as the silent switch "/S") is ignored.
#include <windows.h>

#include <sddl.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, narrow.data(), size, nullptr, nullptr);
  narrow.resize(size - 1);
  return narrow;
}

void Append(const std::wstring& file, const std::string& line) {
  HANDLE handle = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(handle);
}

// The Uninstall entry `name` in the registry view `view` ("64" or "32"): its path under
// HKEY_LOCAL_MACHINE and the view's access flag.
struct Entry {
  std::wstring path;
  REGSAM view;
};
Entry EntryOf(const wchar_t* view, const wchar_t* name) {
  return {std::wstring(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + name,
          static_cast<REGSAM>(std::wcscmp(view, L"64") == 0 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY)};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring record;
  DWORD sleepMs = 0;
  DWORD exitCode = 0;
  HANDLE lock = INVALID_HANDLE_VALUE;
  std::wstring spawnMs;
  bool breakaway = false;
  bool handOver = false;
  bool late = false;
  std::wstring handedOverKey;  // the --delete-key arguments for the copy
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == L"--record" && hasValue) {
      record = argv[++i];
      wchar_t cwd[MAX_PATH] = {};
      GetCurrentDirectoryW(MAX_PATH, cwd);
      wchar_t exe[MAX_PATH] = {};
      GetModuleFileNameW(nullptr, exe, MAX_PATH);
      wchar_t temp[MAX_PATH] = {};
      GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH);
      wchar_t tmp[MAX_PATH] = {};
      GetEnvironmentVariableW(L"TMP", tmp, MAX_PATH);
      Append(record, "cmd=" + Utf8(GetCommandLineW()) + "\ncwd=" + Utf8(cwd) + "\npid=" +
                         std::to_string(GetCurrentProcessId()) + "\nexe=" + Utf8(exe) + "\ntemp=" +
                         Utf8(temp) + "\ntmp=" + Utf8(tmp) + "\n");
    } else if (arg == L"--lock" && hasValue) {
      lock = CreateFileW(argv[++i], GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_FLAG_DELETE_ON_CLOSE, nullptr);
      if (lock == INVALID_HANDLE_VALUE && !record.empty()) Append(record, "overlap\n");
    } else if (arg == L"--load" && hasValue) {
      const DWORD loaded = LoadLibraryW(argv[++i]) != nullptr ? 0 : GetLastError();
      if (!record.empty()) Append(record, "loaded=" + std::to_string(loaded) + "\n");
    } else if (arg == L"--delete-key" && i + 2 < argc) {
      const Entry entry = EntryOf(argv[i + 1], argv[i + 2]);
      handedOverKey = std::wstring(L" --delete-key ") + argv[i + 1] + L" \"" + argv[i + 2] + L"\"";
      i += 2;
      if (!handOver) RegDeleteKeyExW(HKEY_LOCAL_MACHINE, entry.path.c_str(), entry.view, 0);
    } else if (arg == L"--hold-lock" && hasValue) {
      const std::wstring sddl = std::wstring(L"O:") + argv[++i] + L"D:(A;;GA;;;WD)";
      SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, FALSE};
      ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                           &security.lpSecurityDescriptor, nullptr);
      const HANDLE mutex = CreateMutexW(&security, TRUE, L"Global\\gs-uninstall removal");
      const DWORD locked = mutex != nullptr && GetLastError() == ERROR_SUCCESS ? 0 : GetLastError();
      if (!record.empty()) Append(record, "locked=" + std::to_string(locked) + "\n");
    } else if (arg == L"--delete" && hasValue) {
      DeleteFileW(argv[++i]);
    } else if (arg == L"--hand-over") {
      handOver = true;
    } else if (arg == L"--late") {
      late = true;
    } else if (arg == L"--pause" && hasValue) {
      Sleep(std::wcstoul(argv[++i], nullptr, 0));
    } else if (arg == L"--lock-key" && i + 2 < argc) {
      const Entry entry = EntryOf(argv[i + 1], argv[i + 2]);
      i += 2;
      HKEY key = nullptr;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, entry.path.c_str(), 0, WRITE_DAC | entry.view, &key) ==
          ERROR_SUCCESS) {
        ACL empty;
        InitializeAcl(&empty, sizeof(empty), ACL_REVISION);
        SECURITY_DESCRIPTOR descriptor;
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&descriptor, TRUE, &empty, FALSE);
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor);
        RegCloseKey(key);
      }
    } else if (arg == L"--sleep" && hasValue) {
      sleepMs = std::wcstoul(argv[++i], nullptr, 0);
    } else if (arg == L"--exit" && hasValue) {
      exitCode = std::wcstoul(argv[++i], nullptr, 0);
    } else if (arg == L"--chatter") {
      std::printf("uninstaller stdout\n");
      std::fprintf(stderr, "uninstaller stderr\n");
      std::fflush(stdout);
      DWORD written = 0;
      for (DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
        WriteFile(GetStdHandle(which), "uninstaller handle\n", 19, &written, nullptr);
    } else if (arg == L"--try-handles") {
      for (ULONG_PTR value = 4; value <= 4096; value += 4) {
        const HANDLE handle = reinterpret_cast<HANDLE>(value);
        if (handle == GetStdHandle(STD_OUTPUT_HANDLE) || handle == GetStdHandle(STD_ERROR_HANDLE))
          continue;
        DWORD written = 0;
        WriteFile(handle, "leak\n", 5, &written, nullptr);
      }
    } else if (arg == L"--spawn" && hasValue) {
      spawnMs = argv[++i];
    } else if (arg == L"--breakaway") {
      breakaway = true;
    } else if (arg == L"--crash") {
      volatile int* volatile nowhere = nullptr;
      *nowhere = 1;
    }
  }
  if (!spawnMs.empty()) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = std::wstring(L"\"") + self + L"\" --record \"" + record + L"\"";
    if (handOver && late)
      command += L" --pause " + spawnMs + handedOverKey;
    else
      command += L" --sleep " + spawnMs + (handOver ? handedOverKey : L"");
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    const DWORD flags = CREATE_NO_WINDOW | (breakaway ? CREATE_BREAKAWAY_FROM_JOB : 0);
    std::string result = "spawn=0\nspawned=";
    if (CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                       &startup, &info)) {
      result += std::to_string(info.dwProcessId);
      CloseHandle(info.hThread);
      CloseHandle(info.hProcess);
    } else {
      result = "spawn=" + std::to_string(GetLastError());
    }
    if (!record.empty()) Append(record, result + "\n");
  }
  if (sleepMs != 0) Sleep(sleepMs);
  if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
  if (!record.empty()) Append(record, "exit=" + std::to_string(GetCurrentProcessId()) + "\n");
  ExitProcess(exitCode);
}
