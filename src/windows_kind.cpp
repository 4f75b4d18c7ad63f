#include "windows_kind.h"

WindowsKind TellWindows(ProcessApi& processes) {
  const bool tool64 = processes.Is64BitProcess();
  std::uint16_t machine;  // written by a question that is answered
  bool windows64 = true;
  if (processes.NativeMachine(&machine) == kSuccess) {
    windows64 = machine != kMachineI386;
  } else if (!tool64) {
    // IsWow64Process says FALSE for a 32-bit process on ARM64 too, but every ARM64 Windows has
    // IsWow64Process2.
    bool wow64;  // written by a question that is answered
    if (processes.IsWow64(&wow64) != kSuccess) return WindowsKind::Windows64;
    windows64 = wow64;
  }
  if (!windows64) return WindowsKind::Windows32;
  return tool64 ? WindowsKind::Windows64 : WindowsKind::Windows64Wow64;
}
