#pragma once

#include "removal/process_api.h"

// The process operations on Windows processes. Not final: a test may take a call's place.
class WinProcesses : public ProcessApi {
 public:
  Status StartProcess(const wchar_t* application, wchar_t* commandLine, std::uint32_t flags,
                      const wchar_t* environment, const wchar_t* directory, OwnedHandle* process,
                      OwnedHandle* thread) override;
  std::vector<std::wstring> Environment() override;
  std::wstring TempFolder() override;
  std::wstring TempFolder2() override;
  bool FileExists(const std::wstring& path) override;
  bool FolderExists(const std::wstring& path) override;
  Status ListFiles(const std::wstring& folder, std::vector<std::wstring>* names) override;
  Status OpenUnshared(const std::wstring& path) override;
  Status CountFileUsers(const std::vector<std::wstring>& paths, std::uint32_t* count) override;
  Status CountModuleLoaders(const std::vector<std::wstring>& paths, std::uint32_t* count) override;
  std::wstring SystemFolder() override;
  std::wstring WindowsFolder() override;
  std::wstring SystemWow64Folder() override;
  bool Is64BitProcess() override;
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
  std::uint64_t TickCount() override;
  void Sleep(std::uint32_t ms) override;
  void CloseHandle(ProcessHandle handle) override;
};
