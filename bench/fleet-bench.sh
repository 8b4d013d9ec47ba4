#!/usr/bin/env bash
# Benchmark of the fleet run: wall time of tftp-loader-cli updating N
# simulated units at once against the time of one unit alone, every unit
# rebooting for 3 s, and the peak memory of every loader process (the fleet
# run and each unit's run), sampled from /proc every 100 ms while it runs
# (bench-helper tree-memory). Checks that every unit stored both images byte
# for byte after each fleet run.
#
#   bench/fleet-bench.sh [--scale] [BUILD_DIR]      (default: build)
#
# By default: 8 units with --jobs 8, three runs (medians); goal: at most 1.3
# times one unit's time, the fleet run's own process under 16 MiB.
# --scale: 8, 64 and 256 units (SCALE="8 64 256"), each with --jobs as many
# as there are units (JOBS=N sets one for all), one run each (RUNS=1): the
# three sizes take about a minute; 256 units load a 2-core machine for a while.
#
# The memory figures, summed over the loader processes at the sample where
# each sum peaked (KiB, shown in MiB):
#   RSS      each process's resident pages. A page of a shared library counts
#            once per process that maps it: libcurl and what it loads (about
#            35 libraries, some 11 MiB) count in full in every unit's run.
#   PSS      each shared page divided among the processes that map it (unit-
#            sims and other programs included): what the runs cost together.
#   private  pages of one process alone (Private_Clean + Private_Dirty): what
#            one more run adds.
#   PTE      the page tables (VmPTE), which no figure above includes.
# "per run" divides the unit runs' own sums (the fleet run's process left
# out) by the number of unit runs at the sample where their PSS peaked.
#
# The units are unit-sim processes on 127.1.0.1 onwards (250 an address block:
# 127.1.0.1-250, 127.1.1.1-...), ports 80 and 69, which needs root; without it
# the script runs again inside a user and network namespace of its own.
# Loopback only; not run by ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
arguments=("$@")
scale=0
if [ "${1:-}" = --scale ]; then
    scale=1
    shift
fi
build=${1:-build}
if [ "$scale" -eq 1 ]; then
    read -r -a sizes <<<"${SCALE:-8 64 256}"
    runs=${RUNS:-1}
else
    read -r -a sizes <<<"${SCALE:-8}"
    runs=${RUNS:-3}
fi
reboot=3

if [ "${FLEET_BENCH_INSIDE:-}" != 1 ]; then
    [ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" --target tftp-loader-cli unit-sim bench-helper >/dev/null
    # A program just linked sits in dirty page-cache pages until they are
    # written back, and smaps counts a dirty page of a mapped file as
    # private: the first runs would show the whole program as private.
    sync
    if [ "$(id -u)" -ne 0 ]; then
        exec env FLEET_BENCH_INSIDE=1 unshare --user --map-root-user --net -- \
            bash "$0" "${arguments[@]}"
    fi
else
    ip link set lo up
fi
cli=$build/bin/tftp-loader-cli
helper=$build/bin/bench-helper
most=$(printf '%s\n' "${sizes[@]}" | sort -n | tail -n 1)
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

# Unit i (from 1) on 127.1.0.1 onwards, 250 an address block.
address_of() { echo "127.1.$((($1 - 1) / 250)).$((($1 - 1) % 250 + 1))"; }
store_of() { if [ "$1" -eq 1 ]; then echo "$work/store"; else echo "$work/store$1"; fi; }

. scripts/unit-sim-run.sh
unit_sim_start "$build" "$(address_of 1)" --reboot-seconds "$reboot"
# The others all at once, then each waited for: one after the other, 256
# units would take half a minute to start.
for i in $(seq 2 "$most"); do
    unit_sim_spawn "$build" "$(address_of "$i")" "$(store_of "$i")" "$(store_of "$i").log" \
        --reboot-seconds "$reboot"
done
for i in $(seq 2 "$most"); do
    unit_sim_listening "${unit_pids[$((i - 1))]}" "$(address_of "$i")" "$(store_of "$i").log"
done

# A unit reboots after it stored an image: each run starts once all are back.
all_back() {
    for i in $(seq "$1"); do
        for _ in $(seq 100); do
            curl -s -o /dev/null --max-time 1 "http://$(address_of "$i")/" && break
            sleep 0.1
        done
    done
}

# One run of the loader: NAME UNITS JOBS LOADER-ARGUMENTS...; appends "NAME
# UNITS JOBS" and the helper's figures to the results. The run must succeed.
measure() {
    local name=$1 units=$2 jobs=$3 status=0
    shift 3
    "$helper" tree-memory 900 "$cli" "$@" --folder "$work/images" >"$work/out" 2>&1 ||
        status=$?
    [ "$status" -eq 0 ] || { cat "$work/out" >&2; echo "$name $units: exit status $status" >&2; exit 1; }
    echo "$name $units $jobs $(tail -n 1 "$work/out")" >>"$work/results"
}

for units in "${sizes[@]}"; do
    jobs=${JOBS:-$units}
    fleet_args=()
    for i in $(seq "$units"); do fleet_args+=(--address "$(address_of "$i")"); done
    for _ in $(seq "$runs"); do
        all_back 1
        measure one 1 1 --address "$(address_of 1)"
        all_back "$units"
        for i in $(seq "$units"); do rm -f "$(store_of "$i")"/*.bin; done
        measure fleet "$units" "$jobs" --jobs "$jobs" "${fleet_args[@]}"
        for i in $(seq "$units"); do
            store=$(store_of "$i")
            cmp -s "$work/images/pagesV1.bin" "$store/rrpages.bin" &&
                cmp -s "$work/images/firmware.bin" "$store/rrboot.bin" ||
                { echo "$(address_of "$i"): stored images differ" >&2; exit 1; }
        done
    done
done
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"

median() { sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
# The median of field KEY over the rows NAME UNITS.
figure() {
    awk -v n="$1" -v u="$2" -v k="$3" '$1==n && $2==u {
        for (i = 4; i <= NF; i++) { split($i, kv, "="); if (kv[1]==k) print kv[2] } }' \
        "$work/results" | median
}
one=$(awk '$1=="one"' "$work/results" | awk '{print $4}' | sed 's/wall=//' | median)
mib() { awk -v k="$1" 'BEGIN {printf "%.1f", k / 1024}'; }
per() { awk -v s="$1" -v n="$2" 'BEGIN {printf "%.2f", (n > 0 ? s / n / 1024 : 0)}'; }
echo "units on 127.1.0.1 onwards, reboot ${reboot} s, images 40 KB + 90 KB, $runs run(s) each" \
    "(medians); one unit alone: $(printf '%.2f' "$one") s, $(mib "$(figure one 1 rss)") MiB RSS," \
    "$(mib "$(figure one 1 pss)") MiB PSS, $(mib "$(figure one 1 private)") MiB private"
printf '%6s %5s %7s %6s | %9s %9s %9s %7s | %-24s | %s\n' units jobs wall "x one" "sum RSS" \
    "sum PSS" private PTE "per run: RSS PSS private" "fleet run's own peak"
for units in "${sizes[@]}"; do
    wall=$(figure fleet "$units" wall)
    n=$(figure fleet "$units" children)
    printf '%6d %5d %6.2fs %6.2f | %9s %9s %9s %7s | %6s %5s %5s MiB | %5s MiB RSS\n' "$units" \
        "${JOBS:-$units}" "$wall" "$(awk "BEGIN {print $wall / $one}")" \
        "$(mib "$(figure fleet "$units" rss)")" "$(mib "$(figure fleet "$units" pss)")" \
        "$(mib "$(figure fleet "$units" private)")" "$(mib "$(figure fleet "$units" pte)")" \
        "$(per "$(figure fleet "$units" children_rss)" "$n")" \
        "$(per "$(figure fleet "$units" children_pss)" "$n")" \
        "$(per "$(figure fleet "$units" children_private)" "$n")" \
        "$(mib "$(figure fleet "$units" own_hwm)")"
done
echo "(sums in MiB over the fleet run and every unit's run at their peaks)"
if [ "$scale" -eq 0 ]; then
    own=$(awk '$1=="fleet" {for (i = 4; i <= NF; i++) if ($i ~ /^own_hwm=/) print substr($i, 9)}' \
        "$work/results" | sort -n | tail -n 1)
    printf "goals: %d units in at most 1.3 x one unit; the fleet run's own peak %d KiB" \
        "${sizes[0]}" "$own"
    printf " (%.1f MiB) under 16 MiB\n" "$(mib "$own")"
fi
