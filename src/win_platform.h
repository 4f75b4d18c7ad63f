#pragma once

#include "platform.h"

// The product's platform: Windows' own registry, processes and console, and the ten-minute wait
// for each uninstaller.
Platform WindowsPlatform(RegistryApi& registry, ProcessApi& processes, Console& console);
