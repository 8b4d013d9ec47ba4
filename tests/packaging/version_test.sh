#!/usr/bin/env bash
# Every program prints the project's version, the one the packages carry, as
# "NAME VERSION", and needs no display for it (the window's program too).
# Usage: version_test.sh VERSION PROGRAM...
set -uo pipefail
version="$1"
shift
failed=0
for program in "$@"; do
    name=$(basename "$program")
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout -s KILL 20 \
        "$program" --version 2>&1 </dev/null)
    status=$?
    if [ "$status" -ne 0 ] || [ "$out" != "$name $version" ]; then
        echo "$name --version: status $status, printed \"$out\"; expected \"$name $version\""
        failed=1
    fi
done
[ "$failed" -eq 0 ] && echo "$# programs print version $version"
exit "$failed"
