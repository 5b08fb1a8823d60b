#!/usr/bin/env bash
# vantrel-mpi under mpirun with three ranks on this one machine:
#   fleet      three rows, one host, the ranks flagged as sharing it, exit 0;
#              a count no rank offers is refused through the gather (exit 1);
#              a bad command line is reported once, by rank 0 (exit 2)
#   settings   ranks given other options than rank 0 (MPI's form for several
#              programs in one job): named in one line by rank 0, exit 2 on
#              every rank, nothing run and nothing hangs
#   faults     (vantrel-mpi-test) wrong results on ranks 1 and 2 (a last prime,
#              a slot only the digest finds) are named and end every rank
#              with 1; a delay on rank 2 makes it a named outlier, which fails
#              the run only with --fail-on-outlier; a stop in the last repeat
#              keeps the verified runs; results too large to gather end the
#              fleet with 1; with --each-core, a fault on one processor of
#              rank 1 names that core alone
#   interrupt  one SIGINT to mpirun: every rank stops its run, rank 0 reports
#              the stopped rows within the second before mpirun's SIGKILL, and
#              the ranks exit 130 (mpirun, ending the job, kills the shells of
#              the ranks that exit after the first, so not every code is seen)
#   deadline   a rank stopped with SIGSTOP: rank 0 names it after --deadline
#              and ends the job; rank 0 stopped: rank 1 ends it
#   lost       a rank killed (-9) after the first setting of a sweep: the JSON
#              report holds that setting's rows whole, and the store its runs
# Usage: fleet_test.sh MODE PROGRAM VANTREL_CLI
set -u
mode="$1"
program="$2"
cli="$3"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; echo "--- stdout"; cat "$work/out"; echo "--- stderr"; cat "$work/err"; exit 1; }

# Each rank runs in a shell that prints its exit code, so that the code of
# every rank can be checked (mpirun itself tells only the first non-zero one),
# and keeps the program's process id in $work/pid.RANK. The shell ignores the
# stop signals; the program sets its own handlers.
rank_shell='trap "" INT TERM; "$0" "$@" & echo $! >"$VANTREL_TEST_WORK/pid.$OMPI_COMM_WORLD_RANK"; wait $!; echo "rank exit $?" >&2'
export VANTREL_TEST_WORK="$work"
#   fleet [MPIRUN-OPTION...] -- PROGRAM [ARGUMENT...]   ($ranks ranks, default 3)
fleet() {
    local options=()
    while [ "$1" != "--" ]; do options+=("$1"); shift; done
    shift
    timeout -s TERM 60 mpirun --oversubscribe --timeout 50 -np "${ranks:-3}" ${options[@]+"${options[@]}"} \
        sh -c "$rank_shell" "$@" >"$work/out" 2>"$work/err"
}
fleet_codes() { grep -c "^rank exit $1\$" "$work/err"; }
# Ranks on a machine of two processors, described to hwloc, whatever this one
# has: a sweep has a second setting, and 128 threads are not offered.
two_processors=(-x "HWLOC_SYNTHETIC=pack:1 core:2 pu:1")
# Before a fleet started in the background: no output or process id of the last.
fresh() { rm -f "$work/out" "$work"/pid.*; }
# The program's process of rank $1, once it runs.
rank_pid() {
    for _ in $(seq 1 200); do
        [ -s "$work/pid.$1" ] && cat "$work/pid.$1" && return
        sleep 0.05
    done
    fail "rank $1 did not start"
}
# Waits until the report holds a line matching $1.
await_report() {
    for _ in $(seq 1 600); do
        grep -q "$1" "$work/out" 2>/dev/null && return
        sleep 0.05
    done
    fail "no \"$1\" in the report"
}
host=$(hostname)
# A report row: host, rank, task, thread count, time, verdict (the ranks'
# CPU is the same, so it is in the header).
task=100K
row() { echo "^$host +$1 +$task +$2 +[0-9.]+ sec +$3"; }

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
    grep -q "^Shared host: $host runs ranks 0-2\$" "$work/out" || fail "the shared host is not named"
    grep -Eq "^100K, 1 core: fleet min [0-9.]+ sec, median [0-9.]+ sec, max [0-9.]+ sec, spread [0-9.]+% over 3 verified ranks\$" \
        "$work/out" || fail "no fleet figures"
    tail -n 1 "$work/out" | grep -q "^PASS: 3 ranks, every run verified (3 runs)" || fail "no verdict"

    fleet "${two_processors[@]}" -- "$program" --task 100K --threads 128
    [ "$(fleet_codes 1)" -eq 3 ] || fail "a refused count should end every rank with 1"
    [ "$(grep -Ec "^$host +[012] +100K +128 cores +FAILED" "$work/out")" -eq 3 ] || fail "each rank's refusal is a row"
    # The same refusal on every rank is named once.
    [ "$(grep -c "^FAILED for ranks 0-2 on $host, task 100K on 128 cores: thread count \"128\" is more than the usable logical processors: a run has at most one thread per usable logical processor" "$work/out")" -eq 1 ] \
        || fail "the ranks' refusal should be named once"
    [ "$(tail -n 1 "$work/out")" = "FAIL: ranks 0-2 on $host could not run (task 100K on 128 cores)" ] || fail "no verdict"

    # Each rank runs every logical processor it may use.
    fleet -- "$program" --task 100K --threads all
    [ "$(fleet_codes 0)" -eq 3 ] || fail "--threads all should run on every rank"
    [ "$(grep -Ec "^$host +[012] +100K +[0-9]+ cores? +[0-9]" "$work/out")" -eq 3 ] || fail "--threads all: three rows wanted"

    fleet -- "$program" --threads 256
    [ "$(fleet_codes 2)" -eq 3 ] || fail "a bad command line should end every rank with 2"
    [ "$(grep -c '^vantrel-mpi: thread count "256" is out of range; valid thread counts: 1 to 255, or all (' "$work/err")" -eq 1 ] \
        || fail "rank 0 alone should say why, with the counts the fleet takes"
    grep -q '^usage: vantrel-mpi \[--task LABEL\] \[--threads T|all | --sweep | --each-core\]' "$work/err" || fail "no usage line"
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
    [ "$(tail -n 1 "$work/out")" = "FAIL: 1 outlier, more than 10% slower than the fleet median" ] \
        || fail "the verdict should say the outlier is why"
    unset VANTREL_FLEET_TEST_SLOW

    # Rank 1 stopped in its third run of three: its two verified runs are its row.
    export VANTREL_FLEET_TEST_STOP=1:3
    fleet -x VANTREL_FLEET_TEST_STOP -- "$program" --task 100K --repeat 3 --outlier 1000
    [ "$(fleet_codes 130)" -ge 1 ] && ! grep -v "^rank exit 130\$" "$work/err" | grep -q "^rank exit" \
        || fail "the ranks should exit 130"
    grep -Eq "^$host +1 +100K +1 core +[0-9.]+ sec +verified +shares host; run 3 of 3 stopped\$" \
        "$work/out" || fail "rank 1's verified runs should make its row"
    grep -Eq "over 3 verified ranks\$" "$work/out" || fail "every rank should count in the figures"
    [ "$(tail -n 1 "$work/out")" = "PASS: 3 ranks, every finished run verified (8 runs); stopped by Ctrl-C or SIGTERM before the end" ] \
        || fail "the verdict should pass the verified runs and say the fleet was stopped"
    unset VANTREL_FLEET_TEST_STOP

    # More than a gather holds: said in one line, and no rank goes on or hangs.
    export VANTREL_FLEET_TEST_GATHER=300
    fleet -x VANTREL_FLEET_TEST_GATHER "${two_processors[@]}" -- "$program" --task 100K --sweep
    [ "$(fleet_codes 1)" -eq 3 ] || fail "results too large to gather should end every rank with 1"
    grep -q "^the ranks' results of 100K on 1 core came to [0-9]* bytes, more than one gather holds (300 bytes" \
        "$work/out" || fail "the gather's limit is not named"
    grep -q " 2 cores " "$work/out" && fail "no further setting should run"
    [ "$(tail -n 1 "$work/out")" = "FAIL: the ranks' results of 100K on 1 core were too large to gather" ] || fail "no verdict"
    unset VANTREL_FLEET_TEST_GATHER

    # Each rank's cores in turn, a fault on rank 1's second usable processor:
    # that core is named, rank 1's other cores and rank 0's pass. It needs two
    # processors this process may use (a CPU set of one has no second).
    second=$(perl -ne 'next unless s/^Cpus_allowed_list:\s*//; my @p = map { /(\d+)-(\d+)/ ? ($1 .. $2) : $_ } split /,/;
        print $p[1] if @p > 1' /proc/self/status)
    if [ -z "$second" ]; then
        echo "each core's fault left out: it needs two usable processors, this process has $(nproc)"
    else
        export VANTREL_FLEET_TEST_CORE=1:$second
        ranks=2 fleet --bind-to none -x VANTREL_FLEET_TEST_CORE -- "$program" --task 100K --each-core --repeat 2
        [ "$(fleet_codes 1)" -eq 2 ] || fail "a wrong core should end every rank with 1"
        grep -Eq "^  each core: $host, rank 1: core [0-9]+ \(processors? ([0-9, ]|and)+, package [0-9]+\): 2 of 2 runs wrong, first at slot 50 000\$" \
            "$work/out" || fail "the wrong core is not named"
        [ "$(grep -c '^  each core: .* runs\? wrong' "$work/out")" -eq 1 ] || fail "only one core was wrong"
        unset VANTREL_FLEET_TEST_CORE
    fi

    # A wrong last prime on rank 1, a wrong prime halfway through rank 2's
    # table (which the digest finds).
    export VANTREL_FLEET_TEST_WRONG=1 VANTREL_FLEET_TEST_SLOT=2
    fleet -x VANTREL_FLEET_TEST_WRONG -x VANTREL_FLEET_TEST_SLOT "${two_processors[@]}" -- "$program" --task 100K --sweep
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
    fresh
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
    [ "$(tail -n 1 "$work/out")" = "FAIL: stopped before any run finished, nothing was verified" ] \
        || fail "rank 0's report does not end"
    ;;
settings)
    # Rank 0 given A, ranks 1 and 2 given B: "A|B|what rank 0 says".
    while IFS='|' read -r mine theirs difference; do
        read -ra first <<<"$mine"
        read -ra others <<<"$theirs"
        timeout -s TERM 60 mpirun --oversubscribe --timeout 50 -np 1 sh -c "$rank_shell" "$program" "${first[@]}" \
            : -np 2 sh -c "$rank_shell" "$program" "${others[@]}" >"$work/out" 2>"$work/err"
        [ "$(fleet_codes 2)" -eq 3 ] || fail "$mine : $theirs should end every rank with 2"
        [ "$(grep -c '^vantrel-mpi: ' "$work/err")" -eq 1 ] || fail "rank 0 alone should say why"
        grep -qF "vantrel-mpi: the ranks were given different options: ranks 1-2 were given $difference; every rank must be given the same, so nothing was run" \
            "$work/err" || fail "$mine : $theirs: the ranks that differ are not named"
        [ -s "$work/out" ] && fail "$mine : $theirs: nothing should be run"
    done <<'CASES'
--task 1M|--task 100K|--task 100K where rank 0 was given --task 1M
--task 100K --threads 1|--task 100K --sweep|--sweep where rank 0 was given --threads 1
--task 100K --repeat 3|--task 100K --repeat 1|--repeat 1 where rank 0 was given --repeat 3
--task 100K --threads 2|--task 100K|--threads 1 where rank 0 was given --threads 2
CASES
    ;;
deadline)
    # Two ranks, so that on a loaded machine no rank but the stopped one is late.
    ranks=2
    # Rank 1 stopped (SIGSTOP) in its first run: rank 0 names it two seconds
    # after its own run, and ends the job.
    fresh
    fleet -- "$program" --task 2M --repeat 2 --deadline 2s &
    await_report '^CPU: '
    sleep 0.3
    kill -STOP "$(rank_pid 1)"
    wait $!
    [ $? -ne 124 ] || fail "the job should end without mpirun's timeout"
    grep -Eq "^NO ANSWER from 1 rank \(1 on $host\) within 2s \(--deadline\), at the end of run 1 of 2 of 2M on 1 core: " \
        "$work/out" || fail "the rank that does not answer is not named"
    [ "$(tail -n 1 "$work/out")" = "FAIL: rank 1 on $host did not answer within 2s (--deadline), at the end of run 1 of 2 of 2M on 1 core; the job was ended" ] \
        || fail "no verdict"
    grep -q "^rank exit 1\$" "$work/err" || fail "rank 0 should exit 1"

    # Rank 0 stopped: rank 1 gives it twice the deadline and ends the job.
    fresh
    fleet -- "$program" --task 2M --deadline 1s &
    await_report '^CPU: '
    sleep 0.3
    kill -STOP "$(rank_pid 0)"
    wait $!
    [ $? -ne 124 ] || fail "the job should end without mpirun's timeout"
    [ "$(grep -c '^vantrel-mpi: ' "$work/err")" -eq 1 ] || fail "rank 1 alone should say why"
    grep -q "^vantrel-mpi: rank 0 did not answer for 3s (more than twice --deadline), at the end of run 1 of 1 of 2M on 1 core; rank 1 ended the job, without a report\$" \
        "$work/err" || fail "rank 1 does not say that rank 0 did not answer"
    ;;
lost)
    # Rank 1 killed (-9) once the first setting of the sweep is out: mpirun
    # ends the job, and in the second before SIGKILL rank 0 ends the JSON
    # report, whole, with that setting's three rows; the store keeps its runs.
    fresh
    fleet "${two_processors[@]}" -- "$program" --task 1M --sweep --format json --db "$work/fleet.db" &
    await_report '"thread_count"'
    sleep 0.2
    kill -KILL "$(rank_pid 1)"
    wait
    perl -MJSON::PP -e 'local $/; my $report = JSON::PP->new->decode(<STDIN>);
        my @rows = grep { $_->{thread_count} eq "1 core" && $_->{status} eq "finished" } @{$report->{results}};
        exit(@rows == 3 ? 0 : 1);' <"$work/out" || fail "the report is not whole JSON with the first setting's rows"
    "$cli" compare "$work/out" "$work/out" >/dev/null 2>>"$work/err" || fail "compare does not read the report"
    grep -q '^  "verdict": "FAIL: rank 1 on .* did not answer once the job was being stopped' "$work/out" \
        || fail "the verdict does not name the rank lost"
    if command -v jq >/dev/null; then
        jq -e '.pass == false' "$work/out" >/dev/null || fail "jq does not read the report"
    fi
    "$cli" history --db "$work/fleet.db" --format json >"$work/history" || fail "the store cannot be read"
    perl -MJSON::PP -e 'local $/; my $lines = JSON::PP->new->decode(<STDIN>);
        exit(@$lines == 1 && $lines->[0]{threads} == 1 && $lines->[0]{finished_runs} == 3 && $lines->[0]{ended} ne "" ? 0 : 1);' \
        <"$work/history" || fail "the store should hold the first setting's three runs, cut short"
    ;;
*) echo "unknown mode $mode"; exit 2 ;;
esac
echo "ok"
