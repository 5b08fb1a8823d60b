#!/usr/bin/env bash
# vantrel-mpi under srun, on a Slurm of one node that this test starts on
# localhost and stops again whatever happens: munged as the munge user on a
# socket of its own, slurmctld and slurmd with a generated slurm.conf
# (select/cons_tres by CPU, task/affinity, PMIx), every file in one temporary
# folder, ports nobody listens on.
#   run     srun -n 2 --cpus-per-task=1: Slurm binds each rank to a processor
#           of its own (nproc says 1 in each), and both ranks run the sweep of
#           task 100K and verify it; srun -n 1 --cpus-per-task=2 binds the
#           rank to 2, and it sweeps 1 and 2 threads; scancel stops a run of
#           10M on both ranks, which report it stopped and exit 130
#   offers  srun -n 2 --cpus-per-task=1: each rank offers 1 thread only (its
#           sweep runs "1 core") and the report says why
# Skips (exit 77, one line) where no Slurm can be started here: not root, no
# Slurm or munge installed, daemons that do not come up.
# Usage: slurm_test.sh MODE PROGRAM
set -u
mode="$1"
program="$2"
host=$(hostname)
case "$mode" in run | offers) ;; *) echo "unknown mode $mode"; exit 2 ;; esac
skip() { echo "SKIPPED: $*"; exit 77; }
fail() {
    echo "FAIL: $*"
    echo "--- stdout"; cat "$work/out"; echo "--- stderr"; cat "$work/err"
    for log in munged slurmctld slurmd; do echo "--- $log (end)"; tail -n 5 "$work/$log.log"; done
    exit 1
}

[ "$(id -u)" -eq 0 ] || skip "not root (slurmd binds the tasks as root, munged runs as the munge user)"
for tool in munged slurmctld slurmd srun scontrol sinfo scancel; do
    command -v "$tool" >/dev/null || skip "no $tool (tools/setup-debian.sh tests installs slurm-wlm and munge)"
done
[ -r /etc/munge/munge.key ] || skip "no munge key (/etc/munge/munge.key)"

# Inside a job of another Slurm, its variables would send srun there.
unset "${!SLURM_@}"

# The node as slurmd finds it: its name, CPUs and memory.
node=$(slurmd -C | head -n 1)
name=${node%% *}
name=${name#NodeName=}
node_cpus=$(echo "$node" | sed -n 's/.* CPUs=\([0-9]*\) .*/\1/p')
[ "${node_cpus:-0}" -ge 2 ] || skip "$name has ${node_cpus:-no} processors to Slurm, and the test binds 2 ranks to 1 each"

# Polls COMMAND every 0.1 s for at most SECONDS; fails if it never succeeds.
wait_until() {
    local tenths=$(($1 * 10))
    shift
    until "$@"; do
        [ $((tenths--)) -gt 0 ] || return 1
        sleep 0.1
    done
}
# Polls COMMAND for at most 10 s while the daemon PID runs; fails at once when
# the daemon has ended.
await() {
    local pid=$1 tenths=100
    shift
    until "$@"; do
        ! exited "$pid" && [ $((tenths--)) -gt 0 ] || return 1
        sleep 0.1
    done
}
# Succeeds when every PID has exited (a child of this shell stays a zombie
# until it is waited for).
exited() {
    local pid state
    for pid; do
        state=$(cut -d' ' -f3 "/proc/$pid/stat" 2>/dev/null) || continue
        [ "$state" = Z ] || return 1
    done
}
step_daemons() { grep -lx slurmstepd /proc/[0-9]*/comm 2>/dev/null | cut -d/ -f3 | sort; }
# The job steps' slurmstepd processes outlive slurmd and belong to init,
# which reaps them when they end: wait for both, so that none is left.
steps_ended() {
    [ -z "$(find "$work/spool" -type s)" ] && [ -z "$(comm -13 <(echo "$step_daemons_before") <(step_daemons))" ]
}
controller_up() { scontrol ping 2>/dev/null | grep -q ' is UP$'; }
node_idle() { [ "$(sinfo -h -n "$name" -o %t 2>/dev/null)" = idle ]; }
last_words() { grep -m 1 -i fatal "$work/$1.log" || tail -n 1 "$work/$1.log"; }

work=$(mktemp -d)
daemons=()
stop_cluster() {
    if [ ${#daemons[@]} -gt 1 ] && controller_up; then
        scancel --quiet --user=root
        wait_until 10 steps_ended || echo "note: job steps still running after 10 s"
    fi
    if [ ${#daemons[@]} -gt 0 ]; then
        kill -TERM "${daemons[@]}" 2>/dev/null
        wait_until 10 exited "${daemons[@]}" || kill -KILL "${daemons[@]}" 2>/dev/null
        wait "${daemons[@]}" 2>/dev/null
    fi
    rm -rf "$work"
}
trap stop_cluster EXIT
trap 'exit 130' INT TERM
touch "$work/out" "$work/err" "$work/munged.log" "$work/slurmctld.log" "$work/slurmd.log"
step_daemons_before=$(step_daemons)

# munged wants every folder above its socket open to all and writable by no
# one else.
chmod 711 "$work"
mkdir "$work/munge" "$work/state" "$work/spool" "$work/tmp"
chown munge:munge "$work/munge"
setpriv --reuid=munge --regid=munge --init-groups munged --foreground --socket="$work/munge/socket" \
    --pid-file="$work/munge/pid" --seed-file="$work/munge/seed" >"$work/munged.log" 2>&1 &
daemons+=($!)
await "${daemons[0]}" test -S "$work/munge/socket" || skip "munged did not come up: $(last_words munged)"

# Two free ports below the ephemeral range, so that a Slurm already running
# here or another copy of this test is not disturbed.
listening_ports() {
    local local_address state
    cat /proc/net/tcp /proc/net/tcp6 2>/dev/null | while read -r _ local_address _ state _; do
        [ "$state" = 0A ] && echo $((16#${local_address##*:}))
    done
}
busy=" $(listening_ports | tr '\n' ' ') "
port=
for _ in $(seq 1 20); do
    port=$((20000 + RANDOM % 12000))
    [[ $busy != *" $port "* && $busy != *" $((port + 1)) "* ]] && break
done

# CPUs as the unit of allocation and binding to hardware threads: a task of
# one CPU gets one logical processor, also where a core has two. Job ids of
# their own keep the ranks' MPI job names apart from another copy's, and a
# job larger than the node fails at once instead of waiting forever.
export SLURM_CONF="$work/slurm.conf"
cat >"$SLURM_CONF" <<EOF
ClusterName=vantrel
SlurmctldHost=$name(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
AuthInfo=socket=$work/munge/socket
SlurmUser=root
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
TmpFS=$work/tmp
MailProg=/bin/true
FirstJobId=$((RANDOM * 100 + 1))
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
TaskPlugin=task/affinity
TaskPluginParam=Threads
ProctrackType=proctrack/linuxproc
MpiDefault=pmix
EnforcePartLimits=ALL
$node NodeAddr=127.0.0.1
PartitionName=test Nodes=$name Default=YES MaxTime=INFINITE State=UP
EOF
slurmctld -D -i >"$work/slurmctld.log" 2>&1 &
daemons+=($!)
slurmd -D >"$work/slurmd.log" 2>&1 &
daemons+=($!)
await "${daemons[1]}" controller_up || skip "slurmctld did not come up: $(last_words slurmctld)"
await "${daemons[2]}" node_idle || skip "slurmd did not come up (node $name not idle): $(last_words slurmd)"

# srun OPTION...: a sweep of task 100K in one job step, in which each rank
# first writes its processor count and CPU list to bound.RANK and then becomes
# the program (the same process, so the same binding and rank). What the
# ranks put in TMPDIR stays in the test's folder.
bound_sweep() {
    rm -f "$work"/bound.*
    TMPDIR="$work/tmp" timeout -s TERM 20 srun "$@" sh -c \
        'echo "$(nproc) $(sed -n "s/^Cpus_allowed_list:[[:space:]]*//p" /proc/self/status)" >"$0.$SLURM_PROCID"; exec "$@"' \
        "$work/bound" "$program" --task 100K --sweep >"$work/out" 2>"$work/err"
}
bound() { cat "$work/bound.$1" 2>/dev/null; }
row() { echo "^$host +$1 +.* 100K +$2 +[0-9.]+ sec +verified"; }

# The fleet report's words for a rank's usable processors are matched here
# only: each rank bound to 1 processor runs "1 core" alone, and a line of its
# own (its row, or one naming the rank) says "1 usable" and names its CPU list
# ("CPU 1", "CPUs: 1").
ranks_offer_only_their_processor() {
    local rank cpus
    for rank in 0 1; do
        cpus=$(bound $rank | cut -d' ' -f2)
        grep -Eq "^$host +$rank +.* 100K +[0-9]+ cores " "$work/out" \
            && fail "rank $rank may use CPU $cpus alone, yet runs more threads"
        grep -Ei "^$host +$rank +|\brank $rank\b" "$work/out" | grep -E '\b1 usable\b' | grep -Eiq "\bCPU set $cpus\b" \
            || fail "no line says that rank $rank has 1 usable processor (CPU $cpus)"
    done
}

bound_sweep -n 2 --cpus-per-task=1
code=$?
[ "$(bound 0 | cut -d' ' -f1)" = 1 ] && [ "$(bound 1 | cut -d' ' -f1)" = 1 ] \
    || fail "each rank should be bound to 1 processor (rank 0: $(bound 0), rank 1: $(bound 1))"
[ "$(bound 0 | cut -d' ' -f2)" != "$(bound 1 | cut -d' ' -f2)" ] || fail "the ranks share CPU $(bound 0 | cut -d' ' -f2)"
[ $code -eq 0 ] || fail "srun -n 2 --cpus-per-task=1 exited with $code"
case "$mode" in
run)
    grep -q "^Vantrel .* fleet | 2 ranks on 1 host | task 100K |" "$work/out" || fail "no header of 2 ranks on 1 host"
    for rank in 0 1; do
        grep -Eq "$(row $rank '1 core')" "$work/out" || fail "no verified row of rank $rank on 1 core"
    done
    grep -q "^PASS: 2 ranks, every run verified" "$work/out" || fail "not every result verified"

    bound_sweep -n 1 --cpus-per-task=2
    code=$?
    [ "$(bound 0 | cut -d' ' -f1)" = 2 ] || fail "the rank should be bound to 2 processors ($(bound 0))"
    [ $code -eq 0 ] || fail "srun -n 1 --cpus-per-task=2 exited with $code"
    for threads in '1 core' '2 cores'; do
        grep -Eq "$(row 0 "$threads")" "$work/out" || fail "no verified row of rank 0 on $threads"
    done

    # scancel sends each rank SIGTERM (SIGKILL only after KillWait): the
    # ranks stop their runs and rank 0 reports the stopped rows.
    TMPDIR="$work/tmp" timeout -s TERM 20 srun -n 2 "$program" --task 10M >"$work/out" 2>"$work/err" &
    wait_until 10 grep -q '^Ranks on a shared host' "$work/out" || fail "the run of 10M did not begin"
    sleep 0.5
    scancel --quiet --user=root
    wait $!
    code=$?
    [ $code -eq 130 ] || fail "srun should exit 130 after scancel, not $code"
    [ "$(grep -Ec "^$host +[01] +.* 10M +1 core +[0-9.]+ sec +stopped" "$work/out")" -eq 2 ] || fail "two stopped rows wanted"
    grep -q "^FAIL: stopped before any run finished" "$work/out" || fail "rank 0's report does not end"
    ;;
offers)
    ranks_offer_only_their_processor
    ;;
esac
echo "ok"
