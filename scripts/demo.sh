#!/usr/bin/env bash
# The main job: an update end to end without hardware. Builds the loader and
# the simulated unit and starts unit-sim on 127.0.0.2 with a folder of sample
# images. With a display it opens the loader's window for you to drive;
# without one (or with --headless) it runs tftp-loader-cli against the unit,
# shows its log, and checks that the unit stored both images byte for byte.
#
# With --fleet N it starts N simulated units on 127.0.0.2 onwards, the second
# of them refusing every TFTP write, and updates them all in one run of
# tftp-loader-cli from an address file: every other unit must store both
# images byte for byte, the refusing one none, and the run must end with
# status 1 and a table of results.
#
# With --windows the loader is the Windows build (scripts/build-windows.sh),
# run under Wine in a fresh prefix: tftp-loader-cli.exe headless or for the
# fleet, or the window tftp-loader.exe with a display. unit-sim stays the
# Linux program.
#
# The unit's ports 80 and 69 need root. Without it the demo runs again inside
# a user and network namespace of its own, where it may bind them and where
# nothing leaves the machine. The window runs in a network namespace of its
# own even for root: whatever is typed into its address field, nothing it
# sends can leave the machine.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    echo "usage: $0 [--headless] [--windows] [--fleet N (2 to 200)]" >&2
    exit 2
}
args=("$@")
inside=0
headless=0
windows=0
fleet=0
while [ $# -gt 0 ]; do
    case "$1" in
    --inside) inside=1 ;;
    --headless) headless=1 ;;
    --windows) windows=1 ;;
    --fleet)
        fleet=${2:-}
        shift
        [[ "$fleet" =~ ^[0-9]+$ ]] && [ "$fleet" -ge 2 ] && [ "$fleet" -le 200 ] || usage
        ;;
    *) usage ;;
    esac
    shift
done

address=127.0.0.2
mode=headless
if [ -n "${DISPLAY:-}" ] && [ "$headless" -eq 0 ] && [ "$fleet" -eq 0 ]; then
    mode=window
fi

if [ "$inside" -eq 0 ]; then
    if [ "$(id -u)" -eq 0 ]; then
        bash scripts/install-deps.sh
    fi
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    targets=(unit-sim)
    if [ "$windows" -eq 1 ]; then
        bash scripts/build-windows.sh >/dev/null
    else
        targets+=(tftp-loader-cli)
        [ "$mode" = window ] && targets+=(tftp-loader)
    fi
    cmake --build build --target "${targets[@]}" -j"$(nproc)"
    if [ "$(id -u)" -ne 0 ]; then
        exec unshare --user --map-root-user --net -- bash "$0" --inside "${args[@]}"
    elif [ "$mode" = window ]; then
        exec unshare --net -- bash "$0" --inside "${args[@]}"
    fi
else
    ip link set lo up
fi

. scripts/unit-sim-run.sh

# The loader to run: the Linux program, or the Windows one under Wine, whose
# paths are the same files under drive Z:.
loader_cli=(build/bin/tftp-loader-cli)
loader_window=(build/bin/tftp-loader)
path_arg() { echo "$1"; }
if [ "$windows" -eq 1 ]; then
    wine=/usr/bin/wine
    [ -x "$wine" ] || wine=/usr/lib/wine/wine64
    wineserver=/usr/bin/wineserver
    [ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver
    export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    demo_cleanup() {
        "$wineserver" -k 2>/dev/null || true
        unit_sim_cleanup
    }
    trap demo_cleanup EXIT
    "$wine" wineboot --init >/dev/null 2>&1
    loader_cli=("$wine" build-win/bin/tftp-loader-cli.exe)
    loader_window=("$wine" build-win/bin/tftp-loader.exe)
    path_arg() { echo "Z:${1//\//\\}"; }
fi
if [ "$fleet" -gt 0 ]; then
    {
        echo "# The units of the demo; the second one refuses every TFTP write."
        for i in $(seq "$fleet"); do
            echo "127.0.0.$((i + 1))"
        done
    } >"$work/units.txt"
    unit_sim_start build 127.0.0.2 --reboot-seconds 2
    for i in $(seq 2 "$fleet"); do
        fault=()
        [ "$i" -eq 2 ] && fault=(--tftp-error "2:Access violation")
        unit_sim_add build "127.0.0.$((i + 1))" "$work/store$i" --reboot-seconds 2 "${fault[@]}"
    done
    echo "== $fleet simulated units on 127.0.0.2 to 127.0.0.$((fleet + 1)); 127.0.0.3 refuses TFTP writes"
    echo "== ${loader_cli[*]} --addresses units.txt --folder $(path_arg "$work/images")"
    status=0
    "${loader_cli[@]}" --addresses "$(path_arg "$work/units.txt")" \
        --folder "$(path_arg "$work/images")" || status=$?
    echo "== exit status $status"
    [ ! -e "$work/store2/rrpages.bin" ] ||
        { echo "127.0.0.3 stored an image it should have refused" >&2; exit 1; }
    for i in 1 $(seq 3 "$fleet"); do
        store=$work/store$i
        [ "$i" -eq 1 ] && store=$work/store
        cmp "$work/images/pagesV1.bin" "$store/rrpages.bin"
        cmp "$work/images/firmware.bin" "$store/rrboot.bin"
    done
    echo "== every unit but 127.0.0.3 stored rrpages.bin and rrboot.bin, identical to the images sent"
    [ "$status" -eq 1 ] || { echo "expected exit status 1: one unit refuses" >&2; exit 1; }
    exit 0
fi
unit_sim_start build "$address" --reboot-seconds 2

if [ "$mode" = window ]; then
    cat <<EOT
== The simulated unit answers on $address (revision 171).
   In the window: click into the address field, press Ctrl+A to select all
   of its text, type 127000000002 (it shows 127.000.000.002) and press
   Enter. Click into the folder edit, press Ctrl+A, type
       $(path_arg "$work/images")
   and press Upload. The log ends with "Update successful". Close the
   window when done.
EOT
    "${loader_window[@]}" || true
    echo "== what the unit saw"
    cat "$work/unit-sim.log"
    exit 0
fi

echo "== ${loader_cli[*]} --address $address --folder $(path_arg "$work/images")"
status=0
"${loader_cli[@]}" --address "$address" --folder "$(path_arg "$work/images")" --trace ||
    status=$?
echo "== exit status $status"
echo "== what the unit saw"
cat "$work/unit-sim.log"

cmp "$work/images/pagesV1.bin" "$work/store/rrpages.bin"
cmp "$work/images/firmware.bin" "$work/store/rrboot.bin"
echo "== the unit stored rrpages.bin and rrboot.bin, identical to the images sent"
exit "$status"
