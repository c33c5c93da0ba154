#!/usr/bin/env bash
# Installs what the game needs, builds it and starts it from the project root
# (the game reads its assets from ./data/).
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh
ensure_packages "${FLOERUSH_PACKAGES[@]}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)" --target floerush
exec ./build/app/floerush "$@"
