#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, skipping those
# already installed, and puts the TFTP servers that the interoperability
# tests run but that are not installed as packages into LOADER_TEST_PEERS
# (/opt/tessik-loader-test-peers unless set; CMake's cache variable of the
# same name must match): atftpd, unpacked from its package, and the npm
# package "tftp" at the version of tests/support/tftp-peers/package-lock.json.
# Runs as root (or through sudo when it is available).
set -euo pipefail
cd "$(dirname "$0")/.."

# The web server and TFTP servers of the tests, besides the build's own
# needs: busybox (its httpd), libnet-tftpd-perl, nodejs and npm, libwrap0
# (which the unpacked atftpd links). Ansible, ansible-lint and OpenSSH run the
# site playbook of deploy/ansible in its test; ansible-lint checks its role.
packages=(
    cmake g++ clang libclang-rt-14-dev pkg-config make
    qt6-base-dev libqt6svg6 desktop-file-utils libcurl4-openssl-dev libssl-dev libgtest-dev libgmock-dev
    libcpp-httplib-dev libfmt-dev libcli11-dev libidn2-dev nlohmann-json3-dev
    tftpd-hpa tftp-hpa atftp curl xvfb xauth iproute2 util-linux clang-format
    g++-mingw-w64-x86-64-posix googletest wine64 fonts-wine imagemagick wixl librsvg2-bin icoutils
    help2man dpkg-dev file lintian man-db
    busybox libnet-tftpd-perl libwrap0
    ansible-core ansible-lint openssh-server openssh-client
)
# Node.js may come from elsewhere than Debian (with npm inside it): only a
# machine without node gets Debian's.
command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
peers="${LOADER_TEST_PEERS:-/opt/tessik-loader-test-peers}"

install_peers() {
    # atftpd's package conflicts with tftpd-hpa's: its files are unpacked,
    # never installed. A list too old to have its version is renewed once.
    if [ ! -x "$peers/atftpd/usr/sbin/atftpd" ]; then
        local deb
        deb=$(mktemp -d)
        (cd "$deb" && apt-get download -qq atftpd 2>/dev/null) ||
            { $sudo apt-get update -qq && (cd "$deb" && apt-get download -qq atftpd); }
        $sudo mkdir -p "$peers/atftpd"
        $sudo dpkg-deb -x "$deb"/atftpd_*.deb "$peers/atftpd"
        rm -rf "$deb"
    fi
    local lock=tests/support/tftp-peers/package-lock.json
    if ! cmp -s "$lock" "$peers/npm/package-lock.json" ||
        [ ! -d "$peers/npm/node_modules/tftp" ]; then
        $sudo mkdir -p "$peers/npm"
        $sudo cp tests/support/tftp-peers/package.json "$lock" "$peers/npm/"
        (cd "$peers/npm" && $sudo npm ci --omit=dev --no-audit --no-fund --loglevel=error)
    fi
}

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    install_peers
    exit 0
fi

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
install_peers
