#!/usr/bin/env bash
# Installs the libraries we compare against, builds bench/ in Release and runs it.
# Arguments are passed to every benchmark binary (e.g. --benchmark_filter=Bmp).
#
# The image operations are also built with Debian's package flags
# (dpkg-buildflags: -O2 -g -fstack-protector-strong ..., no NDEBUG) in
# build-bench-deb/, as a distribution would ship the library, and a closing
# table gives ours / OpenCV / ratio (medians) for both builds.
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh
ensure_packages "${FLOERUSH_PACKAGES[@]}" "${FLOERUSH_BENCH_PACKAGES[@]}"

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DFLOERUSH_TESTS=OFF -DFLOERUSH_BENCH=ON
cmake --build build-bench -j "$(nproc)"

CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  cmake -S . -B build-bench-deb -G Ninja -DCMAKE_BUILD_TYPE=None -DFLOERUSH_TESTS=OFF -DFLOERUSH_BENCH=ON
cmake --build build-bench-deb -j "$(nproc)" --target bench_imageops

results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT
run() {
  local b=$1 out=$2
  shift 2
  "$b" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_out="$out" --benchmark_out_format=csv "$@"
}

for b in build-bench/bench/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  if [[ "$(basename "$b")" == bench_frame* ]]; then
    xvfb-run -a -s "-screen 0 1920x1080x24" tools/with-wm.sh "$b" --benchmark_repetitions=5 \
      --benchmark_report_aggregates_only=true "$@"
  elif [[ "$(basename "$b")" == bench_imageops ]]; then
    run "$b" "$results/release.csv" --benchmark_enable_random_interleaving=true "$@"
    echo "== bench_imageops (Debian package flags)"
    run build-bench-deb/bench/bench_imageops "$results/deb.csv" --benchmark_enable_random_interleaving=true "$@"
  else
    "$b" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@"
  fi
done

# Medians of each lumen* benchmark beside its opencv* twin, real time in ms.
if [ -s "$results/release.csv" ] && [ -s "$results/deb.csv" ]; then
  echo "== image operations: median real time in ms, ours / OpenCV (single-threaded) / ratio"
  printf "%-20s %24s   %24s\n" "" "Release (-O3)" "Debian flags (-O2)"
  printf "%-20s %8s %8s %6s   %8s %8s %6s\n" operation ours OpenCV ratio ours OpenCV ratio
  awk -F, '
    FNR == 1 { build = (FILENAME ~ /release/) ? 1 : 2 }
    $1 ~ /_median"$/ {
      name = $1; gsub(/"/, "", name); sub(/_median$/, "", name)
      side = (name ~ /^lumen/) ? "ours" : (name ~ /^opencv/ ? "cv" : "")
      if (side == "") next
      sub(/^(lumen|opencv)/, "", name)
      t[build, side, name] = $3; names[name] = 1
    }
    function cell(v) { return v == "" ? "-" : sprintf("%.3f", v) }
    END {
      for (k in names) {
        line = sprintf("%-20s", k)
        for (j = 1; j <= 2; ++j) {
          o = t[j, "ours", k]; c = t[j, "cv", k]
          r = (o == "" || c == "" || c + 0 == 0) ? "-" : sprintf("%.2f", o / c)
          line = line sprintf(" %8s %8s %6s ", cell(o), cell(c), r)
        }
        print line
      }
    }' "$results/release.csv" "$results/deb.csv" | sort
fi
