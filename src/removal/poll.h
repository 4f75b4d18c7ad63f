#pragma once

#include <algorithm>
#include <cstdint>

#include "removal/process_api.h"

// How often the removal looks again at what it waits for without a job to tell it: an entry to go,
// an installation's programs to come free or to go.
inline constexpr std::uint32_t kPollMs = 250;

// Milliseconds left of `limitMs` since `startedAt`; 0 once it has run out.
inline std::uint32_t Remaining(ProcessApi& processes, std::uint64_t startedAt,
                               std::uint32_t limitMs) {
  const std::uint64_t elapsed = processes.TickCount() - startedAt;
  return static_cast<std::uint32_t>(limitMs - std::min<std::uint64_t>(elapsed, limitMs));
}

// Asks `settled` now, then every kPollMs for at most `limitMs`. Returns whether it said yes.
template <typename Settled>
bool PollUntil(ProcessApi& processes, std::uint32_t limitMs, Settled settled) {
  const std::uint64_t since = processes.TickCount();
  while (!settled()) {
    const std::uint32_t remaining = Remaining(processes, since, limitMs);
    if (remaining == 0) return false;
    processes.Sleep(std::min(remaining, kPollMs));
  }
  return true;
}
