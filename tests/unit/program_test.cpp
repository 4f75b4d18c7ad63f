#include <gtest/gtest.h>

#include <optional>

#include "fakes.h"
#include "removal/launch.h"
#include "removal/program.h"

namespace {

const wchar_t kEntryName[] = L"GPL Ghostscript u";

// The machine the tool runs on, as the process API describes it, and the view of the entry.
struct Machine {
  const char* what;
  RegistryView view;
  WindowsKind windows;
  const wchar_t* systemWow64Folder;
  const wchar_t* systemFolder = L"C:\\Windows\\system32";  // "": the platform does not say
};

struct ProgramCase {
  std::wstring value;
  std::set<std::wstring> files;  // what exists on the fake machine
  std::wstring program;          // handed to the start
  Status status = kSuccess;      // nonzero: nothing starts
  std::wstring commandLine;      // "": the value followed by " /S"
  std::optional<std::wstring> folder;  // the installation's folder; none: not checked
};

// Launches each value for an entry of the machine's view and checks what starts, if anything.
void ExpectPrograms(const Machine& machine, const std::vector<ProgramCase>& cases) {
  SCOPED_TRACE(machine.what);
  for (const ProgramCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.value));
    FakeProcesses processes;
    processes.files = c.files;
    processes.systemWow64Folder = machine.systemWow64Folder;
    processes.systemFolder = machine.systemFolder;
    // A program in use in a bin folder that no installation's folder names: it holds nothing back.
    processes.folders[L"\\bin"] = {L"gsdll.dll"};
    processes.openFailures[L"\\bin\\gsdll.dll"] = {};
    FakeRegistry registry;
    EXPECT_EQ(RunUninstaller(processes, machine.windows, {registry, machine.view, kEntryName}, c.value, 1000),
              c.status);
    if (c.status != kSuccess) {
      EXPECT_TRUE(processes.commands.empty());
      continue;
    }
    EXPECT_EQ(processes.applications, std::vector<std::wstring>{c.program});
    const std::wstring commandLine = c.commandLine.empty() ? c.value + L" /S" : c.commandLine;
    EXPECT_EQ(processes.commands, std::vector<std::wstring>{commandLine});
    StartCommand command;
    if (c.folder && ChooseProgram(processes, machine.windows, machine.view, c.value, &command) == kSuccess) {
      EXPECT_EQ(command.folder, *c.folder);
    }
  }
}

// The program that starts is the one the value names, found only where it says: an unquoted path
// is never cut short at a blank, a path without ".exe" runs only when one program fits it, a bare
// name comes only from the system or Windows folder, and nothing is looked for in the current
// folder. Whatever runs gets the recorded value followed by " /S" as its command line (a batch
// file through the command interpreter), but for the old Ghostscript uninstaller, whose silent
// switch is " -q" after its log, and whose program part must be quoted for it to read the log.
TEST(ChooseProgram, RunsOnlyTheProgramTheValueNames) {
  const std::wstring real = L"C:\\Tools\\My Apps\\uninst.exe";
  const std::wstring planted = L"C:\\Tools\\My.exe";
  const std::wstring gs = L"C:\\Program Files\\gs\\uninstgs.exe";
  const std::wstring msiexec = L"C:\\Windows\\system32\\MsiExec.exe";
  const std::wstring cmd = L"C:\\Windows\\system32\\cmd.exe";
  const std::wstring batch = L"C:\\Tools\\My Apps\\uninst.bat";
  // Ghostscript's own uninstaller of 9.04 and earlier, and the paths of its logs.
  const std::wstring quotedGs = L"\"" + gs + L"\"";
  const std::wstring gsOld = L"C:\\gs\\uninstgs.exe";
  const std::wstring log864 = L"\"C:\\Program Files\\gs\\gs8.64\\uninstal.txt\"";
  const std::wstring log904 = L"\"C:\\Program Files\\gs\\gs9.04\\uninstal.txt\"";
  ExpectPrograms({"32-bit Windows", RegistryView::View64, WindowsKind::Windows32, L""}, {
      {L"\"C:\\Program Files\\gs\\uninstgs.exe\" /x", {}, gs, kSuccess, L"", L"C:\\Program Files\\gs"},
      {L"\"C:\\Program Files\\gs\\uninstgs\" /x", {}, gs},  // the platform adds ".exe" too
      {L"C:\\Tools\\My Apps\\uninst.exe REAL 0 0", {real, planted}, real},
      {L"C:\\Tools\\My Apps\\uninst.exe", {planted}, real},  // missing: the start fails
      {L"\t C:\\Tools\\My Apps\\uninst.exe", {real, planted}, real},
      // 8.70 and earlier, then 8.71 to 9.04: their own uninstaller, whose silent switch is "-q".
      {gs + L" " + log864, {gs, L"C:\\Program.exe"}, gs, kSuccess, quotedGs + L" " + log864 + L" -q",
       L"C:\\Program Files\\gs\\gs8.64"},
      {quotedGs + L" " + log904, {}, gs, kSuccess, quotedGs + L" " + log904 + L" -q"},
      {L" " + gsOld + L" C:\\gs\\gs8.64\\uninstal.txt", {}, gsOld, kSuccess,
       L"\"" + gsOld + L"\" C:\\gs\\gs8.64\\uninstal.txt -q", L"C:\\gs\\gs8.64"},
      {L"C:\\GS\\UninstGS.EXE\t\"C:\\GS\\GS8.54\\UNINSTAL.TXT\" ", {}, L"C:\\GS\\UninstGS.EXE",
       kSuccess, L"\"C:\\GS\\UninstGS.EXE\"\t\"C:\\GS\\GS8.54\\UNINSTAL.TXT\"  -q"},
      {L"C:\\Program Files\\gs\\uninstgs " + log864, {gs}, gs, kSuccess,
       L"\"C:\\Program Files\\gs\\uninstgs\" " + log864 + L" -q"},
      // A log that is no full path gives no installation folder; the silent switch stays.
      {gsOld + L" uninstal.txt", {}, gsOld, kSuccess, L"\"" + gsOld + L"\" uninstal.txt -q", L""},
      {gsOld + L" C:uninstal.txt", {}, gsOld, kSuccess, L"\"" + gsOld + L"\" C:uninstal.txt -q", L""},
      // Anything else keeps " /S": an NSIS uninstgs.exe, another argument, another file name.
      {L"\"C:\\gs\\gs10.06.0\\uninstgs.exe\"", {}, L"C:\\gs\\gs10.06.0\\uninstgs.exe", kSuccess, L"",
       L"C:\\gs\\gs10.06.0"},
      {gsOld + L" C:\\gs\\uninstal.txt -q", {}, gsOld},
      {gsOld + L" C:\\gs\\uninstall.txt", {}, gsOld},
      {gsOld + L" C:\\gs\\myuninstal.txt", {}, gsOld},
      {L"C:\\gs\\myuninstgs.exe C:\\gs\\uninstal.txt", {}, L"C:\\gs\\myuninstgs.exe"},
      {gsOld + L" C:\\gs\\my\"log\\uninstal.txt", {}, gsOld},
      {gsOld + L" C:\\gs\\uninstal.txt\"", {}, gsOld},
      {gsOld + L" C:\\gs\\my logs\\uninstal.txt", {}, gsOld},
      {L"C:\\Tools\\My Apps\\UNINST.Exe\t/x", {}, L"C:\\Tools\\My Apps\\UNINST.Exe"},
      {L"C:\\My.exe Apps\\uninst.exe", {}, L"C:\\My.exe"},  // the first prefix
      {L"C:\\a b\\setup.exe.bak\\u.exe /x", {}, L"C:\\a b\\setup.exe.bak\\u.exe"},
      {L"\\\\server\\share\\gs\\u.exe /x", {}, L"\\\\server\\share\\gs\\u.exe"},
      {L"\\\\?\\C:\\gs\\u.exe", {}, L"\\\\?\\C:\\gs\\u.exe"},
      {L"C:/gs/u.exe /x", {}, L"C:/gs/u.exe"},
      // Drive letters at both ends of the alphabet, in either case; "{" follows "z".
      {L"Z:\\gs\\uninstgs.exe /x", {}, L"Z:\\gs\\uninstgs.exe"},
      {L"z:\\gs\\u.exe", {}, L"z:\\gs\\u.exe"},
      {L"A:\\gs\\u.exe", {}, L"A:\\gs\\u.exe"},
      {L"a:\\gs\\u.exe", {}, L"a:\\gs\\u.exe"},
      {L"{:\\gs\\u.exe", {}, L"", kErrorBadPathname},
      // "exe" that is not ".exe" does not end the program; one-character words are words.
      {L"C:\\Tools\\Myexe Apps\\u.exe /x", {}, L"C:\\Tools\\Myexe Apps\\u.exe"},
      {L"C:\\Tools\\u x", {L"C:\\Tools\\u.exe"}, L"C:\\Tools\\u.exe"},
      {L"a /x", {L"C:\\Windows\\system32\\a.exe"}, L"C:\\Windows\\system32\\a.exe"},
      // Without ".exe" before a blank: the one candidate that exists, of those the platform
      // would try (C:\Tools\My.exe, C:\Tools\My Apps\uninst.exe, ...).
      {L"C:\\Tools\\My Apps\\uninst /x", {real}, real, kSuccess, L"", L"C:\\Tools\\My Apps"},
      {L"C:\\Tools\\My Apps\\uninst /x", {}, L"", kErrorFileNotFound},
      {L"C:\\Tools\\My Apps\\uninst /x", {real, planted}, L"", kErrorBadPathname},
      // With the real program gone, the one candidate left is run: nothing tells them apart.
      {L"C:\\Tools\\My Apps\\uninst /x", {planted}, planted},
      {L"C:\\gs\\uninst", {L"C:\\gs\\uninst.exe"}, L"C:\\gs\\uninst.exe"},
      // A batch file runs in the command interpreter, its path quoted, the arguments after it.
      {L"C:\\Tools\\My Apps\\uninst.bat /x", {batch}, cmd, kSuccess,
       L"\"" + cmd + L"\" /c \"\"" + batch + L"\" /x /S\"", L"C:\\Tools\\My Apps"},
      {L"C:\\Tools\\My Apps\\uninst.bat /x", {batch, planted}, L"", kErrorBadPathname},
      {L"\"C:\\Tools\\My Apps\\Uninst.CMD\" \"a b\"", {}, cmd, kSuccess,
       L"\"" + cmd + L"\" /c \"\"C:\\Tools\\My Apps\\Uninst.CMD\" \"a b\" /S\""},
      {L"cleanup.bat /x", {L"C:\\Windows\\cleanup.bat"}, cmd, kSuccess,
       L"\"" + cmd + L"\" /c \"\"C:\\Windows\\cleanup.bat\" /x /S\"", L""},
      {L"C:\\Tools\\UNINST.BAT /x", {L"C:\\Tools\\UNINST.BAT"}, cmd, kSuccess,
       L"\"" + cmd + L"\" /c \"\"C:\\Tools\\UNINST.BAT\" /x /S\""},
      // Bare names: the system folder, then the Windows folder, and nowhere else.
      {L"MsiExec.exe /X{0000-1111}", {msiexec, L"C:\\Windows\\MsiExec.exe"}, msiexec, kSuccess, L"", L""},
      {L"notepad.exe", {L"C:\\Windows\\notepad.exe"}, L"C:\\Windows\\notepad.exe"},
      {L"\"MsiExec.exe\" /x", {msiexec}, msiexec, kSuccess, L"", L""},
      // A colon after the drive's begins a stream name: the file name, and its extension, end
      // before it (two values that fuzzing found read otherwise).
      {L"\"z:\\p\\X.e:  s", {}, L"z:\\p\\X.e:  s", kSuccess, L"", L"z:\\p"},
      {L"\"C:\\gs\\u:s.e\"", {}, L"C:\\gs\\u:s.e.exe", kSuccess, L"", L"C:\\gs"},
      {L"C:\\gs\\uninstgs.exez:h", {L"C:\\gs\\uninstgs.exez:h"}, L"C:\\gs\\uninstgs.exez:h"},
      {L"\"C:\\gs\\uninstgs.exe:s\" C:\\gs\\gs8.64\\uninstal.txt:t", {}, L"C:\\gs\\uninstgs.exe:s", kSuccess,
       L"\"C:\\gs\\uninstgs.exe:s\" C:\\gs\\gs8.64\\uninstal.txt:t -q", L"C:\\gs\\gs8.64"},
      {L"msiexec /x", {L"C:\\Windows\\system32\\msiexec.exe"}, L"C:\\Windows\\system32\\msiexec.exe"},
      {L"bareuninst.exe /x", {L"C:\\gs-uninstall\\bareuninst.exe"}, L"", kErrorFileNotFound},
      {L"My Uninstaller.exe /x", {}, L"", kErrorFileNotFound},
      // Neither a bare name nor a full path: it would be looked for in the current folder.
      {L"gs\\uninst.exe /x", {L"gs\\uninst.exe"}, L"", kErrorBadPathname},
      {L"sub\\uninst /x", {}, L"", kErrorBadPathname},
      {L".\\u.exe", {}, L"", kErrorBadPathname},
      {L"..\\gs\\u.exe", {}, L"", kErrorBadPathname},
      {L"cmd /c C:\\gs\\u.exe", {}, L"", kErrorBadPathname},
      {L"\"sub dir\\u.exe\" /x", {}, L"", kErrorBadPathname},
      {L"C:u.exe", {}, L"", kErrorBadPathname},
      {L"\\Tools\\u.exe", {}, L"", kErrorBadPathname},
      {L"%ProgramFiles%\\gs\\uninstgs.exe", {}, L"", kErrorBadPathname},
      {L"", {}, L"", kErrorBadPathname},
      {L"  \t", {}, L"", kErrorBadPathname},
      {L"\"\" /x", {}, L"", kErrorBadPathname},
      {L"\"\"", {}, L"", kErrorBadPathname},
  });

  // A 32-bit process on 64-bit Windows: its own system folder is the 32-bit one. A 64-bit entry's
  // programs are in the 64-bit one, which it reaches as Sysnative.
  const std::wstring sysnative = L"C:\\Windows\\Sysnative";
  const Machine wow64 = {"32-bit product on 64-bit Windows, 64-bit view", RegistryView::View64,
                         WindowsKind::Windows64Wow64,
                         L"C:\\Windows\\SysWOW64"};
  ExpectPrograms(wow64, {
      {L"C:\\Windows\\System32\\gsu64.exe /x", {}, sysnative + L"\\gsu64.exe"},
      {L"c:\\WINDOWS\\system32\\sub\\gsu64.exe", {}, sysnative + L"\\sub\\gsu64.exe"},
      {L"\"C:\\Windows\\System32\\gsu64.exe\"", {}, sysnative + L"\\gsu64.exe"},
      {L"C:\\Windows\\System32\\My Tool\\u /x", {sysnative + L"\\My Tool\\u.exe"},
       sysnative + L"\\My Tool\\u.exe"},
      {L"C:\\Windows\\SysWOW64\\gsu32.exe", {}, L"C:\\Windows\\SysWOW64\\gsu32.exe"},
      {L"C:\\Windows\\System32x\\u.exe", {}, L"C:\\Windows\\System32x\\u.exe"},
      {L"D:\\Windows\\System32\\u.exe", {}, L"D:\\Windows\\System32\\u.exe"},
      // Its own uninstaller, recorded under System32 by a 64-bit setup: the 64-bit program runs,
      // with the command line as recorded.
      {L"C:\\Windows\\System32\\uninstgs.exe C:\\gs\\uninstal.txt", {}, sysnative + L"\\uninstgs.exe",
       kSuccess, L"\"C:\\Windows\\System32\\uninstgs.exe\" C:\\gs\\uninstal.txt -q"},
      {L"rundll32 gs.dll,Uninstall", {sysnative + L"\\rundll32.exe", L"C:\\Windows\\system32\\rundll32.exe"},
       sysnative + L"\\rundll32.exe"},
      {L"notepad.exe", {L"C:\\Windows\\notepad.exe"}, L"C:\\Windows\\notepad.exe"},
      {L"gsu64.exe", {L"C:\\Windows\\system32\\gsu64.exe"}, L"", kErrorFileNotFound},
      // The 64-bit interpreter is started through Sysnative, but reads its command line as a
      // 64-bit program, to which that alias names nothing: there, both are under System32.
      {L"C:\\Tools\\u.cmd", {L"C:\\Tools\\u.cmd"}, sysnative + L"\\cmd.exe", kSuccess,
       L"\"C:\\Windows\\System32\\cmd.exe\" /c \"\"C:\\Tools\\u.cmd\" /S\""},
      {L"C:\\Windows\\System32\\gsu.bat", {sysnative + L"\\gsu.bat"}, sysnative + L"\\cmd.exe",
       kSuccess, L"\"C:\\Windows\\System32\\cmd.exe\" /c \"\"C:\\Windows\\System32\\gsu.bat\" /S\""},
      {L"gsu.bat /x", {sysnative + L"\\gsu.bat"}, sysnative + L"\\cmd.exe", kSuccess,
       L"\"C:\\Windows\\System32\\cmd.exe\" /c \"\"C:\\Windows\\System32\\gsu.bat\" /x /S\""},
      // A path through Sysnative in the value itself means nothing to it either.
      {L"\"C:\\Windows\\Sysnative\\sub\\gsu.cmd\"", {}, sysnative + L"\\cmd.exe", kSuccess,
       L"\"C:\\Windows\\System32\\cmd.exe\" /c \"\"C:\\Windows\\System32\\sub\\gsu.cmd\" /S\""},
      // Sysnative must begin the path, as a whole folder name.
      {L"C:\\Tools\\Windows\\Sysnative\\u.cmd", {L"C:\\Tools\\Windows\\Sysnative\\u.cmd"},
       sysnative + L"\\cmd.exe", kSuccess,
       L"\"C:\\Windows\\System32\\cmd.exe\" /c \"\"C:\\Tools\\Windows\\Sysnative\\u.cmd\" /S\""},
      {L"\"C:\\Windows\\Sysnativex\\u.cmd\"", {}, sysnative + L"\\cmd.exe", kSuccess,
       L"\"C:\\Windows\\System32\\cmd.exe\" /c \"\"C:\\Windows\\Sysnativex\\u.cmd\" /S\""},
  });
  ExpectPrograms({"32-bit product on 64-bit Windows, 32-bit view", RegistryView::View32,
                  WindowsKind::Windows64Wow64,
                  L"C:\\Windows\\SysWOW64"}, {
      {L"C:\\Windows\\System32\\gsu32.exe /x", {}, L"C:\\Windows\\System32\\gsu32.exe"},
      {L"gsu32.exe", {L"C:\\Windows\\system32\\gsu32.exe"}, L"C:\\Windows\\system32\\gsu32.exe"},
      // The 32-bit interpreter sees Sysnative as the tool does.
      {L"C:\\Windows\\Sysnative\\gsu.bat", {L"C:\\Windows\\Sysnative\\gsu.bat"},
       L"C:\\Windows\\system32\\cmd.exe", kSuccess,
       L"\"C:\\Windows\\system32\\cmd.exe\" /c \"\"C:\\Windows\\Sysnative\\gsu.bat\" /S\""},
  });
  // A 64-bit process: a 32-bit entry's programs are in the 32-bit system folder.
  ExpectPrograms({"x86-64 build, 32-bit view", RegistryView::View32, WindowsKind::Windows64,
                  L"C:\\Windows\\SysWOW64"}, {
      {L"C:\\Windows\\System32\\gsu32.exe /x", {}, L"C:\\Windows\\SysWOW64\\gsu32.exe"},
      {L"gsu32.exe", {L"C:\\Windows\\SysWOW64\\gsu32.exe", L"C:\\Windows\\system32\\gsu32.exe"},
       L"C:\\Windows\\SysWOW64\\gsu32.exe"},
      {L"C:\\Tools\\u.bat", {L"C:\\Tools\\u.bat"}, L"C:\\Windows\\SysWOW64\\cmd.exe", kSuccess,
       L"\"C:\\Windows\\SysWOW64\\cmd.exe\" /c \"\"C:\\Tools\\u.bat\" /S\""},
  });
  // A batch file needs the command interpreter of a system folder that the platform names.
  ExpectPrograms({"no system folder known", RegistryView::View64, WindowsKind::Windows64, L"", L""}, {
      {L"C:\\Tools\\u.bat", {L"C:\\Tools\\u.bat"}, L"", kErrorFileNotFound},
      {L"C:\\Tools\\u.exe", {}, L"C:\\Tools\\u.exe"},
  });
  ExpectPrograms({"x86-64 build, 64-bit view", RegistryView::View64, WindowsKind::Windows64,
                  L"C:\\Windows\\SysWOW64"}, {
      {L"C:\\Windows\\System32\\gsu64.exe /x", {}, L"C:\\Windows\\System32\\gsu64.exe"},
      {L"gsu64.exe", {L"C:\\Windows\\SysWOW64\\gsu64.exe", L"C:\\Windows\\system32\\gsu64.exe"},
       L"C:\\Windows\\system32\\gsu64.exe"},
  });
}

// A bare name is looked for in the view's system folder, then the Windows folder, and nowhere
// else; a folder the platform does not give is not looked in.
TEST(ChooseProgram, LooksForABareNameInTheSystemFoldersAlone) {
  struct Case {
    WindowsKind windows;
    const wchar_t* systemFolder;
    std::vector<std::wstring> checks;
  };
  const Case cases[] = {
      {WindowsKind::Windows64, L"", {L"C:\\Windows\\bare.exe"}},
      {WindowsKind::Windows64, L"C:\\Windows\\system32", {L"C:\\Windows\\system32\\bare.exe", L"C:\\Windows\\bare.exe"}},
      {WindowsKind::Windows64Wow64, L"C:\\Windows\\system32", {L"C:\\Windows\\Sysnative\\bare.exe", L"C:\\Windows\\bare.exe"}},
  };
  for (const Case& c : cases) {
    FakeProcesses processes;
    processes.files.emplace();
    processes.systemFolder = c.systemFolder;
    StartCommand command;
    EXPECT_EQ(ChooseProgram(processes, c.windows, RegistryView::View64, L"bare /x", &command), kErrorFileNotFound);
    EXPECT_EQ(processes.fileChecks, c.checks);
  }
}

}  // namespace
