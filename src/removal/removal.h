#pragma once

#include "discovery/entry_scan.h"
#include "platform.h"
#include "windows_kind.h"

// Runs the recorded uninstaller of every installation in `view` of `windows`, one at a time, and
// prints a line for each one launched. An entry named in `handled`, taken up earlier in this run,
// is passed over; each entry the pass takes up is added to it. Returns 0 when every entry was
// removed, was gone by its turn, or had no UninstallString; otherwise the last nonzero status
// among the entries (a key that would not open, a value that could not be read, an uninstaller
// that failed), or the error of opening the Uninstall key.
[[nodiscard]] Status RemoveInView(Platform& platform, WindowsKind windows, RegistryView view,
                                  EntryList& handled);

// The characters of a value as the registry returned them: `size` bytes of UTF-16 data, taken up
// to the first terminator or the last whole character, whatever the value's type.
std::wstring ValueText(const std::uint8_t* data, std::uint32_t size);
