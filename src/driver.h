#pragma once

#include "platform.h"

enum class RunMode { Detect, Remove };

// Reads the optional switch, "detect" or "remove", matched exactly and in this letter case;
// arguments after it are ignored. Without a switch `mode` is left as it is. Returns 0, or
// kErrorInvalidOperation for a bad command line (after printing "Invalid switch" when a switch
// was given but not recognised).
[[nodiscard]] Status ParseSwitch(int argc, const wchar_t* const* argv, Console& console,
                                 RunMode& mode);

// One whole run: parse the switch, detect in both views, remove unless told only to detect. A
// removal holds the machine's removal lock throughout (see RemovalLock). Returns the exit status:
// 0, -1 when nothing is installed, kErrorInstallAlreadyRunning when another run is removing, or
// the failure to report.
[[nodiscard]] Status RunTool(Platform& platform, int argc, const wchar_t* const* argv);
