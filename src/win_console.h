#pragma once

#include "console.h"

// Standard output through the C runtime, fully buffered: the runtime would otherwise write each
// line on its own when the output is a character device, which costs more than the registry
// reads. The tool flushes before each uninstaller and before it exits.
class WinConsole final : public Console {
 public:
  WinConsole();
  void Write(std::string_view text) override;
  void Flush() override;
};
