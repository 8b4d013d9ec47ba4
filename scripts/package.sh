#!/usr/bin/env bash
# Makes the installable packages in one folder (build-packages/ unless one is
# given): the Debian packages tftp-loader and tftp-loader-sim with cpack from
# the Release build in build/, and the Windows zip and installer (.msi, made
# by wixl) with cpack from the cross build in build-win/
# (scripts/build-windows.sh). Each build makes only what its packages carry;
# cmake/Packaging.cmake says what goes where.
#
# Usage: package.sh [OUT_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build-packages}")

if [ "$(id -u)" -eq 0 ]; then
    bash scripts/install-deps.sh
fi
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
fi

# The simulated unit is built with the tests (it needs their HTTP server).
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DLOADER_WITH_QT=ON -DBUILD_TESTING=ON \
    "${launcher[@]}" >/dev/null
cmake --build build --target packaged -j"$(nproc)"
bash scripts/build-windows.sh

rm -rf build/packages build-win/packages
(cd build && cpack >/dev/null)
(cd build-win && cpack >/dev/null)
mkdir -p "$out"
cp build/packages/*.deb build-win/packages/*.zip build-win/packages/*.msi "$out"/
ls -l "$out"
