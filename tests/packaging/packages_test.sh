#!/usr/bin/env bash
# What cpack makes from the build.
#   deb: the two Debian packages, named NAME_VERSION_ARCH, each with its
#        programs, man pages, copyright and changelog, with the dependencies
#        that dpkg-shlibdeps found; lintian finds no error in them.
#   zip: the Windows zip, one folder named for the release with the three
#        programs, the README and the license (with Windows line ends).
# Usage: packages_test.sh deb|zip BUILD_DIR OUT_DIR VERSION
set -euo pipefail
kind="$1"
build="$2"
out="$3"
version="$4"
rm -rf "$out"
mkdir -p "$out"
cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 ||
    { cat "$out/cpack.log"; exit 1; }

made() {
    [ -f "$1" ] || { echo "no $(basename "$1"); cpack made:"; ls "$out"; exit 1; }
}
failed=0
fail() {
    echo "$*"
    failed=1
}

# DEB PATH...: the package holds each path.
holds() {
    local deb="$1" contents path
    shift
    contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
    for path in "$@"; do
        grep -qxF "./$path" <<<"$contents" || fail "$(basename "$deb") lacks /$path"
    done
}

check_deb() {
    local arch loader sim deb field depends package lint lint_status=0
    arch=$(dpkg --print-architecture)
    loader="$out/tftp-loader_${version}_$arch.deb"
    sim="$out/tftp-loader-sim_${version}_$arch.deb"
    made "$loader"
    made "$sim"
    holds "$loader" usr/bin/tftp-loader usr/bin/tftp-loader-cli usr/bin/tftp-put \
        usr/share/man/man1/tftp-loader.1.gz usr/share/man/man1/tftp-loader-cli.1.gz \
        usr/share/man/man1/tftp-put.1.gz usr/share/applications/tftp-loader.desktop \
        usr/share/icons/hicolor/scalable/apps/tftp-loader.svg \
        usr/share/doc/tftp-loader/copyright usr/share/doc/tftp-loader/changelog.gz
    holds "$sim" usr/bin/unit-sim usr/share/man/man1/unit-sim.1.gz \
        usr/share/doc/tftp-loader-sim/copyright usr/share/doc/tftp-loader-sim/changelog.gz
    if dpkg-deb -c "$loader" | grep -q 'usr/bin/unit-sim'; then
        fail "the simulated unit is in tftp-loader, not only in tftp-loader-sim"
    fi

    for deb in "$loader" "$sim"; do
        field=$(dpkg-deb -f "$deb" Version)
        [ "$field" = "$version" ] || fail "$(basename "$deb"): Version $field, not $version"
    done
    # The libraries the programs link, as dpkg-shlibdeps names their packages.
    depends=$(dpkg-deb -f "$loader" Depends)
    for package in libqt6widgets6 libcurl4 libc6; do
        grep -qE "(^|, )$package( |,|$)" <<<"$depends" ||
            fail "tftp-loader does not depend on $package: Depends: $depends"
    done
    grep -qE '(^|, )libc6 ' <<<"$(dpkg-deb -f "$sim" Depends)" ||
        fail "tftp-loader-sim has no computed dependencies"

    # Errors fail; warnings and the rest are shown.
    lint=$(lintian --fail-on error "$loader" "$sim" 2>&1) || lint_status=$?
    grep -v 'root privileges' <<<"$lint" || true
    [ "$lint_status" -eq 0 ] || fail "lintian found errors"
}

check_zip() {
    local name="tftp-loader-$version-windows-x86_64" listing expected
    local zip="$out/$name.zip"
    made "$zip"
    listing=$(cd "$out" && cmake -E tar tf "$zip" | grep -v '/$' | sort)
    expected=$(printf "$name/%s\n" LICENSE.txt README.txt tftp-loader-cli.exe tftp-loader.exe \
        tftp-put.exe | sort)
    [ "$listing" = "$expected" ] || fail "the zip holds:"$'\n'"$listing"$'\n'"expected:"$'\n'"$expected"
    (cd "$out" && cmake -E tar xf "$zip")
    tr -d '\r' <"$out/$name/LICENSE.txt" | diff - "$(dirname "$0")/../../LICENSE" ||
        fail "LICENSE.txt is not LICENSE"
    grep -q $'\r$' "$out/$name/README.txt" || fail "README.txt has no Windows line ends"
}

check_"$kind"
[ "$failed" -eq 0 ] && echo "$kind: $(cd "$out" && ls -- *."$kind")"
exit "$failed"
