#!/usr/bin/env bash
# Saves that do not go to their end: a run stopped by Ctrl-C still saves what
# it found and exits 130; a write that fails half-way, or a runner killed
# while it saves, leaves the file it was to replace as it was: never an
# incomplete file that could pass for a complete one.
set -u
runner="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; echo "--- stdout"; cat "$work/out"; echo "--- stderr"; cat "$work/err"; exit 1; }

# timeout passes Ctrl-C on (to the runner alone: --foreground), and ends a
# runner that ignores it.
timeout --foreground -s KILL 20 "$runner" --task 10M --threads 1 --events --save-primes "$work/primes.txt" \
    --save-grid "$work/grid.txt" >"$work/out" 2>"$work/err" &
pid=$!
for _ in $(seq 1 100); do
    grep -q '^progress ' "$work/out" 2>/dev/null && break
    sleep 0.05
done
kill -INT "$pid"
wait "$pid"
code=$?
[ "$code" -eq 130 ] || fail "exit $code, want 130"
grep -q '^finished ' "$work/out" && fail "the run finished; it should have been stopped"
# The primes file ends with the last progress: line index + 1 holds its prime.
read -r _ index prime < <(grep '^progress ' "$work/out" | tail -n 1)
lines=$(wc -l <"$work/primes.txt")
[ "$lines" -eq $((index + 1)) ] || fail "primes file has $lines lines, want $((index + 1))"
[ "$(tail -n 1 "$work/primes.txt")" = "$((index + 1))-$prime"$'\r' ] || fail "primes file ends with $(tail -n 1 "$work/primes.txt")"
printf '\xEF\xBB\xBF10M\t\t1 core\t\t%s (' "$prime" | cmp -s - <(head -c $((18 + ${#prime})) "$work/grid.txt") \
    || fail "grid row: $(od -c "$work/grid.txt" | head -3)"
grep -Eq $'\\([0-9]+\\.[0-9]{2}%\\)\t\t +[0-9]+\\.[0-9]{2} sec\t\t\r$' "$work/grid.txt" || fail "grid row not in the progress form"

# An empty file name is bad input: nothing runs.
"$runner" --task 100K --save-primes "" >"$work/out" 2>"$work/err"
code=$?
[ "$code" -eq 2 ] || fail "empty name: exit $code, want 2"
[ -s "$work/out" ] && fail "empty name: something ran"

# A file size limit makes the primes file fail after its first bytes.
printf 'old\r\n' >"$work/cut.txt"
(trap '' XFSZ; ulimit -f 100; exec "$runner" --task 100K --save-primes "$work/cut.txt") >"$work/out" 2>"$work/err"
code=$?
[ "$code" -eq 1 ] || fail "cut short: exit $code, want 1"
[ "$(wc -l <"$work/err")" -eq 1 ] || fail "cut short: stderr is not one line"
grep -q "^vantrel-cli: Could not write \"$work/cut.txt\": " "$work/err" || fail "cut short: the message does not name the file"
printf 'old\r\n' | cmp -s - "$work/cut.txt" || fail "cut short: the file it was to replace changed"
compgen -G "$work/.vantrel-*" >/dev/null && fail "cut short: a temporary file was left behind"

# A second signal while the stopped run's primes are saved ends the runner at
# once (143, killed by SIGTERM). The file is then as it was, or complete if the
# save won the race (130, or 143 where the signal came after the file was
# put in place); no temporary file is left either way, and the run was stored
# before the save began.
store=()
[ "${2:-}" = store ] && store=(--db "$work/kept.db")
printf 'old\r\n' >"$work/kept.txt"
: >"$work/out"
timeout --foreground -s KILL 20 "$runner" --task 10M --threads 1 --events --save-primes "$work/kept.txt" \
    ${store[@]+"${store[@]}"} >"$work/out" 2>"$work/err" &
pid=$!
for _ in $(seq 1 100); do
    grep -q '^progress ' "$work/out" 2>/dev/null && break
    sleep 0.05
done
sleep 0.5  # more primes, a longer save
kill -INT "$pid"
for ((i = 0; i < 100000; ++i)); do
    compgen -G "$work/.vantrel-*.tmp" >/dev/null && break
done
kill -TERM "$pid" 2>/dev/null
wait "$pid"
code=$?
compgen -G "$work/.vantrel-*" >/dev/null && fail "killed while saving: a temporary file was left behind"
read -r _ index prime < <(grep '^progress ' "$work/out" | tail -n 1)
if [ "$code" -eq 143 ] && printf 'old\r\n' | cmp -s - "$work/kept.txt"; then
    echo "killed while saving: the file was kept"
elif [ "$code" -eq 143 ] || [ "$code" -eq 130 ]; then
    [ "$(tail -n 1 "$work/kept.txt")" = "$((index + 1))-$prime"$'\r' ] || fail "saved before the kill, yet incomplete"
    echo "the save ended before the kill: the file is complete"
else
    fail "killed while saving: exit $code, want 143 or 130"
fi
if [ ${#store[@]} -gt 0 ]; then
    "$runner" history "${store[@]}" --format csv >"$work/out" 2>"$work/err" || fail "killed while saving: history failed"
    grep -q ',10M,1,1,0,,stopped,stopped by Ctrl-C before the run ended,' "$work/out" || fail "killed while saving: the stopped run was not stored"
fi
echo "ok"
