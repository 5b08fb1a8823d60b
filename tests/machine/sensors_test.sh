#!/usr/bin/env bash
# What the machine did during a stress, as the real runner reports it: other
# machines as fixture trees under VANTREL_FSROOT (one whose sensors move
# while the runs go on, one with nothing to read, one whose energy counter
# only root may read, made real by setpriv), and this machine with a busy
# loop of the test's own beside the stress.
#   sensors_test.sh RUNNER
set -uo pipefail
runner=$1
work=$(mktemp -d)
chmod 755 "$work"
updater=""
loop=""
cleanup() {
  [ -n "$updater" ] && kill "$updater" 2>/dev/null
  [ -n "$loop" ] && kill "$loop" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
expect_in() { grep -qF -- "$2" <<<"$1" || fail "$3: expected \"$2\" in: $1"; }
# A file put whole, as sysfs shows a value: never empty to a reader.
put() { mkdir -p "$(dirname "$1")" && echo "$2" >"$1.new" && mv "$1.new" "$1"; }
# The summary's lines, each whole: the table wraps them beneath themselves at 100 columns.
unwrapped() { perl -0pe 's/\n {14}(?=\S)/ /g'; }
stress() { "$runner" --stress 3s --task 100K --threads 1 "$@" 2>/dev/null | unwrapped; }

# A machine that throttles as it heats, its RAPL counter close to its range:
# the updater moves it on every tenth of a second while the stress runs, its
# clock down by a tenth of a GHz a step, so that a loaded machine, which
# makes fewer steps, still shows the fall between the first and last quarter.
hot=$work/hot
range=262143328850
for ((cpu = 0; cpu < $(getconf _NPROCESSORS_CONF); cpu++)); do
  c=$hot/sys/devices/system/cpu/cpu$cpu
  put "$c/cpufreq/cpuinfo_max_freq" 3600000
  put "$c/topology/physical_package_id" 0
  put "$c/topology/core_id" "$cpu"
done
put "$hot/sys/class/hwmon/hwmon0/name" coretemp
put "$hot/sys/class/hwmon/hwmon0/temp1_label" "Package id 0"
put "$hot/sys/class/powercap/intel-rapl:0/max_energy_range_uj" $range
step() {
  local k=$1
  for c in "$hot"/sys/devices/system/cpu/cpu*; do
    put "$c/cpufreq/scaling_cur_freq" $((k < 25 ? 3500000 - k * 100000 : 1000000))
    put "$c/thermal_throttle/core_throttle_count" $((k * 3))
  done
  put "$hot/sys/class/hwmon/hwmon0/temp1_input" $((60000 + k * 1000))
  put "$hot/sys/class/powercap/intel-rapl:0/energy_uj" $(((range - 20000000 + k * 5000000) % range))
}
step 0
(for ((k = 1; ; k++)); do sleep 0.1; step $k; done) &
updater=$!
json=$(VANTREL_FSROOT=$hot stress --format json)
kill "$updater"
updater=""
expect_in "$json" "\"root\": \"$hot\"" "throttling: the sensors' root"
expect_in "$json" '"cause": "' "throttling: the cause"
# With enough runs to compare quarters, the clock's fall comes first.
cause=$(grep '"cause"' <<<"$json")
grep -q 'thermal throttling ([1-9][0-9]* throttle events)' <<<"$cause" && grep -q 'the package reached [0-9]* °C' <<<"$cause" ||
  fail "throttling: no thermal throttling with its numbers in: $cause"
grep -q '"runs": [0-9]*,' <<<"$json" && [ "$(grep -c '"run":' <<<"$json")" -lt 8 ] ||
  grep -q 'clock fell from [0-9.]* to [0-9.]* GHz while' <<<"$cause" || fail "throttling: the clock's fall is not named in: $cause"
# Every run has its energy, across the wraparound too: a few joules (none
# when the counter did not move during a short run), never the counter's range.
energies=$(grep -o '"energy_joules":[^,]*' <<<"$json" | cut -d: -f2)
[ -n "$energies" ] || fail "RAPL: no run's energy in: $json"
awk '{ if (!($1 >= 0 && $1 < 1000)) bad = 1; sum += $1 } END { exit bad || sum <= 0 }' <<<"$energies" ||
  fail "RAPL: the runs' joules: $(tr '\n' ' ' <<<"$energies")"
expect_in "$json" '"energy": "' "RAPL: the summary's energy"
grep -q '"energy": "[0-9.]* J per run (median)' <<<"$json" || fail "RAPL: the summary's energy in: $json"

# Nothing to read: the runs pass, and the report says what is not available.
mkdir -p "$work/bare"
table=$(VANTREL_FSROOT=$work/bare "$runner" --stress 1s --task 100K --threads 1 2>/dev/null | unwrapped)
expect_in "$table" "Temperature   not available here: no hwmon sensor of the processors and no thermal zone of them" "bare"
grep -q "^Machine       \(slowed [0-9]* % from the first quarter to the last; \)\?nothing of the machine could be read here" \
  <<<"$table" || fail "bare: nothing read, in: $table"
grep -q "^PASS: \(every run\|the run was\) verified" <<<"$table" || fail "bare: no PASS in: $table"

# An energy counter root alone may read, and the runner not root.
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
  put "$work/rapl/sys/class/powercap/intel-rapl:0/energy_uj" 5
  chmod -R a+rX "$work/rapl" && chmod 400 "$work/rapl/sys/class/powercap/intel-rapl:0/energy_uj"
  table=$(VANTREL_FSROOT=$work/rapl setpriv --reuid=65534 --regid=65534 --clear-groups \
    "$runner" --stress 1s --task 100K --threads 1 2>&1 | unwrapped)
  expect_in "$table" "Energy        not available here: powercap's energy_uj can be read by root only (Linux 5.10 and later)" \
    "energy_uj for root only"
else
  echo "not root: the unreadable energy counter is left out"
fi

# This machine, with a busy loop of the test's own on one processor.
taskset -c 0 sh -c 'while :; do :; done' &
loop=$!
table=$(stress)
kill "$loop"
loop=""
grep -q "^Other load    median [0-9]* %, at most [0-9]* % (run [0-9]*)$" <<<"$table" || fail "busy loop: no other load in: $table"
grep -q "^Machine       .*other programs used [0-9]* % of the processors during runs\? [0-9]" <<<"$table" ||
  fail "busy loop: not named in: $table"

[ "$failures" = 0 ] || exit 1
echo "sensors: all passed"
