#include <gtest/gtest.h>

#include "fakes.h"
#include "removal/environment.h"

namespace {

// A process running as SYSTEM has C:\Windows\Temp for its temporary folder, where every user may
// create files, and an NSIS uninstaller runs a copy of itself from there: where the platform gives
// SYSTEM a folder of its own (GetTempPath2W), and that folder is there, the uninstaller's TMP and
// TEMP name it, the rest of the environment as the tool's, in order. Anywhere else the uninstaller
// gets the tool's own.
TEST(UninstallerEnvironment, SystemsUninstallerGetsItsOwnTemporaryFolder) {
  using Block = std::vector<std::wstring>;
  const Block system = {L"=C:=C:\\", L"ComSpec=C:\\Windows\\system32\\cmd.exe", L"TEMP=C:\\Windows\\TEMP",
                        L"TMP=C:\\Windows\\TEMP", L"windir=C:\\Windows"};
  struct Case {
    const char* what;
    std::wstring temp;
    std::wstring temp2;  // "": a Windows without GetTempPath2W
    Block environment;
    Block given;  // none: the tool's own environment
  };
  const std::wstring own = L"C:\\Windows\\SystemTemp";
  const std::wstring user = L"C:\\Users\\u\\AppData\\Local\\Temp";
  const Case cases[] = {
      {"SYSTEM", L"C:\\Windows\\TEMP\\", own + L"\\", system,
       {L"=C:=C:\\", L"ComSpec=C:\\Windows\\system32\\cmd.exe", L"TEMP=" + own, L"TMP=" + own,
        L"windir=C:\\Windows"}},
      {"a user", user + L"\\", user + L"\\", system, {}},
      // Sorted by names in capitals: "Tea" before "TEMP", "T_" after "TMP" ("_" follows the capitals).
      {"SYSTEM, names sorted in capitals", L"C:\\Windows\\TEMP\\", own + L"\\",
       {L"Tea=1", L"TMP=C:\\Windows\\TEMP", L"T_=2"}, {L"Tea=1", L"TEMP=" + own, L"TMP=" + own, L"T_=2"}},
      {"a Windows without GetTempPath2W", L"C:\\Windows\\TEMP\\", L"", system, {}},
      // The platform does not check that the folder exists.
      {"SYSTEM, its folder missing", L"C:\\Windows\\TEMP\\", L"C:\\Windows\\Gone\\", system, {}},
      {"SYSTEM, a file by its folder's name", L"C:\\Windows\\TEMP\\", L"C:\\Windows\\File\\", system, {}},
      {"SYSTEM, names in other letter cases", L"C:\\Windows\\TEMP\\", own + L"\\",
       {L"Temp=C:\\Windows\\TEMP", L"tmp=C:\\Windows\\TEMP"}, {L"TEMP=" + own, L"TMP=" + own}},
      {"SYSTEM, neither set: each put in its place", L"C:\\Windows\\TEMP\\", own + L"\\",
       {L"=C:=C:\\", L"TEMPLATE=x", L"TIME=y", L"windir=C:\\Windows"},
       {L"=C:=C:\\", L"TEMP=" + own, L"TEMPLATE=x", L"TIME=y", L"TMP=" + own, L"windir=C:\\Windows"}},
      {"SYSTEM, an empty environment", L"C:\\Windows\\TEMP\\", own + L"\\", {},
       {L"TEMP=" + own, L"TMP=" + own}},
      // A drive's root keeps its backslash.
      {"SYSTEM, the folder a drive's root", L"C:\\Windows\\TEMP\\", L"T:\\", {L"TEMP=C:\\Windows\\TEMP"},
       {L"TEMP=T:\\", L"TMP=T:\\"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeProcesses processes;
    processes.tempFolder = c.temp;
    processes.tempFolder2 = c.temp2;
    processes.environment = c.environment;
    // Every folder named is there but "Gone" (and "File", a file): a user's too, whose environment
    // stays the tool's all the same.
    for (const std::wstring& folder : {own, std::wstring(L"T:\\"), user}) processes.folders[folder] = {};
    processes.files = {L"C:\\Windows\\File"};
    std::wstring expected;
    for (const std::wstring& variable : c.given) expected += variable + L'\0';
    EXPECT_EQ(UninstallerEnvironment(processes), expected);
  }
}

}  // namespace
