#!/usr/bin/env bash
# Checks the shipped executable's format and imports: a 32-bit PE for i386 that needs no DLL
# beyond those every Windows has.
# Usage: check_executable.sh EXE OBJDUMP
set -u
exe=$1
objdump=$2
failed=0
headers=$("$objdump" -p "$exe") || { echo "cannot read $exe"; exit 1; }
grep -q 'file format pei-i386' <<<"$headers" || { echo "not a PE for i386"; failed=1; }
grep -qE '^Magic[[:space:]]+010b' <<<"$headers" || { echo "not PE32"; failed=1; }
imports=$(grep 'DLL Name:' <<<"$headers" | awk '{print toupper($3)}' | sort)
echo "imports:" $imports
for dll in $imports; do
  case "$dll" in
    KERNEL32.DLL|ADVAPI32.DLL|MSVCRT.DLL) ;;
    *) echo "imports $dll, which a target machine may not have"; failed=1 ;;
  esac
done
grep -qx KERNEL32.DLL <<<"$imports" || { echo "no KERNEL32 import: not the expected build"; failed=1; }
[ $failed -eq 0 ] && echo "executable checks passed"
exit $failed
