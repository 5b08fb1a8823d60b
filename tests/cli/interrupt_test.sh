#!/usr/bin/env bash
# Ctrl-C or SIGTERM during a run: the runner stops cooperatively, prints the
# stopped row in the progress form (a stress: its summary) and exits with 130
# or 143; with "store" as the second argument, the stopped run is stored too.
set -u
runner="$1"
work=$(mktemp -d)
store=()
[ "${2:-}" = store ] && store=(--db "$work/results.db")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; echo "--- stdout"; cat "$work/out"; echo "--- stderr"; cat "$work/err"; exit 1; }

for stop in INT:130 TERM:143; do
    signal=${stop%:*}
    want=${stop#*:}
    # timeout passes the signal on (to the runner alone: --foreground), and
    # ends a runner that ignores it. The
    # files are emptied first, so that no earlier progress is read.
    : >"$work/out"
    timeout --foreground -s KILL 20 "$runner" --task 10M --threads 1 --events ${store[@]+"${store[@]}"} >"$work/out" 2>"$work/err" &
    pid=$!
    # Signal once the first progress is out, so the row has one to keep.
    for _ in $(seq 1 100); do
        grep -q '^progress ' "$work/out" 2>/dev/null && break
        sleep 0.05
    done
    kill -"$signal" "$pid"
    wait "$pid"
    code=$?
    [ "$code" -eq "$want" ] || fail "$signal: exit $code, want $want"
    grep -q '^finished ' "$work/out" && fail "$signal: the run finished; it should have been stopped"
    grep -Eq '^10M +1 core +[0-9]+ \([0-9]+\.[0-9]{2}%\) +[0-9]+\.[0-9]{2} sec +stopped$' "$work/err" \
        || fail "$signal: no stopped row in the progress form"
    # The stopped row keeps the last progress that was printed.
    last=$(grep '^progress ' "$work/out" | tail -n 1 | cut -d' ' -f3)
    grep -Eq "^10M +1 core +$last \(" "$work/err" || fail "$signal: the stopped row does not show the last progress ($last)"
    if [ ${#store[@]} -gt 0 ]; then
        "$runner" history "${store[@]}" --last 1 --format csv >"$work/out" 2>"$work/err" || fail "$signal: history failed"
        grep -q ',10M,1,1,0,,stopped$' "$work/out" || fail "$signal: the stopped run was not stored"
    fi
done

# A stress sums up what it ran before it exits with 130.
: >"$work/out"
timeout --foreground -s KILL 20 "$runner" --stress 1h --task 100K --events >"$work/out" 2>"$work/err" &
pid=$!
for _ in $(seq 1 100); do
    grep -q '^finished ' "$work/out" 2>/dev/null && break
    sleep 0.05
done
kill -INT "$pid"
wait "$pid"
code=$?
[ "$code" -eq 130 ] || fail "stress: exit $code, want 130"
grep -Eq '^Runs +[1-9][0-9]* in ' "$work/err" || fail "stress: no runs in the summary"
grep -Eq '^Interrupted +' "$work/err" || fail "stress: the summary does not say it was interrupted"
grep -Eq '^verified: last prime \+ digest, ' "$work/err" || fail "stress: the summary does not say what was verified"
echo "ok"
