#include "console.h"

#include <cstdint>

std::string NarrowName(std::wstring_view name) {
  std::string narrow;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto unit = static_cast<std::uint32_t>(name[i]);
    // A control character (a line feed, say) would let a name print a line of its own.
    if (unit < 0x20) {
      narrow.push_back('?');
      continue;
    }
    if (unit <= 0xFF) {
      narrow.push_back(static_cast<char>(unit));
      continue;
    }
    const bool highSurrogate = unit >= 0xD800 && unit <= 0xDBFF;
    if (highSurrogate && i + 1 < name.size()) {
      const auto next = static_cast<std::uint32_t>(name[i + 1]);
      if (next >= 0xDC00 && next <= 0xDFFF) ++i;
    }
    narrow.push_back('?');
  }
  return narrow;
}
