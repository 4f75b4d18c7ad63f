#include "removal/launch.h"

Status RunUninstaller(ProcessApi& processes, wchar_t* commandLine, std::uint32_t waitMs) {
  OwnedProcess child;
  const Status started = processes.StartProcess(
      commandLine, kCreateNoWindow | kCreateDefaultErrorMode, L"C:\\", &child);
  if (started != kSuccess) return started;

  Status error = kSuccess;
  const std::uint32_t waited = processes.WaitForProcess(child.Process(), waitMs, &error);
  if (waited == kWaitFailed) return error;
  // WAIT_TIMEOUT, and anything else that is not the end of the child, counts as the limit
  // having run out. The child goes on by itself.
  if (waited != kWaitObject0) return kWaitTimeout;

  std::uint32_t exitCode = 0;
  const Status read = processes.GetExitCode(child.Process(), &exitCode);
  if (read != kSuccess) return read;
  // An exit code with its top bit set (a crash, say) becomes a negative status.
  return static_cast<Status>(exitCode);
}
