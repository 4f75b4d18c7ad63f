#include "removal/win_processes.h"

#include <windows.h>

Status WinProcesses::StartProcess(wchar_t* commandLine, std::uint32_t flags,
                                  const wchar_t* directory, OwnedProcess* process) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  // No handle is inherited: the uninstaller gets nothing of ours, not even our standard output.
  if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, flags, nullptr, directory,
                      &startup, &info))
    return static_cast<Status>(GetLastError());
  *process = OwnedProcess(this, info.hProcess, info.hThread);
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

void WinProcesses::CloseHandle(ProcessHandle handle) { ::CloseHandle(handle); }
