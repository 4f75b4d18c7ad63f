#include "discovery/registry.h"

namespace {

constexpr std::uint32_t kKeyRead = 0x20019;        // KEY_READ
constexpr std::uint32_t kKeyQueryValue = 0x0001;   // KEY_QUERY_VALUE
constexpr std::uint32_t kKeyWow64_64Key = 0x0100;  // KEY_WOW64_64KEY
constexpr std::uint32_t kKeyWow64_32Key = 0x0200;  // KEY_WOW64_32KEY

// The tool ships as a 32-bit process, whose default view is the 32-bit one, so the 32-bit view
// carries no flag there. A 64-bit build has to ask for it.
std::uint32_t ViewFlag(RegistryView view) {
  if (view == RegistryView::View64) return kKeyWow64_64Key;
#if defined(_WIN64)
  return kKeyWow64_32Key;
#else
  (void)kKeyWow64_32Key;
  return 0;
#endif
}

}  // namespace

std::uint32_t EnumerateAccess(RegistryView view) { return kKeyRead | ViewFlag(view); }

std::uint32_t ValueAccess(RegistryView view) { return kKeyQueryValue | ViewFlag(view); }
