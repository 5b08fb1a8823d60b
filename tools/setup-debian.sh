#!/usr/bin/env bash
# Installs what building and testing Vantrel needs on a Debian machine, by
# group, so that each make target asks only for what it uses:
#   native   the g++ build, the runner (with its SQLite result store and hwloc) and the core's tests
#   windows  the MinGW-w64 cross compilers, Wine and a virtual X server
#   cluster  Open MPI, for vantrel-mpi
#   charts   gnuplot, which draws the runner's charts (its tests need it too)
#   tests    what the tests use beyond the build: a Slurm of one node for
#            vantrel-mpi's test under srun, and the time zone data for the
#            golden outputs' run under another machine's identity
#   packaging  the Debian packages' tools (dpkg-shlibdeps, lintian) and what
#            their check and the manual pages' and completions' tests use:
#            man, bash-completion, zsh
# With no group, all of them (VANTREL_NO_WINDOWS=1 leaves out windows).
# Does nothing when everything is already there, so make can call it every time.
set -euo pipefail

native=(cmake g++ make ninja-build googletest libcli11-dev nlohmann-json3-dev libsqlite3-dev libxxhash-dev libhwloc-dev)
windows=(g++-mingw-w64-i686 wine wine32:i386 fonts-wine xvfb xauth xdotool x11-utils imagemagick)
cluster=(libopenmpi-dev openmpi-bin)
charts=(gnuplot-nox)
# slurm_test.sh starts slurmctld and slurmd on localhost, authenticated by
# munge (installing them starts their daemons on a machine with systemd).
tests=(slurm-wlm munge tzdata)
packaging=(dpkg-dev lintian man-db bash-completion zsh)

# The windows group's 64-bit build (compiler, 64-bit Wine), and zip for the
# release package (unzip to check it).
windows+=(g++-mingw-w64-x86-64 wine64 zip unzip)

groups=("$@")
if [ ${#groups[@]} -eq 0 ]; then
  groups=(native cluster charts tests packaging)
  [ "${VANTREL_NO_WINDOWS:-0}" = 1 ] || groups+=(windows)
fi

want=()
for group in "${groups[@]}"; do
  case "$group" in
    native) want+=("${native[@]}") ;;
    windows) want+=("${native[@]}" "${windows[@]}") ;;
    cluster) want+=("${native[@]}" ${cluster[@]+"${cluster[@]}"}) ;;
    charts) want+=(${charts[@]+"${charts[@]}"}) ;;
    tests) want+=("${tests[@]}") ;;
    packaging) want+=("${packaging[@]}") ;;
    *) echo "setup: unknown group '$group' (native, windows, cluster, charts, tests, packaging)" >&2; exit 2 ;;
  esac
done
[ ${#want[@]} -eq 0 ] && exit 0

missing=()
for p in $(printf '%s\n' "${want[@]}" | sort -u); do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "setup: installing ${missing[*]}" >&2
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
   ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
