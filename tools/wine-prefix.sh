# Sourced by the scripts that run a Windows program of the build under Wine:
#   source tools/wine-prefix.sh path/to/program.exe
# Exports WINEPREFIX (the build folder's own prefix), WINEARCH and quiet
# defaults, and creates the prefix the first time, once however many
# scripts start at the same moment.

# The build folder: the nearest folder above the program with a CMakeCache.txt.
wine_build=$(cd "$(dirname "$1")" && while [ ! -f CMakeCache.txt ] && [ "$PWD" != / ]; do cd ..; done; pwd)
[ -f "$wine_build/CMakeCache.txt" ] || wine_build=$(cd "$(dirname "$1")" && pwd)
export WINEPREFIX="$wine_build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono or Gecko installer prompts
# The prefix has the program's architecture, read from the PE header's
# machine field (8664: x86-64): 64-bit for the x64 build, 32-bit, which boots
# faster, for the x86 build. A build folder holds programs of one architecture.
wine_pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
if [ "$(od -An -tx2 -j$((wine_pe + 4)) -N2 "$1" | tr -d ' ')" = 8664 ]; then
  export WINEARCH=win64
else
  export WINEARCH=win32
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$wine_build"
  exec 9>"$wine_build/.wineprefix.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  flock -u 9
  exec 9>&-
fi
