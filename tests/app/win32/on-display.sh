#!/usr/bin/env bash
# Runs a Windows test program under Wine on the virtual display that ctest
# started (the display's number is the first line of DISPLAY_FILE), with the
# window font the program asks for. A run that started its Wine prefix on a
# display of its own names it in LOADER_TEST_DISPLAY (scripts/test-windows.sh),
# and that one is taken instead: the prefix's desktop, and with it every
# window of the prefix, stays on the display it started on.
#
# Usage: on-display.sh DISPLAY_FILE WINE PROGRAM [ARGS...]
# (environment: LOADER_TEST_DISPLAY, LOADER_TEST_DPI, WINEPREFIX)
set -euo pipefail
display_file="$1" wine="$2"
shift 2
DISPLAY=":${LOADER_TEST_DISPLAY:-$(head -n 1 "$display_file")}"
export DISPLAY

prefix="${WINEPREFIX:-$HOME/.wine}"
# LOADER_TEST_DPI asks for a display of that many dots per inch: Wine takes
# it from the prefix's registry (LogPixels) when a program starts, so such a
# run gets a prefix of its own beside the usual one, made for it once.
dpi="${LOADER_TEST_DPI:-96}"
if [ "$dpi" != 96 ]; then
    prefix="$prefix-dpi$dpi"
    export WINEPREFIX="$prefix"
fi
if [ ! -d "$prefix/drive_c/windows/Fonts" ]; then
    "$wine" wineboot -i >/dev/null 2>&1
fi
if [ "$dpi" != 96 ]; then
    "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
fi
# Debian's wine64, started without the wine package's wrapper, does not load
# its own fonts (Tahoma among them, from fonts-wine); linked into the
# prefix's font folder, where Windows keeps its fonts, they are found.
for font in /usr/share/wine/fonts/*; do
    ln -sf "$font" "$prefix/drive_c/windows/Fonts/"
done
# With no window manager on the display, Wine is to manage the windows
# itself: it draws their frames, and hiding one does not wait in vain for a
# window manager to confirm it.
if ! grep -qs '^"Managed"="N"' "$prefix/user.reg"; then
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
fi
exec "$wine" "$@"
