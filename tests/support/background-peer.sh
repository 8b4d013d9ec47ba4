#!/usr/bin/env bash
# Starts a Linux peer program of the Windows tests (which run under Wine and
# cannot host it themselves) in the background, or stops it again by its pid.
# The peer says it is ready by creating READY_FILE; start fails when it does
# not within 10 s or dies first.
#
# Usage: background-peer.sh start PID_FILE READY_FILE PROGRAM [ARGS...]
#        background-peer.sh stop PID_FILE
set -euo pipefail

case "${1:-}" in
start)
    [ $# -ge 4 ] || { echo "usage: $0 start PID_FILE READY_FILE PROGRAM [ARGS...]" >&2; exit 2; }
    pid_file="$2" ready_file="$3"
    shift 3
    mkdir -p "$(dirname "$pid_file")" "$(dirname "$ready_file")"
    rm -f "$ready_file"
    # Its output goes to a log beside the pid file, not into ctest's pipe,
    # which would otherwise stay open until the peer ends.
    "$@" >"$pid_file.log" 2>&1 </dev/null &
    echo $! >"$pid_file"
    for _ in $(seq 100); do
        [ -s "$ready_file" ] && exit 0
        kill -0 "$(cat "$pid_file")" 2>/dev/null || break
        sleep 0.1
    done
    echo "$1 did not get ready:" >&2
    cat "$pid_file.log" >&2
    kill "$(cat "$pid_file")" 2>/dev/null || true
    exit 1
    ;;
stop)
    [ $# -eq 2 ] || { echo "usage: $0 stop PID_FILE" >&2; exit 2; }
    [ -s "$2" ] || exit 0
    pid="$(cat "$2")"
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    rm -f "$2"
    ;;
*)
    echo "usage: $0 start|stop ..." >&2
    exit 2
    ;;
esac
