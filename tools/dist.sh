#!/usr/bin/env bash
# The release packages (VERSION is the CMake project's):
#   dist/Vantrel-VERSION-windows.zip    README.txt, LICENSE.txt, SHA256SUMS and
#                                       the program and the runner of each
#                                       build: x86/ and x64/ Vantrel.exe and
#                                       vantrel-cli.exe
#   dist/vantrel_VERSION_ARCH.deb       vantrel-cli, its manual pages and
#                                       completions (Debian package vantrel)
#   dist/vantrel-mpi_VERSION_ARCH.deb   vantrel-mpi, its manual page and
#                                       completions (package vantrel-mpi)
#
# ARCH is this machine's (amd64) and, cross-built on an amd64 machine, arm64.
#
#   bash tools/dist.sh           builds the four Windows executables (presets
#                                windows-x86 and windows-x64) and the Linux
#                                programs (preset package), and packs them
#   bash tools/dist.sh --deb     the Debian packages alone: the Linux programs
#                                only, no Windows build (no MinGW, no Wine)
#   bash tools/dist.sh --check   then checks the packages: the same programs
#                                built again from a copy of the sources in
#                                another folder give the same packages, byte
#                                for byte; each Windows executable imports
#                                Windows' own DLLs only, is of its folder's
#                                architecture (the x86 ones large-address-
#                                aware) and names no folder of the build, and
#                                neither do the Linux programs; the zip holds
#                                what it should; lintian passes both Debian
#                                packages; and they install (as root, or with
#                                sudo), run, show their manual page and
#                                complete, and remove again without a trace;
#                                the arm64 ones are of their architecture,
#                                hold what the amd64 ones hold, and their
#                                runner, unpacked, runs under qemu-aarch64
#
# Two runs from one commit give the same packages: the executables hold no
# time and no folder (CMakeLists.txt), and the members of the zip and the
# Debian packages go in a fixed order, with fixed permissions, owner root and
# the commit's time (SOURCE_DATE_EPOCH, if set); the zip has no extra fields.
set -euo pipefail
deb_only=0
[ "${1:-}" = --deb ] && deb_only=1
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
jobs=${JOBS:-$(nproc)}
members=(README.txt LICENSE.txt SHA256SUMS x86/Vantrel.exe x86/vantrel-cli.exe x64/Vantrel.exe x64/vantrel-cli.exe)
debs=(vantrel vantrel-mpi)
# The Debian packages' maintainer, in their control files and changelogs.
# The project has no address of its own yet, and .invalid says so.
maintainer=${VANTREL_MAINTAINER:-"The Vantrel developers <developers@vantrel.invalid>"}
# The Linux builds: the package preset for this machine's architecture and,
# on amd64, package-arm64 cross-built (its libraries as cmake/linux-cross.cmake finds them).
native_arch=$(dpkg --print-architecture)
builds=("package:$native_arch")
[ "$native_arch" != amd64 ] || builds+=("package-arm64:arm64")
arm64_root=${VANTREL_CROSS_ROOT:-/opt/vantrel}/arm64
# What an executable may import: DLLs every Windows has.
allowed_dlls=" kernel32.dll user32.dll gdi32.dll comctl32.dll comdlg32.dll advapi32.dll shell32.dll msvcrt.dll powrprof.dll "

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || echo 1767225600)  # or 2026-01-01
fi
export SOURCE_DATE_EPOCH

fail() { echo "dist: $*" >&2; exit 1; }

# The four Windows executables of this tree, and the Linux programs with
# their manual pages and completions. VANTREL_DIST_CONFIGURE: more arguments
# for the configure steps.
build() {
  local arch
  for arch in x86 x64; do
    [ "$deb_only" -eq 0 ] || break
    # shellcheck disable=SC2086
    cmake --preset "windows-$arch" ${VANTREL_DIST_CONFIGURE:-} >/dev/null
    cmake --build --preset "windows-$arch" -j "$jobs" --target Vantrel vantrel-cli >&2
  done
  local build
  for build in "${builds[@]%%:*}"; do
    # shellcheck disable=SC2086
    cmake --preset "$build" ${VANTREL_DIST_CONFIGURE:-} >/dev/null
    cmake --build --preset "$build" -j "$jobs" --target vantrel-cli vantrel-mpi vantrel_docs >&2
  done
}

# The project's version, as the Linux programs' build has it (the Windows
# builds are of the same project).
version() { sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "build/${builds[0]%%:*}/CMakeCache.txt"; }

# Packs this tree's executables into dist/.
pack() {
  local version stage zip arch
  version=$(version)
  [ -n "$version" ] || fail "no project version in build/${builds[0]%%:*}/CMakeCache.txt"
  stage=build/dist-stage
  zip=dist/Vantrel-$version-windows.zip
  rm -rf "$stage"
  mkdir -p "$stage/x86" "$stage/x64" dist
  for arch in x86 x64; do
    cp "build/windows-$arch/app/Vantrel.exe" "build/windows-$arch/cli/vantrel-cli.exe" "$stage/$arch/"
  done
  # CR LF, for Notepad.
  sed -e "s/@VERSION@/$version/g" -e 's/\r$//' -e 's/$/\r/' tools/dist-README.txt >"$stage/README.txt"
  sed -e 's/\r$//' -e 's/$/\r/' LICENSE >"$stage/LICENSE.txt"
  (cd "$stage" && sha256sum README.txt LICENSE.txt x86/Vantrel.exe x86/vantrel-cli.exe x64/Vantrel.exe x64/vantrel-cli.exe \
    >SHA256SUMS)
  (
    cd "$stage"
    chmod 644 "${members[@]}"
    TZ=UTC touch -d "@$SOURCE_DATE_EPOCH" "${members[@]}"
    rm -f "$root/$zip"
    TZ=UTC zip -X -D -q "$root/$zip" "${members[@]}"
  )
  rm -rf "$stage"
}

# Debian's copyright file, in its machine-readable form, from LICENSE.
debian_copyright() {
  printf '%s\n' "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" "Upstream-Name: Vantrel" "" \
    "Files: *" "Copyright: $(sed -n 's/^Copyright //p' LICENSE)" "License: Expat"
  sed -e '1,/^Copyright /d' LICENSE | sed -e '/./,$!d' -e 's/^$/./' -e 's/^/ /'
}

# What the shared libraries of package $1's executables need, as Depends.
# Of the arm64 build ($2), also those of Open MPI's arm64 libraries, which
# are unpacked, not installed (tools/setup-debian.sh): their packages' own
# shlibs files name them.
shlib_depends() {
  local cross=()
  [ "$2" = "$native_arch" ] ||
    cross=("-l$arm64_root/usr/lib/aarch64-linux-gnu" "-L$arm64_root/DEBIAN/shlibs.local")
  printf 'Source: vantrel\n\nPackage: %s\nArchitecture: any\n' "$1" >build/deb/debian/control
  (cd build/deb && dpkg-shlibdeps ${cross[@]+"${cross[@]}"} -O debian/"$1"/usr/bin/*) | sed -n 's/^shlibs:Depends=//p'
}

# Packs the component $1 of the package build $2 (of Debian architecture
# $3), installed under /usr, into dist/$1_VERSION_$3.deb.
pack_deb() {
  local package=$1 build=build/$2 arch=$3 version stage doc depends size deb strip
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  strip=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "$build/CMakeCache.txt")
  # Where dpkg-shlibdeps looks for a package's files.
  stage=build/deb/debian/$package
  deb=dist/${package}_${version}_$arch.deb
  rm -rf "$stage"
  DESTDIR=$root/$stage cmake --install "$build" --component "$package" --strip >/dev/null
  [ -n "$(ls "$stage/usr/bin")" ] || fail "$package: no program installed"
  # As Debian's own packages: no compiler notes either.
  "${strip:-strip}" --remove-section=.comment --remove-section=.note "$stage"/usr/bin/*
  # The licence is in the copyright file, the form Debian reads it in.
  rm -f "$stage/usr/share/doc/vantrel/LICENSE"
  doc=$stage/usr/share/doc/$package
  mkdir -p "$doc"
  debian_copyright >"$doc/copyright"
  sed -e "s/@VERSION@/$version/g" -e "s/@MAINTAINER@/$maintainer/g" \
      -e "s/@DATE@/$(LC_ALL=C date -u -R -d "@$SOURCE_DATE_EPOCH")/g" packaging/debian/changelog | gzip -9n >"$doc/changelog.gz"
  gzip -9n "$stage"/usr/share/man/man1/*.1
  find "$stage" -type d -exec chmod 755 {} +
  find "$stage" -type f -exec chmod 644 {} +
  chmod 755 "$stage"/usr/bin/*

  size=$(find "$stage" -type f -printf '%s\n' | awk '{ kb += int(($1 + 1023) / 1024) } END { print kb }')
  mkdir -m 755 "$stage/DEBIAN"  # also how dpkg-shlibdeps knows the package's folder
  depends=$(shlib_depends "$package" "$arch")
  [ -n "$depends" ] || fail "$package: dpkg-shlibdeps found no dependency"
  (cd "$stage" && find usr -type f | LC_ALL=C sort | xargs md5sum) >"$stage/DEBIAN/md5sums"
  sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@MAINTAINER@/$maintainer/" -e "s/@SIZE@/$size/" \
      -e "s/@DEPENDS@/$depends/" "packaging/debian/$package.control" >"$stage/DEBIAN/control"
  chmod 644 "$stage"/DEBIAN/*
  find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  # One compressor thread: how xz splits its work depends on their number.
  dpkg-deb --root-owner-group --threads-max=1 -Zxz --build "$stage" "$deb" >/dev/null
  rm -rf "$stage"
}

# The executables' checks, on the unpacked package.
check_executable() {
  local exe=$1 arch=$2 header dll
  header=$(x86_64-w64-mingw32-objdump -p "$exe")
  for dll in $(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$header" | tr '[:upper:]' '[:lower:]'); do
    [[ "$allowed_dlls" == *" $dll "* ]] || fail "$exe imports $dll, which is not one of Windows' own DLLs"
  done
  if [ "$arch" = x86 ]; then
    grep -q '^Magic.*(PE32)$' <<<"$header" || fail "$exe is not a 32-bit program"
    grep -q 'large address aware' <<<"$header" || fail "$exe is not large-address-aware"
  else
    grep -q '^Magic.*(PE32+)$' <<<"$header" || fail "$exe is not a 64-bit program"
  fi
  ! grep -aqF -e "$root" -e "$copy" "$exe" || fail "$exe names a folder of the build"
}

# The Debian packages: the same bytes from the second build, no folder of
# the build in anything they install, and lintian's verdict: no error and no
# warning (nothing is overridden).
check_debs() {
  local deb other tree
  for deb in "${packages[@]:1}"; do
    other=$copy/dist/$(basename "$deb")
    if ! cmp -s "$deb" "$other"; then
      diff <(dpkg-deb -I "$deb"; dpkg-deb -c "$deb") <(dpkg-deb -I "$other"; dpkg-deb -c "$other") >&2
      fail "two builds of the same sources gave different packages: $deb and $other"
    fi
    tree=$unpacked/$(basename "$deb" .deb)
    dpkg-deb -x "$deb" "$tree"
    ! grep -raqF -e "$root" -e "$copy" "$tree" || fail "$deb installs a file that names a folder of the build"
  done
  lintian --fail-on error,warning "${packages[@]:1}" >&2 || fail "lintian finds fault with the Debian packages"
}

# What the installed packages offer: the runner runs and checks a task, its
# manual page is found, and bash-completion loads its completion on demand.
use_installed() {
  local completed
  [ "$(/usr/bin/vantrel-cli --version)" = "vantrel-cli $(version)" ] || fail "vantrel-cli --version says otherwise"
  OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 /usr/bin/vantrel-mpi --version >/dev/null ||
    fail "vantrel-mpi --version fails"
  man -w vantrel-cli >/dev/null && man -w vantrel-cli-history >/dev/null && man -w vantrel-mpi >/dev/null ||
    fail "man -w finds no manual page"
  /usr/bin/vantrel-cli --task 100K >/dev/null || fail "vantrel-cli --task 100K fails"
  complete_installed() {
    bash --norc --noprofile -c '
      source /usr/share/bash-completion/bash_completion
      _completion_loader vantrel-cli
      COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
      function=$(complete -p vantrel-cli | sed -n "s/.* -F \([^ ]*\) .*/\1/p")
      "$function" vantrel-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
      echo "${COMPREPLY[*]}"' bash "$@"
  }
  completed=$(complete_installed vantrel-cli --fo)
  [ "$completed" = --format ] || fail "vantrel-cli --fo<TAB> completes to \"$completed\", not --format"
  completed=$(complete_installed vantrel-cli --task 2)
  [ "$completed" = "2M 20M 200M" ] || fail "vantrel-cli --task 2<TAB> completes to \"$completed\", not 2M 20M 200M"
}

# Installs the Debian packages as a user would (apt-get, which would pull in
# what they depend on), uses them, removes them, and checks that the machine
# is as it was: the same packages, and nothing left of what they installed.
check_install() {
  local sudo="" before after listed package path pulled
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  for package in "${debs[@]}"; do
    ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q ' installed$' ||
      fail "$package is installed on this machine; the check installs it itself (apt-get purge $package first)"
  done
  packages_now() { dpkg-query -W -f='${db:Status-Abbrev} ${Package}:${Architecture} ${Version}\n' | sort; }
  before=$(packages_now)
  trap 'remove_debs' EXIT
  # A machine whose dpkg leaves out manual pages (a path-exclude, as slim
  # container images have) still gets these.
  $sudo env DEBIAN_FRONTEND=noninteractive DEBCONF_NOWARNINGS=yes apt-get install -y -qq --no-install-recommends \
    -o "DPkg::Options::=--path-include=/usr/share/man/man1/vantrel*" "${packages[@]:1:${#debs[@]}}" >/dev/null ||
    fail "the Debian packages do not install"
  listed=$(dpkg -L "${debs[@]}")
  use_installed
  remove_debs
  trap - EXIT
  for package in "${debs[@]}"; do
    ! dpkg -L "$package" >/dev/null 2>&1 || fail "$package is still known to dpkg after its removal"
  done
  while IFS= read -r path; do
    [ -d "$path" ] || [ ! -e "$path" ] || fail "$path is left after the removal"
  done <<<"$listed"
  after=$(packages_now)
  pulled=$(comm -13 <(awk '{ print $2 }' <<<"$before" | sort -u) <(awk '{ print $2 }' <<<"$after" | sort -u))
  if [ -n "$pulled" ]; then
    # Pulled in for the check only: this machine had not had them.
    # shellcheck disable=SC2086
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq $pulled >/dev/null
    after=$(packages_now)
  fi
  [ "$before" = "$after" ] || fail "the packages of this machine changed: $(diff <(echo "$before") <(echo "$after") | tr '\n' ' ')"
}

# The arm64 packages: of their architecture, holding the files the amd64
# ones hold, and the runner they install runs (under qemu-aarch64, from the
# unpacked tree) and checks a task.
check_arm64() {
  local package deb native tree runner
  for package in "${debs[@]}"; do
    deb=$root/dist/${package}_$(version)_arm64.deb
    native=$root/dist/${package}_$(version)_$native_arch.deb
    [ "$(dpkg-deb -f "$deb" Architecture)" = arm64 ] || fail "$deb: $(dpkg-deb -I "$deb" | grep Architecture)"
    diff <(dpkg-deb -c "$native" | awk '{ print $1, $6 }') <(dpkg-deb -c "$deb" | awk '{ print $1, $6 }') >&2 ||
      fail "$deb does not hold what $native holds"
  done
  tree=$unpacked/vantrel_$(version)_arm64
  runner=(qemu-aarch64 -L "$arm64_root" "$tree/usr/bin/vantrel-cli")
  # The ELF header's machine: 0xb7, AArch64.
  [ "$(od -An -tx1 -j18 -N2 "$tree/usr/bin/vantrel-cli" | tr -d ' ')" = b700 ] ||
    fail "vantrel-cli of the arm64 package is not an AArch64 program"
  [ "$("${runner[@]}" --version)" = "vantrel-cli $(version)" ] || fail "the arm64 vantrel-cli --version says otherwise"
  "${runner[@]}" --task 100K --format csv | grep -qx '# verdict: PASS: the run was verified' ||
    fail "the arm64 vantrel-cli --task 100K does not verify"
}

remove_debs() {
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${debs[@]}" >/dev/null 2>&1
}

build
[ "$deb_only" -eq 1 ] || pack
mkdir -p dist
for build in "${builds[@]}"; do
  for deb in "${debs[@]}"; do pack_deb "$deb" "${build%%:*}" "${build#*:}"; done
done
if [ "$deb_only" -eq 1 ]; then
  for build in "${builds[@]}"; do
    for deb in "${debs[@]}"; do echo "dist: $root/dist/${deb}_$(version)_${build#*:}.deb"; done
  done
  exit 0
fi
zip=$root/dist/Vantrel-$(version)-windows.zip
packages=("$zip")
for build in "${builds[@]}"; do
  for deb in "${debs[@]}"; do packages+=("$root/dist/${deb}_$(version)_${build#*:}.deb"); done
done
[ "${1:-}" = --check ] || { printf 'dist: %s\n' "${packages[@]}"; exit 0; }

# The second build, from a copy of the sources (tracked and new files, as
# they are now) in another folder, without the tests.
copy=$root/build/dist-check
rm -rf "$copy"
mkdir -p "$copy"
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
  tar --null -T - -cf - | tar -xf - -C "$copy"
(cd "$copy" && VANTREL_DIST_CONFIGURE=-DVANTREL_BUILD_TESTS=OFF bash tools/dist.sh >/dev/null)
other=$copy/dist/$(basename "$zip")

unpacked=$copy/unpacked
mkdir -p "$unpacked/first" "$unpacked/second"
unzip -q "$zip" -d "$unpacked/first"
if ! cmp -s "$zip" "$other"; then
  unzip -q "$other" -d "$unpacked/second"
  for member in "${members[@]}"; do
    cmp -s "$unpacked/first/$member" "$unpacked/second/$member" || echo "dist: $member differs" >&2
  done
  fail "two builds of the same sources gave different packages: $zip and $other"
fi

[ "$(unzip -Z1 "$zip")" = "$(printf '%s\n' "${members[@]}")" ] ||
  fail "the package holds $(unzip -Z1 "$zip" | tr '\n' ' '), not ${members[*]}"
(cd "$unpacked/first" && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS does not match the files"
readme=$unpacked/first/README.txt
[ "$(grep -c $'\r$' "$readme")" -eq "$(wc -l <"$readme")" ] || fail "README.txt has lines without CR LF"
for arch in x86 x64; do
  check_executable "$unpacked/first/$arch/Vantrel.exe" "$arch"
  check_executable "$unpacked/first/$arch/vantrel-cli.exe" "$arch"
done
check_debs
check_install
[ ${#builds[@]} -eq 1 ] || check_arm64
rm -rf "$copy"
echo "dist: $zip is reproducible; imports, architectures and contents checked"
for deb in "${packages[@]:1:${#debs[@]}}"; do
  echo "dist: $deb is reproducible, lintian-clean, installs, runs, completes and removes without a trace"
done
for deb in "${packages[@]:$((1 + ${#debs[@]}))}"; do
  echo "dist: $deb is reproducible, lintian-clean, of its architecture, holds what the amd64 one holds; its runner runs under qemu"
done
