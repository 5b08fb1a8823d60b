#!/usr/bin/env bash
# The runner of a build for another processor finds each task's primes and
# checks them against its own table, last prime and digest: the same results
# as the build the table was made with.
#   task_table_test.sh RUNNER TASK...
set -u
runner=$1
shift
status=0
for task in "$@"; do
  report=$("$runner" --task "$task" --threads 2 --format csv 2>&1)
  grep -q "^$task,.*,verified: last prime + digest" <<<"$report" && grep -qx '# verdict: PASS: the run was verified' <<<"$report" ||
    { echo "FAIL: task $task:"; echo "$report"; status=1; }
done
exit $status
