#!/usr/bin/env bash
# Runs a Windows program of the build under Wine, with a private prefix of the
# program's architecture in the build folder and, when there is no display,
# inside a virtual X server. Used by CTest as the cross-compiling emulator.
set -euo pipefail
exe="$1"; shift
source "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh" "$exe"
# Start the Wine server on its own, detached from this test's output: a
# server started by the test's wine would hold the test's pipe open, and CTest
# would wait for it. It exits a few seconds after its last client.
wineserver -p5 </dev/null >/dev/null 2>&1 || true
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" wine "$exe" "$@"
fi
exec wine "$exe" "$@"
