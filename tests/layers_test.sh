#!/usr/bin/env bash
# The layers of docs/architecture.md, checked on the sources: each folder
# includes only its own headers and those of the layers below it, so that no
# include runs upward, the fleet stays free of the runner's front and no
# product code depends on tools/; and only machine/ reads the machine.
#   layers_test.sh SOURCE_FOLDER
set -u
cd "$1" || exit 2
status=0
# folder: the folders whose headers it may include
allowed() {
    case "$1" in
    engine) echo "engine" ;;
    export) echo "engine export" ;;
    verify) echo "verify" ;;
    machine) echo "engine machine" ;;
    runner) echo "engine export verify machine runner" ;;
    results) echo "engine export verify machine runner results" ;;
    cli) echo "engine export verify machine runner results cli" ;;
    mpi) echo "engine export verify machine runner results mpi" ;;
    app) echo "engine export app res" ;;
    tools) echo "verify" ;;
    packaging) echo "engine export verify machine runner results cli mpi packaging" ;;
    esac
}
for folder in engine export verify machine runner results cli mpi app tools packaging; do
    may=" $(allowed "$folder") "
    while IFS= read -r line; do
        file=${line%%:*}
        header=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"${line#*:}")
        top=${header%%/*}
        [ "$top" = "$header" ] && continue  # a header beside the source
        case "$may" in
        *" $top "*) ;;
        *) echo "FAIL: $file includes $header, which $folder/ may not"; status=1 ;;
        esac
    done < <(grep -rn --include='*.h' --include='*.cpp' --include='*.in' '#include "' "$folder" | sed -E 's/^([^:]+):[0-9]+:/\1:/')
done
# The machine is read in machine/ alone: no other product folder includes
# hwloc or names a file of /sys or /proc.
while IFS= read -r line; do
    echo "FAIL: $line reads the machine outside machine/"; status=1
done < <(grep -rnE --include='*.h' --include='*.cpp' '#include <hwloc|"/(sys|proc)/' engine export verify runner results cli mpi app)
[ "$status" -eq 0 ] && echo "ok"
exit "$status"
