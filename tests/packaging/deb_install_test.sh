#!/usr/bin/env bash
# The Debian package installs on this machine with apt-get, its headless
# loader runs from the installed path and its man page is found, and a purge
# takes every file of it away again. Needs root; skips (77) without it, and
# when a tftp-loader is installed already, which stays as the user left it.
# Usage: deb_install_test.sh DEB_DIR VERSION
set -euo pipefail
version="$2"
state=$(dpkg-query -W -f='${db:Status-Status}' tftp-loader 2>/dev/null || true)
if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: installing a package needs root"
    exit 77
elif [ "${state:-not-installed}" != not-installed ]; then
    echo "skipped: tftp-loader is on this machine already ($state), and stays so"
    exit 77
fi
# apt-get's chatter is shown only when it fails.
apt() {
    local log
    log=$(DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=120 -y -qq "$@" 2>&1) ||
        { echo "apt-get $*: $log"; return 1; }
}
apt install --no-install-recommends "$1/tftp-loader_${version}_$(dpkg --print-architecture).deb"
trap 'apt purge tftp-loader' EXIT # whatever fails below

failed=0
out=$(/usr/bin/tftp-loader-cli --version 2>&1) || true
[ "$out" = "tftp-loader-cli $version" ] || { echo "installed tftp-loader-cli --version: $out"; failed=1; }
page=$(man -w tftp-loader-cli 2>&1) || true
[ "$page" = /usr/share/man/man1/tftp-loader-cli.1.gz ] || { echo "man -w tftp-loader-cli: $page"; failed=1; }

mapfile -t paths < <(dpkg -L tftp-loader)
trap - EXIT
apt purge tftp-loader
# What remains may only be a folder that other packages or files share.
for path in "${paths[@]}"; do
    if [ -e "$path" ] && { [ ! -d "$path" ] || { [ -z "$(ls -A "$path")" ] &&
        ! dpkg-query -S "$path" >/dev/null 2>&1; }; }; then
        echo "left behind: $path"
        failed=1
    fi
done
[ "$failed" -eq 0 ] && echo "installed, ran, found its man page, purged ${#paths[@]} paths"
exit "$failed"
