// Whole runs of the tool, detect and remove, over a registry and uninstallers made from the fuzz
// input: subkey names of any length and content, values of any bytes, and every status the
// platform can give. Beyond "no crash" under the sanitizers, it checks what an administrator
// relies on: each command run is a recorded value followed by " /S" (a batch file's through the
// command interpreter), started as the program that value names (worked out here on its own, not
// with the tool's code); each line is one of the
// tool's messages naming a subkey the registry held; detection lines come in enumeration order,
// the 64-bit view first, before any removal line; 0 means no failure and -1 nothing found; no
// uninstaller starts while a program of its installation is in use (or refused its test, and
// could not be told free), and no "is uninstalled" line is written while one of them is left;
// where both views are one registry and Windows says so (by IsWow64Process2's native machine, or
// IsWow64Process), no installation gets two removal lines.
#include <fuzzer/FuzzedDataProvider.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "discovery/detection.h"
#include "discovery/entry_scan.h"
#include "driver.h"
#include "fakes.h"
#include "removal/launch.h"

namespace {

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "broken: %s\n", what);
  std::abort();
}

Status MaybeFailure(FuzzedDataProvider& in) {
  static const Status kFailures[] = {kErrorFileNotFound, kErrorAccessDenied, kErrorMoreData,
                                     259, 1018, 6, static_cast<Status>(0x80000005)};
  const auto pick = in.ConsumeIntegral<std::uint8_t>();
  return pick < 192 ? kSuccess : kFailures[pick % 7];
}

// Characters that matter: the marker's, other letter cases, Latin-1 up to U+00FF, beyond it,
// surrogates (paired and lone, at the edges of both ranges), quotes, slashes, colons, the letters
// at both ends of the alphabet and "{" after them, spaces and tabs; and whole pieces: ".exe" in
// any letter case, batch files' extensions, drive letters, a folder ending in "exe", the old
// Ghostscript uninstaller and its log. In a name also a line feed and a NUL (a value's NUL ends
// it, and comes in on purpose below).
std::wstring Text(FuzzedDataProvider& in, std::size_t maxLength, bool name = false) {
  static const wchar_t kNameAlphabet[] =
      L"\n\0GPL hostcriptgp\u00e9\u00ff\u0100\u4e2d\xD83D\xDE00\xD800\xDBFF\xDC00\xDFFF\"\\/ {}S.eExX:\tAZaz";
  const wchar_t* const kAlphabet = name ? kNameAlphabet : kNameAlphabet + 2;
  const std::size_t alphabetSize = sizeof(kNameAlphabet) / sizeof(wchar_t) - (name ? 1 : 3);
  std::wstring text;
  const std::size_t length = in.ConsumeIntegralInRange<std::size_t>(0, maxLength);
  for (std::size_t i = 0; i < length && in.remaining_bytes() > 0; ++i) {
    const auto pick = in.ConsumeIntegral<std::uint8_t>();
    if (pick == 255 && i + 15 <= maxLength) {
      text += kProductMarker;
      i += 14;
    } else if (pick == 254 && i + 4 <= maxLength) {
      text += L".exe";
      i += 3;
    } else if (pick >= 240 && pick <= 253) {
      static const wchar_t* const kChunks[] = {
          L"\\\\srv\\", L"C:\\Windows\\System32\\", L".CMD", L".bat", L".BAT", L"A:\\", L"z:\\",
          L"Z:\\", L"Myexe ", L"uninstgs.exe", L"\\uninstal.txt", L"UNINSTAL.TXT",
          L"C:\\Program Files\\gs\\uninstgs.exe \"C:\\Program Files\\gs\\gs8.64\\uninstal.txt\"",
          L"D:\\Windows\\System32\\"};
      const std::wstring chunk = kChunks[pick - 240];
      if (i + chunk.size() > maxLength) continue;
      text += chunk;
      i += chunk.size() - 1;
    } else {
      text.push_back(kAlphabet[pick % alphabetSize]);
    }
  }
  return text;
}

std::wstring Name(FuzzedDataProvider& in) {
  std::wstring name = Text(in, 20, true);
  if (in.ConsumeBool()) name.insert(in.ConsumeIntegralInRange<std::size_t>(0, name.size()), kProductMarker);
  // Around the longest name the enumeration can return: 254 characters.
  static const std::size_t kLengths[] = {0, 253, 254, 255, 256, 400};
  const std::size_t padTo = kLengths[in.ConsumeIntegralInRange(0, 5)];
  if (name.size() < padTo) name.append(padTo - name.size(), L'x');
  return name;
}

// The limits a run is given: one second, and one long enough for an ended uninstall's half minute
// of leftovers (the product's ten minutes would only make each run slower).
constexpr std::uint32_t kShortLimitMs = 1000;
constexpr std::uint32_t kLongLimitMs = 40000;

// How long a child's process or job lasts: under a second, a few seconds, just past the half
// minute of leftovers, past the long limit, or for good.
std::uint64_t Duration(FuzzedDataProvider& in) {
  static const std::uint64_t kLong[] = {5000, 31000, 45000, std::uint64_t{1} << 40};
  const auto pick = in.ConsumeIntegralInRange(0, 10);
  return pick < 7 ? in.ConsumeIntegralInRange(0, 999) : kLong[pick - 7];
}

// What a start must be for `value` in an entry of `view`: the program handed to it and the command
// line, or the status for which nothing starts. Worked out here from the rules, not with the
// tool's code.
struct ExpectedStart {
  Status status = kSuccess;
  std::wstring program;
  std::wstring commandLine;
  std::wstring folder;  // the installation's, whose "bin" folder holds its programs; "": none
};

std::wstring Lowered(std::wstring text) {
  for (wchar_t& c : text) c = c >= L'A' && c <= L'Z' ? c + 32 : c;
  return text;
}

// Which Windows the fake platform is, as the tool must tell it, worked out here on its own: the
// native machine where IsWow64Process2 answers, else IsWow64Process for a 32-bit process; a
// 64-bit process is on 64-bit Windows; where neither answers, 64-bit Windows without WOW64.
bool SeenAs32BitWindows(const FakeProcesses& fake) {
  if (fake.nativeMachineStatus == kSuccess) return fake.nativeMachine == kMachineI386;
  return !fake.process64 && fake.isWow64Status == kSuccess && !fake.isWow64;
}
bool SeenUnderWow64(const FakeProcesses& fake) {
  if (fake.process64 || SeenAs32BitWindows(fake)) return false;
  return fake.nativeMachineStatus == kSuccess || (fake.isWow64Status == kSuccess && fake.isWow64);
}

ExpectedStart Expect(const std::wstring& recorded, RegistryView view, const FakeProcesses& fake) {
  const auto exists = [&](const std::wstring& path) { return !fake.files || fake.files->count(path) > 0; };
  // The system folder of the view: the 64-bit one is Sysnative to a 32-bit process on 64-bit
  // Windows; the 32-bit one is the WOW64 folder to a 64-bit process.
  const bool wow64 = SeenUnderWow64(fake);
  std::wstring system = fake.systemFolder;
  if (wow64 && view == RegistryView::View64)
    system = fake.windowsFolder.empty() ? L"" : fake.windowsFolder + L"\\Sysnative";
  if (!wow64 && view == RegistryView::View32 && !fake.systemWow64Folder.empty())
    system = fake.systemWow64Folder;
  // A file name: after the last "\" or "/" (or the drive of "X:name"), up to a colon, which starts
  // the name of one of the file's streams.
  const auto fileName = [](std::wstring path) {
    if (path.size() >= 2 && path[0] < 128 && std::iswalpha(path[0]) && path[1] == L':') path.erase(0, 2);
    path.erase(0, path.find_last_of(L"\\/") + 1);
    return Lowered(path.substr(0, path.find(L':')));
  };
  const auto withExe = [&](std::wstring path) {
    if (fileName(path).find(L'.') == std::wstring::npos) path += L".exe";
    return path;
  };
  const auto folderOf = [](const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/")); };
  const auto mapped = [&](const std::wstring& path) {
    const std::wstring system32 = Lowered(fake.windowsFolder + L"\\System32\\");
    if (fake.windowsFolder.empty() || system.empty() || Lowered(system) == Lowered(fake.systemFolder) ||
        Lowered(path).rfind(system32, 0) != 0)
      return path;
    return system + L"\\" + path.substr(system32.size());
  };
  const auto full = [](const std::wstring& path) {
    const bool drive = path.size() >= 3 && std::iswalpha(path[0]) && path[0] < 128 && path[1] == L':' &&
                       (path[2] == L'\\' || path[2] == L'/');
    return drive || path.rfind(L"\\\\", 0) == 0;
  };
  ExpectedStart start;
  const auto named = [&](const std::wstring& text) {
    if (text.empty()) return kErrorBadPathname;
    if (text.find_first_of(L"\\/:") == std::wstring::npos) {
      for (const std::wstring& folder : {system, fake.windowsFolder}) {
        if (folder.empty() || !exists(folder + L"\\" + withExe(text))) continue;
        start.program = folder + L"\\" + withExe(text);
        return kSuccess;
      }
      return kErrorFileNotFound;
    }
    if (!full(text)) return kErrorBadPathname;
    start.program = mapped(withExe(text));
    return kSuccess;
  };

  const std::wstring value = recorded.substr(std::min(recorded.find_first_not_of(L" \t"), recorded.size()));
  std::wstring rest;
  if (!value.empty() && value[0] == L'"') {
    const std::size_t close = value.find(L'"', 1);
    rest = close == std::wstring::npos ? L"" : value.substr(close + 1);
    start.status = named(value.substr(1, close == std::wstring::npos ? close : close - 1));
  } else {
    std::vector<std::size_t> ends;  // where a word ends
    for (std::size_t i = 0; i < value.size(); ++i)
      if (value[i] != L' ' && value[i] != L'\t' && (i + 1 == value.size() || value[i + 1] == L' ' || value[i + 1] == L'\t'))
        ends.push_back(i + 1);
    const auto exe = std::find_if(ends.begin(), ends.end(), [&](std::size_t end) {
      return end >= 4 && Lowered(value.substr(end - 4, 4)) == L".exe";
    });
    const std::wstring first = value.substr(0, ends.empty() ? 0 : ends[0]);
    if (exe != ends.end()) {
      rest = value.substr(*exe);
      start.status = named(value.substr(0, *exe));
    } else if (first.find_first_of(L"\\/:") == std::wstring::npos || !full(first)) {
      rest = value.substr(first.size());
      start.status = named(first);
    } else {
      int found = 0;
      for (std::size_t end : ends) {
        if (!exists(mapped(withExe(value.substr(0, end))))) continue;
        ++found;
        start.program = mapped(withExe(value.substr(0, end)));
        rest = value.substr(end);
      }
      start.status = found == 0 ? kErrorFileNotFound : found > 1 ? kErrorBadPathname : kSuccess;
    }
  }
  if (start.status != kSuccess) return start;
  start.commandLine = recorded + L" /S";
  // A program named with a folder is the installation's; one from the system folders is not.
  if (value.substr(0, value.size() - rest.size()).find_first_of(L"\\/:") != std::wstring::npos)
    start.folder = folderOf(start.program);
  const std::wstring lowered = Lowered(start.program);
  if (lowered.size() >= 4 && (lowered.substr(lowered.size() - 4) == L".bat" ||
                              lowered.substr(lowered.size() - 4) == L".cmd")) {
    if (system.empty()) return {kErrorFileNotFound, L"", L"", L""};
    // The 64-bit interpreter, started through Sysnative, reads its command line as a 64-bit
    // program, to which Sysnative is System32.
    const std::wstring sysnative = fake.windowsFolder + L"\\Sysnative\\";
    const auto native = [&](const std::wstring& path) {
      if (!wow64 || view != RegistryView::View64 || fake.windowsFolder.empty() ||
          Lowered(path).rfind(Lowered(sysnative), 0) != 0)
        return path;
      return fake.windowsFolder + L"\\System32\\" + path.substr(sysnative.size());
    };
    start.commandLine = L"\"" + native(system + L"\\cmd.exe") + L"\" /c \"\"" + native(start.program) +
                        L"\"" + rest + L" /S\"";
    start.program = system + L"\\cmd.exe";
  }
  // Ghostscript's old uninstaller with its log alone after it: quoted program part, then " -q";
  // its installation is the log's folder.
  std::wstring log = rest.substr(std::min(rest.find_first_not_of(L" \t"), rest.size()));
  log.erase(log.find_last_not_of(L" \t") + 1);
  const bool quotedLog = log.size() > 1 && log[0] == L'"' && log.find(L'"', 1) == log.size() - 1;
  if (quotedLog) log = log.substr(1, log.size() - 2);
  if (fileName(start.program) == L"uninstgs.exe" && fileName(log) == L"uninstal.txt" &&
      log.find_first_of(quotedLog ? L"\"" : L" \t\"") == std::wstring::npos) {
    const std::wstring programPart = value.substr(0, value.size() - rest.size());
    start.commandLine =
        (programPart[0] == L'"' ? programPart : L"\"" + programPart + L"\"") + rest + L" -q";
    start.folder = full(log) ? folderOf(log) : L"";
  }
  return start;
}

struct World {
  FakeRegistry registry;
  FakeProcesses processes;
  std::vector<std::wstring> values[2];  // per view, each value that one read returns whole
  // The programs of each start's installation, by its program and command line; and of each
  // entry, by view and name.
  std::map<std::pair<std::wstring, std::wstring>, std::set<std::wstring>> startPrograms;
  std::map<std::pair<int, std::wstring>, std::set<std::wstring>> entryPrograms;
};

// The programs in the "bin" folder of an installation in `folder`, some of them in use (a program
// that renders through it, a print pipeline, a virus scanner's look), some of them left behind or
// deleted a while after the uninstaller starts. Returns their paths.
std::set<std::wstring> MakePrograms(FuzzedDataProvider& in, World& world, const std::wstring& folder,
                                    bool deleted, std::function<void()>* onStart) {
  std::set<std::wstring> programs;
  if (folder.empty() || in.ConsumeIntegralInRange(0, 3) != 0) return programs;
  static const wchar_t* const kNames[] = {L"gsdll64.dll", L"gswin64c.exe", L"GSWIN32C.EXE", L"readme.txt"};
  const std::wstring bin = folder + L"\\bin";
  FakeProcesses& processes = world.processes;
  for (int i = in.ConsumeIntegralInRange(0, 2); i >= 0; --i) {
    const std::wstring name = kNames[in.ConsumeIntegralInRange(0, 3)];
    processes.folders[bin].insert(name);
    const std::wstring path = bin + L"\\" + name;
    if (name != L"readme.txt") programs.insert(path);
    switch (in.ConsumeIntegralInRange(0, 5)) {
      case 0: processes.openFailures[path] = {kErrorSharingViolation, 5000 + Duration(in)}; break;
      case 1:
        // Read-only, or denied: the Restart Manager or a module list may see it used.
        processes.openFailures[path] = {in.ConsumeBool() ? kErrorAccessDenied : 33};
        switch (in.ConsumeIntegralInRange(0, 2)) {
          case 0: processes.usedUntil[path] = 5000 + Duration(in); break;
          case 1: processes.loadedUntil[path] = 5000 + Duration(in); break;
          default: break;
        }
        break;
      default: break;
    }
  }
  // An uninstaller that removes its entry deletes the programs that are not in use, at once or a
  // while later; one in use stays, as does everything when it `deleted` nothing.
  const std::uint64_t after = in.ConsumeBool() ? 0 : Duration(in);
  if (deleted && in.ConsumeIntegralInRange(0, 7) != 0) {
    *onStart = [&processes, programs, after, previous = *onStart] {
      if (previous) previous();
      for (const std::wstring& path : programs) {
        if (processes.OpenUnshared(path) == kErrorSharingViolation) continue;
        processes.deletedAt.emplace(path, processes.now + after);
      }
    };
  }
  return programs;
}

void MakeView(FuzzedDataProvider& in, World& world, RegistryView view) {
  FakeView& fake = world.registry.View(view);
  fake.openStatus = MaybeFailure(in);
  fake.countStatus = MaybeFailure(in);
  const int count = in.ConsumeIntegralInRange(0, 6);
  for (int i = 0; i < count; ++i) {
    FakeEntry entry;
    entry.name = Name(in);
    entry.enumerateStatus = MaybeFailure(in);
    entry.openStatus = MaybeFailure(in);
    entry.queryStatus = MaybeFailure(in);
    const std::wstring text = Text(in, 600);
    switch (in.ConsumeIntegralInRange(0, 4)) {
      case 0: break;  // no UninstallString
      case 1: entry.uninstallString = Utf16Bytes(text); break;
      case 2: entry.uninstallString = Utf16Bytes(text, false); break;
      case 3:
        entry.uninstallString = Utf16Bytes(text, false);
        entry.uninstallString->push_back(in.ConsumeIntegral<std::uint8_t>());
        break;
      default:
        entry.uninstallString = Utf16Bytes(text + std::wstring(1, L'\0') + Text(in, 8));
        break;
    }
    // The uninstaller answers to the command line the value starts: the value and " /S", a batch
    // file's through the command interpreter, the old uninstaller's with " -q".
    const ExpectedStart start = Expect(text, view, world.processes);
    const std::wstring command = start.status == kSuccess ? start.commandLine : text + L" /S";
    if (entry.uninstallString && entry.uninstallString->size() <= 1024)
      world.values[view == RegistryView::View32].push_back(text);

    FakeChild child;
    child.startStatus = MaybeFailure(in);
    child.exitCode = in.ConsumeBool() ? 0 : in.ConsumeIntegral<std::uint32_t>();
    child.leavesEntry = in.ConsumeIntegralInRange(0, 7) == 0;
    child.waitError = in.ConsumeIntegralInRange(0, 15) == 0 ? 6 : kSuccess;
    child.jobMs = Duration(in);
    child.waitResult = in.ConsumeIntegralInRange(0, 7) == 0 ? kWaitTimeout : kWaitObject0;
    child.processMs = Duration(in);
    child.losesZeroMessage = in.ConsumeIntegralInRange(0, 3) == 0;
    // A job of the uninstaller's own, whose message reaches the tool's port too.
    if (in.ConsumeIntegralInRange(0, 3) == 0) child.innerJobMs = 1 + Duration(in);
    // An uninstaller that deletes another installation's entry (none: -1).
    const bool deletesOther = in.ConsumeIntegralInRange(0, 7) == 0;
    const RegistryView other = in.ConsumeBool() ? RegistryView::View64 : RegistryView::View32;
    const int victim = deletesOther ? in.ConsumeIntegral<std::uint8_t>() : -1;
    // One that succeeds removes its own entry too, whatever its command line.
    const bool removesOwn = child.exitCode == 0 && !child.leavesEntry;
    FakeRegistry* registry = &world.registry;
    child.onStart = [registry, view, name = entry.name, removesOwn, other, victim] {
      auto& own = registry->View(view).entries;
      const auto isOwn = [&](const FakeEntry& e) { return e.name == name; };
      if (removesOwn) own.erase(std::remove_if(own.begin(), own.end(), isOwn), own.end());
      auto& entries = registry->View(other).entries;
      if (victim >= 0 && static_cast<std::size_t>(victim) < entries.size())
        entries.erase(entries.begin() + victim);
    };
    const std::set<std::wstring> programs =
        MakePrograms(in, world, start.status == kSuccess ? start.folder : L"", removesOwn, &child.onStart);
    world.startPrograms[{start.program, command}].insert(programs.begin(), programs.end());
    world.entryPrograms[{view == RegistryView::View32, entry.name}].insert(programs.begin(), programs.end());
    world.processes.children.emplace(command, child);
    fake.entries.push_back(entry);
  }
}

// A name as the tool must write it, worked out here rather than with the tool's own code: each
// character from U+0020 to U+00FF as its byte, every other one (a surrogate pair is one) as "?".
std::string Written(RegistryView view, const std::wstring& name) {
  std::string text = view == RegistryView::View32 ? "32bit " : "";
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<std::uint32_t>(name[i]);
    if (c >= 0x20 && c <= 0xFF) {
      text += static_cast<char>(c);
      continue;
    }
    text += '?';
    const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < name.size() &&
                      static_cast<std::uint32_t>(name[i + 1]) >= 0xDC00 &&
                      static_cast<std::uint32_t>(name[i + 1]) <= 0xDFFF;
    if (pair) ++i;
  }
  return text;
}

// The detection lines a view must print, from the registry as it was before the run.
std::string ExpectedDetection(const FakeView& view, RegistryView which) {
  std::string lines;
  if (view.openStatus != kSuccess || view.countStatus != kSuccess) return lines;
  for (const FakeEntry& entry : view.entries) {
    if (entry.enumerateStatus != kSuccess || entry.name.size() > 254) continue;
    if (entry.name.find(kProductMarker) == std::wstring::npos) continue;
    lines += Written(which, entry.name) + " is detected\n";
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A failed expectation inside the fakes (a wrong access mask, say) is a crash for the fuzzer.
  GTEST_FLAG_SET(break_on_failure, true);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  World world;
  static const wchar_t* const kSwitches[] = {L"detect", L"remove", L"Detect", L"", L"remove"};
  const int switchPick = in.ConsumeIntegralInRange(0, 5);
  world.processes.createJobStatus = MaybeFailure(in);
  world.processes.startMs = in.ConsumeIntegralInRange(0, 1500);
  // Bare names: found in whichever folder is asked first, or nowhere.
  if (in.ConsumeBool()) world.processes.files.emplace();
  if (in.ConsumeIntegralInRange(0, 3) == 0) world.processes.systemFolder.clear();
  if (in.ConsumeBool()) world.processes.systemWow64Folder = L"C:\\Windows\\SysWOW64";
  if (in.ConsumeIntegralInRange(0, 7) == 0) world.processes.windowsFolder.clear();
  world.processes.countStatus = MaybeFailure(in);
  world.processes.fileUsersStatus = in.ConsumeIntegralInRange(0, 3) == 0 ? 29 : kSuccess;
  world.processes.moduleLoadersStatus = in.ConsumeIntegralInRange(0, 3) == 0 ? 5 : kSuccess;
  // 32-bit Windows: both views are the one registry, and there is neither WOW64 nor its folder.
  // Else x86-64 or ARM64, the tool a 32-bit process (under WOW64) or a 64-bit one. IsWow64Process2
  // names the native machine, where it is there; IsWow64Process says FALSE to a 32-bit process on
  // ARM64 as on 32-bit Windows. Either may fail to answer.
  const bool one = in.ConsumeIntegralInRange(0, 7) == 0;
  const bool arm64 = !one && in.ConsumeBool();
  world.registry.viewsAreOne = one;
  world.processes.process64 = !one && in.ConsumeBool();
  world.processes.nativeMachine = one ? kMachineI386 : arm64 ? kMachineArm64 : kMachineAmd64;
  world.processes.nativeMachineStatus = in.ConsumeIntegralInRange(0, 3) == 0 ? kErrorProcNotFound : kSuccess;
  world.processes.isWow64 = !one && !arm64 && !world.processes.process64;
  world.processes.isWow64Status = in.ConsumeIntegralInRange(0, 7) == 0 ? kErrorAccessDenied : kSuccess;
  if (one) world.processes.systemWow64Folder.clear();
  MakeView(in, world, RegistryView::View64);
  MakeView(in, world, RegistryView::View32);
  const FakeView before64 = world.registry.View(RegistryView::View64);
  const FakeView before32 = world.registry.View(RegistryView::View32);

  FakeConsole console;
  UninstallersRemoveTheirEntries(world.processes, world.registry);
  // When each registry open was asked for, and how many had been asked for at each start.
  std::vector<std::uint64_t> openTimes;
  world.registry.onOpen = [&](const std::wstring&) { openTimes.push_back(world.processes.now); };
  std::vector<std::size_t> opensAtStart;
  world.processes.afterStart = [&, removeEntries = world.processes.afterStart](
                                   const std::wstring& command, const FakeChild& child) {
    opensAtStart.push_back(world.registry.opens.size());
    removeEntries(command, child);
  };
  // The programs in use as each start is asked for, or that refused their test and that nothing
  // could tell free: the Restart Manager failing, or it or a module list seeing them used.
  std::vector<std::set<std::wstring>> inUseAtStart;
  world.processes.beforeStart = [&] {
    FakeProcesses& processes = world.processes;
    const auto before = [&](const std::map<std::wstring, std::uint64_t>& until, const std::wstring& path) {
      const auto found = until.find(path);
      return found != until.end() && processes.now < found->second;
    };
    std::set<std::wstring> inUse;
    for (const auto& [path, failure] : processes.openFailures) {
      if (!processes.FileExists(path) || processes.now >= failure.untilMs) continue;
      const bool refusedUntold =
          failure.status != kErrorSharingViolation &&
          (processes.fileUsersStatus != kSuccess || before(processes.usedUntil, path) ||
           (processes.moduleLoadersStatus == kSuccess && before(processes.loadedUntil, path)));
      if (failure.status == kErrorSharingViolation || refusedUntold) inUse.insert(path);
    }
    inUseAtStart.push_back(inUse);
  };
  const std::uint32_t limitMs = in.ConsumeBool() ? kShortLimitMs : kLongLimitMs;
  Platform platform{world.registry, world.processes, console, limitMs};
  std::vector<const wchar_t*> argv = {L"gs-uninstall.exe"};
  if (switchPick < 5) argv.push_back(kSwitches[switchPick]);
  const Status status = RunTool(platform, static_cast<int>(argv.size()), argv.data());
  const std::string& out = console.text;
  Check(console.flushed == out.size(), "every line is out when the run ends");
  Check(world.registry.openKeys == 0, "every key is closed");

  if (switchPick == 2 || switchPick == 3) {
    Check(out == "Invalid switch\nOperation failed with the error code : 4317", "bad switch output");
    Check(status == kErrorInvalidOperation && world.registry.openCalls == 0, "bad switch runs nothing");
    return 0;
  }
  const bool detectOnly = switchPick == 0;

  const std::string detection = ExpectedDetection(before64, RegistryView::View64) +
                                ExpectedDetection(before32, RegistryView::View32);
  Check(out.compare(0, detection.size(), detection) == 0, "detection lines, in order, first");
  if (detection.empty()) {
    Check(out == "Ghostscript is not installed.\n" && status == kNotInstalled, "nothing found: -1");
    Check(world.processes.commands.empty(), "nothing found: nothing run");
    return 0;
  }
  Check(status != kNotInstalled, "-1 only when nothing was found");

  // Every later line is a removal line naming an entry of its view; the 64-bit view's come first.
  std::set<std::string> allowed[2];
  const FakeView* before[2] = {&before64, &before32};
  for (int v = 0; v < 2; ++v) {
    const RegistryView view = v == 0 ? RegistryView::View64 : RegistryView::View32;
    for (const FakeEntry& entry : before[v]->entries) {
      const std::string name = Written(view, entry.name);
      allowed[v].insert(name + " is uninstalled\n");
      allowed[v].insert(name + (v == 0 ? " is failed to uninstall\n" : " is failed to uninstalled\n"));
    }
  }
  bool failureLine = false;
  int lastView = 0;
  std::map<std::string, int> removalLines;  // by the name as written, without the view's prefix
  for (std::size_t at = detection.size(); at < out.size();) {
    const std::size_t end = out.find('\n', at);
    Check(end != std::string::npos, "every removal line ends with a line end");
    const std::string line = out.substr(at, end + 1 - at);
    at = end + 1;
    Check(!detectOnly, "detect mode prints no removal line");
    const int view = allowed[0].count(line) ? 0 : allowed[1].count(line) ? 1 : -1;
    Check(view >= 0, "a removal line names an entry of its view");
    Check(view >= lastView, "64-bit removal lines before 32-bit ones");
    lastView = view;
    const std::string named = line.substr(view == 1 ? 6 : 0);
    ++removalLines[named.substr(0, named.rfind(" is "))];
    failureLine = failureLine || line.find(" is failed to ") != std::string::npos;
    // Entries are only ever deleted here: one reported uninstalled is gone when the run ends
    // (where the line names one entry alone: two names can be written alike).
    const RegistryView which = view == 0 ? RegistryView::View64 : RegistryView::View32;
    const auto& all = before[view]->entries;
    const auto writtenAs = [&](const FakeEntry& entry) {
      return line == Written(which, entry.name) + " is uninstalled\n";
    };
    const auto reported = std::find_if(all.begin(), all.end(), writtenAs);
    if (reported != all.end() && std::count_if(all.begin(), all.end(), writtenAs) == 1) {
      const auto& now = world.registry.View(which).entries;
      Check(std::none_of(now.begin(), now.end(),
                         [&](const FakeEntry& other) { return other.name == reported->name; }),
            "uninstalled, yet still there");
      // Programs are only ever deleted here: one there now was there when the line was written.
      for (const std::wstring& program : world.entryPrograms[{view, reported->name}])
        Check(!world.processes.FileExists(program), "uninstalled, yet a program of it is left");
    }
  }

  // Where both views are one registry and Windows says so, an installation is handled once a run:
  // one removal line at most (for a name that no other entry's name is written as). Where Windows
  // does not say, the views are taken as two.
  if (world.registry.viewsAreOne && SeenAs32BitWindows(world.processes)) {
    for (const FakeEntry& entry : before64.entries) {
      const std::string name = Written(RegistryView::View64, entry.name);
      const auto alike = std::count_if(before64.entries.begin(), before64.entries.end(),
                                       [&](const FakeEntry& other) { return Written(RegistryView::View64, other.name) == name; });
      if (alike == 1) Check(removalLines[name] <= 1, "one registry: an installation handled twice");
    }
  }

  // Each start is what a recorded value of one of the views names: its program, and the value
  // followed by " /S" (a batch file's through the command interpreter). A value that names no
  // single program starts nothing.
  for (std::size_t i = 0; i < world.processes.commands.size(); ++i) {
    bool named = false;
    for (int v = 0; v < 2 && !named; ++v) {
      const RegistryView view = v == 0 ? RegistryView::View64 : RegistryView::View32;
      for (const std::wstring& value : world.values[v]) {
        const ExpectedStart start = Expect(value, view, world.processes);
        named = named || (start.status == kSuccess && start.program == world.processes.applications[i] &&
                          start.commandLine == world.processes.commands[i]);
      }
    }
    Check(named, "each start is the program and command line that a recorded value names");
    for (const std::wstring& program :
         world.startPrograms[{world.processes.applications[i], world.processes.commands[i]}])
      Check(inUseAtStart[i].count(program) == 0,
            "an uninstaller started while a program of its installation is in use, or could not be told free");
  }
  if (detectOnly) Check(world.processes.commands.empty(), "detect mode runs nothing");

  // Each uninstall is waited for until it is over, and no longer: the launch lets go of its
  // process (and the next one may start) within the limit; before the limit only once the process
  // has ended, and, in a job, once the job is empty or half a minute after the process ended.
  const bool inJob = world.processes.createJobStatus == kSuccess;
  const std::vector<FakeProcesses::Launch> launches = world.processes.Launches();
  for (std::size_t k = 0; k < launches.size(); ++k) {
    const FakeProcesses::Launch& launch = launches[k];
    const FakeChild& child = launch.child;
    Check(launch.closedAt != 0, "every launch lets go of its process");
    // The limit counts from before the start, which may itself take longer.
    const std::uint64_t heldFor = launch.closedAt - launch.startingAt;
    Check(heldFor <= std::max<std::uint64_t>(limitMs, launch.startedAt - launch.startingAt),
          "no uninstall is waited for past the limit");
    if (child.waitError != kSuccess) continue;
    const std::uint64_t processEnds = launch.startedAt + child.processMs;
    // Once the launch has seen its process ended and its entry gone (the only entry it looks up),
    // half a minute more at most.
    for (std::size_t i = opensAtStart[k]; inJob && child.waitResult == kWaitObject0 && i < openTimes.size(); ++i) {
      const std::uint64_t at = openTimes[i];
      if (at >= launch.closedAt) break;
      if (world.registry.opens[i].status != kErrorFileNotFound || at < processEnds) continue;
      Check(launch.closedAt <= at + kLeftoverWaitMs, "waited past half a minute for an ended uninstall");
      break;
    }
    if (heldFor >= limitMs) continue;
    Check(child.waitResult == kWaitObject0 && processEnds <= launch.closedAt,
          "let go before the limit with the uninstaller still running");
    if (inJob)
      Check(launch.startedAt + child.jobMs <= launch.closedAt ||
                processEnds + kLeftoverWaitMs <= launch.closedAt,
            "let go with its job busy, less than half a minute after it ended");
  }
  // A running process's exit code reads as STILL_ACTIVE (259), which is no outcome.
  Check(world.processes.earlyExitCodeReads == 0, "an exit code read before its process ended");

  // A removal pass's scans come after the two detection scans.
  std::size_t uninstallOpens = 0;
  std::size_t removalScansFrom = world.registry.opens.size() + 1;
  for (std::size_t i = 0; i < world.registry.opens.size(); ++i) {
    const std::uint32_t access = world.registry.opens[i].access;
    const bool uninstallKey = access == EnumerateAccess(RegistryView::View64) ||
                              access == EnumerateAccess(RegistryView::View32);
    if (uninstallKey && ++uninstallOpens == 3) removalScansFrom = i + 1;
  }
  bool unnameable = false;  // a removal pass listed an entry that no key path can name
  for (const FakeRegistry::EnumerateRecord& record : world.registry.enumerated)
    if (record.opensBefore >= removalScansFrom && record.name.find(kProductMarker) != std::wstring::npos &&
        record.name.find(L'\0') != std::wstring::npos)
      unnameable = true;
  // Reads and opens that fail for any reason but the entry being gone ("not found", or its key
  // deleted since it was opened) may leave an installation behind.
  const auto failed = [](Status s) {
    return s != kSuccess && s != kErrorFileNotFound && s != kErrorKeyDeleted;
  };
  const bool failedRead = std::any_of(world.registry.reads.begin(), world.registry.reads.end(), failed);
  bool failedFirstOpen = false;
  bool failedOpen = false;
  std::set<std::pair<std::wstring, std::uint32_t>> seen;
  for (const FakeRegistry::OpenRecord& open : world.registry.opens) {
    if (open.access != ValueAccess(RegistryView::View64) &&
        open.access != ValueAccess(RegistryView::View32))
      continue;
    failedOpen = failedOpen || failed(open.status);
    // The first open of each entry key in a removal pass reads its value; later ones check that
    // the uninstaller removed it.
    if (seen.insert({open.path, open.access}).second)
      failedFirstOpen = failedFirstOpen || failed(open.status);
  }

  if (status == kSuccess) {
    Check(!failureLine, "0 with a failure line");
    Check(before64.openStatus == kSuccess && before32.openStatus == kSuccess,
          "0 with a view that would not open");
    Check(!failedFirstOpen, "0 with an entry that would not open");
    Check(!failedRead, "0 with a value that could not be read");
    Check(!unnameable, "0 with an entry that no key path names");
  } else {
    // An entry gone by its turn, or without a value, is no failure: every other status has a
    // cause to show for it.
    Check(failureLine || before64.openStatus != kSuccess || before32.openStatus != kSuccess ||
              failedOpen || failedRead || unnameable,
          "a failure status without a failure");
  }
  return 0;
}
