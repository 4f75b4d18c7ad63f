#pragma once

#include <string>

#include "removal/process_api.h"

// The environment block an uninstaller gets ("NAME=value" strings, each ending in a NUL, and the
// string's own terminator after the last), or "" for the tool's own. An NSIS uninstaller copies
// itself to its temporary folder and runs the copy; for a process running as SYSTEM that folder
// is C:\Windows\Temp, where any user may create files and folders. Where the platform gives
// SYSTEM a folder of its own (GetTempPath2W: C:\Windows\SystemTemp, which other users cannot
// reach) and that folder is there, TMP and TEMP name it; for any other user GetTempPath2W gives
// what GetTempPathW gives, and there, as on a Windows without the function or where the folder is
// not there (nothing says that the updates that brought the function to older Windows made it),
// the environment is the tool's, unchanged. The block stays sorted by name, as the platform asks.
std::wstring UninstallerEnvironment(ProcessApi& processes);
