#!/usr/bin/env bash
# Builds the Windows programs and test programs (scripts/build-windows.sh
# --tests) and runs the test programs under Wine against peers on the Linux
# side of the loopback: tftpd-hpa for the TFTP interoperability case, and
# unit-sim-host, which runs the simulated units that the loader's tests ask
# for, unit-sim, which the window tests start, and http-peer, which the http
# tests start (the Linux build in build/ makes them). Warnings are errors, as in the Linux builds. Each run gets a
# fresh Wine prefix in a temporary folder, started on a virtual display of the
# run's own; its wineserver and the display are stopped at the end. Test
# traffic stays on 127.0.0.0/8.
#
# Usage: test-windows.sh [--no-build]
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != "--no-build" ]; then
    bash scripts/build-windows.sh --tests -DLOADER_WERROR=ON
    if [ ! -f build/CMakeCache.txt ]; then
        cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
    fi
    cmake --build build --target unit-sim-host unit-sim http-peer -j"$(nproc)"
fi

wine=/usr/bin/wine
[ -x "$wine" ] || wine=/usr/lib/wine/wine64
wineserver=/usr/bin/wineserver
[ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver

work=$(mktemp -d)
tftpd_pid=""
host_pid=""
xvfb_pid=""
cleanup() {
    for pid in $tftpd_pid $host_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    # The window tests' prefix for 192 DPI too (tests/app/win32/on-display.sh).
    for prefix in "$work/prefix" "$work/prefix-dpi192"; do
        WINEPREFIX="$prefix" "$wineserver" -k 2>/dev/null || true
    done
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# The prefix's desktop takes the display of the program that starts it, and
# every window of the prefix shows there; a desktop started without one (as
# wineboot below would start it) lets no program of the prefix make a window.
# So the display comes first, and the window tests use it too
# (LOADER_TEST_DISPLAY, read by tests/app/win32/on-display.sh).
Xvfb -displayfd 3 -screen 0 2048x1536x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log"; exit 1; }
    sleep 0.1
done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export LOADER_TEST_DISPLAY
LOADER_TEST_DISPLAY=$(head -n 1 "$work/display")
export DISPLAY=":$LOADER_TEST_DISPLAY"

export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The prefix's first start takes its seconds once, not in the first test.
"$wine" wineboot --init >/dev/null 2>&1
"$wineserver" -p 60 || true # kept up between the test programs, stopped by cleanup

# A Windows test program cannot start a Linux program that it could stop
# again, so tftpd-hpa runs here, on the address the interoperability test
# expects, and the test learns its port and root from the environment.
tftpd_ip=127.0.0.61
tftpd_port=6961 # on an address of its own, so a fixed port is free
mkdir -p "$work/tftpd-root"
chmod 777 "$work/tftpd-root"
/usr/sbin/in.tftpd -L -a "$tftpd_ip:$tftpd_port" -c -u root -s "$work/tftpd-root" &
tftpd_pid=$!
export LOADER_TEST_TFTPD_PORT=$tftpd_port
export LOADER_TEST_TFTPD_ROOT="Z:${work//\//\\}\\tftpd-root"

# The units run on the Linux side: the loader's tests reach them through
# unit-sim-host (units on ports 80 and 69 need root, as on Linux).
host_address=127.0.0.63:6963
build/bin/unit-sim-host --address "${host_address%:*}" --port "${host_address#*:}" \
    >"$work/unit-sim-host.log" 2>&1 &
host_pid=$!
for _ in $(seq 50); do
    grep -q "^unit-sim-host" "$work/unit-sim-host.log" 2>/dev/null && break
    kill -0 "$host_pid" 2>/dev/null || { cat "$work/unit-sim-host.log"; exit 1; }
    sleep 0.1
done
export LOADER_UNIT_SIM_HOST=$host_address

# Under Wine every datagram costs a trip through the wineserver: the 65535
# blocks of the block-number wrap take eight minutes there, so that one case
# runs on Linux only.
export GTEST_FILTER=-TransferTest.BlockNumbersEndAt65535

start=$(date +%s)
(cd build-win && ctest --output-on-failure -j"$(nproc)" --timeout 900)
echo "Windows test programs under Wine: $(($(date +%s) - start)) s"
