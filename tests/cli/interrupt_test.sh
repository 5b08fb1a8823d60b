#!/usr/bin/env bash
# Ctrl-C, SIGTERM or SIGHUP during a run: the runner stops cooperatively,
# prints the stopped row in the progress form (a stress: its summary), saves
# and exits with 130, 143 or 129; with "store" as the second argument, the
# stopped run is stored too. A second Ctrl-C from the terminal ends it at
# once; timeout's signal to the runner and then to its group is one request.
set -u
runner="$1"
work=$(mktemp -d)
store=()
[ "${2:-}" = store ] && store=(--db "$work/results.db")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; echo "--- stdout"; cat "$work/out"; echo "--- stderr"; cat "$work/err"; exit 1; }
name() { [ "$1" = INT ] && echo Ctrl-C || echo "SIG$1"; }

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
        grep -q ",10M,1,1,0,,stopped,stopped by $(name "$signal") before the run ended," "$work/out" \
            || fail "$signal: the stopped run was not stored with how it ended"
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
grep -Eq '^PASS: [1-9][0-9]* runs?, (verified|every one verified); stopped by Ctrl-C before the time was up$' "$work/err" \
    || fail "stress: the verdict is not the summary's last line"

# waits until FILE holds a line matching PATTERN (at most 5 s).
await() { for _ in $(seq 1 100); do grep -Eq "$2" "$1" 2>/dev/null && return; sleep 0.05; done; }
mkfifo "$work/grid.fifo" "$work/report.fifo"

# A closed terminal or connection: the reader of the report's pipe is gone
# with it, and SIGHUP comes. The run stops; its row is written (to no one),
# its primes and grid saved, the run stored; a second hang-up, while the grid
# waits for a reader, changes nothing.
: >"$work/out"
timeout --foreground -s KILL 20 "$runner" --task 10M --threads 1 --events --save-primes "$work/primes.txt" \
    --save-grid "$work/grid.fifo" ${store[@]+"${store[@]}"} >"$work/out" 2>"$work/report.fifo" &
pid=$!
head -n 8 "$work/report.fifo" >"$work/err"  # the context block (six lines and a blank) and the table's head
await "$work/out" '^progress '
kill -HUP "$pid"
await "$work/primes.txt" .
kill -HUP "$pid"
timeout 10 cat "$work/grid.fifo" >"$work/grid.txt"
wait "$pid"
code=$?
[ "$code" -eq 129 ] || fail "SIGHUP: exit $code, want 129"
read -r _ index prime < <(grep '^progress ' "$work/out" | tail -n 1)
[ "$(wc -l <"$work/primes.txt")" -eq $((index + 1)) ] || fail "SIGHUP: the primes file does not end at the last progress"
[ "$(tail -n 1 "$work/primes.txt")" = "$((index + 1))-$prime"$'\r' ] || fail "SIGHUP: the primes file ends otherwise"
grep -q $'^\xEF\xBB\xBF10M\t\t1 core\t\t'"$prime"' (' "$work/grid.txt" || fail "SIGHUP: no stopped row in the grid"
compgen -G "$work/.vantrel-*" >/dev/null && fail "SIGHUP: a temporary file was left behind"
if [ ${#store[@]} -gt 0 ]; then
    "$runner" history "${store[@]}" --last 1 --format csv >"$work/out" 2>"$work/err" || fail "SIGHUP: history failed"
    grep -q ',10M,1,1,0,,stopped,stopped by a hang-up (SIGHUP) before the run ended,' "$work/out" \
        || fail "SIGHUP: the stopped run was not stored"
fi

# A hang-up after SIGTERM, and another more than a second later, while the
# grid waits for its reader: neither ends the runner, which saves the grid.
: >"$work/out"
timeout --foreground -s KILL 20 "$runner" --task 10M --threads 1 --events --save-grid "$work/grid.fifo" \
    >"$work/out" 2>"$work/err" &
pid=$!
await "$work/out" '^progress '
kill -TERM "$pid"
await "$work/err" 'stopped$'
kill -HUP "$pid"
sleep 1.2
kill -HUP "$pid"
sleep 0.2
timeout 10 cat "$work/grid.fifo" >"$work/grid.txt"
wait "$pid"
code=$?
[ "$code" -eq 143 ] || fail "SIGTERM, then SIGHUP twice: exit $code, want 143"
grep -q $'^\xEF\xBB\xBF10M\t\t1 core\t\t' "$work/grid.txt" || fail "SIGTERM, then SIGHUP twice: the grid was not saved"

# Under nohup a hang-up is no stop: the run goes on to its end.
: >"$work/out"
nohup "$runner" --task 1M --threads 1 --events >"$work/out" 2>"$work/err" &
pid=$!
await "$work/out" '^progress '
kill -HUP "$pid"
wait "$pid"
code=$?
[ "$code" -eq 0 ] || fail "nohup: exit $code, want 0"
grep -q '^finished 999999 15485863$' "$work/out" || fail "nohup: the run did not finish"

# A job a shell starts in the background has SIGINT ignored: the Ctrl-C is
# meant for the job in the foreground (`tail -f`, say), and the run goes on.
: >"$work/out"
(trap '' INT; exec "$runner" --task 1M --threads 1 --events >"$work/out" 2>"$work/err") &
pid=$!
await "$work/out" '^progress '
kill -INT "$pid"
wait "$pid"
code=$?
[ "$code" -eq 0 ] || fail "SIGINT ignored: exit $code, want 0"
grep -q '^finished 999999 15485863$' "$work/out" || fail "SIGINT ignored: the run did not finish"

# A reader that goes away (`| head`) ends the burn-in as a stop does: the runs
# made are stored, and the exit code is a closed pipe's.
if [ ${#store[@]} -gt 0 ]; then
    timeout -s KILL 20 "$runner" --stress 1h --task 100K --format csv "${store[@]}" 2>"$work/err" | head -n 24 >"$work/out"
    code=${PIPESTATUS[0]}
    [ "$code" -eq 141 ] || fail "| head: exit $code, want 141"
    "$runner" history "${store[@]}" --last 1 --format csv >"$work/out" 2>"$work/err" || fail "| head: history failed"
    grep -Eq ',100K,[0-9]+,[1-9][0-9]*,[1-9][0-9]*,[0-9.]+,verified,stopped by a closed output before the time was up,' "$work/out" || fail "| head: the runs made were not stored"
fi

# history and compare: a FIFO is refused at once, not waited on; a stop
# signal ends a long comparison at once, with nothing written.
mkfifo "$work/waiting"
for command in "history --db $work/waiting" "compare $work/waiting $work/waiting" "compare db:$work/waiting:1 x.json"; do
    timeout -s KILL 5 "$runner" $command >"$work/out" 2>"$work/err"
    code=$?
    [ "$code" -eq 2 ] || fail "$command: exit $code, want 2"
    grep -q ": it is a FIFO, not a" "$work/err" || fail "$command: the FIFO is not named"
done
{ printf '{"results": [{"task": "1M", "threads": 1, "run_seconds": ['; yes '1.5,' | head -n 3999999 | tr -d '\n'
  printf '1.5]}]}'; } >"$work/large.json"
for stop in INT:130 TERM:143; do
    (set -m; exec "$runner" compare "$work/large.json" "$work/large.json" >"$work/out" 2>"$work/err") &
    pid=$!
    sleep 0.3
    kill -"${stop%:*}" "$pid"
    started=$(date +%s%N)
    wait "$pid"
    code=$?
    [ "$code" -eq "${stop#*:}" ] || fail "compare, SIG${stop%:*}: exit $code, want ${stop#*:}"
    [ $(($(date +%s%N) - started)) -lt 1000000000 ] || fail "compare, SIG${stop%:*}: took a second or more to stop"
    [ -s "$work/out" ] && fail "compare, SIG${stop%:*}: it wrote a comparison"
done
# A store that cannot be written is found before the runs.
"$runner" --task 100K --db "$work/gone/results.db" >"$work/out" 2>"$work/err"
code=$?
[ "$code" -eq 1 ] || fail "--db in a missing folder: exit $code, want 1"
[ -s "$work/out" ] && fail "--db in a missing folder: a run was made"
grep -q "^vantrel-cli: Could not store the results in \"$work/gone/results.db\": its folder" "$work/err" \
    || fail "--db in a missing folder: not said"

# Ctrl-C twice from a terminal: the first stops the run, the second, while the
# grid waits for a reader, ends the runner at once (no one reads the grid).
: >"$work/out"
(
    await "$work/out" 'progress '
    printf '\003'
    await "$work/out" 'stopped'
    printf '\003'
    sleep 0.5
    timeout 2 cat "$work/grid.fifo" >"$work/grid.txt"
) | timeout 10 script -qefc "'$runner' --task 10M --threads 1 --events --save-grid '$work/grid.fifo'" /dev/null \
    >"$work/out"
grep -q 'stopped' "$work/out" || fail "terminal: the first Ctrl-C did not stop the run"
[ -s "$work/grid.txt" ] && fail "terminal: the second Ctrl-C did not end the runner"

# timeout signals the runner, then its whole process group: one Ctrl-C. The
# runner stops, and saves when the grid's reader comes.
: >"$work/out"
timeout -s INT --preserve-status 1 "$runner" --task 10M --threads 1 --events --save-grid "$work/grid.fifo" \
    >"$work/out" 2>"$work/err" &
pid=$!
timeout 15 cat "$work/grid.fifo" >"$work/grid.txt"
wait "$pid"
code=$?
[ "$code" -eq 130 ] || fail "timeout: exit $code, want 130"
grep -q '^FAIL: stopped by Ctrl-C before any run finished, nothing was verified$' "$work/err" || fail "timeout: no verdict"
grep -q $'\t\tstopped\|%)\t\t' "$work/grid.txt" || fail "timeout: the grid was not saved"
echo "ok"
