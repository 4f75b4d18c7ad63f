#include "discovery/win_registry.h"
#include "driver.h"
#include "removal/win_processes.h"
#include "win_console.h"

int wmain(int argc, wchar_t** argv) {
  WinRegistry registry;
  WinProcesses processes;
  WinConsole console;
  Platform platform{registry, processes, console};
  return RunTool(platform, argc, argv);
}
