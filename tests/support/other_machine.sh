#!/usr/bin/env bash
# Runs a command as if on another machine: another CPU name, long and with
# characters that CSV and JSON escape (other_machine_cpuinfo, bound over
# /proc/cpuinfo in a mount namespace of its own), a long host name (a UTS
# namespace of its own), the Chatham Islands' time zone (UTC+12:45) and the
# C locale. It needs root, or unprivileged user namespaces (then it runs as
# root of a namespace of its own); where neither is there it runs nothing
# and exits with 77, which CTest counts as skipped.
#   other_machine.sh COMMAND [ARGUMENT...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
host=build-worker-0042.ci-runners.example-organisation.internal
namespaces=(unshare --mount --uts)
[ "$(id -u)" = 0 ] || namespaces+=(--map-root-user)
if ! "${namespaces[@]}" true 2>/dev/null; then
    echo "skipped: no mount and UTS namespace can be made here (it needs root or unprivileged user namespaces)"
    exit 77
fi
exec "${namespaces[@]}" env -u LC_ALL TZ=Pacific/Chatham LANG=C \
    sh -c 'mount --bind "$0" /proc/cpuinfo && hostname "$1" && shift && exec "$@"' \
    "$here/other_machine_cpuinfo" "$host" "$@"
