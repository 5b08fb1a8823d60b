#!/usr/bin/env bash
# The reports, messages and help texts of the real programs, byte for byte,
# against the expected outputs kept beside this script. The outputs must not
# depend on the machine the test runs on, so:
# - the processors are those of a machine described to hwloc, two cores of
#   one package, whatever this machine has or this process may use: the
#   thread counts offered, a sweep's rows and the header's processors are
#   the same everywhere (the header says the shape is not this machine's);
#   run_table and run_events alone report this machine, one thread, with its
#   processors and shape masked (<machine>);
# - what the programs read from the system is masked by meaning: this
#   machine's CPU, system, compiler, flags and host name, in their plain,
#   CSV and JSON forms; in a table the padding of a column that holds them
#   follows the widest cell, so it is normalised to two spaces;
# - times and other measured numbers (F) and dates, and in a stress the run
#   counts (N) and repeated run lines.
# tests/support/other_machine.sh runs this script under another CPU name,
# host name, time zone and locale.
#   golden_test.sh VANTREL_CLI [VANTREL_MPI] [--update]
# --update writes the expected outputs anew (review the diff before committing).
set -u
here="$(cd "$(dirname "$0")" && pwd)"
cli="$1"
mpi=""
update=0
for arg in "${@:2}"; do
    case "$arg" in
    --update) update=1 ;;
    *) mpi="$arg" ;;
    esac
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VANTREL_DB=
unset VANTREL_DB HWLOC_XMLFILE
export HWLOC_SYNTHETIC="pack:1 core:2 pu:1"
# This machine as it is.
real() { env -u HWLOC_SYNTHETIC "$@"; }
# A machine without sensors (VANTREL_FSROOT names an empty folder): what the
# runs read of this machine's changes from one run to the next.
mkdir "$work/no-sensors"
export VANTREL_FSROOT="$work/no-sensors"

# This machine's texts, as the runner's CSV context names them.
"$cli" --task 100K --format csv >"$work/context" 2>/dev/null
field() { sed -n "s/^# $1: //p" "$work/context"; }
export GOLDEN_CPU GOLDEN_OS GOLDEN_COMPILER GOLDEN_BUILD GOLDEN_FLAGS GOLDEN_HOST GOLDEN_MACHINE GOLDEN_WORK="$work"
GOLDEN_CPU=$(field cpu)
GOLDEN_OS=$(field os)
GOLDEN_COMPILER=$(field compiler)
GOLDEN_BUILD=$(field build_type)
GOLDEN_FLAGS=$(field flags)
GOLDEN_HOST=$(hostname)
# A labelled line's value that a report wraps to keep within 100 columns
# ("Processors:  ...", "CPU (BASE):  ...", a stress's "Machine       ..."),
# joined again: the texts masked below are whole then, whatever this
# machine's lengths. (A help's lines are indented otherwise.)
unwrap() { perl -0pe '1 while s/^([A-Z][A-Za-z ()]*?(?:: +| {2,})\S[^\n]*)\n {5,16}(?=\S)/$1 /m'; }
# The processors and shape of this machine, as the table's header gives them.
GOLDEN_MACHINE=$(real "$cli" --task 100K 2>/dev/null | unwrap | perl -ne 'print $1 if /^Processors: +(.*)$/')

mask() {
    unwrap | perl -pe '
        BEGIN {
            # Each text of this machine in the forms a report may hold it:
            # a CSV field (quoted where it must be), a JSON string, as it is.
            @texts = ();
            @strings = ();
            for (["CPU", "<cpu>"], ["OS", "<os>"], ["COMPILER", "<compiler>"], ["FLAGS", "<flags>"]) {
                my ($text, $token) = ($ENV{"GOLDEN_$_->[0]"}, $_->[1]);
                next unless length $text;
                (my $json = $text) =~ s/(["\\])/\\$1/g;
                my $csv = $text =~ /[,"\r\n]/ ? q(") . ($text =~ s/"/""/gr) . q(") : $text;
                push @texts, [$_, $token] for $csv, $json, $text;
                push @strings, [$json, $token];
            }
        }
        s/\Q$ENV{GOLDEN_WORK}\E/WORK/g;
        # A JSON string first: a name with a comma is quoted as a CSV field
        # too, and those quotes belong to the string here.
        for my $t (@strings) { s/(": |\[|^\s+)"\Q$t->[0]\E"/$1"$t->[1]"/g; }
        for my $t (@texts) { s/\Q$t->[0]\E/$t->[1]/g; }
        s/(?<=-bit )\Q$ENV{GOLDEN_BUILD}\E\b|(?<="build_type": ")\Q$ENV{GOLDEN_BUILD}\E|(?<=,)\Q$ENV{GOLDEN_BUILD}\E(?=,)|(?<=^# build_type: )\Q$ENV{GOLDEN_BUILD}\E/<build>/g;
        s/(?<![\w.-])\Q$ENV{GOLDEN_HOST}\E(?![\w.-])/<host>/g;
        # A table column of CPUs or hosts is as wide as its widest cell.
        s/(<cpu>|<host>|\bCPU|\bHost) {2,}(?=\S)/$1  /g;
        s/\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ/<date>/g;
        s/\d+\.\d+(?:e-?\d+)?/F/g;
        s/(?<![\w])[+-]F/F/g;
        s/"gathered_bytes": \d+/"gathered_bytes": N/;
        s/Process name: \[\[\d+,\d+\],\d+\]/Process name: <mpi>/;
    '
}
# A report of this machine: its processors and shape as well.
mask_machine() { perl -pe 's/\Q$ENV{GOLDEN_MACHINE}\E/<machine>/ if length $ENV{GOLDEN_MACHINE}' | mask; }
# A stress: how many runs fit into its time varies, and with them whether
# there are enough to measure a drift, and whether the runs slowed.
mask_counts() {
    mask | perl -pe '
        s/\b\d+\b/N/g;
        s/F% \(median of the last N runs F sec, of the first N F sec\)|not measured: N runs?, it needs at least N/<drift>/;
        s/^# drift: F$/# drift: <drift>/;
        s/"drift": (?:F|null)/"drift": <drift>/;
        s/slowed N % from the first quarter to the last; (.*): the cause is not visible from here/$1/;
    ' | uniq
}

status=0
# case NAME MASK COMMAND...: runs COMMAND, and compares its exit code, stdout
# and stderr, masked, with NAME.txt.
case_() {
    local name="$1" masker="$2"
    shift 2
    "$@" >"$work/out" 2>"$work/err"
    local code=$?
    {
        echo "exit $code"
        echo "--- stdout"
        $masker <"$work/out"
        echo "--- stderr"
        $masker <"$work/err"
    } >"$work/$name.txt"
    # A table for people keeps within 100 columns, also with a long CPU name
    # (tests/support/other_machine.sh).
    case "$name" in
    run_table | sweep_table | stress_table | history_table | compare_db_table | store_*)
        local wide
        wide=$(perl -CSD -ne 'print if length($_) > 101' "$work/out" | head -1)
        [ -z "$wide" ] || { echo "FAIL: $name has a line wider than 100 columns: $wide"; status=1; } ;;
    esac
    if [ "$update" -eq 1 ]; then
        cp "$work/$name.txt" "$here/$name.txt"
    elif ! diff -u "$here/$name.txt" "$work/$name.txt"; then
        echo "FAIL: $name differs"
        status=1
    fi
}

# The runner's reports in each format.
case_ run_table mask_machine real "$cli" --task 100K
case_ run_events mask_machine real "$cli" --task 100K --events
case_ sweep_table mask "$cli" --task 100K --sweep --repeat 2
case_ sweep_csv mask "$cli" --task 100K --sweep --repeat 2 --format csv
case_ repeat_json mask "$cli" --task 100K --threads 2 --repeat 3 --format json
# Long enough for two runs at least (an emulated build sets more).
stress=${GOLDEN_STRESS:-1s}
case_ stress_table mask_counts "$cli" --stress "$stress" --task 100K --threads 1
case_ stress_csv mask_counts "$cli" --stress "$stress" --task 100K --threads 2 --format csv
case_ stress_json mask_counts "$cli" --stress "$stress" --task 100K --format json
# Refusals and failures.
case_ usage_task mask "$cli" --task 7M
case_ usage_threads mask "$cli" --threads 3
case_ usage_sweep mask "$cli" --sweep --threads 1
case_ usage_stress mask "$cli" --stress 0s
case_ usage_history mask "$cli" history --last 0
case_ usage_compare mask "$cli" compare a.json
case_ save_missing_folder mask "$cli" --task 100K --save-primes "$work/none/primes.txt"
case_ help mask "$cli" --help
case_ help_history mask "$cli" history --help
case_ help_compare mask "$cli" compare --help
case_ version mask "$cli" --version
# The store, history and compare.
db="$work/results.db"
case_ store_first mask "$cli" --task 100K --repeat 2 --db "$db" --label first
case_ store_second mask "$cli" --task 100K --sweep --db "$db"
case_ history_table mask "$cli" history --db "$db"
case_ history_csv mask "$cli" history --db "$db" --format csv
case_ history_json mask "$cli" history --db "$db" --format json --task 100K --threads 1
case_ compare_db_table mask "$cli" compare "db:$db:last" "db:$db:last"
case_ compare_db_csv mask "$cli" compare "db:$db:1" "db:$db:last" --format csv --alpha 0.01 --fail-on-slowdown 1000
"$cli" --task 100K --repeat 5 --format json >"$work/base.json" 2>/dev/null
case_ compare_json mask "$cli" compare "$work/base.json" "$work/base.json" --format json --fail-on-slowdown 5
case_ compare_missing mask "$cli" compare "$work/none.json" "$work/base.json"

# The fleet: two ranks on this machine; no rank can be an outlier. Unbound,
# as the README launches them: Open MPI binds each of two ranks to one core.
# mpirun passes the described machine on to the ranks.
if [ -n "$mpi" ]; then
    export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
    fleet() { timeout 60 mpirun --oversubscribe --bind-to none -np 2 "$mpi" "$@"; }
    case_ fleet_table mask fleet --task 100K --outlier 1000
    case_ fleet_csv mask fleet --task 100K --sweep --outlier 1000 --format csv
    case_ fleet_json mask fleet --task 100K --repeat 2 --outlier 1000 --format json
    case_ fleet_usage mask fleet --threads 3
    case_ fleet_help mask fleet --help
fi
[ "$status" -eq 0 ] && echo "ok"
exit "$status"
