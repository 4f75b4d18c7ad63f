#pragma once

#include "console.h"

// Standard output through the C runtime.
class WinConsole final : public Console {
 public:
  void Write(std::string_view text) override;
  void Flush() override;
};
