#!/usr/bin/env bash
# The set-up's choice of package groups by the machine's architecture, on any
# machine: a stand-in dpkg on PATH answers --print-architecture, and the
# set-up script lists its choice (--dry-run), make what it would run (-n).
#   setup_debian_test.sh SOURCE_FOLDER
set -u
source_dir=$1
stub=$(mktemp -d)
trap 'rm -rf "$stub"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# on ARCH COMMAND...: COMMAND's output on a machine of Debian architecture ARCH.
on() {
  printf '#!/bin/sh\n[ "$1" = --print-architecture ] && { echo %s; exit 0; }\nexec /usr/bin/dpkg "$@"\n' "$1" >"$stub/dpkg"
  chmod +x "$stub/dpkg"
  shift
  PATH="$stub:$PATH" "$@" 2>&1
}
setup() { on "$1" env "${@:3}" bash "$source_dir/tools/setup-debian.sh" --dry-run $2; }

# architecture | groups asked for | environment | groups chosen | packages among them | packages not among them
while IFS='|' read -r arch asked environment chosen present absent; do
  out=$(setup "$arch" "$asked" $environment)
  case="$arch, groups '$asked' $environment"
  grep -qx "groups: $chosen" <<<"$out" || fail "$case: want groups: $chosen; got: $out"
  for package in $present; do grep -q "^packages: .*\b$package " <<<"$out" || fail "$case: no $package in: $out"; done
  for package in $absent; do ! grep -q " $package" <<<"$out" || fail "$case: $package in: $out"; done
done <<'CASES'
amd64|||native cluster charts tests packaging windows arm64|g++ wine g++-mingw-w64-i686 g++-aarch64-linux-gnu qemu-user libhwloc15:arm64|
amd64||VANTREL_NO_WINDOWS=1|native cluster charts tests packaging|g++ libhwloc-dev libopenmpi-dev|wine g++-aarch64-linux-gnu
arm64|||native cluster charts tests packaging|g++ libhwloc-dev libopenmpi-dev gnuplot-nox lintian|wine wine32:i386 g++-mingw-w64-i686 g++-aarch64-linux-gnu qemu-user
arm64|native windows arm64 s390x||native|g++ cmake|wine g++-mingw-w64-x86-64 g++-aarch64-linux-gnu g++-s390x-linux-gnu
amd64|s390x||s390x|g++-s390x-linux-gnu qemu-user libhwloc15:s390x|wine
CASES

grep -q "no windows group on arm64" <<<"$(setup arm64 windows)" || fail "arm64: a refused group is not named"
setup amd64 bogus >/dev/null
[ $? -eq 2 ] || fail "an unknown group is not refused with exit 2"

# make on an arm64 machine: run installs the native groups alone; test
# builds the native configurations and says what it leaves out.
run=$(on arm64 make -n -C "$source_dir" run)
grep -q "setup-debian.sh native" <<<"$run" || fail "make run on arm64: $run"
! grep -qE "windows|arm64|wine" <<<"$run" || fail "make run on arm64 goes further than the native groups: $run"
test=$(on arm64 make -n -C "$source_dir" test)
grep -q "preset native" <<<"$test" && grep -q "preset asan" <<<"$test" || fail "make test on arm64: $test"
! grep -qE "preset (windows|linux-arm64)" <<<"$test" || fail "make test on arm64 builds a cross configuration: $test"
grep -q "the ARM cross build need an amd64 machine" <<<"$test" || fail "make test on arm64 does not say what it leaves out"
grep -q "preset linux-arm64" <<<"$(on amd64 make -n -C "$source_dir" test)" || fail "make test on amd64 leaves out linux-arm64"

[ "$failures" -eq 0 ] || exit 1
echo "set-up groups and make targets chosen by architecture: as expected"
