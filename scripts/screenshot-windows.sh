#!/usr/bin/env bash
# Takes docs/window-windows.png: the window of tftp-loader.exe after an
# update against the simulated unit, as the window test leaves it on its
# virtual display under Wine. Needs the Linux build (unit-sim) and the
# Windows build with its tests (scripts/build-windows.sh --tests).
set -euo pipefail
cd "$(dirname "$0")/.."

work="$(mktemp -d)"
export WINEPREFIX="${WINEPREFIX:-$work/prefix}" WINEDEBUG=-all
export LOADER_SCREENSHOT_READY="$work/ready"
(cd build-win && ctest -R win32_ --output-on-failure) &
tests=$!
for _ in $(seq 1200); do
    [ -e "$LOADER_SCREENSHOT_READY" ] && break
    kill -0 "$tests" 2>/dev/null || break
    sleep 0.1
done
if [ -e "$LOADER_SCREENSHOT_READY" ]; then
    display="$(head -n 1 build-win/tests/app/win32/run/xvfb.pid.log)"
    # The window stands at the top-left corner of a black screen.
    import -display ":$display" -window root png:- |
        convert - -bordercolor black -border 1 -trim +repage docs/window-windows.png
    rm -f "$LOADER_SCREENSHOT_READY"
fi
status=0
wait "$tests" || status=$?
if [ "$WINEPREFIX" = "$work/prefix" ]; then
    /usr/lib/wine/wineserver -k 2>/dev/null || true
fi
rm -rf "$work"
[ -e docs/window-windows.png ] && echo "docs/window-windows.png"
exit "$status"
