#pragma once

#include <string>
#include <string_view>

// Standard output, the tool's only channel to its caller.
class Console {
 public:
  virtual ~Console() = default;

  // Writes one whole message. It may be held in a buffer until the next Flush.
  virtual void Write(std::string_view text) = 0;

  // Pushes out everything written so far.
  virtual void Flush() = 0;
};

// The narrow text of a registry name: a character from U+0020 to U+00FF becomes the byte of the
// same value, as the C runtime writes wide text in its default locale; a control character below
// U+0020 (so that a name is always one line) and any character beyond U+00FF (a surrogate pair
// counts as one) becomes "?", and the rest of the name follows.
std::string NarrowName(std::wstring_view name);
