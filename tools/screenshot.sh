#!/usr/bin/env bash
# Takes a picture of the Windows program after two runs: starts it under Wine
# in a virtual X server, starts the default task (1M primes, 1 thread) from
# the menu with the keyboard (Alt+A, the mnemonic of "St&art"), waits until
# the run has finished, runs it again on 2 threads (Tab to the thread list,
# Down) and saves the window as a PNG.
# Usage: bash tools/screenshot.sh build/windows-x86/app/Vantrel.exe docs/screenshot.png
set -euo pipefail
exe="${1:-build/windows-x86/app/Vantrel.exe}"
out="${2:-docs/screenshot.png}"
[ -f "$exe" ] || { echo "screenshot: $exe not found; build it with: make windows" >&2; exit 1; }
for tool in wine xvfb-run xdotool import; do
  command -v "$tool" >/dev/null 2>&1 || { echo "screenshot: $tool is missing (make setup installs it)" >&2; exit 1; }
done
exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")
mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")

# Always a private X server of known size, even under a desktop session.
if [ -z "${VANTREL_SCREENSHOT_INNER:-}" ]; then
  export VANTREL_SCREENSHOT_INNER=1
  unset DISPLAY
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$exe" "$out"
fi

build=$(cd "$(dirname "$exe")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win32
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "screenshot: creating the Wine prefix $WINEPREFIX (about a minute)"
  mkdir -p "$build"
  exec 9>"$build/.wineprefix.lock"
  flock 9
  [ -f "$WINEPREFIX/system.reg" ] || { wineboot -i >/dev/null 2>&1 || true; wineserver -w || true; }
  flock -u 9
fi
# The caption buttons are drawn with Wine's Marlett font, which a prefix does
# not always find on its own (Debian's fonts-wine package ships it).
for font in /usr/share/wine/fonts/marlett.ttf /usr/lib/wine/fonts/marlett.ttf; do
  if [ -f "$font" ] && [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ]; then
    cp "$font" "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  fi
done
# No window manager runs here: let Wine draw the caption and frame itself.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1 || true

wine "$exe" &
cleanup() { wineserver -k 2>/dev/null || true; }
trap cleanup EXIT

window=""
for _ in $(seq 1 120); do
  window=$(xdotool search --name '^Vantrel@x86' 2>/dev/null | head -1 || true)
  [ -n "$window" ] && break
  sleep 0.5
done
[ -n "$window" ] || { echo "screenshot: the main window did not appear" >&2; exit 1; }
sleep 1
xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
sleep 0.5
xdotool key alt+a

# A finished run leaves its last percentage, 100.00%, in the title.
wait_finished() {
  for _ in $(seq 1 1200); do
    title=$(xdotool getwindowname "$window" 2>/dev/null || true)
    [[ "$title" == *"(100.00%)"* ]] && return 0
    sleep 0.1
  done
  echo "screenshot: the run did not finish (title: $title)" >&2
  exit 1
}
wait_finished
sleep 1

# The second run, on 2 threads where the machine has them: a click opens the
# thread list (a run took the focus from the selectors), Down and Return pick
# the next entry. Its first progress takes 100.00% out of the title.
xdotool mousemove --window "$window" 412 62 click 1
sleep 0.5
xdotool key Down Return
sleep 0.3
xdotool key alt+a
for _ in $(seq 1 50); do
  title=$(xdotool getwindowname "$window" 2>/dev/null || true)
  [[ "$title" != *"(100.00%)"* ]] && break
  sleep 0.05
done
wait_finished
sleep 1.5   # the finished row and the repaint
import -window "$window" "$out"
echo "screenshot: wrote $out"
