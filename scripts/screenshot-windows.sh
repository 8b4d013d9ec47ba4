#!/usr/bin/env bash
# Takes docs/window-windows.png and docs/window-windows-192dpi.png: the window
# of tftp-loader.exe after an update against the simulated unit, as the
# window test leaves it on its virtual display under Wine, on a display of
# 96 and of 192 DPI (tests/app/win32/on-display.sh gives the latter a Wine
# prefix of its own). Needs the Linux build (unit-sim) and the Windows build
# with its tests (scripts/build-windows.sh --tests).
set -euo pipefail
cd "$(dirname "$0")/.."

work="$(mktemp -d)"
export WINEPREFIX="${WINEPREFIX:-$work/prefix}" WINEDEBUG=-all
export LOADER_SCREENSHOT_READY="$work/ready"

# shoot DPI FILE: runs the window tests on a display of DPI and takes FILE.
shoot() {
    local status=0
    (cd build-win && LOADER_TEST_DPI="$1" ctest -R 'win32_(display|unit|window_tests$)' \
        --output-on-failure) &
    local tests=$!
    for _ in $(seq 1200); do
        [ -e "$LOADER_SCREENSHOT_READY" ] && break
        kill -0 "$tests" 2>/dev/null || break
        sleep 0.1
    done
    if [ -e "$LOADER_SCREENSHOT_READY" ]; then
        display="$(head -n 1 build-win/tests/app/win32/run/xvfb.pid.log)"
        # The window stands at the top-left corner of a black screen.
        import -display ":$display" -window root png:- |
            convert - -bordercolor black -border 1 -trim +repage "$2"
        rm -f "$LOADER_SCREENSHOT_READY"
        echo "$2"
    fi
    wait "$tests" || status=$?
    return "$status"
}

status=0
shoot "" docs/window-windows.png || status=$?
shoot 192 docs/window-windows-192dpi.png || status=$?
if [ "$WINEPREFIX" = "$work/prefix" ]; then
    for prefix in "$WINEPREFIX" "$WINEPREFIX-dpi192"; do
        WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
    done
fi
rm -rf "$work"
exit "$status"
