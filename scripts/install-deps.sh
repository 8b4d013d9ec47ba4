#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, skipping those
# already installed. Runs as root (or through sudo when it is available).
set -euo pipefail

packages=(
    cmake g++ clang libclang-rt-14-dev pkg-config make
    qt6-base-dev libqt6svg6 desktop-file-utils libcurl4-openssl-dev libgtest-dev libgmock-dev
    libcpp-httplib-dev libfmt-dev libcli11-dev libidn2-dev nlohmann-json3-dev
    tftpd-hpa tftp-hpa atftp curl xvfb xauth iproute2 util-linux clang-format
    g++-mingw-w64-x86-64-posix googletest wine64 fonts-wine imagemagick
    help2man dpkg-dev file lintian man-db
    ansible-core openssh-server openssh-client python3-apt
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}"
# tftpd-hpa's package would start a system TFTP server on port 69 of every
# address; the tests start their own, so keep package scripts from starting
# services while we install.
policy=/usr/sbin/policy-rc.d
own_policy=0
if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
    $sudo chmod +x "$policy"
    own_policy=1
fi
trap '[ "$own_policy" -eq 1 ] && $sudo rm -f "$policy"' EXIT
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
