#!/usr/bin/env bash
# Cross-builds the Windows programs with MinGW-w64 into build-win/bin/: each
# .exe is linked statically and needs only the system's own DLLs, so it runs
# on Windows 10 and 11 as it is. With --tests it also builds the test
# programs that scripts/test-windows.sh runs under Wine.
#
# Usage: build-windows.sh [--tests] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

tests=OFF
if [ "${1:-}" = "--tests" ]; then
    tests=ON
    shift
fi

if [ "$(id -u)" -eq 0 ]; then
    bash scripts/install-deps.sh
fi

# ccache, where there is one, with paths taken relative to the clone so that
# another clone of the same sources hits the same entries.
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
fi
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING="$tests" "${launcher[@]}" "$@"
cmake --build build-win -j"$(nproc)"

# Each program must need nothing but the system's DLLs.
for exe in build-win/bin/*.exe; do
    x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' |
        while read -r dll; do
            case "${dll,,}" in
            kernel32.dll | user32.dll | gdi32.dll | comctl32.dll | comdlg32.dll | shell32.dll | \
                ole32.dll | oleaut32.dll | oleacc.dll | advapi32.dll | msvcrt.dll | ws2_32.dll | \
                wininet.dll | shlwapi.dll | uxtheme.dll | normaliz.dll | bcrypt.dll | api-ms-win-*) ;;
            *)
                echo "$exe needs $dll, which Windows does not bring" >&2
                exit 1
                ;;
            esac
        done
done
ls build-win/bin/*.exe
