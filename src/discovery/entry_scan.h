#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "discovery/registry.h"

// Subkey names of the Uninstall key, in the order the registry enumerated them.
using EntryList = std::vector<std::wstring>;

// A subkey whose name holds this text, in this letter case, is a Ghostscript installation.
inline constexpr wchar_t kProductMarker[] = L"GPL Ghostscript";

// The length the enumeration is told its name buffer has, counting the terminator: names of up
// to 254 characters are seen, longer ones are skipped.
inline constexpr std::uint32_t kEnumeratedNameLength = 255;

// Returns the subkey names under `uninstallKey` that contain kProductMarker, in enumeration order,
// each as long as the enumeration says. A subkey that cannot be enumerated is skipped; a failed
// count yields an empty list.
EntryList ScanUninstallEntries(RegistryApi& registry, const OwnedKey& uninstallKey);

// Opens the key of the entry `name` in `view` for reading its values. Returns 0 or the error of
// the open; a name holding a NUL, which the platform would read as the shorter name before it,
// gives kErrorInvalidName without an open.
[[nodiscard]] Status OpenEntry(RegistryApi& registry, RegistryView view, std::wstring_view name,
                               OwnedKey* key);

// Whether the entry `name` is still recorded in `view`: 0 when its key opens, kErrorFileNotFound
// when it is gone, and any other error when that cannot be told (access denied, say).
[[nodiscard]] Status LookUpEntry(RegistryApi& registry, RegistryView view, std::wstring_view name);
