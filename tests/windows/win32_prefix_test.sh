#!/usr/bin/env bash
# On 32-bit Windows both views are the one registry. Detection reports each entry once per view,
# without and with the "32bit " prefix, and nothing is merged; removal handles each installation
# once: its uninstaller runs once, with one line, whether it fails or succeeds. Runs the tool in a
# 32-bit Wine prefix of its own, made on first use, with the fixture uninstaller built beside it.
# Usage: win32_prefix_test.sh GS_UNINSTALL_EXE PREFIX_DIR
set -u
exe=$1
source "$(dirname "$0")/../../scripts/wine-prefix"
gsu_decide_builds || exit 1
[ "$GSU_RUN_X86" = 1 ] || { echo "skipped: a 32-bit prefix runs only 32-bit programs: $GSU_WHY_X86"; exit 77; }
export WINEPREFIX=$2 WINEARCH=win32 WINEDEBUG=-all
scratch=$(mktemp -d)
trap 'wineserver -k >/dev/null 2>&1; rm -rf "$scratch"' EXIT

# Output through files throughout: Wine's services inherit it and would hold a pipe open.
if [ ! -d "$WINEPREFIX/drive_c" ]; then
  wineboot -i >"$scratch/boot" 2>&1 || { cat "$scratch/boot"; exit 1; }
fi
wineserver -p >/dev/null 2>&1
name="GPL Ghostscript 9.56.1"
key="HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$name"
fixture=$(wine winepath -w "$(dirname "$exe")/fixture_uninstaller.exe" 2>/dev/null)
record=$(wine winepath -w "$scratch/record.txt" 2>/dev/null)
detected="$name is detected\r\n32bit $name is detected\r\n"
failed=0

# case WHAT UNINSTALL_STRING SWITCH EXPECTED_OUTPUT EXPECTED_STATUS STARTS
case_() {
  local what=$1 value=$2 switch=$3 expected=$4 expected_status=$5 starts=$6 status
  wine reg delete "$key" /f >"$scratch/reg" 2>&1
  rm -f "$scratch/record.txt"
  wine reg add "$key" /v UninstallString /d "$value" /f >"$scratch/reg" 2>&1 || { cat "$scratch/reg"; exit 1; }
  wine "$exe" $switch >"$scratch/out" 2>"$scratch/err"
  status=$?
  wine reg delete "$key" /f >"$scratch/reg" 2>&1
  printf "$expected" >"$scratch/expected"
  local ran
  ran=$(grep -c '^cmd=' "$scratch/record.txt" 2>/dev/null)
  if ! cmp -s "$scratch/out" "$scratch/expected"; then
    echo "FAILED: $what: unexpected output:"; od -c "$scratch/out"; cat "$scratch/err"; failed=1
  elif [ "$status" -ne "$expected_status" ]; then
    echo "FAILED: $what: exit status $status, not $expected_status"; failed=1
  elif [ "${ran:-0}" -ne "$starts" ]; then
    echo "FAILED: $what: the uninstaller ran ${ran:-0} times, not $starts"; failed=1
  else
    echo "ok: $what"
  fi
}

case_ "detect: both views report the same key" 'C:\gs\uninstgs.exe' detect "$detected" 0 0
case_ "an uninstaller that fails runs once" "\"$fixture\" --record \"$record\" --exit 3" remove \
  "${detected}$name is failed to uninstall\r\n" 3 1
case_ "an uninstaller that succeeds runs once" \
  "\"$fixture\" --record \"$record\" --delete-key 64 \"$name\"" remove \
  "${detected}$name is uninstalled\r\n" 0 1
exit $failed
