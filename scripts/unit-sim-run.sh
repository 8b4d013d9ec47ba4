# Sourced by the scripts that run an update against the simulated unit
# (scripts/demo.sh, bench/soak.sh): a work folder with sample images and a
# store, unit-sim started on a loopback address and stopped by its pid when
# the script exits. Loopback only.
#
#   unit_sim_start BUILD_DIR ADDRESS [UNIT-SIM OPTIONS...]
#       makes $work with images/ (pagesV1.bin: a web-page image, the "MPFS"
#       magic and the family tag "V1" of revision 171; firmware.bin: a
#       program image, byte 6 not zero) and store/, starts unit-sim with
#       revision 171 storing into store/ and logging to $work/unit-sim.log,
#       and returns once it listens; $unit_pid is its pid.

work=$(mktemp -d)
unit_pid=""
unit_sim_cleanup() {
    if [ -n "$unit_pid" ]; then
        kill "$unit_pid" 2>/dev/null || true
        wait "$unit_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap unit_sim_cleanup EXIT

unit_sim_start() {
    local build=$1 address=$2
    shift 2
    mkdir -p "$work/images" "$work/store"
    { printf 'MPFS\x02\x01\x00\x00'; head -c 40000 /dev/urandom; } >"$work/images/pagesV1.bin"
    { printf 'TSK\x00\x00\x00\x01\x00'; head -c 90000 /dev/urandom; } >"$work/images/firmware.bin"
    "$build/bin/unit-sim" --address "$address" --revision 171 --store "$work/store" "$@" \
        >"$work/unit-sim.log" 2>&1 &
    unit_pid=$!
    for _ in $(seq 50); do
        grep -q "^unit $address" "$work/unit-sim.log" 2>/dev/null && return 0
        kill -0 "$unit_pid" 2>/dev/null || break
        sleep 0.1
    done
    cat "$work/unit-sim.log" >&2
    return 1
}
