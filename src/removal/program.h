#pragma once

#include <string>
#include <string_view>

#include "discovery/registry.h"
#include "removal/process_api.h"

// What to start for one uninstall: the program, handed to the platform by its path so that the
// platform searches for nothing, and the command line it gets.
struct StartCommand {
  std::wstring program;
  std::wstring commandLine;
};

// The program that a recorded `uninstallString` of an entry in `view` names, found only where the
// value says, so that no program planted on the way can run in its place. Leading blanks are
// skipped. The program part of the value is:
// - quoted: what is inside the quotes (".exe" added when it has no extension);
// - unquoted: the first prefix that ends in ".exe", in any letter case, right before a blank or
//   the end; without one, the one prefix that ends before a blank or at the end (".exe" added when
//   it has no extension) that exists: none, kErrorFileNotFound; more than one, kErrorBadPathname,
//   since the value names no single program. A bare name is the first word.
// That part is either a name without a folder, taken from the view's system folder, else the
// Windows folder (kErrorFileNotFound in neither), or a full path ("X:\...", "\\server\share\...",
// "\\?\..."), which names that file whether or not it exists; a path under the Windows folder's
// System32 names the file in the view's own system folder. Anything else (a relative path, a
// drive-relative one, an unexpanded variable, nothing at all) is kErrorBadPathname: nothing is
// ever looked for in the tool's current folder. The command line is the recorded value followed
// by " /S"; a batch file runs in the view's command interpreter, as "cmd.exe /c" with the batch
// file's path quoted, the rest of the value and " /S"; Ghostscript's own uninstaller of 9.04 and
// earlier ("uninstgs.exe" with nothing after it but the path of its log "uninstal.txt", quoted or
// without blanks) gets its program part in quotes, the rest of the value and " -q", its silent
// switch.
// Returns 0 with `command` set, or the status above, with nothing to start.
[[nodiscard]] Status ChooseProgram(ProcessApi& processes, RegistryView view,
                                   std::wstring_view uninstallString, StartCommand* command);
