#!/usr/bin/env bash
# Installs what the tests need, builds the project twice (release in build/,
# ASan + UBSan in build-asan/) and runs the whole suite in both.
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh
ensure_packages "${FLOERUSH_PACKAGES[@]}"

jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFLOERUSH_SANITIZE=ON
cmake --build build-asan -j "$jobs"

# The libFuzzer targets need clang; build them so they never rot.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DFLOERUSH_FUZZ=ON -DFLOERUSH_TESTS=OFF
cmake --build build-fuzz -j "$jobs"

# GL tests need a display: give the whole run one virtual screen with a window manager.
run_suite() {
  local dir=$1
  echo "== ctest in $dir"
  xvfb-run -a -s "-screen 0 1920x1080x24" tools/with-wm.sh \
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600
}

export UBSAN_OPTIONS=print_stacktrace=1
status=0
run_suite build || status=1
run_suite build-asan || status=1
exit $status
