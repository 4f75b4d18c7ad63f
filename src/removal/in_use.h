#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "removal/process_api.h"

// Whether an installation's `programs` are free to be removed: none is loaded or held open by a
// running program, so that an uninstaller could delete them all. Each is opened for writing
// without sharing, which fails with kErrorSharingViolation while it is in use; one that opens, or
// that has gone, is free. One whose open is refused for another reason (a read-only file: access
// denied comes before any sharing check) is asked about of the Restart Manager and of the running
// processes' module lists. A program in use is tested again every quarter second for two seconds
// (a virus scanner's look passes). Returns 0 when all are free; kErrorSharingViolation when one is
// still in use; or, when a test was refused and nothing could tell whether that program is in use,
// the Restart Manager's error (353 with no session left, 121 when its registry lock timed out).
[[nodiscard]] Status WaitForProgramsFree(ProcessApi& processes,
                                         const std::vector<std::wstring>& programs);

// Waits at most `limitMs`, looking every quarter second, until none of `programs` is there any
// more. Returns whether they are all gone.
[[nodiscard]] bool WaitForProgramsToGo(ProcessApi& processes,
                                       const std::vector<std::wstring>& programs,
                                       std::uint32_t limitMs);
