#!/usr/bin/env bash
# vantrel-mpi under mpirun with three ranks on this one machine:
#   fleet      three rows, one host, the ranks flagged as sharing it, exit 0;
#              a count no rank offers is refused through the gather (exit 1);
#              a bad command line is reported once, by rank 0 (exit 2)
#   faults     (vantrel-mpi-test) wrong results on ranks 1 and 2 (a last prime,
#              a slot only the digest finds) are named and end every rank
#              with 1; a delay on rank 2 makes it a named outlier, which fails
#              the run only with --fail-on-outlier
#   interrupt  one SIGINT to mpirun: every rank stops its run, rank 0 reports
#              the stopped rows within the second before mpirun's SIGKILL, and
#              the ranks exit 130 (mpirun, ending the job, kills the shells of
#              the ranks that exit after the first, so not every code is seen)
# Usage: fleet_test.sh MODE PROGRAM
set -u
mode="$1"
program="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; echo "--- stdout"; cat "$work/out"; echo "--- stderr"; cat "$work/err"; exit 1; }

# Each rank runs in a shell that prints its exit code, so that the code of
# every rank can be checked (mpirun itself tells only the first non-zero one).
# The shell ignores the stop signals; the program sets its own handlers.
#   fleet [MPIRUN-OPTION...] -- PROGRAM [ARGUMENT...]
fleet() {
    local options=()
    while [ "$1" != "--" ]; do options+=("$1"); shift; done
    shift
    timeout -s TERM 60 mpirun --oversubscribe --timeout 50 -np 3 ${options[@]+"${options[@]}"} \
        sh -c 'trap "" INT TERM; "$0" "$@"; echo "rank exit $?" >&2' "$@" >"$work/out" 2>"$work/err"
}
fleet_codes() { grep -c "^rank exit $1\$" "$work/err"; }
host=$(hostname)
# A report row: host, rank, CPU, logical processors, task, thread count, time, verdict.
task=100K
row() { echo "^$host +$1 +.+ +[0-9]+ +$task +$2 +[0-9.]+ sec +$3"; }

case "$mode" in
fleet)
    fleet -- "$program" --task 100K
    [ "$(fleet_codes 0)" -eq 3 ] || fail "every rank should exit 0"
    for rank in 0 1 2; do
        # Three ranks on two cores: any of them may come out an outlier.
        grep -Eq "$(row $rank '1 core' 'verified +shares host(; outlier, [0-9.]+% slower)?')$" "$work/out" \
            || fail "no verified row of rank $rank"
    done
    [ "$(grep -c ' 100K  ' "$work/out")" -eq 3 ] || fail "three rows wanted"
    grep -q "^Vantrel .* fleet | 3 ranks on 1 host | task 100K |" "$work/out" || fail "no header of 3 ranks on 1 host"
    grep -q "^Shared host: $host runs ranks 0, 1, 2\$" "$work/out" || fail "the shared host is not named"
    grep -Eq "^100K, 1 core: fleet min [0-9.]+ sec, median [0-9.]+ sec, max [0-9.]+ sec, spread [0-9.]+% over 3 verified ranks\$" \
        "$work/out" || fail "no fleet figures"

    fleet -- "$program" --task 100K --threads 128
    [ "$(fleet_codes 1)" -eq 3 ] || fail "a refused count should end every rank with 1"
    [ "$(grep -c "^FAILED on $host, rank [012], task 100K on 128 cores: thread count \"128\" is not offered; valid thread counts on this machine" "$work/out")" -eq 3 ] \
        || fail "each rank should report its refusal"

    fleet -- "$program" --threads 3
    [ "$(fleet_codes 2)" -eq 3 ] || fail "a bad command line should end every rank with 2"
    [ "$(grep -c '^vantrel-mpi: thread count "3" is not offered' "$work/err")" -eq 1 ] || fail "rank 0 alone should say why"
    grep -q '^usage: vantrel-mpi \[--task LABEL\] \[--threads T | --sweep\]' "$work/err" || fail "no usage line"
    [ -s "$work/out" ] && fail "nothing should be run or reported"
    ;;
faults)
    export VANTREL_FLEET_TEST_SLOW=2:1
    fleet -x VANTREL_FLEET_TEST_SLOW -- "$program" --task 100K
    [ "$(fleet_codes 0)" -eq 3 ] || fail "an outlier alone should not fail the run"
    grep -Eq "$(row 2 '1 core' 'verified +shares host; outlier, [0-9.]+% slower')\$" "$work/out" || fail "rank 2 is no outlier"
    grep -Eq "^  outlier: $host, rank 2, [0-9.]+% slower than the fleet median \([0-9.]+ sec\)\$" "$work/out" \
        || fail "the outlier is not named"
    grep -Eq "outlier: $host, rank [01]," "$work/out" && fail "only rank 2 was slowed"

    fleet -x VANTREL_FLEET_TEST_SLOW -- "$program" --task 100K --fail-on-outlier
    [ "$(fleet_codes 1)" -eq 3 ] || fail "--fail-on-outlier should end every rank with 1"

    # A wrong last prime on rank 1, a wrong prime halfway through rank 2's
    # table (which the digest finds).
    export VANTREL_FLEET_TEST_WRONG=1 VANTREL_FLEET_TEST_SLOT=2
    fleet -x VANTREL_FLEET_TEST_WRONG -x VANTREL_FLEET_TEST_SLOT -- "$program" --task 100K --sweep
    [ "$(fleet_codes 1)" -eq 3 ] || fail "a wrong result should end every rank with 1"
    grep -Eq "$(row 1 '1 core' 'WRONG RESULT')" "$work/out" || fail "no WRONG RESULT row of rank 1"
    grep -q "^WRONG RESULT on $host, rank 1, task 100K on 1 core: expected prime 1299709, found 1299711 (" "$work/out" \
        || fail "the wrong result is not named with its primes"
    grep -q "^WRONG RESULT on $host, rank 2, task 100K on 1 core: last prime 1299709 as expected, but slot 50000: " \
        "$work/out" || fail "the wrong slot is not named"
    # A wrong rank runs no further setting; the others go on.
    grep -Eq '^[^ ]+ +0 +.* 2 cores +[0-9.]+ sec +verified' "$work/out" || fail "rank 0 should go on"
    grep -Eq '^[^ ]+ +[12] +.* 2 cores' "$work/out" && fail "ranks 1 and 2 should run no further setting"
    ;;
interrupt)
    task=10M
    fleet -- "$program" --task $task &
    # SIGINT to mpirun once the runs have begun (the header is out).
    for _ in $(seq 1 100); do
        grep -q '^Ranks on a shared host' "$work/out" 2>/dev/null && break
        sleep 0.05
    done
    sleep 0.5
    launcher=$(pgrep -x -P "$(pgrep -x -P "$!" timeout)" mpirun) || fail "no mpirun"
    kill -INT "$launcher"
    wait
    [ "$(fleet_codes 130)" -ge 1 ] && ! grep -v "^rank exit 130\$" "$work/err" | grep -q "^rank exit" \
        || fail "the ranks should exit 130"
    [ "$(grep -Ec "$(row '[012]' '1 core' 'stopped')" "$work/out")" -eq 3 ] || fail "three stopped rows wanted"
    grep -q "stopped before the end" "$work/out" || fail "rank 0's report does not end"
    ;;
*) echo "unknown mode $mode"; exit 2 ;;
esac
echo "ok"
