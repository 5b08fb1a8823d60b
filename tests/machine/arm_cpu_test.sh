#!/usr/bin/env bash
# The runner of an ARM build names the processor that /proc/cpuinfo
# describes: fixtures of other ARM machines bound over it in a mount
# namespace of the runner's own (as root; skipped elsewhere).
#   arm_cpu_test.sh RUNNER CPUINFO_FOLDER
set -u
runner=$1
fixtures=$2
[ "$(id -u)" -eq 0 ] || { echo "SKIPPED: not root (a mount namespace shows the runner another /proc/cpuinfo)"; exit 77; }
unshare -m true 2>/dev/null || { echo "SKIPPED: no mount namespace can be made here"; exit 77; }
failures=0
while IFS='|' read -r file name; do
  cpu=$(unshare -m sh -c 'mount --bind "$1" /proc/cpuinfo && exec "$2" --task 100K' sh "$fixtures/$file" "$runner" |
    sed -n 's/^CPU: *//p')
  [ "$cpu" = "$name" ] || { echo "FAIL: $file: want \"$name\" as the CPU, got: $cpu"; failures=$((failures + 1)); }
done <<'CASES'
graviton2-neoverse-n1-64.txt|ARM Neoverse-N1
raspberry-pi-5.txt|ARM Cortex-A76 (Raspberry Pi 5 Model B Rev 1.0)
rk3588-big-little.txt|4 x ARM Cortex-A76 + 4 x ARM Cortex-A55
CASES
[ "$failures" -eq 0 ] && echo "ARM processors named from /proc/cpuinfo"
exit $((failures > 0))
