#pragma once

#include "removal/process_api.h"

// The process operations on Windows processes.
class WinProcesses final : public ProcessApi {
 public:
  Status StartProcess(wchar_t* commandLine, std::uint32_t flags, const wchar_t* directory,
                      OwnedProcess* process) override;
  std::uint32_t WaitForProcess(ProcessHandle process, std::uint32_t timeoutMs,
                               Status* error) override;
  Status GetExitCode(ProcessHandle process, std::uint32_t* exitCode) override;
  void CloseHandle(ProcessHandle handle) override;
};
