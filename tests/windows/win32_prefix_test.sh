#!/usr/bin/env bash
# On 32-bit Windows both views are the one registry: each entry is reported once per view,
# without and with the "32bit " prefix, and nothing is merged. Runs the tool in a 32-bit Wine
# prefix of its own, made on first use.
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
key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'
wine reg delete "$key\\GPL Ghostscript 9.56.1" /f >"$scratch/reg" 2>&1
wine reg add "$key\\GPL Ghostscript 9.56.1" /v UninstallString /d 'C:\gs\uninstgs.exe' /f \
  >"$scratch/reg" 2>&1 || { cat "$scratch/reg"; exit 1; }
wine "$exe" detect >"$scratch/out" 2>"$scratch/err"
status=$?
wine reg delete "$key\\GPL Ghostscript 9.56.1" /f >"$scratch/reg" 2>&1

printf 'GPL Ghostscript 9.56.1 is detected\r\n32bit GPL Ghostscript 9.56.1 is detected\r\n' >"$scratch/expected"
if ! cmp -s "$scratch/out" "$scratch/expected"; then
  echo "unexpected output:"; od -c "$scratch/out"; cat "$scratch/err"; exit 1
fi
[ "$status" -eq 0 ] || { echo "exit status $status"; exit 1; }
echo "both views reported the same key"
