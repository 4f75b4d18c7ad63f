#pragma once

#include <cstdint>

#include "console.h"
#include "discovery/registry.h"
#include "removal/process_api.h"

// What one run of the tool works against: the real Windows services and the ten-minute wait in
// the product (see WindowsPlatform), fakes and shorter waits in the tests.
struct Platform {
  RegistryApi& registry;
  ProcessApi& processes;
  Console& console;
  std::uint32_t uninstallWaitMs;  // the longest wait for one uninstaller
};
