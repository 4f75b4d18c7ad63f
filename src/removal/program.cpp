#include "removal/program.h"

#include <algorithm>
#include <vector>

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

wchar_t Lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? c + (L'a' - L'A') : c; }

// Whether `a` and `b` are the same text, in any letter case.
bool SameText(std::wstring_view a, std::wstring_view b) {
  const auto same = [](wchar_t x, wchar_t y) { return Lower(x) == Lower(y); };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), same);
}

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
  return SameText(text.substr(0, prefix.size()), prefix);
}

bool EndsWith(std::wstring_view text, std::wstring_view suffix) {
  return SameText(text.substr(text.size() - std::min(text.size(), suffix.size())), suffix);
}

bool IsLetter(wchar_t c) { return Lower(c) >= L'a' && Lower(c) <= L'z'; }

// The file name in `path`: what follows its last folder separator, or the drive of "X:name", up to
// a colon. A colon after the drive's begins a stream name: "X.e:s" is the stream "s" of "X.e".
std::wstring_view FileName(std::wstring_view path) {
  if (path.size() >= 2 && IsLetter(path[0]) && path[1] == L':') path.remove_prefix(2);
  const std::size_t separator = path.find_last_of(L"\\/");
  if (separator != std::wstring_view::npos) path.remove_prefix(separator + 1);
  return path.substr(0, path.find(L':'));
}

// What comes before the last folder separator of `path`: the folder of a full path.
std::wstring FolderOf(std::wstring_view path) {
  return std::wstring(path.substr(0, path.find_last_of(L"\\/")));
}

bool HasFolder(std::wstring_view path) { return path.find_first_of(L"\\/:") != std::wstring_view::npos; }

// A path that means the same file whatever the current folder and drive: "X:\..." (or "X:/..."),
// and "\\server\share\..." or "\\?\...".
bool IsFullPath(std::wstring_view path) {
  const std::wstring_view drive = path.substr(0, 3);
  return (drive.size() == 3 && IsLetter(drive[0]) && drive[1] == L':' &&
          (drive[2] == L'\\' || drive[2] == L'/')) ||
         path.substr(0, 2) == L"\\\\";
}

// The path with ".exe" after it when its file name has no extension, as the platform reads a
// program's name.
std::wstring WithExtension(std::wstring_view path) {
  std::wstring file(path);
  if (FileName(path).find(L'.') == std::wstring_view::npos) file += L".exe";
  return file;
}

bool IsBatchFile(std::wstring_view path) { return EndsWith(path, L".bat") || EndsWith(path, L".cmd"); }

// Whether `program` with `rest` after it is Ghostscript's own uninstaller of 9.04 and earlier,
// "uninstgs.exe" followed by the path of its install log, "uninstal.txt", alone: quoted, or
// without blanks; if so, `log` is that path. That uninstaller reads its command line itself: the
// program part (quoted, or up to the first blank), then the log path (quoted, or up to the next
// blank), then "-q" for a silent run. Anything else, " /S" included, opens its window and waits
// for a click that never comes.
bool IsOldUninstaller(std::wstring_view program, std::wstring_view rest, std::wstring_view* log) {
  if (!SameText(FileName(program), L"uninstgs.exe")) return false;
  while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
  while (!rest.empty() && IsBlank(rest.back())) rest.remove_suffix(1);
  if (rest.size() >= 2 && rest.front() == L'"' && rest.back() == L'"') {
    rest = rest.substr(1, rest.size() - 2);
  } else if (rest.find_first_of(L" \t") != std::wstring_view::npos) {
    return false;
  }
  if (rest.find(L'"') != std::wstring_view::npos || !SameText(FileName(rest), L"uninstal.txt"))
    return false;
  *log = rest;
  return true;
}

// The folder that holds the system's own programs for an entry of `view`. A 32-bit process on
// 64-bit Windows sees the 32-bit system folder as its own: the 64-bit one is "Sysnative" under the
// Windows folder. A 64-bit process finds the 32-bit one where GetSystemWow64DirectoryW says. On
// 32-bit Windows there is one system folder.
std::wstring ViewSystemFolder(ProcessApi& processes, WindowsKind windows, RegistryView view) {
  if (windows == WindowsKind::Windows64Wow64) {
    if (view == RegistryView::View32) return processes.SystemFolder();
    const std::wstring windowsFolder = processes.WindowsFolder();
    return windowsFolder.empty() ? L"" : windowsFolder + L"\\Sysnative";
  }
  if (view == RegistryView::View32) {
    const std::wstring wow64 = processes.SystemWow64Folder();
    if (!wow64.empty()) return wow64;
  }
  return processes.SystemFolder();
}

// `path` as a program of an entry of `view`: a path under System32 names that view's system
// folder, as it did to the installer that recorded it, where that is not the tool's own.
std::wstring InViewSystemFolder(ProcessApi& processes, WindowsKind windows, RegistryView view,
                                std::wstring path) {
  const std::wstring windowsFolder = processes.WindowsFolder();
  if (windowsFolder.empty()) return path;
  const std::wstring system32 = windowsFolder + L"\\System32\\";
  if (!StartsWith(path, system32)) return path;
  const std::wstring folder = ViewSystemFolder(processes, windows, view);
  if (folder.empty() || SameText(folder, processes.SystemFolder())) return path;
  return folder + L"\\" + path.substr(system32.size());
}

// `path` as a 64-bit program names it. "Sysnative" is an alias that only 32-bit programs see, by
// which the 32-bit tool reaches the 64-bit system folder; to a 64-bit program that folder is
// System32, and Sysnative names nothing.
std::wstring NativeName(ProcessApi& processes, const std::wstring& path) {
  const std::wstring windows = processes.WindowsFolder();
  const std::wstring sysnative = windows + L"\\Sysnative\\";
  if (windows.empty() || !StartsWith(path, sysnative)) return path;
  return windows + L"\\System32\\" + path.substr(sysnative.size());
}

// A name without a folder, in the view's system folder or else the Windows folder.
Status FindInSystemFolders(ProcessApi& processes, WindowsKind windows, RegistryView view,
                           std::wstring_view name, std::wstring* program) {
  const std::wstring file = WithExtension(name);
  for (const std::wstring& folder :
       {ViewSystemFolder(processes, windows, view), processes.WindowsFolder()}) {
    if (folder.empty()) continue;
    const std::wstring path = folder + L"\\" + file;
    if (processes.FileExists(path)) {
      *program = path;
      return kSuccess;
    }
  }
  return kErrorFileNotFound;
}

// A program part named on its own: a bare name from the system folders, a full path as it stands.
Status NamedProgram(ProcessApi& processes, WindowsKind windows, RegistryView view,
                    std::wstring_view text, std::wstring* program) {
  if (text.empty()) return kErrorBadPathname;
  if (!HasFolder(text)) return FindInSystemFolders(processes, windows, view, text, program);
  if (!IsFullPath(text)) return kErrorBadPathname;
  *program = InViewSystemFolder(processes, windows, view, WithExtension(text));
  return kSuccess;
}

// Where the words of `value` end: before each blank that follows a non-blank, and at its end.
std::vector<std::size_t> WordEnds(std::wstring_view value) {
  std::vector<std::size_t> ends;
  for (std::size_t end = 1; end <= value.size(); ++end)
    if ((end == value.size() || IsBlank(value[end])) && !IsBlank(value[end - 1])) ends.push_back(end);
  return ends;
}

// The program of `value` (without leading blanks), and in `rest` what follows it in the value.
Status FindProgram(ProcessApi& processes, WindowsKind windows, RegistryView view,
                   std::wstring_view value, std::wstring* program, std::wstring_view* rest) {
  if (!value.empty() && value[0] == L'"') {
    const std::size_t close = value.find(L'"', 1);
    *rest = close == std::wstring_view::npos ? L"" : value.substr(close + 1);
    return NamedProgram(processes, windows, view, value.substr(1, close - 1), program);
  }
  const std::vector<std::size_t> ends = WordEnds(value);
  // Given the program, the platform does not try the shorter prefixes that end at a blank: the
  // first one that ends in ".exe" is it.
  for (std::size_t end : ends) {
    if (!EndsWith(value.substr(0, end), L".exe")) continue;
    *rest = value.substr(end);
    return NamedProgram(processes, windows, view, value.substr(0, end), program);
  }
  const std::wstring_view firstWord = value.substr(0, value.find_first_of(L" \t"));
  // A bare name, or no full path: the rules for a program named on its own.
  if (!IsFullPath(firstWord)) {
    *rest = value.substr(firstWord.size());
    return NamedProgram(processes, windows, view, firstWord, program);
  }
  // Left to itself, the platform would try each prefix that ends before a blank, then the whole
  // value, with ".exe" added to one without an extension, and run the first that exists: a
  // program planted on a shorter prefix would win. The value names a program only when exactly
  // one of them exists.
  std::size_t found = 0;
  for (std::size_t end : ends) {
    const std::wstring candidate =
        InViewSystemFolder(processes, windows, view, WithExtension(value.substr(0, end)));
    if (!processes.FileExists(candidate)) continue;
    if (++found > 1) return kErrorBadPathname;
    *program = candidate;
    *rest = value.substr(end);
  }
  return found == 1 ? kSuccess : kErrorFileNotFound;
}

}  // namespace

Status ChooseProgram(ProcessApi& processes, WindowsKind windows, RegistryView view,
                     std::wstring_view uninstallString, StartCommand* command) {
  std::wstring_view value = uninstallString;
  while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
  std::wstring program;
  std::wstring_view rest;
  const Status found = FindProgram(processes, windows, view, value, &program, &rest);
  if (found != kSuccess) return found;
  std::wstring commandLine(uninstallString);
  commandLine += L" /S";
  // A program found in the system folders is no installation's own.
  const bool namedInFolder = HasFolder(value.substr(0, value.size() - rest.size()));
  std::wstring folder = namedInFolder ? FolderOf(program) : L"";
  std::wstring_view log;  // the old uninstaller's
  if (IsBatchFile(program)) {
    // A batch file is not a program: the platform documents that it runs in the command
    // interpreter, started as "cmd.exe /c" with the batch file's name. With more than two quotes
    // after /c, cmd drops the first and the last and runs the rest as it stands.
    const std::wstring system = ViewSystemFolder(processes, windows, view);
    if (system.empty()) return kErrorFileNotFound;
    const std::wstring batch = program;
    program = system + L"\\cmd.exe";
    // The tool starts the interpreter by the name it sees; the interpreter reads its command line
    // by the names it sees: a 64-bit one, reached through Sysnative, knows no Sysnative.
    const std::wstring interpreter = NativeName(processes, program);
    const std::wstring script = interpreter != program ? NativeName(processes, batch) : batch;
    commandLine = L"\"" + interpreter + L"\" /c \"\"" + script + L"\"" + std::wstring(rest) + L" /S\"";
  } else if (IsOldUninstaller(program, rest, &log)) {
    // Its program sits in the folder that every version shares, its log in the installation's.
    folder = IsFullPath(log) ? FolderOf(log) : L"";
    // Its silent switch is "-q", right after the log path. Its program part gets quotes, so that
    // it does not take "C:\Program" for the program and what follows for the log.
    const std::wstring recorded(value.substr(0, value.size() - rest.size()));
    commandLine = recorded.front() == L'"' ? recorded : L"\"" + recorded + L"\"";
    commandLine += rest;
    commandLine += L" -q";
  }
  command->program = program;
  command->commandLine = commandLine;
  command->folder = folder;
  return kSuccess;
}

std::vector<std::wstring> InstallationPrograms(ProcessApi& processes, const std::wstring& folder) {
  std::vector<std::wstring> programs;
  std::vector<std::wstring> names;
  if (folder.empty() || processes.ListFiles(folder + L"\\bin", &names) != kSuccess) return programs;
  for (const std::wstring& name : names)
    if (EndsWith(name, L".exe") || EndsWith(name, L".dll")) programs.push_back(folder + L"\\bin\\" + name);
  return programs;
}
