#!/usr/bin/env bash
# Benchmark of tftp-put against two independent TFTP clients (curl, atftp)
# and the bare client (bench-helper put: per block one read, one send, one
# blocking receive, nothing else): each uploads the same 32,000,000-byte file
# to tftpd-hpa on loopback at block sizes 512 and 1468, the clients
# alternating over several runs. Prints per client and block size the median
# wall time, CPU time (user + system), CPU per block and peak resident
# memory, the ratios of tftp-put to the best peer and to the bare client, and
# the round-trip floor: a bare UDP ping-pong of the same datagram sizes,
# times the number of blocks.
#
# Server and clients are pinned to one CPU: a lock-step exchange costs several
# times more when the two processes land on different CPUs, and unpinned
# figures swing by 2x between runs.
#
#   bench/tftp-put-bench.sh [BUILD_DIR]     (default: build)
#
# RUNS (7) sets the runs per client and block size, CPU (0) the CPU that all
# run on, CLIENTS ("tftp-put curl atftp bare") the clients measured.
#
# Loopback only; not run by ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${RUNS:-7}
ip=127.0.0.64
size=32000000
cpu=${CPU:-0}
read -r -a clients <<<"${CLIENTS:-tftp-put curl atftp bare}"

for tool in /usr/sbin/in.tftpd curl atftp taskset; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (scripts/install-deps.sh)" >&2; exit 1; }
done
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target tftp-put bench-helper >/dev/null
put=$build/bin/tftp-put
helper=$build/bin/bench-helper

work=$(mktemp -d)
server=""
cleanup() {
    # wait gives the server's status for SIGTERM (143); under set -e that
    # would end the trap before the work folder is removed.
    if [ -n "$server" ]; then
        kill "$server" 2>/dev/null || true
        wait "$server" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/root"
chmod 777 "$work/root"
head -c "$size" /dev/urandom >"$work/source.bin"
: >"$work/empty.bin"

port=$("$helper" free-port "$ip")
taskset -c "$cpu" /usr/sbin/in.tftpd -L -a "$ip:$port" -c -u root -s "$work/root" &
server=$!
ready=0
for _ in $(seq 50); do
    if "$put" --timeout 500 --port "$port" "$ip" "$work/empty.bin" probe 2>/dev/null; then
        ready=1
        break
    fi
done
[ "$ready" -eq 1 ] || { echo "in.tftpd did not answer on $ip:$port" >&2; exit 1; }

# One upload: wall s, CPU s, peak KiB appended to the results, file checked.
measure() {
    local client=$1 bs=$2 name="$1-$2"
    rm -f "$work/root/$name"
    local cmd
    case $client in
    tftp-put) cmd=("$put" --port "$port" --blksize "$bs" "$ip" "$work/source.bin" "$name") ;;
    curl) cmd=(curl -sS -T "$work/source.bin" "tftp://$ip:$port/$name" --tftp-blksize "$bs") ;;
    atftp) cmd=(atftp --option "blksize $bs" -p -l "$work/source.bin" -r "$name" "$ip" "$port") ;;
    bare) cmd=("$helper" put "$ip" "$port" "$bs" "$work/source.bin" "$name") ;;
    esac
    "$helper" measure taskset -c "$cpu" "${cmd[@]}" >"$work/time" 2>"$work/log" ||
        { cat "$work/log" >&2; exit 1; }
    cmp -s "$work/source.bin" "$work/root/$name" || { echo "$client $bs: stored file differs" >&2; exit 1; }
    echo "$client $bs $(tail -n 1 "$work/time")" >>"$work/results"
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
n=${#clients[@]}
for run in $(seq "$runs"); do
    for bs in 512 1468; do
        for i in $(seq 0 $((n - 1))); do
            measure "${clients[$(((run + i) % n))]}" "$bs"
        done
    done
done

calc() { awk "BEGIN {print $1}"; }
median() { sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
col() { awk -v c="$1" -v b="$2" -v k="$3" '$1==c && $2==b {print $k}' "$work/results" | median; }

echo "32,000,000 bytes to in.tftpd on $ip, everything on CPU $cpu, $runs runs each (medians)"
echo "load before: $load_before; after: $(cut -d' ' -f1-3 /proc/loadavg)"
for bs in 512 1468; do
    blocks=$((size / bs + 1))
    read -r rtt floor_s < <(taskset -c "$cpu" "$helper" floor "$ip" $((bs + 4)) 4 "$blocks")
    echo
    echo "block size $bs ($blocks blocks); floor: round trip ${rtt} us x $blocks = ${floor_s} s"
    printf "  %-9s %8s %8s %12s %9s\n" client "wall s" "CPU s" "CPU/block us" "peak KiB"
    best="" own="" bare=""
    for c in "${clients[@]}"; do
        wall=$(col "$c" "$bs" 3)
        cpu_s=$(col "$c" "$bs" 4)
        rss=$(col "$c" "$bs" 5)
        per=$(calc "$cpu_s * 1000000 / $blocks")
        printf "  %-9s %8.3f %8.3f %12.2f %9d\n" "$c" "$wall" "$cpu_s" "$per" "$rss"
        case $c in
        tftp-put) own=$wall ;;
        bare) bare=$wall ;;
        *) if [ -z "$best" ] || [ "$(calc "$wall < $best")" = 1 ]; then best=$wall; fi ;;
        esac
    done
    [ -n "$own" ] || continue
    [ -z "$best" ] || printf "  tftp-put / best peer: %.3f\n" "$(calc "$own / $best")"
    [ -z "$bare" ] || printf "  tftp-put / bare client: %.3f\n" "$(calc "$own / $bare")"
    printf "  tftp-put / round-trip floor: %.2f\n" "$(calc "$own / $floor_s")"
done
