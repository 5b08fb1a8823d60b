#!/usr/bin/env bash
# Installs what building and testing Vantrel needs on a Debian machine.
# Does nothing when everything is already there, so `make` can call it every time.
set -euo pipefail

native=(cmake g++ make ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
        libcli11-dev nlohmann-json3-dev)
windows=(g++-mingw-w64-i686 wine wine32:i386 fonts-wine xvfb xauth xdotool x11-utils imagemagick)

want=("${native[@]}")
[ "${VANTREL_NO_WINDOWS:-0}" = 1 ] || want+=("${windows[@]}")

missing=()
for p in "${want[@]}"; do
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
