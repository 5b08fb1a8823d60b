#!/usr/bin/env bash
# Runs a command on one processor, as a small VM or a CI container has it:
# the first this process may use, so that it works inside a CPU set as well.
#   one_processor.sh COMMAND [ARGUMENT...]
set -euo pipefail
first=$(taskset -pc $$ | sed 's/.*: //; s/[-,].*//')
exec taskset -c "$first" "$@"
