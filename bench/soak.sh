#!/usr/bin/env bash
# Soak: COUNT uploads (1,000 by default) by one loader process against
# unit-sim on loopback, for descriptors and memory that stay flat. The
# loader is loader-soak, which drives TLoader as tftp-loader-cli does, in one
# process from the first upload to the last, so any growth per upload adds
# up; unit-sim runs as its own process and keeps every received image on
# disk. Prints the open descriptors and resident memory of both after
# Connect, after the first upload, every hundred uploads and at the end,
# then the growth from the first upload to the end, and checks that the unit
# stored both images byte for byte. Each upload waits twice for the unit's
# reboot (at least one second each), so 1,000 uploads take over half an hour.
#
#   bench/soak.sh [BUILD_DIR]       (default: build; COUNT=1000)
#
# The unit's ports 80 and 69 need root; without it the soak runs again inside
# a user and network namespace of its own. Loopback only; not run by ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
count=${COUNT:-1000}
ip=127.0.0.66

if [ "${SOAK_INSIDE:-}" != 1 ]; then
    [ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" --target loader-soak unit-sim >/dev/null
    if [ "$(id -u)" -ne 0 ]; then
        SOAK_INSIDE=1 exec unshare --user --map-root-user --net -- bash "$0" "$build"
    fi
else
    ip link set lo up
fi

. scripts/unit-sim-run.sh
unit_sim_start "$build" "$ip" --reboot-seconds 0

echo "$count uploads of a 40,008-byte web-page image and a 90,008-byte program image to unit-sim on $ip"
status=0
# The figures (stderr) are shown and kept; the loader's log (stdout) is kept.
"$build/bin/loader-soak" --address "$ip" --folder "$work/images" --count "$count" \
    --unit-pid "$unit_pid" 2>&1 >"$work/loader.log" | tee "$work/figures" || status=$?
cmp "$work/images/pagesV1.bin" "$work/store/rrpages.bin"
cmp "$work/images/firmware.bin" "$work/store/rrboot.bin"
echo "the unit's last images are identical to the ones sent"

# Growth from the first upload (everything set up, every path taken once) to the end.
awk '/^first upload/ {f = $0} /^end/ {e = $0}
     function field(line, name, k,   n, a, i) {
         n = split(line, a, " ")
         for (i = 1; i < n; i++) if (a[i] == name && --k == 0) return a[i + 1]
     }
     END {
         printf "growth after the first upload: loader fds %+d, rss %+d KiB; unit fds %+d, rss %+d KiB\n",
             field(e, "fds", 1) - field(f, "fds", 1), field(e, "rss", 1) - field(f, "rss", 1),
             field(e, "fds", 2) - field(f, "fds", 2), field(e, "rss", 2) - field(f, "rss", 2)
     }' "$work/figures"
exit "$status"
