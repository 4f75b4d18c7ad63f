// A stand-in for the uninstaller of GPL Ghostscript 9.04 and earlier, "uninstgs.exe LOG", for the
// tests. Like that uninstaller it reads its command line itself, not through the C runtime: the
// program part (a quoted string, or up to the first blank), then, after blanks, the path of its
// install log (a quoted string, or up to the next blank), then, after blanks, "-q" for a silent
// run. Anything else is not silent: it would show its window (or, for an error, a message box) and
// wait for a click. This one opens no window and waits an hour, far longer than any test.
// Silent, it deletes what its log lists, then the log, then its own Uninstall entry, and exits with
// 0; a log it cannot open makes it exit with 1. Its log, as the tests write it, is ANSI text with
// one item a line: "file PATH", and last "entry 64|32 NAME", its Uninstall entry in that view.
// It appends "cmd=<its command line>" and "pid=<its process id>" to record.txt beside itself, and
// "exit=<its exit code>" before it exits.
#include <windows.h>

#include <string>

namespace {

std::wstring Beside(const wchar_t* file) {
  wchar_t self[MAX_PATH] = {};
  const std::wstring path(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
  return path.substr(0, path.find_last_of(L'\\') + 1) + file;
}

void Record(const std::string& line) {
  HANDLE file = CreateFileW(Beside(L"record.txt").c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

[[noreturn]] void Exit(UINT code) {
  Record("exit=" + std::to_string(code) + "\n");
  ExitProcess(code);
}

// The next item of the command line at `at`, after blanks: a quoted string without its quotes,
// or the text up to the next blank.
std::wstring NextItem(const wchar_t*& at) {
  while (*at == L' ' || *at == L'\t') ++at;
  const wchar_t* start = at;
  if (*at == L'"') {
    start = ++at;
    while (*at != L'\0' && *at != L'"') ++at;
    const std::wstring item(start, at);
    if (*at == L'"') ++at;
    return item;
  }
  while (*at != L'\0' && *at != L' ' && *at != L'\t') ++at;
  return std::wstring(start, at);
}

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                  wide.data(), static_cast<int>(wide.size())));
  return wide;
}

}  // namespace

int main() {
  const wchar_t* line = GetCommandLineW();
  std::string narrow;
  for (const wchar_t* c = line; *c != L'\0'; ++c) narrow.push_back(static_cast<char>(*c));
  Record("cmd=" + narrow + "\npid=" + std::to_string(GetCurrentProcessId()) + "\n");

  NextItem(line);  // the program
  const std::wstring log = NextItem(line);
  while (*line == L' ' || *line == L'\t') ++line;
  if (line[0] != L'-' || line[1] != L'q') {
    Sleep(3600000);  // its window, waiting for a click
    Exit(2);
  }

  HANDLE file = CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) Exit(1);
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) text.append(buffer, read);
  CloseHandle(file);

  std::wstring entry;
  REGSAM view = 0;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find_first_of("\r\n", at);
    if (end == std::string::npos) end = text.size();
    const std::wstring item = Wide(text.substr(at, end - at));
    at = end + 1;
    if (item.rfind(L"file ", 0) == 0) DeleteFileW(item.substr(5).c_str());
    if (item.rfind(L"entry ", 0) == 0 && item.size() > 9) {
      view = item.compare(6, 2, L"64") == 0 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
      entry = item.substr(9);
    }
  }
  DeleteFileW(log.c_str());
  if (!entry.empty()) {
    const std::wstring key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + entry;
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), view, 0);
  }
  Exit(0);
}
