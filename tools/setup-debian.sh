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
#   arm64    the 64-bit ARM cross build (preset linux-arm64): Debian's cross
#            compiler, qemu-user to run its programs, arm64 libraries
#   s390x    the big-endian check (preset linux-s390x), likewise
# With no group, all of them (VANTREL_NO_WINDOWS=1 leaves out windows and the
# cross builds). A machine that is not amd64 (an ARM board, a Graviton
# instance) gets the groups it can build for: no windows, arm64 or s390x.
# --dry-run prints the groups and packages it would install, and installs
# nothing.
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

# The cross groups install runtime libraries of the other architecture
# through multiarch (dpkg --add-architecture). Their -dev packages would
# bring libc6-dev:ARCH, whose linux-libc-dev must be the version the amd64
# one has (the archive may have moved on), and Open MPI's libraries of
# another architecture replace the amd64 Open MPI and Slurm. So those are
# unpacked, not installed, into a folder of their own (the toolchain files'
# VANTREL_CROSS_ROOT), and nothing of the amd64 packages is removed or
# replaced: apt-get runs with --no-remove.
arm64=(g++-aarch64-linux-gnu qemu-user libc6:arm64 libstdc++6:arm64 libsqlite3-0:arm64 libhwloc15:arm64)
arm64_unpacked=(libsqlite3-dev libhwloc-dev libopenmpi-dev)
arm64_unpacked_closure=(libopenmpi3)
# The big-endian check: the same, without Open MPI.
s390x=(g++-s390x-linux-gnu qemu-user libc6:s390x libstdc++6:s390x libsqlite3-0:s390x libhwloc15:s390x)
s390x_unpacked=(libsqlite3-dev libhwloc-dev)
s390x_unpacked_closure=()
cross_root=${VANTREL_CROSS_ROOT:-/opt/vantrel}

dry_run=0
if [ "${1:-}" = --dry-run ]; then
  dry_run=1
  shift
fi
arch=$(dpkg --print-architecture)
groups=("$@")
if [ ${#groups[@]} -eq 0 ]; then
  groups=(native cluster charts tests packaging)
  [ "${VANTREL_NO_WINDOWS:-0}" = 1 ] || [ "$arch" != amd64 ] || groups+=(windows arm64)
fi
# Wine, MinGW and the cross compilers are amd64 packages here: elsewhere the
# groups that need them are left out, and make test skips their
# configurations (see the README).
if [ "$arch" != amd64 ]; then
  kept=()
  for group in "${groups[@]}"; do
    case "$group" in
      windows | arm64 | s390x) echo "setup: no $group group on $arch (its compilers are amd64 packages)" >&2 ;;
      *) kept+=("$group") ;;
    esac
  done
  groups=(${kept[@]+"${kept[@]}"})
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
    arm64) want+=("${native[@]}" "${arm64[@]}") ;;
    s390x) want+=("${native[@]}" "${s390x[@]}") ;;
    *) echo "setup: unknown group '$group' (native, windows, cluster, charts, tests, packaging, arm64, s390x)" >&2; exit 2 ;;
  esac
done
if [ "$dry_run" = 1 ]; then
  echo "groups: ${groups[*]}"
  echo "packages: $(printf '%s\n' ${want[@]+"${want[@]}"} | sort -u | tr '\n' ' ')"
  exit 0
fi
[ ${#want[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# Unpacks the -dev packages and libraries of architecture $1 that cannot be
# installed beside the amd64 ones into $cross_root/$1, for the cross build
# to compile and link against and for qemu to find (qemu -L). Each library's
# shlibs file goes into DEBIAN/shlibs.local for dpkg-shlibdeps. Done again
# when the list or the archive's versions change.
unpack_cross_root() {
  local target=$1 root=$cross_root/$1 names closure stamp work deb link dest
  local -n unpacked=${target}_unpacked closure_of=${target}_unpacked_closure
  # What the closure's libraries need beyond what is installed for $target.
  closure=""
  if [ ${#closure_of[@]} -gt 0 ]; then
    closure=$(apt-get install -s --no-install-recommends "${closure_of[@]/%/:$target}" 2>/dev/null |
      sed -n "s/^Inst \([^ ]*:$target\) .*/\1/p" | sed "s/:$target\$//")
  fi
  names=$(printf '%s\n' "${unpacked[@]}" ${closure_of[@]+"${closure_of[@]}"} $closure | sort -u)
  stamp=$(for name in $names; do apt-cache policy "$name:$target" | sed -n "s/^  Candidate: /$name /p"; done)
  [ "$(cat "$root/DEBIAN/packages" 2>/dev/null)" = "$stamp" ] && return 0
  echo "setup: unpacking $(echo $names) for $target into $root" >&2
  work=$(mktemp -d)
  chmod 755 "$work"
  # shellcheck disable=SC2046
  (cd "$work" && $sudo apt-get download -qq $(printf "%s:$target " $names) 2>/dev/null) ||
    (cd "$work" && $sudo apt-get download $(printf "%s:$target " $names))
  $sudo rm -rf "$root.new"
  $sudo mkdir -p "$root.new/DEBIAN"
  for deb in "$work"/*.deb; do
    $sudo dpkg-deb -x "$deb" "$root.new"
    dpkg-deb -I "$deb" shlibs 2>/dev/null | $sudo tee -a "$root.new/DEBIAN/shlibs.local" >/dev/null || true
  done
  # A -dev package's links to libraries installed through multiarch.
  while IFS= read -r link; do
    dest=$(readlink -m "$link")
    dest=${dest#"$root.new"}
    [ -e "$dest" ] && $sudo ln -sfn "$dest" "$link"
  done < <(find "$root.new" -xtype l)
  echo "$stamp" | $sudo tee "$root.new/DEBIAN/packages" >/dev/null
  $sudo rm -rf "$root" "$work"
  $sudo mv "$root.new" "$root"
}

missing=()
for p in $(printf '%s\n' "${want[@]}" | sort -u); do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  for foreign in i386 arm64 s390x; do
    if printf '%s\n' "${missing[@]}" | grep -q ":$foreign\$" &&
       ! dpkg --print-foreign-architectures | grep -qx $foreign; then
      $sudo dpkg --add-architecture $foreign
    fi
  done
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends --no-remove "${missing[@]}" >/dev/null
fi
for group in "${groups[@]}"; do
  case "$group" in arm64 | s390x) unpack_cross_root "$group" ;; esac
done
