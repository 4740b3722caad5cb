#!/usr/bin/env bash
# Runs the two cluster recipes, docs/slurm-job-array.md and docs/parallel-across-hosts.md, on real
# engines on this one machine, each with a failure that leaves archives untested, and checks that
# plan -> run -> check -> import finds exactly those, that a second pass over them completes the
# run, and that nothing is due afterwards.
#   Slurm: munged, slurmctld and slurmd of their own (private ports, config, key and socket), a
#     job array of docs/recipes/vellum-array.sh with one task cancelled while still pending.
#   GNU parallel: three sshd "hosts" on 127.0.0.1-3 (private ports, keys and config) running
#     docs/recipes/vellum-job.sh with --joblog and --retries; one job is killed on every host it
#     is tried on, so that the retries cannot save it.
# Usage: scripts/try-cluster.sh [PROGRAM]   (default: build/vellum)
# Needs root (slurmd runs jobs as their user; sshd logs in as root) and the packages
# scripts/install-deps.sh installs. Every daemon it starts and its scratch folder go on any exit.
set -euo pipefail
# Processes whose parent ends (sshd's sessions when sshd stops, slurmstepd, which leaves slurmd, a
# job whose ssh went away) would become init's and escape the clean-up; with this shell as their
# "subreaper" they become its children instead, and it ends them all at exit.
if [ -z "${TRY_CLUSTER_REAPER:-}" ]; then
    export TRY_CLUSTER_REAPER=$$
    exec python3 -c '
import ctypes, os, sys
PR_SET_CHILD_SUBREAPER = 36
if ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
    sys.exit("try-cluster: cannot collect orphaned processes: " + os.strerror(ctypes.get_errno()))
os.execv("/bin/bash", ["bash"] + sys.argv[1:])' "$0" "$@"
fi
top="$(cd "$(dirname "$0")/.." && pwd)"
program="$(readlink -f "${1:-$top/build/vellum}")"
recipes="$top/docs/recipes"
started=$SECONDS

fail() {
    echo "try-cluster: FAILED: $*" >&2
    exit 1
}
say() { echo "try-cluster: $*"; }

[ -x "$program" ] || fail "no program at $program (build first, or name it)"
[ "$(id -u)" -eq 0 ] || fail "needs root"
for tool in munged mungekey munge unmunge slurmctld slurmd sbatch squeue sinfo scancel scontrol \
    sshd ssh ssh-keygen parallel perl python3; do
    command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] || fail "$tool is missing: run scripts/install-deps.sh"
done

# The scratch folder holds sockets that daemons and clients share: munged wants the folder of its
# socket readable by all, so the folders above it are too.
W="$(mktemp -d /tmp/vellum-cluster.XXXXXX)"
chmod 755 "$W"
daemons=() # "name pid" of every daemon started, stopped in reverse order
slurm_jobs=()
made_run_sshd=no

# Waits until a command succeeds, asking again every tenth of a second, and fails loudly after
# LIMIT seconds. Usage: wait_until LIMIT WHAT COMMAND...
wait_until() {
    local limit=$1 what=$2
    shift 2
    local deadline=$((SECONDS + limit))
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || fail "waited ${limit}s for $what"
        sleep 0.1
    done
}

gone() { ! kill -0 "$1" 2>/dev/null; }

# Every process below PID, less the subshell that asks (and so the ps it runs).
descendants() {
    local child
    for child in $(ps -o pid= --ppid "$1" 2>/dev/null); do
        [ "$child" -eq "$BASHPID" ] && continue
        echo "$child"
        descendants "$child"
    done
}

stop_pids() {
    local pid deadline=$((SECONDS + 15))
    kill -TERM "$@" 2>/dev/null
    for pid in "$@"; do
        while ! gone "$pid" && [ "$SECONDS" -lt "$deadline" ]; do sleep 0.1; done
        if ! gone "$pid"; then
            echo "try-cluster: process $pid ignored SIGTERM; killing it" >&2
            kill -KILL "$pid" 2>/dev/null
        fi
        wait "$pid" 2>/dev/null
    done
    return 0
}

cleanup() {
    local status=$?
    trap - EXIT INT TERM
    set +e
    # Jobs still queued or running end before the daemons that run them, so that no slurmstepd
    # is left behind.
    if [ ${#slurm_jobs[@]} -gt 0 ] && [ -n "${SLURM_CONF:-}" ]; then
        timeout 20 scancel "${slurm_jobs[@]}" 2>/dev/null
        local deadline=$((SECONDS + 20))
        while [ -n "$(timeout 10 squeue -h -o %i 2>/dev/null)" ] && [ "$SECONDS" -lt "$deadline" ]; do
            sleep 0.1
        done
    fi
    local i round rest
    for ((i = ${#daemons[@]} - 1; i >= 0; i--)); do
        stop_pids "${daemons[i]##* }"
    done
    # What the daemons left: sessions, jobs, their orphans, all below this shell.
    for round in 1 2 3; do
        rest=($(descendants $$))
        [ ${#rest[@]} -gt 0 ] || break
        stop_pids "${rest[@]}"
    done
    [ "$made_run_sshd" = yes ] && rmdir /run/sshd 2>/dev/null
    rm -rf "$W"
    if [ "$status" -eq 0 ]; then
        say "all checks passed in $((SECONDS - started))s"
    else
        echo "try-cluster: stopped with status $status after $((SECONDS - started))s" >&2
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Prints N free TCP ports on 127.0.0.1, so that nothing else on the machine is disturbed.
free_ports() {
    python3 - "$1" <<'EOF'
import socket, sys
held = []
for _ in range(int(sys.argv[1])):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    held.append(s)
print(" ".join(str(s.getsockname()[1]) for s in held))
EOF
}

# Folders of archives, a few of them damaged: one byte of an entry's compressed data flipped.
# Prints the damaged ones' paths to $W/damaged.list.
make_store() {
    python3 - "$W/store" "$W/damaged.list" <<'EOF'
import os, random, struct, sys, zipfile
store, damaged_list = sys.argv[1], sys.argv[2]
rng = random.Random(7)
words = [b"ledger", b"vellum", b"archive", b"quire", b"folio", b"codex", b"margin", b"gloss"]
damaged = []
for n in range(300):
    folder = os.path.join(store, "shelf-%d" % (n % 6), "box-%d" % (n % 4))
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "item-%03d.zip" % n)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for e in range(3):
            text = b" ".join(rng.choice(words) for _ in range(400 + rng.randrange(400)))
            z.writestr("page-%d.txt" % e, text)
    if n % 61 == 17:
        with open(path, "r+b") as f:
            data = bytearray(f.read())
            # The first local header: fixed part, then name and extra field, then the data.
            name_len, extra_len = struct.unpack_from("<HH", data, 26)
            start = 30 + name_len + extra_len
            size = struct.unpack_from("<I", data, 18)[0]
            at = start + size // 2
            data[at] ^= 0xFF
            f.seek(0)
            f.write(data)
        damaged.append(path)
with open(damaged_list, "w") as f:
    f.write("".join(p + "\n" for p in damaged))
EOF
}

# Sorted, newline-separated form of a NUL-separated list (the test paths have no line breaks).
lines() { tr '\0' '\n' <"$1" | sort; }

# Paths with a "bad" verdict in JSON result files, sorted.
bad_paths() {
    python3 - "$@" <<'EOF'
import json, sys
bad = set()
for name in sys.argv[1:]:
    with open(name) as f:
        for line in f:
            record = json.loads(line)
            if record.get("verdict") == "bad":
                bad.add(record["path"])
print("\n".join(sorted(bad)))
EOF
}

# The program is found by its name on the PATH, as the recipes expect on every node and host.
mkdir -p "$W/bin" "$W/ledger"
ln -s "$program" "$W/bin/vellum"
ln -s "$recipes/vellum-job.sh" "$W/bin/vellum-job.sh"
export PATH="$W/bin:$PATH"

make_store
sort -o "$W/damaged.list" "$W/damaged.list"
say "store: $(find "$W/store" -name '*.zip' | wc -l) archives in $(find "$W/store" -mindepth 2 -type d | wc -l) folders, $(wc -l <"$W/damaged.list") damaged"

# Prints the exit status of --check-results; its output goes to FOLDER/missed.list and check.err.
check_pass() { # folder list results... (relative to folder)
    local folder=$1 status=0
    shift
    (cd "$folder" && vellum --check-results -0 "$@" >missed.list 2>check.err) || status=$?
    echo "$status"
}

# The results files of the jobs that parallel ran, as its joblog names them: parallel also makes
# empty ones for job slots it never used when there are fewer jobs than slots.
ran_results() { # folder
    awk -F'\t' 'NR > 1 { print "results/" $1 ".jsonl" }' "$1/joblog"
}

show_check() { # engine folder
    say "$1: --check-results printed on standard output (NULs shown as line breaks):"
    tr '\0' '\n' <"$2/missed.list" | sed 's/^/    /'
    say "$1: --check-results printed on standard error:"
    sed 's/^/    /' "$2/check.err"
}

# After both passes: the results import (twice, which must change nothing), and the next plan
# lists only the archives found bad: --due takes an archive that was not good when last tested as
# due whenever it was tested, so those stay due until someone replaces them; nothing else may.
import_and_replan() { # engine ledger results...
    local engine=$1 ledger=$2
    shift 2
    vellum --import --ledger "$ledger" "$@" || fail "$engine: --import exited with $?"
    vellum --import --ledger "$ledger" "$@" || fail "$engine: a second --import exited with $?"
    local due
    due="$(vellum --list-due --due 30 --ledger "$ledger" -0 "$W/store" | tr '\0' '\n' | sort)" ||
        fail "$engine: --list-due after the import exited with $?"
    [ "$due" = "$(cat "$W/damaged.list")" ] || fail "$engine: after importing both passes, --list-due --due 30 lists
$due
and not only the archives found bad:
$(cat "$W/damaged.list")"
    say "$engine: imported; --list-due --due 30 now lists only the $(wc -l <"$W/damaged.list") archives found bad:"
    sed 's/^/    /' <<<"$due"
}

# ---------------------------------------------------------------------------------------------
# Slurm: one node, the controller and munge on this machine.
# The second pass checked with `status`: it must leave nothing untested, and both passes together
# must find exactly the damaged archives bad; then every verdict goes into the ledger.
finish_second_pass() { # engine run ledger status
    local engine="$1" run="$2" ledger="$3" status="$4"
    [ "$status" -eq 0 ] || {
        show_check "$engine" "$run/pass2"
        fail "$engine: --check-results of the second pass exited with $status"
    }
    [ ! -s "$run/pass2/missed.list" ] || fail "$engine: the second pass left archives untested"
    say "$engine: second pass complete: --check-results exited with 0 and printed nothing"

    [ "$(bad_paths "$run"/results/*.jsonl "$run"/pass2/results/*.jsonl)" = "$(cat "$W/damaged.list")" ] ||
        fail "$engine: the bad verdicts of both passes are not exactly the damaged archives"
    say "$engine: both passes together found exactly the $(wc -l <"$W/damaged.list") damaged archives bad"
    import_and_replan "$engine" "$ledger" "$run"/results/*.jsonl "$run"/pass2/results/*.jsonl
}

# ---------------------------------------------------------------------------------------------
start_slurm() {
    local m="$W/munge" s="$W/slurm"
    mkdir -p "$m/run" "$m/log" "$m/lib" "$s/state" "$s/spool" "$s/log"
    chmod 755 "$m" "$m/run"
    chmod 700 "$m/lib" "$m/log"
    mungekey -c -k "$m/munge.key"
    munged -F --key-file="$m/munge.key" --socket="$m/run/munge.socket" --pid-file="$m/munged.pid" \
        --log-file="$m/log/munged.log" --seed-file="$m/lib/munged.seed" 2>"$m/log/munged.err" &
    daemons+=("munged $!")
    local socket="$m/run/munge.socket"
    munge_works() { munge -n -S "$socket" 2>/dev/null | unmunge -S "$socket" >/dev/null 2>&1; }
    wait_until 20 "munged to answer on $socket" munge_works

    local node ports ctld_port d_port
    node="$(hostname -s)"
    read -r ctld_port d_port < <(free_ports 2)
    # The node's CPUs and memory as slurmd finds them, so that it is never drained for asking
    # more than there is.
    local hardware
    hardware="$(slurmd -C | head -n 1 | grep -o 'CPUs=[0-9]* .*RealMemory=[0-9]*')" ||
        fail "slurmd -C did not describe this node"
    cat >"$s/slurm.conf" <<EOF
ClusterName=try
SlurmctldHost=localhost(127.0.0.1)
SlurmUser=root
SlurmctldPort=$ctld_port
SlurmdPort=$d_port
AuthType=auth/munge
AuthInfo=socket=$socket
CredType=cred/munge
StateSaveLocation=$s/state
SlurmdSpoolDir=$s/spool
SlurmctldPidFile=$s/slurmctld.pid
SlurmdPidFile=$s/slurmd.pid
SlurmctldLogFile=$s/log/slurmctld.log
SlurmdLogFile=$s/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU_Memory
ReturnToService=2
NodeName=$node NodeAddr=127.0.0.1 $hardware State=UNKNOWN
PartitionName=debug Nodes=$node Default=YES MaxTime=INFINITE State=UP
EOF
    export SLURM_CONF="$s/slurm.conf"
    slurmctld -D -i -f "$SLURM_CONF" >"$s/log/slurmctld.out" 2>&1 &
    daemons+=("slurmctld $!")
    slurmd -D -f "$SLURM_CONF" >"$s/log/slurmd.out" 2>&1 &
    daemons+=("slurmd $!")
    node_idle() { [ "$(sinfo -h -n "$node" -o %t 2>/dev/null)" = idle ]; }
    wait_until 60 "node $node to be idle in sinfo" node_idle
    say "slurm: node $node up ($hardware), controller on port $ctld_port"
}

# State of one array task, e.g. PENDING, or nothing once it has left the queue.
task_state() { squeue -h -r -j "$1" -o %T 2>/dev/null || true; }
job_done() { [ -z "$(squeue -h -j "$1" -o %i 2>/dev/null)" ]; }

# Run: one job array of docs/recipes/vellum-array.sh over LIST cut into PARTS parts, submitted
# from FOLDER (which holds an empty results/), fitted to this node's 2 CPUs. With CANCEL, that task
# is cancelled while pending: the array is submitted held, so nothing can start before.
# Usage: slurm_pass FOLDER LIST PARTS [CANCEL]
slurm_pass() {
    local folder=$1 list=$2 parts=$3 cancel=${4:-} job state
    cd "$folder"
    split -n "l/$parts" -t '\0' -d -a 3 "$list" part.
    job="$(sbatch --parsable --hold --array="0-$((parts - 1))" --cpus-per-task=1 --mem=1G \
        "$recipes/vellum-array.sh")" || fail "slurm: sbatch refused the array"
    job="${job%%;*}"
    slurm_jobs+=("$job")
    if [ -n "$cancel" ]; then
        state="$(task_state "${job}_$cancel")"
        [ "$state" = PENDING ] || fail "slurm: task ${job}_$cancel is '$state', not PENDING"
        scancel "${job}_$cancel"
        task_gone() { [ -z "$(task_state "$1")" ] || [ "$(task_state "$1")" = CANCELLED ]; }
        wait_until 20 "task ${job}_$cancel to be cancelled" task_gone "${job}_$cancel"
        say "slurm: cancelled task ${job}_$cancel while squeue showed it PENDING"
    fi
    scontrol release "$job"
    wait_until 150 "array job $job to leave the queue" job_done "$job"
    say "slurm: array job $job ($parts tasks) done; results: $(cd results && echo *.jsonl)"
    cd - >/dev/null
}

try_slurm() {
    start_slurm
    local ledger="$W/ledger/slurm.sqlite" run="$W/slurm-run" status
    # Plan: every archive not tested in the last 30 days (all of them: the ledger is new).
    mkdir "$run" "$run/results"
    vellum --list-due --due 30 --ledger "$ledger" -0 "$W/store" >"$run/due.list" ||
        fail "slurm: --list-due exited with $?"
    say "slurm: --list-due planned $(lines "$run/due.list" | wc -l) archives"
    slurm_pass "$run" due.list 6 3
    [ ! -e "$run/results/part.003.jsonl" ] || fail "slurm: the cancelled task wrote results"

    status="$(check_pass "$run" due.list "$run"/results/*.jsonl)"
    show_check slurm "$run"
    [ "$status" -eq 2 ] || fail "slurm: --check-results exited with $status after a cancelled task, not 2"
    [ "$(lines "$run/missed.list")" = "$(lines "$run/part.003")" ] ||
        fail "slurm: --check-results did not name exactly the archives of the cancelled task (part.003)"
    say "slurm: --check-results named exactly the $(lines "$run/missed.list" | wc -l) archives of the cancelled task"

    # Second pass: only what the first left untested, in a results folder of its own, checked
    # against that folder alone.
    mkdir "$run/pass2" "$run/pass2/results"
    slurm_pass "$run/pass2" ../missed.list 2
    status="$(check_pass "$run/pass2" ../missed.list "$run"/pass2/results/*.jsonl)"
    finish_second_pass slurm "$run" "$ledger" "$status"
}

# ---------------------------------------------------------------------------------------------
# GNU parallel over ssh: three hosts, all this machine.
# ---------------------------------------------------------------------------------------------
hosts=(w1 w2 w3)
start_hosts() {
    local k="$W/ssh"
    mkdir -p "$k" "$W/gate" "$W/gate-bin"
    if [ ! -d /run/sshd ]; then
        mkdir -p /run/sshd
        made_run_sshd=yes
    fi
    ssh-keygen -q -t ed25519 -N '' -C try-cluster -f "$k/id_ed25519"
    cp "$k/id_ed25519.pub" "$k/authorized_keys"
    local ports
    read -r -a ports < <(free_ports ${#hosts[@]})
    : >"$k/known_hosts"
    : >"$k/config"
    local i host
    for i in "${!hosts[@]}"; do
        host=${hosts[i]}
        ssh-keygen -q -t ed25519 -N '' -C "$host" -f "$k/host_$host"
        echo "$host $(cut -d' ' -f1,2 "$k/host_$host.pub")" >>"$k/known_hosts"
        cat >"$k/sshd_$host.conf" <<EOF
Port ${ports[i]}
ListenAddress 127.0.0.$((i + 1))
HostKey $k/host_$host
PidFile $k/sshd_$host.pid
AuthorizedKeysFile $k/authorized_keys
PermitRootLogin prohibit-password
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
SetEnv PATH=$W/gate-bin:$W/bin:/usr/local/bin:/usr/bin:/bin TRY_HOST=$host
EOF
        cat >>"$k/config" <<EOF
Host $host
    HostName 127.0.0.$((i + 1))
    Port ${ports[i]}
    HostKeyAlias $host
EOF
        /usr/sbin/sshd -D -e -f "$k/sshd_$host.conf" 2>"$k/sshd_$host.log" &
        daemons+=("sshd-$host $!")
    done
    cat >>"$k/config" <<EOF
Host *
    User root
    IdentityFile $k/id_ed25519
    IdentitiesOnly yes
    UserKnownHostsFile $k/known_hosts
    GlobalKnownHostsFile /dev/null
    StrictHostKeyChecking yes
    BatchMode yes
    ConnectTimeout 10
    LogLevel ERROR
EOF
    export PARALLEL_SSH="ssh -F $k/config"
    export PARALLEL_HOME="$W/parallel-home"
    for host in "${hosts[@]}"; do
        host_answers() { [ "$($PARALLEL_SSH -n "$1" 'command -v vellum-job.sh' 2>/dev/null)" = "$W/bin/vellum-job.sh" ]; }
        wait_until 30 "sshd of $host to let us in" host_answers "$host"
    done
    say "parallel: hosts ${hosts[*]} answer on 127.0.0.1-${#hosts[@]}, ports ${ports[*]}"

    # On every host, 'vellum' is first this gate: while $W/gate/armed exists, the job that
    # parallel numbers with its content keeps a copy of the list it was given and waits on a FIFO
    # that nobody writes, so it is still running for certain when it is killed; every other job
    # runs the program at once.
    cat >"$W/gate-bin/vellum" <<EOF
#!/bin/bash
if [ -f "$W/gate/armed" ] && [ "\${PARALLEL_SEQ:-}" = "\$(cat "$W/gate/armed")" ]; then
    cat >"$W/gate/list.\$\$"
    mkfifo "$W/gate/fifo.\$\$"
    echo "\$\$ \$TRY_HOST" >"$W/gate/held.\$\$"
    read -r _ <"$W/gate/fifo.\$\$"
fi
exec "$program" "\$@"
EOF
    chmod 755 "$W/gate-bin/vellum"
}

# Run: docs/parallel-across-hosts.md's command over LIST, in FOLDER (which holds an empty
# results/), with 50 names a job over the three hosts, one job at a time on each.
# Usage: parallel_pass FOLDER LIST
parallel_pass() {
    cd "$1"
    parallel --pipe --recend '\0' -N 50 --sshlogin 1/w1,1/w2,1/w3 \
        --retries 2 --joblog joblog --results 'results/{#}.jsonl' \
        vellum-job.sh --json -q --no-ledger -0 --files-from - <"$2" >/dev/null 2>parallel.err
}

try_parallel() {
    start_hosts
    local ledger="$W/ledger/parallel.sqlite" run="$W/parallel-run" status pid host held attempt
    local -a ran
    mkdir "$run" "$run/results"
    vellum --list-due --due 30 --ledger "$ledger" -0 "$W/store" >"$run/due.list" ||
        fail "parallel: --list-due exited with $?"
    say "parallel: --list-due planned $(lines "$run/due.list" | wc -l) archives"
    # Job 3 is killed on each host it is tried on: once, and again on its retry.
    echo 3 >"$W/gate/armed"
    (parallel_pass "$run" due.list) &
    local parallel_pid=$!
    daemons+=("parallel $parallel_pid")
    one_held() { [ -n "$(find "$W/gate" -name 'held.*')" ]; }
    for attempt in 1 2; do
        wait_until 60 "job 3, try $attempt, to be running" one_held
        held="$(find "$W/gate" -name 'held.*' | head -n 1)"
        read -r pid host <"$held"
        kill -0 "$pid" 2>/dev/null || fail "parallel: the held job $pid is not running"
        kill -TERM "$pid"
        wait_until 20 "the killed job $pid to end" gone "$pid"
        mv "$held" "$W/gate/killed.$attempt"
        mv "$W/gate/list.$pid" "$W/gate/killed-list.$attempt"
        say "parallel: killed job 3 (try $attempt) on host $host while it ran"
    done
    status=0
    wait "$parallel_pid" || status=$?
    unset 'daemons[${#daemons[@]}-1]'
    rm "$W/gate/armed"
    say "parallel: first pass exited with $status (jobs still failed after their retries); joblog:"
    sed 's/^/    /' "$run/joblog"
    [ "$status" -eq 1 ] || fail "parallel: exited with $status, not 1 (only job 3 should have failed)"
    local failed
    failed="$(awk -F'\t' 'NR > 1 && $7 != 0 { print $1 }' "$run/joblog" | sort -u | tr '\n' ' ')"
    [ "$failed" = "3 " ] || fail "parallel: the joblog shows failed jobs '$failed', not only 3"
    cmp -s "$W/gate/killed-list.1" "$W/gate/killed-list.2" ||
        fail "parallel: the retry of job 3 was given other archives than its first try"

    mapfile -t ran < <(ran_results "$run")
    status="$(check_pass "$run" due.list "${ran[@]}")"
    show_check parallel "$run"
    [ "$status" -eq 2 ] || fail "parallel: --check-results exited with $status after a killed job, not 2"
    [ "$(lines "$run/missed.list")" = "$(lines "$W/gate/killed-list.2")" ] ||
        fail "parallel: --check-results did not name exactly the archives of the killed job"
    say "parallel: --check-results named exactly the $(lines "$run/missed.list" | wc -l) archives of the killed job"

    mkdir "$run/pass2" "$run/pass2/results"
    (parallel_pass "$run/pass2" ../missed.list) || fail "parallel: the second pass exited with $?"
    mapfile -t ran < <(ran_results "$run/pass2")
    status="$(check_pass "$run/pass2" ../missed.list "${ran[@]}")"
    finish_second_pass parallel "$run" "$ledger" "$status"
}

try_slurm
try_parallel
