#pragma once

#include <cstdint>

#include "console.h"
#include "discovery/registry.h"
#include "removal/launch.h"
#include "removal/process_api.h"

// What one run of the tool works against: the real Windows services in the product, fakes in the
// unit tests.
struct Platform {
  RegistryApi& registry;
  ProcessApi& processes;
  Console& console;
  std::uint32_t uninstallWaitMs = kUninstallWaitMs;
};
