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
#
# With --windows the loader is the Windows build (scripts/build-windows.sh),
# run under Wine in a fresh prefix: tftp-loader-cli.exe headless, or the
# window tftp-loader.exe with a display. unit-sim stays the Linux program.
#
# Usage: demo.sh [--headless] [--windows]
set -euo pipefail
cd "$(dirname "$0")/.."

address=127.0.0.2
inside=0
headless=0
windows=0
for arg in "$@"; do
    case "$arg" in
    --inside) inside=1 ;;
    --headless) headless=1 ;;
    --windows) windows=1 ;;
    *)
        echo "usage: $0 [--headless] [--windows]" >&2
        exit 2
        ;;
    esac
done
mode=headless
if [ -n "${DISPLAY:-}" ] && [ "$headless" -eq 0 ]; then
    mode=window
fi
flags=()
[ "$headless" -eq 1 ] && flags+=(--headless)
[ "$windows" -eq 1 ] && flags+=(--windows)

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
        exec unshare --user --map-root-user --net -- bash "$0" --inside "${flags[@]}"
    elif [ "$mode" = window ]; then
        exec unshare --net -- bash "$0" --inside "${flags[@]}"
    fi
else
    ip link set lo up
fi

work=$(mktemp -d)
unit_pid=""
wineserver=/usr/lib/wine/wineserver
cleanup() {
    if [ -n "$unit_pid" ]; then
        kill "$unit_pid" 2>/dev/null || true
        wait "$unit_pid" 2>/dev/null || true
    fi
    if [ "$windows" -eq 1 ]; then
        WINEPREFIX="$work/prefix" "$wineserver" -k 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# The loader to run: the Linux program, or the Windows one under Wine (whose
# paths are the same files under drive Z:).
loader_cli=(build/bin/tftp-loader-cli)
loader_window=(build/bin/tftp-loader)
folder_arg() { echo "$1"; }
if [ "$windows" -eq 1 ]; then
    wine=/usr/bin/wine
    [ -x "$wine" ] || wine=/usr/lib/wine/wine64
    export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    "$wine" wineboot --init >/dev/null 2>&1
    loader_cli=("$wine" build-win/bin/tftp-loader-cli.exe)
    loader_window=("$wine" build-win/bin/tftp-loader.exe)
    folder_arg() { echo "Z:${1//\//\\}"; }
fi

# Sample images: a web-page image (the "MPFS" magic; "V1" in its name is the
# family tag of revision 171) and a program image (byte 6 not zero).
mkdir -p "$work/images" "$work/store"
{ printf 'MPFS\x02\x01\x00\x00'; head -c 40000 /dev/urandom; } >"$work/images/pagesV1.bin"
{ printf 'TSK\x00\x00\x00\x01\x00'; head -c 90000 /dev/urandom; } >"$work/images/firmware.bin"

build/bin/unit-sim --address "$address" --revision 171 --reboot-seconds 2 \
    --store "$work/store" >"$work/unit-sim.log" 2>&1 &
unit_pid=$!
for _ in $(seq 50); do
    grep -q "^unit $address" "$work/unit-sim.log" 2>/dev/null && break
    kill -0 "$unit_pid" 2>/dev/null || { cat "$work/unit-sim.log"; exit 1; }
    sleep 0.1
done

if [ "$mode" = window ]; then
    cat <<EOT
== The simulated unit answers on $address (revision 171).
   In the window: click into the address field, press Ctrl+A to select all
   of its text, type 127000000002 (it shows 127.000.000.002) and press
   Enter. Click into the folder edit, press Ctrl+A, type
       $(folder_arg "$work/images")
   and press Upload. The log ends with "Update successful". Close the
   window when done.
EOT
    if [ "$windows" -eq 1 ] && [ ! -f build-win/bin/tftp-loader.exe ]; then
        echo "== build-win/bin/tftp-loader.exe is not built; run with --headless" >&2
        exit 1
    fi
    "${loader_window[@]}" || true
    echo "== what the unit saw"
    cat "$work/unit-sim.log"
    exit 0
fi

echo "== ${loader_cli[*]} --address $address --folder $(folder_arg "$work/images")"
status=0
"${loader_cli[@]}" --address "$address" --folder "$(folder_arg "$work/images")" --trace ||
    status=$?
echo "== exit status $status"
echo "== what the unit saw"
cat "$work/unit-sim.log"

cmp "$work/images/pagesV1.bin" "$work/store/rrpages.bin"
cmp "$work/images/firmware.bin" "$work/store/rrboot.bin"
echo "== the unit stored rrpages.bin and rrboot.bin, identical to the images sent"
exit "$status"
