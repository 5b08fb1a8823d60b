#!/usr/bin/env bash
# The runner of a build for another processor finds each task's primes and
# checks them against its own table, last prime and digest: the same results
# as the build the table was made with. One run per task named.
#   task_table_test.sh RUNNER TASK...
set -u
runner=$1
shift
failures=0
for task in "$@"; do
  report=$("$runner" --task "$task" --threads 2 --format csv 2>&1)
  code=$?
  if [ "$code" -ne 0 ] || ! grep -q "^$task,.*,verified: last prime + digest" <<<"$report" ||
     ! grep -qx '# verdict: PASS: the run was verified' <<<"$report"; then
    echo "FAIL: task $task (exit $code):"
    echo "$report"
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ] && echo "$# tasks verified: $*"
exit $((failures > 0))
