#!/usr/bin/env bash
# The Windows installer, made by cpack at VERSION and at the next version, as
# an administrator deploys it, under Wine in a prefix of its own: silent
# installs put the programs, the Start menu shortcut and one entry with its
# version, publisher and icon in place; the next version replaces VERSION,
# which then is refused; a silent removal leaves nothing.
# Usage: msi_install_test.sh BUILD_DIR OUT_DIR VERSION WINE ICON
set -uo pipefail
build="$1" out="$2" version="$3" wine="$4" icon="$5"
next="${version%.*}.$((${version##*.} + 1))"
rm -rf "$out"
for v in "$version" "$next"; do
    mkdir -p "$out/$v"
    cpack -G External --config "$build/CPackConfig.cmake" -B "$out/$v" -D CPACK_PACKAGE_VERSION="$v" \
        >"$out/$v/cpack.log" 2>&1 || { cat "$out/$v/cpack.log"; exit 1; }
done

# Nothing reaches a display or the user's menus (winemenubuilder would copy
# the shortcut there); the prefix goes with its wineserver.
work=$(mktemp -d)
trap 'WINEPREFIX="$work/prefix" "$(dirname "$wine")/wineserver" -k 2>/dev/null; rm -rf "$work"' EXIT
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
unset DISPLAY WAYLAND_DISPLAY
"$wine" wineboot --init >/dev/null 2>&1

failed=0
fail() {
    echo "$*"
    failed=1
}
win() { "$wine" "$@" 2>/dev/null | tr -d '\r'; }
msiexec() { "$wine" msiexec "$1" "$("$wine" winepath -w "$out/$2/tftp-loader-$2-x64.msi" 2>/dev/null)" /qn; }
c="$WINEPREFIX/drive_c"
folder="$c/Program Files/Tessik TFTP Loader"
# "VERSION|PUBLISHER" of each of our entries in the installed programs.
entries() {
    win reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | awk '
        function ours() { if (name == "Tessik TFTP Loader") print ver "|" pub }
        /^HKEY/ { ours(); name = ver = pub = "" }
        sub(/^ *DisplayName +REG_SZ +/, "") { name = $0 }
        sub(/^ *DisplayVersion +REG_SZ +/, "") { ver = $0 }
        sub(/^ *Publisher +REG_SZ +/, "") { pub = $0 }
        END { ours() }'
}
shortcuts() { find "$c" -path '*/Start Menu/*' -name '*Tessik*'; }

# V: version V alone is installed, whole.
installed() {
    local f lnk icon_at
    for f in tftp-loader.exe tftp-loader-cli.exe tftp-put.exe LICENSE.txt; do
        [ -f "$folder/$f" ] || fail "$1: no $f under Program Files"
    done
    [ "$(entries)" = "$1|The Tessik TFTP Loader developers" ] || fail "$1: installed programs hold \"$(entries)\""
    lnk=$(shortcuts)
    [ "$(basename "$lnk")" = "Tessik TFTP Loader.lnk" ] || fail "$1: Start menu holds \"$lnk\""
    strings -a "$lnk" | grep -qxF 'C:\Program Files\Tessik TFTP Loader\tftp-loader.exe' ||
        fail "$1: the shortcut does not start the window's program"
    # The entry's icon (ARPPRODUCTICON) is the programs' .ico, and so is the shortcut's.
    icon_at=$(win reg query 'HKLM\Software\Classes\Installer\Products' /s | sed -n 's/^ *ProductIcon *REG_SZ *//p')
    [ -n "$icon_at" ] && cmp -s "$c$(sed 's|^C:||I; s|\\|/|g' <<<"$icon_at")" "$icon" ||
        fail "$1: the entry's icon \"$icon_at\" is not the programs'"
    strings -a -el "$lnk" | grep -qF "$icon_at" || fail "$1: the shortcut lacks the icon $icon_at"
}

msiexec /i "$version" || fail "install of $version: status $?"
installed "$version"
printed=$(win "$folder/tftp-loader-cli.exe" --version)
[ "$printed" = "tftp-loader-cli $version" ] || fail "installed tftp-loader-cli.exe --version printed \"$printed\""
msiexec /i "$next" || fail "install of $next over $version: status $?"
installed "$next"
msiexec /i "$version" && fail "$version installed over $next"
installed "$next"

msiexec /x "$next" || fail "removal: status $?"
left=$(find "$folder" 2>/dev/null; shortcuts; entries; ls -A "$c/windows/Installer"
    win reg query 'HKLM\Software\Classes\Installer' /s | grep -i tessik)
[ -z "$left" ] || fail "removal left: $left"

[ "$failed" -eq 0 ] && echo "tftp-loader-$version-x64.msi installs, gives way to $next, which goes without a trace"
exit "$failed"
