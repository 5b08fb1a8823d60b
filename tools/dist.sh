#!/usr/bin/env bash
# The release package for Windows, dist/Vantrel-VERSION-windows.zip (VERSION
# is the CMake project's), holding README.txt, SHA256SUMS and the program and
# the runner of each build: x86/ and x64/ Vantrel.exe and vantrel-cli.exe.
#
#   bash tools/dist.sh           builds the four executables (presets
#                                windows-x86 and windows-x64) and packs them
#   bash tools/dist.sh --check   then checks the package: the same four built
#                                again from a copy of the sources in another
#                                folder give the same zip, byte for byte; each
#                                executable imports Windows' own DLLs only, is
#                                of its folder's architecture (the x86 ones
#                                large-address-aware) and names no folder of
#                                the build; the zip holds what it should
#
# Two runs from one commit give the same zip: the executables hold no time
# and no folder (CMakeLists.txt), and the zip's members go in a fixed order,
# with fixed permissions, the commit's time (SOURCE_DATE_EPOCH, if set) and
# no extra fields.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
jobs=${JOBS:-$(nproc)}
members=(README.txt SHA256SUMS x86/Vantrel.exe x86/vantrel-cli.exe x64/Vantrel.exe x64/vantrel-cli.exe)
# What an executable may import: DLLs every Windows has.
allowed_dlls=" kernel32.dll user32.dll gdi32.dll comctl32.dll comdlg32.dll advapi32.dll shell32.dll msvcrt.dll "

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || echo 1767225600)  # or 2026-01-01
fi
export SOURCE_DATE_EPOCH

fail() { echo "dist: $*" >&2; exit 1; }

# The four executables of this tree. VANTREL_DIST_CONFIGURE: more arguments
# for the configure step.
build() {
  local arch
  for arch in x86 x64; do
    # shellcheck disable=SC2086
    cmake --preset "windows-$arch" ${VANTREL_DIST_CONFIGURE:-} >/dev/null
    cmake --build --preset "windows-$arch" -j "$jobs" --target Vantrel vantrel-cli >&2
  done
}

version() { sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows-x86/CMakeCache.txt; }

# Packs this tree's executables into dist/.
pack() {
  local version stage zip arch
  version=$(version)
  [ -n "$version" ] || fail "no project version in build/windows-x86/CMakeCache.txt"
  stage=build/dist-stage
  zip=dist/Vantrel-$version-windows.zip
  rm -rf "$stage"
  mkdir -p "$stage/x86" "$stage/x64" dist
  for arch in x86 x64; do
    cp "build/windows-$arch/app/Vantrel.exe" "build/windows-$arch/cli/vantrel-cli.exe" "$stage/$arch/"
  done
  # CR LF, for Notepad.
  sed -e "s/@VERSION@/$version/g" -e 's/\r$//' -e 's/$/\r/' tools/dist-README.txt >"$stage/README.txt"
  (cd "$stage" && sha256sum README.txt x86/Vantrel.exe x86/vantrel-cli.exe x64/Vantrel.exe x64/vantrel-cli.exe >SHA256SUMS)
  (
    cd "$stage"
    chmod 644 "${members[@]}"
    TZ=UTC touch -d "@$SOURCE_DATE_EPOCH" "${members[@]}"
    rm -f "$root/$zip"
    TZ=UTC zip -X -D -q "$root/$zip" "${members[@]}"
  )
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

build
pack
zip=$root/dist/Vantrel-$(version)-windows.zip
[ "${1:-}" = --check ] || { echo "dist: $zip"; exit 0; }

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
rm -rf "$copy"
echo "dist: $zip is reproducible; imports, architectures and contents checked"
