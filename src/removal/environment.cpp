#include "removal/environment.h"

#include <algorithm>
#include <cwctype>

namespace {

// What an environment block is sorted by: a "NAME=value" variable's name, in capitals. The
// platform's "=C:=C:\" (drive C:'s current folder) gives "", which sorts first, as it does.
std::wstring SortKey(std::wstring_view variable) {
  std::wstring key(variable.substr(0, variable.find(L'=')));
  std::transform(key.begin(), key.end(), key.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
  return key;
}

}  // namespace

std::wstring UninstallerEnvironment(ProcessApi& processes) {
  std::wstring folder = processes.TempFolder2();
  if (folder.empty() || folder == processes.TempFolder()) return L"";
  // Written as TEMP is, without its last backslash, but for a drive's root, "X:\".
  if (folder.back() == L'\\' && folder.size() != 3) folder.pop_back();
  // The platform does not check that the folder is there.
  if (!processes.FolderExists(folder)) return L"";
  // The block stays sorted by name, as the platform asks.
  std::vector<std::wstring> variables = processes.Environment();
  for (const std::wstring name : {L"TEMP", L"TMP"}) {
    const auto at = std::find_if(variables.begin(), variables.end(),
                                 [&](const std::wstring& variable) { return SortKey(variable) >= name; });
    const std::wstring variable = name + L"=" + folder;
    if (at != variables.end() && SortKey(*at) == name)
      *at = variable;
    else
      variables.insert(at, variable);
  }
  // Each variable ends in a NUL; the string's own terminator ends the block.
  std::wstring block;
  for (const std::wstring& variable : variables) {
    block += variable;
    block += L'\0';
  }
  return block;
}
