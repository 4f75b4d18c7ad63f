#include "win_console.h"

#include <cstdio>

void WinConsole::Write(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void WinConsole::Flush() { std::fflush(stdout); }
