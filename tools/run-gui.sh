#!/usr/bin/env bash
# Opens the Windows program under Wine, with the build's private Wine prefix.
# Usage: bash tools/run-gui.sh build/windows-x86/app/Vantrel.exe
set -euo pipefail
exe="${1:-build/windows-x86/app/Vantrel.exe}"
if [ ! -f "$exe" ]; then
  echo "run-gui: $exe not found; build it with: make windows" >&2
  exit 1
fi
if ! command -v wine >/dev/null 2>&1; then
  echo "run-gui: Wine is not installed (make setup installs it)" >&2
  exit 1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run-gui: there is no display to open the window on (DISPLAY is not set)." >&2
  echo "run-gui: run it from a desktop session, copy $exe to a Windows machine," >&2
  echo "run-gui: or take a picture of it with: make screenshot" >&2
  exit 1
fi
exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")
build=$(cd "$(dirname "$exe")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win32
echo "run-gui: starting $exe under Wine (first start creates $WINEPREFIX, which takes a minute)"
exec wine "$exe"
