#!/usr/bin/env bash
# Installs what is missing, checks the include arrows and the formatting,
# builds, and runs every test twice: once in the Release build with g++
# (build/), so that optimiser-only warnings cannot come back, and once under
# AddressSanitizer and UndefinedBehaviorSanitizer with clang (build-asan/),
# which also takes the process calls that any POSIX system has instead of
# Linux's own (LOADER_POSIX_PORTABLE), so that both ways are tested.
# Both builds treat warnings as errors. Then the Windows build's test programs
# run under Wine (scripts/test-windows.sh), and every fuzz target runs briefly.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

bash scripts/install-deps.sh

bash scripts/check-layering.sh --posix-headers
sources=()
for d in runtime net tftp http app tests tools bench fuzz; do
    if [ -d "$d" ]; then sources+=("$d"); fi
done
find "${sources[@]}" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.cc' \) \
    -print0 | xargs -0 clang-format --dry-run --Werror

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DLOADER_WERROR=ON
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs" --timeout 300)

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DLOADER_SANITIZE=ON \
    -DLOADER_POSIX_PORTABLE=ON -DLOADER_WERROR=ON
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j"$jobs" --timeout 600)

# The Windows programs, cross-built, and their test programs under Wine.
bash scripts/test-windows.sh

# Every fuzz target for 30 s on its seed corpus (scripts/run-fuzz.sh SECONDS
# runs them longer).
LOADER_CMAKE_ARGS="-DLOADER_WERROR=ON ${LOADER_CMAKE_ARGS:-}" bash scripts/run-fuzz.sh 30
