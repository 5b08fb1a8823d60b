#!/usr/bin/env bash
# Ctrl-C during a run: the runner stops cooperatively, prints the stopped row
# in the progress form and exits with 130.
set -u
runner="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$runner" --task 10M --threads 1 --events >"$work/out" 2>"$work/err" &
pid=$!
# Interrupt once the first progress is out, so the row has one to keep.
for _ in $(seq 1 600); do
    grep -q '^progress ' "$work/out" 2>/dev/null && break
    sleep 0.05
done
kill -INT "$pid"
wait "$pid"
code=$?

fail() { echo "FAIL: $*"; echo "--- stdout"; cat "$work/out"; echo "--- stderr"; cat "$work/err"; exit 1; }
[ "$code" -eq 130 ] || fail "exit $code, want 130"
grep -q '^finished ' "$work/out" && fail "the run finished; it should have been stopped"
grep -Eq '^10M +1 core +[0-9]+ \([0-9]+\.[0-9]{2}%\) +[0-9]+\.[0-9]{2} sec +stopped$' "$work/err" \
    || fail "no stopped row in the progress form"
# The stopped row keeps the last progress that was printed.
last=$(grep '^progress ' "$work/out" | tail -n 1 | cut -d' ' -f3)
grep -Eq "^10M +1 core +$last \(" "$work/err" || fail "the stopped row does not show the last progress ($last)"
echo "ok"
