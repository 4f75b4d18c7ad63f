#include <gtest/gtest.h>

#include <vector>

#include "console.h"

namespace {

struct NarrowCase {
  const wchar_t* name;
  std::string expected;
};

// A name must never be cut short: what the narrow text lacks becomes "?", the rest follows.
TEST(NarrowName, KeepsPrintableLatin1AndReplacesTheRestCharacterByCharacter) {
  const NarrowCase cases[] = {
      {L"GPL Ghostscript 10.02.1", "GPL Ghostscript 10.02.1"},
      {L"", ""},
      {L"GPL Ghostscript caf\u00e9", "GPL Ghostscript caf\xe9"},
      {L"GPL Ghostscript \u4e2d\u6587 (x86)", "GPL Ghostscript ?? (x86)"},
      {L"\u0100GPL Ghostscript", "?GPL Ghostscript"},
      {L"GPL Ghostscript \u00ff", "GPL Ghostscript \xff"},
      // A surrogate pair is one character; a lone surrogate is one too.
      {L"GPL Ghostscript \xD83D\xDE00!", "GPL Ghostscript ?!"},
      {L"GPL Ghostscript \xD83D", "GPL Ghostscript ?"},
      {L"\xDE00 GPL Ghostscript", "? GPL Ghostscript"},
      // At the start, the middle and the end, at the edges of both surrogate ranges.
      {L"\xD800\xDC00GPL\xDBFF\xDFFF Ghostscript\xD800\xDFFF", "?GPL? Ghostscript?"},
      // Just outside them, no pair.
      {L"\xD7FF\xDC00|\xD800\xDBFF|\xDC00\xDC00|\xDBFF\xE000", "??|??|??|??"},
      {L"GPL\xD83DX", "GPL?X"},
      {L"\u4e2d\xDC00 GPL Ghostscript", "?? GPL Ghostscript"},
      // A control character is "?" too: a name can never end its line and print one of its own.
      {L"GPL Ghostscript 10\nGPL Ghostscript 11 is uninstalled",
       "GPL Ghostscript 10?GPL Ghostscript 11 is uninstalled"},
      {L"GPL\r\tGhostscript\x1f\x7f\x20", "GPL??Ghostscript?\x7f "},
  };
  for (const NarrowCase& c : cases) EXPECT_EQ(NarrowName(c.name), c.expected) << c.expected;
  // A high surrogate that ends the name: nothing past the name is read, even with no terminator.
  const std::vector<wchar_t> exact = {L'G', static_cast<wchar_t>(0xD83D)};
  EXPECT_EQ(NarrowName({exact.data(), exact.size()}), "G?");
}

}  // namespace
