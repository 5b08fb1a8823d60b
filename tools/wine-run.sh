#!/usr/bin/env bash
# Runs a Windows program of the build under Wine, with a private prefix in the
# build folder and, when there is no display, inside a virtual X server.
# Used by CTest as the cross-compiling emulator.
set -euo pipefail
exe="$1"; shift
build=$(cd "$(dirname "$exe")" && while [ ! -f CMakeCache.txt ] && [ "$PWD" != / ]; do cd ..; done; pwd)
[ -f "$build/CMakeCache.txt" ] || build=$(dirname "$exe")
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono or Gecko installer prompts
export WINEARCH=win32   # the program is 32-bit; a 32-bit prefix boots faster
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  # Several tests may start at once: create the prefix only once.
  mkdir -p "$build"
  exec 9>"$build/.wineprefix.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  flock -u 9
fi
# Start the Wine server on its own, detached from this test's output: a
# server started by the test's wine would hold the test's pipe open, and CTest
# would wait for it. It exits a few seconds after its last client.
wineserver -p5 </dev/null >/dev/null 2>&1 || true
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" wine "$exe" "$@"
fi
exec wine "$exe" "$@"
