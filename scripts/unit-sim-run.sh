# Sourced by the scripts that run updates against simulated units
# (scripts/demo.sh, bench/soak.sh, bench/fleet-bench.sh): a work folder with
# sample images, unit-sim started on loopback addresses and stopped by their
# pids when the script exits. Loopback only.
#
#   unit_sim_start BUILD_DIR ADDRESS [UNIT-SIM OPTIONS...]
#       makes $work with images/ (pagesV1.bin: a web-page image, the "MPFS"
#       magic and the family tag "V1" of revision 171; firmware.bin: a
#       program image, byte 6 not zero) and store/, starts unit-sim with
#       revision 171 storing into store/ and logging to $work/unit-sim.log,
#       and returns once it listens; $unit_pid is its pid.
#   unit_sim_add BUILD_DIR ADDRESS STORE [UNIT-SIM OPTIONS...]
#       starts one more unit-sim, revision 171, storing into the folder
#       STORE (made if missing) and logging to STORE.log; returns once it
#       listens. For a fleet of units after unit_sim_start.
#   unit_sim_spawn BUILD_DIR ADDRESS STORE LOG [UNIT-SIM OPTIONS...]
#   unit_sim_listening PID ADDRESS LOG
#       the two halves of unit_sim_add (LOG: where its output goes), for
#       starting many units at once and then waiting for each.

work=$(mktemp -d)
unit_pid=""
unit_pids=()
unit_sim_cleanup() {
    for pid in "${unit_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap unit_sim_cleanup EXIT

# Starts unit-sim without waiting for it: BUILD_DIR ADDRESS STORE LOG
# [UNIT-SIM OPTIONS...]; its pid is the last of unit_pids.
unit_sim_spawn() {
    local build=$1 address=$2 store=$3 log=$4
    shift 4
    mkdir -p "$store"
    "$build/bin/unit-sim" --address "$address" --revision 171 --store "$store" "$@" \
        >"$log" 2>&1 &
    unit_pids+=("$!")
}

# Returns once the unit-sim PID on ADDRESS, logging to LOG, listens (5 s at
# most): PID ADDRESS LOG.
unit_sim_listening() {
    local pid=$1 address=$2 log=$3
    for _ in $(seq 50); do
        grep -q "^unit $address" "$log" 2>/dev/null && return 0
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    cat "$log" >&2
    return 1
}

# Starts unit-sim and waits until it listens: BUILD_DIR ADDRESS STORE LOG
# [UNIT-SIM OPTIONS...].
unit_sim_run() {
    unit_sim_spawn "$@"
    unit_sim_listening "${unit_pids[-1]}" "$2" "$4"
}

unit_sim_start() {
    local build=$1 address=$2
    shift 2
    mkdir -p "$work/images"
    { printf 'MPFS\x02\x01\x00\x00'; head -c 40000 /dev/urandom; } >"$work/images/pagesV1.bin"
    { printf 'TSK\x00\x00\x00\x01\x00'; head -c 90000 /dev/urandom; } >"$work/images/firmware.bin"
    unit_sim_run "$build" "$address" "$work/store" "$work/unit-sim.log" "$@"
    unit_pid=${unit_pids[0]}
}

unit_sim_add() {
    local build=$1 address=$2 store=$3
    shift 3
    unit_sim_run "$build" "$address" "$store" "$store.log" "$@"
}
