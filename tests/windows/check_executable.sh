#!/usr/bin/env bash
# Checks a Windows build's executable as binutils reads it, without running it: its format (PE32
# for i386, or PE32+ for x86-64), that it imports no DLL beyond those every Windows has, and that
# its only resource is the manifest asking for the caller's own rights.
# Usage: check_executable.sh EXE PROCESSOR(i686|x86_64) OBJDUMP OBJCOPY
set -u
exe=$1
processor=$2
objdump=$3
objcopy=$4
failed=0
case "$processor" in
  i686) format=pei-i386 magic=010b ;;
  x86_64) format=pei-x86-64 magic=020b ;;
  *) echo "unknown processor $processor"; exit 1 ;;
esac
headers=$("$objdump" -p "$exe") || { echo "cannot read $exe"; exit 1; }
grep -q "file format $format\$" <<<"$headers" || { echo "not a PE for $processor"; failed=1; }
grep -qE "^Magic[[:space:]]+$magic" <<<"$headers" || { echo "magic is not $magic"; failed=1; }
imports=$(grep 'DLL Name:' <<<"$headers" | awk '{print toupper($3)}' | sort)
echo "imports:" $imports
for dll in $imports; do
  case "$dll" in
    KERNEL32.DLL|ADVAPI32.DLL|MSVCRT.DLL) ;;
    *) echo "imports $dll, which a target machine may not have"; failed=1 ;;
  esac
done
grep -qx KERNEL32.DLL <<<"$imports" || { echo "no KERNEL32 import: not the expected build"; failed=1; }

# The resource directory, as objdump lists it: an entry's depth shows in its indentation (three
# spaces for a type, five for a name). One type, RT_MANIFEST (24), holding one resource, ID 1.
resources=$(sed -n '/^The .rsrc Resource Directory section:/,/^ Resources start/p' <<<"$headers")
[ "$(grep -E '^[0-9a-f]+   Entry: ' <<<"$resources" | awk '{print $4}')" = 0x000018, ] ||
  { echo "resource types are not RT_MANIFEST alone:"; echo "$resources"; failed=1; }
[ "$(grep -E '^[0-9a-f]+     Entry: ' <<<"$resources" | awk '{print $4}')" = 0x000001, ] ||
  { echo "the manifest is not resource 1 alone:"; echo "$resources"; failed=1; }
section=$(mktemp)
"$objcopy" -O binary --only-section=.rsrc "$exe" "$section"
grep -q '<requestedExecutionLevel level="asInvoker" uiAccess="false"/>' "$section" ||
  { echo "no asInvoker manifest"; failed=1; }
rm -f "$section"
[ $failed -eq 0 ] && echo "executable checks passed"
exit $failed
