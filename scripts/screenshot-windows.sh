#!/usr/bin/env bash
# Takes the pictures of the window of tftp-loader.exe in docs/:
# window-windows-success.png after an update against the simulated unit and
# window-windows-failure.png after an Upload that the unit refuses (its
# status in red), on a display of 96 DPI and again of 192 DPI (-192dpi), as
# the window's tests leave them on their virtual display under Wine
# (tests/app/win32: TheReadmeWalkThroughUpdatesTheUnit,
# AnUploadThatTheUnitRefusesEndsInRed; tests/app/win32/on-display.sh gives
# the display of 192 DPI a Wine prefix of its own). Needs the Linux build
# (unit-sim) and the Windows build with its tests (scripts/build-windows.sh
# --tests). Every unit is on the loopback.
set -euo pipefail
cd "$(dirname "$0")/.."

work="$(mktemp -d)"
cleanup() {
    if [ "$WINEPREFIX" = "$work/prefix" ]; then
        for prefix in "$WINEPREFIX" "$WINEPREFIX-dpi192"; do
            WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
        done
    fi
    rm -rf "$work"
}
export WINEPREFIX="${WINEPREFIX:-$work/prefix}" WINEDEBUG=-all
trap cleanup EXIT
export LOADER_SCREENSHOT_READY="$work/ready"
tests="Win32WindowTest.TheReadmeWalkThroughUpdatesTheUnit"
export GTEST_FILTER="$tests:Win32WindowTest.AnUploadThatTheUnitRefusesEndsInRed"

# shoot DPI SUFFIX: runs the window tests on a display of DPI and takes each
# picture that a test asks for (the name in the ready file) as
# docs/window-windows-NAME-SUFFIX.png.
shoot() {
    local status=0 name display
    (cd build-win && LOADER_TEST_DPI="$1" ctest -R 'win32_(display|unit|window_tests$)' \
        --output-on-failure) &
    local tests=$!
    while kill -0 "$tests" 2>/dev/null; do
        if [ -s "$LOADER_SCREENSHOT_READY" ]; then
            name="$(head -n 1 "$LOADER_SCREENSHOT_READY" | tr -d "\r")" # written on Windows
            display="$(head -n 1 build-win/tests/app/win32/run/xvfb.pid.log)"
            # The window stands on a black screen: what is not black is it.
            import -display ":$display" -window root png:- |
                convert - -bordercolor black -border 1 -trim +repage -strip \
                    "docs/window-windows-$name$2.png"
            echo "docs/window-windows-$name$2.png"
            rm -f "$LOADER_SCREENSHOT_READY"
        fi
        sleep 0.1
    done
    wait "$tests" || status=$?
    return "$status"
}

status=0
shoot "" "" || status=$?
shoot 192 "-192dpi" || status=$?
exit "$status"
