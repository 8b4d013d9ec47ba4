#!/usr/bin/env bash
# Benchmark of the fleet run: wall time of tftp-loader-cli updating 8
# simulated units at once (--jobs 8) against the time of one unit alone,
# every unit rebooting for 3 s, and the peak resident memory of the fleet
# run's own process (not its units' runs), read from /proc while it runs.
# Goal: 8 units in at most 1.3 times the time of one; the parent under 16 MiB.
#
#   bench/fleet-bench.sh [BUILD_DIR]     (default: build; RUNS=3 by default)
#
# The units bind ports 80 and 69 on 127.0.15.1 to 127.0.15.8, which needs
# root; without it the script runs again inside a user and network namespace
# of its own. Loopback only; not run by ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${RUNS:-3}
units=8
reboot=3

if [ "${FLEET_BENCH_INSIDE:-}" != 1 ]; then
    [ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" --target tftp-loader-cli unit-sim >/dev/null
    if [ "$(id -u)" -ne 0 ]; then
        exec env FLEET_BENCH_INSIDE=1 unshare --user --map-root-user --net -- bash "$0" "$build"
    fi
else
    ip link set lo up
fi
cli=$build/bin/tftp-loader-cli

. scripts/unit-sim-run.sh
unit_sim_start "$build" 127.0.15.1 --reboot-seconds "$reboot"
addresses=(127.0.15.1)
for i in $(seq 2 "$units"); do
    addresses+=("127.0.15.$i")
    unit_sim_add "$build" "127.0.15.$i" "$work/store$i" --reboot-seconds "$reboot"
done

# A unit reboots after it stored an image: each run starts once all are back.
all_back() {
    for address in "${addresses[@]}"; do
        for _ in $(seq 100); do
            curl -s -o /dev/null --max-time 1 "http://$address/" && break
            sleep 0.1
        done
    done
}

fleet_args=()
for address in "${addresses[@]}"; do fleet_args+=(--address "$address"); done
for _ in $(seq "$runs"); do
    all_back
    measure one --address "${addresses[0]}"
    all_back
    measure fleet --jobs "$units" "${fleet_args[@]}"
done
for store in "$work/store" $(seq -f "$work/store%g" 2 "$units"); do
    cmp -s "$work/images/firmware.bin" "$store/rrboot.bin" ||
        { echo "$store: stored program differs" >&2; exit 1; }
done

median() { sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
col() { awk -v n="$1" -v k="$2" '$1==n {print $k}' "$work/results" | median; }
one=$(col one 2)
fleet=$(col fleet 2)
peak=$(awk '$1=="fleet" {print $3}' "$work/results" | sort -n | tail -n 1)
echo "$units simulated units on 127.0.15.1-$units, reboot ${reboot} s, images 40 KB + 90 KB,"
echo "$runs runs each (medians)"
printf "  one unit:              %6.2f s\n" "$one"
printf "  %d units, --jobs %d:     %6.2f s   (%.2f x one unit; goal <= 1.3)\n" \
    "$units" "$units" "$fleet" "$(awk "BEGIN {print $fleet / $one}")"
printf "  fleet run's own peak:  %6d KiB (%.1f MiB; goal < 16 MiB)\n" "$peak" \
    "$(awk "BEGIN {print $peak / 1024}")"
