#!/usr/bin/env bash
# The main job: an update end to end without hardware. Builds the loader and
# the simulated unit and starts unit-sim on 127.0.0.2 with a folder of sample
# images. With a display it opens the loader's window for you to drive;
# without one (or with --headless) it runs tftp-loader-cli against the unit,
# shows its log, and checks that the unit stored both images byte for byte.
#
# The unit's ports 80 and 69 need root. Without it the demo runs again inside
# a user and network namespace of its own, where it may bind them and where
# nothing leaves the machine. The window runs in a network namespace of its
# own even for root: whatever is typed into its address field, nothing it
# sends can leave the machine.
set -euo pipefail
cd "$(dirname "$0")/.."

address=127.0.0.2
mode=headless
if [ -n "${DISPLAY:-}" ] && [ "${1:-}" != "--headless" ] && [ "${2:-}" != "--headless" ]; then
    mode=window
fi

if [ "${1:-}" != "--inside" ]; then
    if [ "$(id -u)" -eq 0 ]; then
        bash scripts/install-deps.sh
    fi
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    targets=(tftp-loader-cli unit-sim)
    [ "$mode" = window ] && targets+=(tftp-loader)
    cmake --build build --target "${targets[@]}" -j"$(nproc)"
    if [ "$(id -u)" -ne 0 ]; then
        exec unshare --user --map-root-user --net -- bash "$0" --inside "${1:-}"
    elif [ "$mode" = window ]; then
        exec unshare --net -- bash "$0" --inside "${1:-}"
    fi
else
    ip link set lo up
fi

. scripts/unit-sim-run.sh
unit_sim_start build "$address" --reboot-seconds 2

if [ "$mode" = window ]; then
    cat <<EOT
== The simulated unit answers on $address (revision 171).
   In the window: click into the address field, press Ctrl+A to select all
   of its text, type 127000000002 (it shows 127.000.000.002) and press
   Enter. Click into the folder edit, press Ctrl+A, type
       $work/images
   and press Upload. The log ends with "Update successful". Close the
   window when done.
EOT
    build/bin/tftp-loader || true
    echo "== what the unit saw"
    cat "$work/unit-sim.log"
    exit 0
fi

echo "== tftp-loader-cli --address $address --folder $work/images"
status=0
build/bin/tftp-loader-cli --address "$address" --folder "$work/images" --trace || status=$?
echo "== exit status $status"
echo "== what the unit saw"
cat "$work/unit-sim.log"

cmp "$work/images/pagesV1.bin" "$work/store/rrpages.bin"
cmp "$work/images/firmware.bin" "$work/store/rrboot.bin"
echo "== the unit stored rrpages.bin and rrboot.bin, identical to the images sent"
exit "$status"
