#!/usr/bin/env bash
# Takes the pictures of the Qt window in docs/: window-qt-success.png after an
# update against the simulated unit, window-qt-failure.png after an Upload
# that the unit refuses (its status in red), and both again at a scale of 2
# (-scale2), as the window's tests leave it on Qt's offscreen platform
# (tests/app/qt: TheReadmeWalkThroughUpdatesTheUnit,
# AnUploadThatTheUnitRefusesEndsInRed). Needs the Linux build with its tests
# (qt_tests). The tests' units take ports 80 and 69 on loopback addresses of
# their own, so the script runs in a user and network namespace of its own,
# where they can and nothing leaves the machine.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != "--in-namespace" ]; then
    exec unshare --user --map-root-user --net \
        bash -c 'ip link set lo up && exec bash "$0" --in-namespace' "$0"
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
tests="WindowTest.TheReadmeWalkThroughUpdatesTheUnit:WindowTest.AnUploadThatTheUnitRefusesEndsInRed"
for scale in 1 2; do
    suffix=""
    [ "$scale" = 1 ] || suffix="-scale$scale"
    mkdir -p "$work/$scale"
    if ! QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR="$scale" LOADER_SCREENSHOT_DIR="$work/$scale" \
        build/bin/qt_tests --gtest_filter="$tests" >"$work/log" 2>&1; then
        cat "$work/log" >&2
        exit 1
    fi
    for name in success failure; do
        # The window's own pixels, without the frame that a window manager adds.
        convert "$work/$scale/$name.png" -strip "docs/window-qt-$name$suffix.png"
        echo "docs/window-qt-$name$suffix.png"
    done
done
