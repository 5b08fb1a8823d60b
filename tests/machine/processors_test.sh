#!/usr/bin/env bash
# The processors vantrel-cli may use, as a real process sees them: a CPU set
# (taskset), another machine described to hwloc (HWLOC_SYNTHETIC,
# HWLOC_XMLFILE), and a cgroup CPU quota of one processor where this machine
# lets the test make a cgroup (root, a cgroup v1 cpu controller or v2 with
# cpu); that part is left out with one line elsewhere.
# With the fleet program, also its ranks under Open MPI's default binding
# (one core each for two ranks) and unbound.
#   processors_test.sh RUNNER TOPOLOGIES_FOLDER [FLEET]
set -uo pipefail
runner=$1
topologies=$2
fleet=${3:-}
machine=$(getconf _NPROCESSORS_ONLN)
# The processors this test may use itself (a CI runner's or a container's
# CPU set, taskset), and the first of them.
mine=$(nproc)
first=$(taskset -pc $$ | sed 's/.*: //; s/[-,].*//')
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# expect_in TEXT PATTERN WHAT: TEXT holds PATTERN (fixed string).
expect_in() {
  grep -qF -- "$2" <<<"$1" || fail "$3: expected \"$2\" in: $1"
}

# The thread counts a command line refuses name what the runner counted.
refusal() { "$@" --threads 0 2>&1 >/dev/null | head -1; }

# A sweep of 100K as CSV rows, one per thread count.
sweep_rows() { "$@" --task 100K --sweep --format csv | grep '^100K,'; }

# The context block a report begins with, its lines joined, blanks squeezed.
context_of() { sed '/^$/q' | tr '\n' ' ' | tr -s ' '; }
header() { "$@" 2>/dev/null | context_of; }

# 1. A CPU set of one processor: one usable, and the sweep runs 1 core only.
if [ "$machine" -gt 1 ]; then
  expect_in "$(refusal taskset -c "$first" "$runner")" \
    "valid thread counts on this machine ($machine logical processors, 1 usable (CPU set $first)): 1" "taskset -c $first"
  expect_in "$(header taskset -c "$first" "$runner" --task 100K)" \
    "Processors: $machine logical processors, 1 usable (CPU set $first);" "taskset -c $first: the report's header"
  json=$(taskset -c "$first" "$runner" --task 100K --format json)
  expect_in "$json" '"usable_processors": 1,' "taskset -c $first: JSON"
  expect_in "$json" "\"usable_reason\": \"CPU set $first\"," "taskset -c $first: JSON"
  rows=$(sweep_rows taskset -c "$first" "$runner")
  [ "$(wc -l <<<"$rows")" = 1 ] && grep -q '^100K,1 core,' <<<"$rows" || fail "taskset -c $first --sweep ran: $rows"
  expect_in "$(refusal taskset -c "$first" "$runner" --stress 1s --threads 0)" "every usable logical processor: 1 here" \
    "taskset -c $first --stress all"
else
  echo "one processor: the CPU set part is left out"
fi

# 2. Another machine described to hwloc: its counts are taken, and it is not placed on.
expect_in "$(HWLOC_SYNTHETIC="pack:2 core:32 pu:2" refusal "$runner")" \
  "valid thread counts on this machine (128 logical processors): 1 to 128, or all" "HWLOC_SYNTHETIC"
expect_in "$(HWLOC_XMLFILE="$topologies/hybrid-8p-16e.xml" refusal "$runner")" \
  "valid thread counts on this machine (32 logical processors): 1 to 32, or all" "HWLOC_XMLFILE"
expect_in "$(HWLOC_SYNTHETIC="pack:2 core:32 pu:2" "$runner" --task 100K --bind cores 2>&1 >/dev/null)" \
  "--bind cores cannot place the workers: the topology is not this machine's (HWLOC_SYNTHETIC=pack:2 core:32 pu:2)" \
  "--bind on a described machine"
# A placement that failed is stated as none, in every output.
json=$(HWLOC_SYNTHETIC="pack:1 core:2 pu:1" "$runner" --task 100K --bind cores --format json 2>/dev/null)
expect_in "$json" '"bind": "none"' "a failed placement: JSON"
grep -q 'bound to' <<<"$(HWLOC_SYNTHETIC="pack:1 core:2 pu:1" header "$runner" --task 100K --bind cores)" &&
  fail "a failed placement: the header says the workers are bound"
# A description hwloc does not take: this machine's shape, and one line saying so.
empty=$(mktemp)
for described in "HWLOC_XMLFILE=$empty:the file is empty" "HWLOC_XMLFILE=$topologies:it is a folder" \
  "HWLOC_XMLFILE=$0:hwloc cannot read it as a topology" "HWLOC_SYNTHETIC=pack:0:hwloc does not take it" \
  "HWLOC_SYNTHETIC=garbage text:hwloc does not take it"; do
  variable=${described%%=*}
  value=${described#*=}
  why=${value##*:}
  value=${value%:*}
  said=$(env "$variable=$value" "$runner" --task 100K 2>&1 >/dev/null)
  [ "$(wc -l <<<"$said")" = 1 ] || fail "$variable=$value: not one line: $said"
  expect_in "$said" "vantrel-cli: $variable=\"$value\" was not used ($why" "$variable=$value"
done
rm -f "$empty"
# Only what runs loads the topology: a FIFO as the topology file would hold
# the load until a writer came.
fifo=$(mktemp -u)
mkfifo "$fifo"
for command in --version "history --db $fifo.db" "compare $fifo.json $fifo.json"; do
  HWLOC_XMLFILE=$fifo timeout -s KILL 5 "$runner" $command >/dev/null 2>&1
  [ $? = 137 ] && fail "$command loaded the topology"
done
rm -f "$fifo"

# Its shape and where threads begin to share cores, in each format: a
# 128-processor server of 64 cores, and a hybrid of two kinds of cores.
synthetic() { HWLOC_SYNTHETIC="pack:2 core:32 pu:2" "$runner" --task 100K "$@" 2>/dev/null; }
shape="2 packages, 64 cores, 2 per core, 1 NUMA node (from HWLOC_SYNTHETIC=pack:2 core:32 pu:2, not this machine)"
table=$(synthetic --threads 128)
expect_in "$(context_of <<<"$table")" "Processors: 128 logical processors; $shape System:" "synthetic: the table's header"
grep -Eq '^100K +128 cores +1299709 .*  SMT: more threads than cores$' <<<"$table" || fail "synthetic: no SMT mark at 128: $table"
grep -q 'SMT' <<<"$(synthetic --threads 64)" && fail "synthetic: an SMT mark at 64 threads on 64 cores"
csv=$(synthetic --threads 128 --format csv)
expect_in "$csv" "# shape: $shape" "synthetic: CSV"
expect_in "$csv" "# cores: 64" "synthetic: CSV"
grep -q '^100K,128 cores,1299709,[^,]*,128,yes,' <<<"$csv" || fail "synthetic: the CSV row is not beyond the cores: $csv"
json=$(synthetic --threads 128 --format json)
for field in '"packages": 2,' '"cores": 64,' '"pus_per_core": 2,' '"beyond_cores": true,' \
  '"topology_source": "HWLOC_SYNTHETIC=pack:2 core:32 pu:2",'; do
  expect_in "$json" "$field" "synthetic: JSON"
done
hybrid=$(HWLOC_XMLFILE="$topologies/hybrid-8p-16e.xml" "$runner" --task 100K --format json 2>/dev/null)
expect_in "$hybrid" '"kind": "performance",' "hybrid: JSON"
expect_in "$hybrid" '"kind": "efficiency",' "hybrid: JSON"
expect_in "$(HWLOC_XMLFILE="$topologies/hybrid-8p-16e.xml" header "$runner" --task 100K)" \
  ": 8 performance cores, 16 efficiency cores" "hybrid: the table's header"

# A placement the runner does not know is bad input.
out=$("$runner" --bind sockets 2>&1)
code=$?
[ "$code" = 2 ] || fail "--bind sockets ended with $code"
expect_in "$out" 'vantrel-cli: unknown placement "sockets"; valid placements: none cores pus' "--bind sockets"

# 3. A cgroup with a CPU quota of one processor.
group=""
cleanup() { [ -n "$group" ] && rmdir "$group" 2>/dev/null; }
trap cleanup EXIT
if [ "$(id -u)" != 0 ]; then
  echo "not root: the cgroup quota part is left out"
elif [ -w /sys/fs/cgroup/cpu/cpu.cfs_quota_us ]; then
  group=/sys/fs/cgroup/cpu/vantrel-test-$$
  mkdir "$group" && echo 100000 >"$group/cpu.cfs_period_us" && echo 100000 >"$group/cpu.cfs_quota_us" || group=""
elif grep -qw cpu /sys/fs/cgroup/cgroup.controllers 2>/dev/null; then
  group=/sys/fs/cgroup/vantrel-test-$$
  { grep -qw cpu /sys/fs/cgroup/cgroup.subtree_control || echo +cpu >/sys/fs/cgroup/cgroup.subtree_control; } 2>/dev/null
  mkdir "$group" && echo "100000 100000" >"$group/cpu.max" || group=""
fi
if [ -n "$group" ]; then
  # A shell that moves itself into the group, then becomes the runner.
  in_group() { sh -c 'echo $$ >"$0/cgroup.procs" && exec "$@"' "$group" "$@"; }
  # The quota is the reason where it lowers what this test's CPU set allows
  # (after the CPU set, where that is smaller than the machine).
  if [ "$mine" -gt 1 ]; then
    expect_in "$(refusal in_group "$runner")" "CPU quota 1)): 1" "CPU quota 1"
    expect_in "$(header in_group "$runner" --task 100K)" "$machine logical processors, 1 usable (" \
      "CPU quota 1: the report's header"
    expect_in "$(header in_group "$runner" --task 100K)" "CPU quota 1);" "CPU quota 1: the report's header"
  else
    echo "one usable processor: the quota of 1 lowers nothing, and its reason is left out"
  fi
  rows=$(sweep_rows in_group "$runner")
  [ "$(wc -l <<<"$rows")" = 1 ] || fail "a sweep under a CPU quota of 1 ran: $rows"
elif [ "$(id -u)" = 0 ]; then
  echo "no cgroup with a cpu controller could be made here: the cgroup quota part is left out"
fi

# 4. Two ranks under Open MPI: each bound to one processor (as Open MPI binds
# two ranks by default, to a core each, where a core has one) offers 1
# thread, unbound every count. Unbound ranks keep this test's CPU set, so it
# must be the machine's.
if [ -n "$fleet" ] && [ "$machine" -gt 1 ] && [ "$mine" != "$machine" ]; then
  echo "this test may use $mine of $machine processors: the fleet's binding part is left out"
elif [ -n "$fleet" ] && [ "$machine" -gt 1 ] && command -v mpirun >/dev/null; then
  export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
  settings() { timeout 60 mpirun "$@" -np 2 "$fleet" --task 100K --sweep --format csv | grep '^# setting'; }
  bound=$(settings --bind-to hwthread)
  [ "$(wc -l <<<"$bound")" = 1 ] && grep -q 'on 1 core:' <<<"$bound" || fail "bound ranks swept: $bound"
  unbound=$(settings --bind-to none)
  grep -q 'on 2 cores:' <<<"$unbound" || fail "unbound ranks swept: $unbound"
  # The report says which ranks are bound, and how to give them whole nodes.
  report=$(timeout 60 mpirun --bind-to hwthread -np 2 "$fleet" --task 100K)
  expect_in "$report" "2 ranks may use fewer processors than their machines have" "bound ranks: the header"
  expect_in "$report" "mpirun --bind-to none" "bound ranks: the header"
  for rank in 0 1; do
    grep -Eq "^[^ ]+ +$rank +1 usable \(CPU set [0-9]+\) +100K " <<<"$report" || fail "bound rank $rank's row: $report"
  done
  report=$(timeout 60 mpirun --bind-to none -np 2 "$fleet" --task 100K)
  grep -q 'usable' <<<"$report" && fail "unbound ranks said to be bound: $report"
fi

[ "$failures" = 0 ] || exit 1
echo "processors: all passed"
