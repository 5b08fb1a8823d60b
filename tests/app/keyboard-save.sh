#!/usr/bin/env bash
# Vantrel.exe as a user meets it: started as a process under Wine, driven with
# the keyboard only (the menu mnemonics), a run of 100K primes on one thread,
# the result grid saved through the save dialog, the window closed from the
# File menu. Passes when the file holds the run's row and the process ends
# with exit code 0. Every wait is bounded.
# Usage: bash tests/app/keyboard-save.sh build/windows-x86/app/Vantrel.exe
set -euo pipefail
exe="${1:?usage: keyboard-save.sh path/to/Vantrel.exe}"
for tool in wine winepath xdotool xvfb-run; do
  command -v "$tool" >/dev/null 2>&1 || { echo "keyboard-save: $tool is missing" >&2; exit 1; }
done
exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")

# A display of its own when there is none.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$exe"
fi

source "$(dirname "$0")/../../tools/wine-prefix.sh" "$exe"
build=$wine_build
platform=x86
[ "$WINEARCH" = win64 ] && platform=x64

work=$(mktemp -d "$build/keyboard-save.XXXXXX")
program=""
cleanup() {
  if [ -n "$program" ] && kill -0 "$program" 2>/dev/null; then kill "$program" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "keyboard-save: $*" >&2; exit 1; }

# Waits up to $1 tenths of a second for the command after it to succeed.
within() {
  local tenths=$1; shift
  for _ in $(seq 1 "$tenths"); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  return 1
}
title() { xdotool getwindowname "$window" 2>/dev/null || true; }
title_has() { [[ "$(title)" == *"$1"* ]]; }
find_window() { window=$(xdotool search --name "$1" 2>/dev/null | head -1 || true); [ -n "$window" ]; }

wine "$exe" &
program=$!

window=""
within 150 find_window "^Vantrel@$platform\$" || fail "the main window did not appear"
main=$window
xdotool windowfocus --sync "$main" 2>/dev/null || xdotool windowfocus "$main" || true
sleep 0.5

# The task list has the focus: Home picks its first task, 100K. Then Start.
xdotool key Home
sleep 0.3
xdotool key alt+a
within 50 title_has '%)' || fail "no progress in the title (title: $(title))"
# The last progress of 100K is 100.00%; the finish follows it at once.
within 50 title_has '(100.00%)' || fail "the run did not finish (title: $(title))"
sleep 0.5

# File > Save Result Grid, and the file name typed into the dialog.
xdotool key alt+f
sleep 0.3
xdotool key g
within 100 find_window '^Save' || fail "the save dialog did not appear"
dialog=$window
window=$main
target="$work/grid.txt"
sleep 0.5
xdotool key --window "$dialog" ctrl+a 2>/dev/null || xdotool key ctrl+a
xdotool type --delay 20 "$(winepath -w "$target")"
xdotool key Return

file_written() { [ -s "$target" ] && [ "$(wc -c <"$target")" -gt 3 ]; }
within 50 file_written || fail "the grid file was not written"
sleep 0.5
bytes=$(od -An -c "$target" | tr -s ' ' | tr -d '\n')
expected_start=$(printf '\xef\xbb\xbf100K\t\t1 core\t\t1299709\t\t')
content=$(cat "$target")
[[ "$content" == "$expected_start"*$' sec\t\t\r' ]] || fail "unexpected grid file: $bytes"
[ "$(wc -l <"$target")" -eq 1 ] || fail "the grid file should hold one row: $bytes"

# File > Exit.
xdotool windowfocus "$main" 2>/dev/null || true
sleep 0.3
xdotool key alt+f
sleep 0.3
xdotool key x
code=""
gone() { ! kill -0 "$program" 2>/dev/null; }
within 50 gone || fail "the program did not end after File > Exit"
set +e
wait "$program"
code=$?
set -e
program=""
[ "$code" -eq 0 ] || fail "exit code $code"
echo "keyboard-save: ran 100K, saved the grid, exited with code 0"
