#!/usr/bin/env bash
# Installs the libraries we compare against, builds bench/ in Release and runs it.
# Arguments are passed to every benchmark binary (e.g. --benchmark_filter=Bmp).
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh
ensure_packages "${FLOERUSH_PACKAGES[@]}" "${FLOERUSH_BENCH_PACKAGES[@]}"

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DFLOERUSH_TESTS=OFF -DFLOERUSH_BENCH=ON
cmake --build build-bench -j "$(nproc)"

for b in build-bench/bench/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  if [[ "$(basename "$b")" == bench_frame* ]]; then
    xvfb-run -a -s "-screen 0 1920x1080x24" tools/with-wm.sh "$b" --benchmark_repetitions=5 \
      --benchmark_report_aggregates_only=true "$@"
  else
    "$b" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@"
  fi
done
