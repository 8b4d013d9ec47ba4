# Simulated units and sample images for the scripts that need them (the demo,
# the fleet benchmark); sourced, not run. Makes the work folder $work, which
# goes when the script exits, together with every unit started here.
#
#   start_unit UNIT_SIM ADDRESS STORE [unit-sim options...]
#   make_images FOLDER PAGES_BYTES PROGRAM_BYTES

work=$(mktemp -d)
unit_pids=()
stop_units() {
    # wait gives a unit's status for SIGTERM (143); under set -e that would
    # end the trap before the work folder is removed.
    for pid in "${unit_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap stop_units EXIT

# Starts unit-sim on ADDRESS storing into STORE (its log beside it, in
# STORE.log) and waits until it listens.
start_unit() {
    local sim=$1 at=$2 store=$3
    shift 3
    mkdir -p "$store"
    "$sim" --address "$at" --store "$store" "$@" >"$store.log" 2>&1 &
    local pid=$!
    unit_pids+=("$pid")
    for _ in $(seq 50); do
        grep -q "^unit $at" "$store.log" 2>/dev/null && return 0
        kill -0 "$pid" 2>/dev/null || { cat "$store.log"; exit 1; }
        sleep 0.1
    done
}

# Sample images in FOLDER: a web-page image (the "MPFS" magic; "V1" in its
# name is the family tag of revision 171) and a program image (byte 6 not
# zero), random bytes after their headers.
make_images() {
    mkdir -p "$1"
    { printf 'MPFS\x02\x01\x00\x00'; head -c "$2" /dev/urandom; } >"$1/pagesV1.bin"
    { printf 'TSK\x00\x00\x00\x01\x00'; head -c "$3" /dev/urandom; } >"$1/firmware.bin"
}
