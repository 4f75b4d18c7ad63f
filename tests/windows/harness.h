#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "console.h"
#include "discovery/registry.h"
#include "removal/process_api.h"

// The folder of the running test program; the tool and the fixture uninstaller are built beside it.
std::wstring BuildDir();

// `path` in double quotes.
std::wstring Quoted(const std::wstring& path);

// The fixture uninstaller's quoted path followed by `arguments`.
std::wstring FixtureCommand(const std::wstring& arguments);

// The error code of a start that CreateProcessW itself refuses, or 0 if it starts; `application`
// is the program to start, or "" to leave it to the command line.
DWORD StartError(const std::wstring& commandLine, const std::wstring& application = L"");

// A fixture uninstaller that records its start in `record`, deletes its own entry `name` in
// `view`, and exits with `exitCode`; `extra` holds more fixture arguments.
std::wstring SelfRemovingUninstaller(const std::wstring& record, RegistryView view,
                                     const std::wstring& name, DWORD exitCode = 0,
                                     const std::wstring& extra = L"");

// `text` as narrow characters (for ASCII text).
std::string Narrow(const std::wstring& text);

// Checks that the process whose id is on the first line of `record` that starts with `tag` is
// still running, then ends it.
void ExpectStillRunningAndEnd(const std::wstring& record, const std::string& tag = "pid=");

// A fresh file name in the temporary folder; the file does not exist.
std::wstring ScratchFile(const wchar_t* stem);

// The whole contents of a file, or "" when it does not exist.
std::string ReadFile(const std::wstring& path);

// The lines of a fixture's record file that start with `tag`, without the tag, in order.
std::vector<std::string> RecordedLines(const std::wstring& record, const std::string& tag);

struct ProcessResult {
  std::string output;  // standard output, byte for byte
  std::string errors;  // standard error
  DWORD exitCode = 0;  // all 32 bits
};

// Runs `commandLine` in `directory` (the test's own when null) with standard output and standard
// error sent to files, waits for it to end, at most `timeoutMs` (after which it fails the test and
// ends the process), and returns what it wrote and its exit code.
ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs = 120000,
                         const wchar_t* directory = nullptr);

// Runs gs-uninstall.exe with `arguments`.
ProcessResult RunTool(const std::wstring& arguments, DWORD timeoutMs = 120000);

// Runs gs-uninstall.exe with `arguments`, its standard output read through a pipe as it comes:
// `onLine` sees each line (without its line end) as soon as the tool has written it out.
ProcessResult RunToolStreaming(const std::wstring& arguments,
                               const std::function<void(const std::string&)>& onLine);

// Standard output of the tool's code run in this process, as text; `onLine` (when set) sees each
// line as it is written, without its line end.
class CapturedConsole final : public Console {
 public:
  std::string text;
  std::function<void(const std::string&)> onLine;
  void Write(std::string_view message) override;
  void Flush() override {}
};

struct InProcessResult {
  std::string output;  // the lines, ending in "\n"
  Status status = kSuccess;
};

// Runs the tool's own code in this process, with `argument` (none when null), against `registry`
// (the real one unless given) and `processes` (a test may take a call's place in either), with the
// wait for each uninstaller cut to `waitMs`; `onLine` sees each line as it is written.
InProcessResult RunToolInProcess(ProcessApi& processes, std::uint32_t waitMs,
                                 const wchar_t* argument = nullptr,
                                 const std::function<void(const std::string&)>& onLine = {});
InProcessResult RunToolInProcess(RegistryApi& registry, ProcessApi& processes,
                                 std::uint32_t waitMs, const wchar_t* argument = nullptr,
                                 const std::function<void(const std::string&)>& onLine = {});

// Owns a process started for a test, and ends it when it goes out of scope.
class RunningProgram {
 public:
  explicit RunningProgram(std::wstring commandLine);
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;
  ~RunningProgram() { End(); }
  // Waits on what the program, a fixture started with --record `record`, says: until its record
  // holds a line that starts with `tag`, or it has ended. A busy machine may take long to start it;
  // only a bound far beyond any start ends the wait without its word. Returns what it said, for a
  // failure to name.
  std::string AwaitRecord(const std::wstring& record, const std::string& tag);
  // Ends it at once, as a crash would, and waits until it has ended.
  void End();

 private:
  HANDLE process_ = nullptr;
};

// Copies of the fixture uninstaller (or another program) at the paths a test names, and folders
// and files for them, removed again at its end.
class PlantedPrograms {
 public:
  PlantedPrograms() = default;
  PlantedPrograms(const PlantedPrograms&) = delete;
  PlantedPrograms& operator=(const PlantedPrograms&) = delete;
  ~PlantedPrograms();
  void Folder(const std::wstring& path);
  void Program(const std::wstring& path,
               const std::wstring& source = BuildDir() + L"\\fixture_uninstaller.exe");
  void File(const std::wstring& path, const std::string& text);

 private:
  std::vector<std::wstring> files_;
  std::vector<std::wstring> folders_;
};

// A string value of an entry, or "" when it is missing.
std::wstring EntryValue(RegistryView view, const std::wstring& name, const wchar_t* value);

// Writes and removes Uninstall entries in the test prefix's registry, and removes what it wrote
// when it goes out of scope.
class UninstallEntries {
 public:
  UninstallEntries();  // starts from Uninstall keys that hold no Ghostscript entry
  ~UninstallEntries();
  UninstallEntries(const UninstallEntries&) = delete;
  UninstallEntries& operator=(const UninstallEntries&) = delete;

  // Creates the entry `name` with the string value UninstallString (when `uninstall` is given).
  void Add(RegistryView view, const std::wstring& name, const std::wstring& uninstall);
  // Creates the entry `name` with UninstallString holding exactly `bytes`, of registry type `type`.
  void AddRaw(RegistryView view, const std::wstring& name, DWORD type, const std::string& bytes);
  // Whether the entry `name` exists.
  static bool Exists(RegistryView view, const std::wstring& name);
  // Deletes the Uninstall key of `view` with everything under it.
  void DeleteUninstallKey(RegistryView view);
  // Deletes the Uninstall key of `view` and makes it anew with the class name `className`.
  void RecreateUninstallKey(RegistryView view, const std::wstring& className);

 private:
  static void RemoveGhostscriptEntries();
  std::vector<std::pair<RegistryView, std::wstring>> added_;
};

// 0x100 (KEY_WOW64_64KEY) or 0x200 (KEY_WOW64_32KEY).
REGSAM ViewFlag(RegistryView view);
