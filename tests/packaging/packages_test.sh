#!/usr/bin/env bash
# What cpack makes from the build.
#   deb: the two Debian packages, named NAME_VERSION_ARCH, each with its
#        programs, man pages, copyright and changelog, and the dependencies
#        that dpkg-shlibdeps found; lintian finds no error in them.
#   zip: the Windows zip, one folder named for the release with the three
#        programs, the README and the license.
# Usage: packages_test.sh deb|zip BUILD_DIR OUT_DIR VERSION
set -euo pipefail
kind="$1"
out="$3"
version="$4"
rm -rf "$out"
mkdir -p "$out"
generator=$(tr '[:lower:]' '[:upper:]' <<<"$kind")
cpack -G "$generator" --config "$2/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 ||
    { cat "$out/cpack.log"; exit 1; }
failed=0
fail() {
    echo "$*"
    failed=1
}
# PACKAGE LISTING PATH...: the listing of the package holds each path.
holds() {
    local package="$1" listing="$2" path
    shift 2
    for path in "$@"; do
        grep -qxF "$path" <<<"$listing" || fail "$(basename "$package") lacks $path"
    done
}

if [ "$kind" = zip ]; then
    name="tftp-loader-$version-windows-x86_64"
    zip="$out/$name.zip"
    listing=$(cd "$out" && cmake -E tar tf "$zip") || fail "no $name.zip: $(ls "$out")"
    holds "$zip" "$listing" "$name"/{tftp-loader.exe,tftp-loader-cli.exe,tftp-put.exe,README.txt,LICENSE.txt}
else
    arch=$(dpkg --print-architecture)
    loader="$out/tftp-loader_${version}_$arch.deb"
    sim="$out/tftp-loader-sim_${version}_$arch.deb"
    listing=$(dpkg-deb -c "$loader" | awk '{ print $6 }') || fail "no $(basename "$loader"): $(ls "$out")"
    holds "$loader" "$listing" ./usr/bin/{tftp-loader,tftp-loader-cli,tftp-put} \
        ./usr/share/man/man1/{tftp-loader,tftp-loader-cli,tftp-put}.1.gz \
        ./usr/share/applications/tftp-loader.desktop \
        ./usr/share/icons/hicolor/scalable/apps/tftp-loader.svg \
        ./usr/share/doc/tftp-loader/{copyright,changelog.gz}
    listing=$(dpkg-deb -c "$sim" | awk '{ print $6 }') || fail "no $(basename "$sim"): $(ls "$out")"
    holds "$sim" "$listing" ./usr/bin/unit-sim ./usr/share/man/man1/unit-sim.1.gz \
        ./usr/share/doc/tftp-loader-sim/{copyright,changelog.gz}
    # The libraries the programs link, as dpkg-shlibdeps names their packages.
    depends=$(dpkg-deb -f "$loader" Depends)
    for package in libqt6widgets6 libcurl4 libc6; do
        grep -qE "(^|, )$package( |,|$)" <<<"$depends" || fail "tftp-loader does not depend on $package: $depends"
    done
    # Errors fail; warnings and the rest are shown.
    lint_status=0
    lint=$(lintian --fail-on error "$loader" "$sim" 2>&1) || lint_status=$?
    grep -v 'root privileges' <<<"$lint" || true
    [ "$lint_status" -eq 0 ] || fail "lintian found errors"
fi
[ "$failed" -eq 0 ] && (cd "$out" && echo "made as they should be:" *."$kind")
exit "$failed"
