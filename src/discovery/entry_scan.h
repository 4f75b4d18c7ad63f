#pragma once

#include <string>
#include <vector>

#include "discovery/registry.h"

// Subkey names of the Uninstall key, in the order the registry enumerated them.
using EntryList = std::vector<std::wstring>;

// A subkey whose name holds this text, in this letter case, is a Ghostscript installation.
inline constexpr wchar_t kProductMarker[] = L"GPL Ghostscript";

// The length the enumeration is told its name buffer has, counting the terminator: names of up
// to 254 characters are seen, longer ones are skipped.
inline constexpr std::uint32_t kEnumeratedNameLength = 255;

// Returns the subkey names under `uninstallKey` that contain kProductMarker, in enumeration order.
// A subkey that cannot be enumerated is skipped; a failed count yields an empty list.
EntryList ScanUninstallEntries(RegistryApi& registry, const OwnedKey& uninstallKey);
