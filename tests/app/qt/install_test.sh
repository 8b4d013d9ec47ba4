#!/usr/bin/env bash
# `cmake --install` puts the window's program, its desktop entry and its icon
# where a desktop finds them, and the entry names both. Usage: install_test.sh BUILD_DIR
set -euo pipefail
build="$1"
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

entry="$prefix/share/applications/tftp-loader.desktop"
icon="$prefix/share/icons/hicolor/scalable/apps/tftp-loader.svg"
test -x "$prefix/bin/tftp-loader" || { echo "no bin/tftp-loader"; exit 1; }
test -f "$icon" || { echo "no icon at $icon"; exit 1; }
desktop-file-validate "$entry"
grep -qx 'Exec=tftp-loader' "$entry" || { echo "Exec is not the installed program"; exit 1; }
grep -qx 'Icon=tftp-loader' "$entry" || { echo "Icon is not the installed icon"; exit 1; }
grep -q '<svg' "$icon" || { echo "the icon is no SVG"; exit 1; }
"$prefix/bin/tftp-loader" --version | grep -qx 'tftp-loader [0-9.]*'
echo "installed: bin/tftp-loader, its desktop entry and its icon"
