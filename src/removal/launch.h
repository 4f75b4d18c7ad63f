#pragma once

#include <cstdint>

#include "removal/process_api.h"

// How long the tool waits for one uninstaller before it moves on: ten minutes.
inline constexpr std::uint32_t kUninstallWaitMs = 600000;

// Runs `commandLine` (writable and terminated; the platform may change it) without a window, in
// "C:\", and waits up to `waitMs` for it. Returns the child's exit code, kWaitTimeout when the
// wait ran out (the child is left running), or the error code of a failed start or wait.
[[nodiscard]] Status RunUninstaller(ProcessApi& processes, wchar_t* commandLine,
                                    std::uint32_t waitMs);
