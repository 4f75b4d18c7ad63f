#!/usr/bin/env bash
# Runs the Windows tests that FILTER names as a user who is not root, in a Wine prefix of that
# user's own (Wine refuses a prefix that another user owns): Wine refuses an open for writing of a
# read-only file only to such a user, as Windows refuses it to everyone. Run as root, the tests run
# as "nobody" (setpriv), from a copy of the build's programs in a scratch folder that user owns.
# Fails when a test named was skipped or none ran.
# Usage: unprivileged_test.sh WINDOWS_TESTS_EXE FILTER
set -u
tests=$1
filter=$2
source "$(dirname "$0")/../../scripts/wine-prefix"
gsu_decide_builds || exit 1
machine=$(gsu_pe_machine "$tests")
case "$machine" in
  i386) run=$GSU_RUN_X86 why="32-bit program: $GSU_WHY_X86" ;;
  x86_64) run=$GSU_RUN_X64 why="x86-64 program: $GSU_WHY_X64" ;;
  *) echo "$tests is not a Windows program for i386 or x86-64"; exit 1 ;;
esac
[ "$run" = 1 ] || { echo "skipped: $why"; exit 77; }
loader=$(gsu_loader "$machine")
prefix_loader=$GSU_WINE64
[ "$GSU_RUN_X86" = 1 ] && prefix_loader=wine  # a prefix that runs 32-bit programs too

scratch=$(mktemp -d /tmp/gsu-unprivileged.XXXXXX)
as=()
if [ "$(id -u)" -eq 0 ]; then
  as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
# As that user, in its own prefix; output through files (Wine's services would hold a pipe open).
user() {
  env HOME="$scratch/home" WINEPREFIX="$scratch/prefix" WINEDEBUG=-all "${as[@]}" "$@"
}
trap 'user wineserver -k >/dev/null 2>&1; rm -rf "$scratch"' EXIT
# Where that user can run nothing at all (a system whose root folder only root may enter), the
# tests cannot run; say why.
if ! refusal=$(user /bin/true 2>&1); then
  echo "skipped: a user who is not root cannot run programs here: $refusal"
  exit 77
fi
mkdir -p "$scratch/home" "$scratch/build"
cp "$(dirname "$tests")"/*.exe "$scratch/build/"
[ ${#as[@]} -eq 0 ] || chown -R 65534:65534 "$scratch"
user "$prefix_loader" wineboot -i >"$scratch/boot" 2>&1 || { echo "no prefix:"; cat "$scratch/boot"; exit 1; }
user wineserver -p >/dev/null 2>&1
user "$loader" "$scratch/build/$(basename "$tests")" --gtest_filter="$filter" >"$scratch/out" 2>&1
status=$?
cat "$scratch/out"
[ $status -eq 0 ] || exit $status
if grep -q '^\[  SKIPPED \]' "$scratch/out" || ! grep -q '^\[  PASSED  \] [1-9]' "$scratch/out"; then
  echo "unprivileged_test: a test was skipped, or none ran, as user $(user id -un)"
  exit 1
fi
