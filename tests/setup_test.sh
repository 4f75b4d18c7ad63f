#!/usr/bin/env bash
# scripts/setup's decisions, without the network: the script runs against stand-ins for apt-get,
# dpkg and dpkg-query, named through GSU_APT_GET, GSU_DPKG and GSU_DPKG_QUERY, and each case checks
# the commands it ran, its standard error, what it recorded and its exit status; then what the
# scripts decide from that record.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

# The stand-ins log each call to $work/calls. dpkg-query says "installed" for the packages in
# $STUB_INSTALLED; apt-get update fails while $STUB_UPDATE_FAILS; an install naming any package in
# $STUB_UNINSTALLABLE fails as apt does.
cat >"$work/apt-get" <<'EOF'
#!/usr/bin/env bash
echo "apt-get $*" >>"$STUB_DIR/calls"
if [ "$1" = update ] && [ -n "${STUB_UPDATE_FAILS:-}" ]; then
  echo "W: Some index files failed to download."
  echo "E: Failed to fetch http://mirror/i386/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?" >&2
  echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
  exit 100
fi
if [ "$1" = install ]; then
  for package in "$@"; do
    if [[ " ${STUB_UNINSTALLABLE:-} " == *" $package "* ]]; then
      echo "E: Unable to correct problems, you have held broken packages." >&2
      echo "E: The following information may help: $package" >&2
      exit 100
    fi
  done
fi
exit 0
EOF
cat >"$work/dpkg" <<'EOF'
#!/usr/bin/env bash
echo "dpkg $*" >>"$STUB_DIR/calls"
[ "$1" = --print-foreign-architectures ] && [ -n "${STUB_I386:-}" ] && echo i386
exit 0
EOF
cat >"$work/dpkg-query" <<'EOF'
#!/usr/bin/env bash
[[ " ${STUB_INSTALLED:-} " == *" ${@: -1} "* ]] && printf 'install ok installed'
exit 0
EOF
chmod +x "$work/apt-get" "$work/dpkg" "$work/dpkg-query"

all="cmake ninja-build g++-mingw-w64-i686 binutils-mingw-w64-i686
     g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64"
all=$(echo $all)
tests="g++ googletest nsis"  # what --tests adds
record=$work/build/wine32-not-installable
install="apt-get install -y -qq --no-install-recommends"
held="E: Unable to correct problems, you have held broken packages."
refresh="setup: the package lists could not all be refreshed, so the packages come from the lists apt has: E: Failed to fetch http://mirror/i386/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?"

# case NAME STATUS CALLS STDERR RECORD, with the stand-ins' settings in the environment: runs
# scripts/setup with $SETUP_OPTIONS (--tests when unset) and compares its exit status, the
# stand-ins' calls but dpkg-query's, its standard error and the record (or "none") with what is
# expected.
case_() {
  local name=$1 status=$2 calls=$3 stderr=$4 expected_record=$5 got
  rm -f "$work/calls"
  touch "$work/calls"
  env STUB_DIR="$work" GSU_APT_GET="$work/apt-get" GSU_DPKG="$work/dpkg" \
      GSU_DPKG_QUERY="$work/dpkg-query" GSU_SUDO="" GSU_APT_RETRY_SECONDS=0 \
      GSU_WINE32_RECORD="$record" "$root/scripts/setup" ${SETUP_OPTIONS---tests} >/dev/null 2>"$work/err"
  got=$?
  local actual_record=none
  [ -f "$record" ] && actual_record=$(cat "$record")
  local problems=()
  [ "$got" = "$status" ] || problems+=("exit status $got, not $status")
  [ "$(cat "$work/calls")" = "$calls" ] || problems+=("calls:" "$(cat "$work/calls")")
  [ "$(cat "$work/err")" = "$stderr" ] || problems+=("standard error:" "$(cat "$work/err")")
  [ "$actual_record" = "$expected_record" ] || problems+=("record: $actual_record")
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok: $name"
  else
    echo "FAILED: $name"; printf '  %s\n' "${problems[@]}"; failed=1
  fi
}

export GSU_RUN_X86=1 STUB_INSTALLED="" STUB_I386="" STUB_UPDATE_FAILS="" STUB_UNINSTALLABLE=""
STUB_INSTALLED="$all $tests wine32:i386" \
case_ "nothing missing: no apt call" 0 "" "" none

STUB_INSTALLED="$all" \
case_ "all well: i386 added, the missing packages installed" 0 \
  "dpkg --print-foreign-architectures
dpkg --add-architecture i386
apt-get update -qq
$install wine32:i386 $tests" "Installing: wine32:i386 $tests" none

STUB_INSTALLED="$all" STUB_I386=1 STUB_UPDATE_FAILS=1 \
case_ "update failing: tried four times, then the lists apt has" 0 \
  "dpkg --print-foreign-architectures
apt-get update -qq
apt-get update -qq
apt-get update -qq
apt-get update -qq
$install wine32:i386 $tests" "Installing: wine32:i386 $tests
$refresh" none

STUB_INSTALLED="" STUB_I386=1 STUB_UNINSTALLABLE="wine32:i386" \
case_ "wine32 failing: the rest installed without it, the reason recorded" 0 \
  "dpkg --print-foreign-architectures
apt-get update -qq
$install $all wine32:i386 $tests
$install $all $tests" "Installing: $all wine32:i386 $tests
setup: wine32:i386 could not be installed, so the 32-bit product's Windows tests will not run here: $held" "$held"

STUB_INSTALLED="$all $tests" STUB_I386=1 STUB_UNINSTALLABLE="wine32:i386" \
case_ "wine32 alone, found not installable within the hour: not tried" 0 "" "" "$held"

STUB_INSTALLED="$all" STUB_I386=1 \
case_ "wine32 within the hour and another package missing: the other one alone" 0 \
  "dpkg --print-foreign-architectures
apt-get update -qq
$install $tests" "Installing: $tests" "$held"

echo "$held" >"$record"
touch -d '61 minutes ago' "$record"
STUB_INSTALLED="$all $tests" STUB_I386=1 \
case_ "wine32 alone, an hour later: tried again, and the record goes" 0 \
  "dpkg --print-foreign-architectures
apt-get update -qq
$install wine32:i386" "Installing: wine32:i386" none

STUB_INSTALLED="" STUB_I386=1 STUB_UNINSTALLABLE="wine32:i386 nsis" \
case_ "another package failing as well: an error, nothing recorded" 1 \
  "dpkg --print-foreign-architectures
apt-get update -qq
$install $all wine32:i386 $tests
$install $all $tests" "Installing: $all wine32:i386 $tests
setup: could not install: $all $tests
$held
E: The following information may help: nsis" none

GSU_RUN_X86=0 STUB_INSTALLED="$all" STUB_UNINSTALLABLE="nsis" \
case_ "no 32-bit code: no wine32, no i386, a failing package an error" 1 \
  "apt-get update -qq
$install $tests" "Installing: $tests
setup: could not install: $tests
$held
E: The following information may help: nsis" none

# scripts/run's set-up installs what the tool needs, and no tool that only the tests use; a package
# that two options name is installed once.
GSU_RUN_X86=0 SETUP_OPTIONS="" \
case_ "no option: the tool's packages alone" 0 \
  "apt-get update -qq
$install $all" "Installing: $all" none

GSU_RUN_X86=0 SETUP_OPTIONS="--tests --fuzz --bench" STUB_INSTALLED="$all" \
case_ "options that share a package: each package once" 0 \
  "apt-get update -qq
$install $tests clang libclang-rt-dev hyperfine gnuplot-nox python3 time" \
  "Installing: $tests clang libclang-rt-dev hyperfine gnuplot-nox python3 time" none

# What the scripts decide from the record, where Wine's 32-bit loader is missing.
echo "$held" >"$record"
decide() {
  env -u GSU_RUN_X86 -u GSU_WHY_X86 GSU_WINE32="$work/no-such-loader" GSU_WINE32_RECORD="$record" \
    "$@" bash -c 'source "$0/scripts/wine-prefix"; gsu_decide_builds && echo "$GSU_RUN_X86: $GSU_WHY_X86"' "$root" 2>&1
}
source "$root/scripts/wine-prefix"
if gsu_runs_32bit; then
  expected="0: 32-bit Wine could not be installed: $held"
else
  expected="0: this machine cannot execute 32-bit code"
fi
got=$(decide)
[ "$got" = "$expected" ] && echo "ok: without the 32-bit loader, the reason is named" ||
  { echo "FAILED: decision without the 32-bit loader: $got"; failed=1; }
got=$(decide GSU_RUN_X86=1)
[ "$got" = "GSU_RUN_X86=1, but the 32-bit product cannot run here: 32-bit Wine could not be installed: $held" ] &&
  echo "ok: GSU_RUN_X86=1 without the 32-bit loader fails" ||
  { echo "FAILED: GSU_RUN_X86=1 without the 32-bit loader: $got"; failed=1; }
[ $failed -eq 0 ] && echo "setup_test: every case passed"
exit $failed
