#include "win_platform.h"

#include "removal/launch.h"

Platform WindowsPlatform(RegistryApi& registry, ProcessApi& processes, Console& console) {
  return Platform{registry, processes, console, kUninstallWaitMs};
}
