#include "win_console.h"

#include <cstdio>

WinConsole::WinConsole() { std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16); }

void WinConsole::Write(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void WinConsole::Flush() { std::fflush(stdout); }
