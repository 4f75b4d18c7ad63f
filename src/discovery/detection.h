#pragma once

#include "platform.h"

// Prints one line per installation found in `view`: "NAME is detected" in the 64-bit view,
// "32bit NAME is detected" in the 32-bit one. Returns 0 once the view's Uninstall key has opened,
// otherwise the open error; `found` is written only after the key has opened.
[[nodiscard]] Status DetectInView(Platform& platform, RegistryView view, bool& found);

// "32bit " in the 32-bit view, nothing in the 64-bit one: the prefix of every line of a pass.
const char* ViewPrefix(RegistryView view);
