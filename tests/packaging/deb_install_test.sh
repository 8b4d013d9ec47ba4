#!/usr/bin/env bash
# The Debian package installs on this machine with apt-get, its headless
# loader runs from the installed path and its man page is found, and a purge
# takes every file of it away again. Needs root; skips (77) without it, and
# when a tftp-loader is installed already, which stays as the user left it.
# Usage: deb_install_test.sh DEB_DIR VERSION
set -euo pipefail
version="$2"
deb="$1/tftp-loader_${version}_$(dpkg --print-architecture).deb"
if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: installing a package needs root"
    exit 77
fi
state=$(dpkg-query -W -f='${db:Status-Status}' tftp-loader 2>/dev/null || true)
if [ -n "$state" ] && [ "$state" != not-installed ]; then
    echo "skipped: tftp-loader is on this machine already ($state), and stays so"
    exit 77
fi

# apt-get's chatter is shown only when it fails.
apt() {
    local log
    log=$(DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=120 -y -qq "$@" 2>&1) ||
        { echo "apt-get $*: $log"; return 1; }
}
purge() { apt purge tftp-loader; }
apt install --no-install-recommends "$deb"
trap purge EXIT # whatever fails below

failed=0
fail() {
    echo "$*"
    failed=1
}
out=$(/usr/bin/tftp-loader-cli --version 2>&1) || fail "installed tftp-loader-cli --version failed"
[ "$out" = "tftp-loader-cli $version" ] || fail "installed tftp-loader-cli --version: $out"
page=$(man -w tftp-loader-cli 2>&1) || true
[ "$page" = /usr/share/man/man1/tftp-loader-cli.1.gz ] || fail "man -w tftp-loader-cli: $page"

mapfile -t paths < <(dpkg -L tftp-loader)
[ "${#paths[@]}" -gt 0 ] || fail "dpkg -L lists nothing"
trap - EXIT
purge
state=$(dpkg-query -W -f='${db:Status-Status}' tftp-loader 2>/dev/null || true)
[ -z "$state" ] || [ "$state" = not-installed ] || fail "after the purge, dpkg still has tftp-loader: $state"
# What remains may only be a folder that other packages or files share.
for path in "${paths[@]}"; do
    [ -e "$path" ] || continue
    if [ ! -d "$path" ]; then
        fail "left behind: $path"
    elif [ -z "$(ls -A "$path")" ] && ! dpkg-query -S "$path" >/dev/null 2>&1; then
        fail "left behind, empty: $path"
    fi
done
[ "$failed" -eq 0 ] && echo "installed, ran, found its man page, purged ${#paths[@]} paths"
exit "$failed"
