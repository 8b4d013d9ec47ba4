#!/usr/bin/env bash
# Builds the Windows programs and test programs (scripts/build-windows.sh
# --tests) and runs the test programs under Wine against peers on the Linux
# side of the loopback: tftpd-hpa for the TFTP interoperability case. Each
# run gets a fresh Wine prefix in a temporary folder, whose wineserver is
# stopped at the end. Test traffic stays on 127.0.0.0/8.
#
# Usage: test-windows.sh [--no-build]
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != "--no-build" ]; then
    bash scripts/build-windows.sh --tests
fi

wine=/usr/bin/wine
[ -x "$wine" ] || wine=/usr/lib/wine/wine64
wineserver=/usr/bin/wineserver
[ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver

work=$(mktemp -d)
tftpd_pid=""
cleanup() {
    if [ -n "$tftpd_pid" ]; then
        kill "$tftpd_pid" 2>/dev/null || true
        wait "$tftpd_pid" 2>/dev/null || true
    fi
    WINEPREFIX="$work/prefix" "$wineserver" -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

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

# Under Wine every datagram costs a trip through the wineserver: the 65535
# blocks of the block-number wrap take eight minutes there, so that one case
# runs on Linux only.
export GTEST_FILTER=-TransferTest.BlockNumbersEndAt65535

start=$(date +%s)
(cd build-win && ctest --output-on-failure -j"$(nproc)" --timeout 900)
echo "Windows test programs under Wine: $(($(date +%s) - start)) s"
