#include <cstdlib>

#include "discovery/win_registry.h"
#include "driver.h"
#include "removal/win_processes.h"
#include "win_console.h"
#include "win_platform.h"

int wmain(int argc, wchar_t** argv) {
  WinRegistry registry;
  WinProcesses processes;
  WinConsole console;
  Platform platform = WindowsPlatform(registry, processes, console);
  return RunTool(platform, argc, argv);
}

#if defined(__GLIBCXX__)
// libstdc++'s default terminate handler names the exception that ended the program, and brings a
// C++ name demangler into the executable to do it: a third of its size. The tool throws nothing
// of its own; should the library ever throw (out of memory), ending at once is all there is to do.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
#endif
