#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "discovery/registry.h"
#include "removal/process_api.h"
#include "windows_kind.h"

// What to start for one uninstall: the program, handed to the platform by its path so that the
// platform searches for nothing, and the command line it gets; and the installation's folder,
// whose `bin` folder holds its programs, or "" when the value names none.
struct StartCommand {
  std::wstring program;
  std::wstring commandLine;
  std::wstring folder;
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
// file's path quoted, the rest of the value and " /S" (where that interpreter is the 64-bit one,
// which the 32-bit tool starts through Sysnative, its command line names both by System32, as a
// 64-bit program reads them); Ghostscript's own uninstaller of 9.04 and
// earlier ("uninstgs.exe" with nothing after it but the path of its log "uninstal.txt", quoted or
// without blanks) gets its program part in quotes, the rest of the value and " -q", its silent
// switch.
// A file name is the last part of a path, after its last "\" or "/" (or after the drive of
// "X:name"), up to a colon, which begins the name of one of the file's streams: "X.e:s" is the
// stream "s" of the file "X.e", whose extension is ".e".
// The installation's folder is the folder of the program the value names with a folder (of the
// batch file, not of the command interpreter), or, for the old uninstaller, the folder of its log
// when that is a full path; a program named without a folder gives none.
// Returns 0 with `command` set, or the status above, with nothing to start.
[[nodiscard]] Status ChooseProgram(ProcessApi& processes, WindowsKind windows, RegistryView view,
                                   std::wstring_view uninstallString, StartCommand* command);

// The programs of the installation in `folder`: its .exe and .dll files, in any letter case, in
// its "bin" folder, where every Ghostscript installer puts its interpreter and its DLL. None for
// no folder, or for a folder without a "bin" folder that can be listed.
std::vector<std::wstring> InstallationPrograms(ProcessApi& processes, const std::wstring& folder);
