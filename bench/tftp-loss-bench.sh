#!/usr/bin/env bash
# Loss benchmark: what retransmission gains a user on a lossy link. Uploads a
# file to tftpd-hpa on loopback through udp-relay, which drops the given share
# of datagrams in each direction, with four clients at their own defaults and
# 512-byte blocks: tftp-put --retries 5, curl's tftp://, atftp and tftp-hpa's
# tftp. Each run gets a relay of its own whose seed is the run's number, so a
# run can be replayed; each run is cut off after LIMIT seconds and then counts
# as failed. Prints per client and loss the runs that stored the file byte
# for byte, the median time of those, and any run that reported success with
# a wrong file.
#
#   bench/tftp-loss-bench.sh [BUILD_DIR]     (default: build)
#
# SIZE (1000000) bytes per upload, RUNS (50) runs per cell, LOSSES ("0 0.01
# 0.05 0.1") the loss rates, LIMIT (60) seconds per run, JOBS (16) runs at
# once: the peers spend most of a lossy run waiting out their fixed
# time-outs, so runs overlap (and the times of runs without losses include
# the others' load). CLIENTS ("tftp-put curl atftp tftp-hpa") the clients.
# Loopback only; not run by ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${RUNS:-50}
read -r -a losses <<<"${LOSSES:-0 0.01 0.05 0.1}"
read -r -a clients <<<"${CLIENTS:-tftp-put curl atftp tftp-hpa}"
export LIMIT=${LIMIT:-60}
jobs=${JOBS:-16}
export SERVER_IP=127.0.0.65 RELAY_IP=127.0.0.66
size=${SIZE:-1000000}

for tool in /usr/sbin/in.tftpd curl atftp tftp timeout; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (scripts/install-deps.sh)" >&2; exit 1; }
done
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target tftp-put udp-relay bench-helper >/dev/null
export PUT=$PWD/$build/bin/tftp-put RELAY=$PWD/$build/bin/udp-relay
helper=$build/bin/bench-helper

WORK=$(mktemp -d)
export WORK
server=""
cleanup() {
    if [ -n "$server" ]; then
        kill "$server" 2>/dev/null || true
        wait "$server" 2>/dev/null || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT
mkdir "$WORK/root"
chmod 777 "$WORK/root"
head -c "$size" /dev/urandom >"$WORK/source.bin"

SERVER_PORT=$("$helper" free-port "$SERVER_IP")
export SERVER_PORT
/usr/sbin/in.tftpd -L -a "$SERVER_IP:$SERVER_PORT" -c -u root -s "$WORK/root" &
server=$!
: >"$WORK/probe.bin"
for _ in $(seq 50); do
    "$PUT" --timeout 500 --port "$SERVER_PORT" "$SERVER_IP" "$WORK/probe.bin" probe 2>/dev/null && break
done

# One run: prints "client loss seed outcome seconds", outcome ok, failed or
# wrong (success reported, file different).
one() {
    local client=$1 loss=$2 seed=$3
    local name="$client-$loss-$seed" out="$WORK/relay-$client-$loss-$seed"
    "$RELAY" --listen "$RELAY_IP" --server "$SERVER_IP" --server-port "$SERVER_PORT" \
        --drop "$loss" --seed "$seed" >"$out" 2>/dev/null &
    local relay=$! port=""
    for _ in $(seq 100); do
        port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$out" 2>/dev/null)
        [ -n "$port" ] && break
        sleep 0.05
    done
    local src=$WORK/source.bin
    local cmd
    case $client in
    tftp-put) cmd=("$PUT" --retries 5 --blksize 512 --port "$port" "$RELAY_IP" "$src" "$name") ;;
    curl) cmd=(curl -sS -T "$src" "tftp://$RELAY_IP:$port/$name") ;;
    atftp) cmd=(atftp -p -l "$src" -r "$name" "$RELAY_IP" "$port") ;;
    tftp-hpa) cmd=(tftp -m binary "$RELAY_IP" "$port" -c put "$src" "$name") ;;
    esac
    local start end rc=0
    start=$(date +%s.%N)
    timeout "$LIMIT" "${cmd[@]}" >/dev/null 2>&1 </dev/null || rc=$?
    end=$(date +%s.%N)
    kill "$relay" 2>/dev/null || true
    wait "$relay" 2>/dev/null || true
    local outcome=failed
    if [ "$rc" -eq 0 ]; then
        if cmp -s "$src" "$WORK/root/$name"; then outcome=ok; else outcome=wrong; fi
    fi
    rm -f "$WORK/root/$name" "$out"
    echo "$client $loss $seed $outcome $(awk "BEGIN {print $end - $start}")"
}
export -f one

began=$(date +%s)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for loss in "${losses[@]}"; do
    for seed in $(seq "$runs"); do
        for client in "${clients[@]}"; do
            echo "$client $loss $seed"
        done
    done
done | xargs -P "$jobs" -n 3 bash -c 'one "$@"' _ >"$WORK/results"

median() { sort -g | awk '{v[NR]=$1} END {if (NR == 0) print "-"; else printf "%.2f", (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

echo "$size bytes in 512-byte blocks to in.tftpd through udp-relay dropping the given share"
echo "of datagrams each way; $runs seeded runs per cell, at most $LIMIT s each, $jobs at once."
echo "Cell: runs stored byte for byte / runs, median seconds of those."
echo "Took $(($(date +%s) - began)) s; load before: $load_before; after: $(cut -d' ' -f1-3 /proc/loadavg)"
printf "%-10s" client
for loss in "${losses[@]}"; do printf " %18s" "$(awk "BEGIN {print $loss * 100}")% loss"; done
echo
for client in "${clients[@]}"; do
    printf "%-10s" "$client"
    for loss in "${losses[@]}"; do
        ok=$(awk -v c="$client" -v l="$loss" '$1==c && $2==l && $4=="ok"' "$WORK/results" | wc -l)
        med=$(awk -v c="$client" -v l="$loss" '$1==c && $2==l && $4=="ok" {print $5}' "$WORK/results" | median)
        printf " %18s" "$ok/$runs  $med s"
    done
    echo
done
wrong=$(awk '$4=="wrong"' "$WORK/results")
[ -z "$wrong" ] || { echo "success reported with a wrong file (client loss seed):"; echo "$wrong"; }
