#!/usr/bin/env bash
# Remakes the game's assets in data/, the elevation table in
# scene/elevationtable.cpp and the icons in dist/icons/ from the generators in
# tools/generators/.
# The output is byte-for-byte the same at every run.
# Usage: tools/make-assets.sh [BUILD_DIR]   (default: build-tools)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-tools}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFLOERUSH_TESTS=OFF >/dev/null
cmake --build "$build" -j 2 --target gen_elevation gen_sky gen_sand gen_penguin gen_music gen_icon

tools="$build/tools"
mkdir -p data
"$tools/gen_elevation" scene/elevationtable.cpp
"$tools/gen_sky" data 256
"$tools/gen_sand" data/sand1.bmp
"$tools/gen_penguin" data/penguin.3ds
"$tools/gen_music" data/music.wav
"$tools/gen_icon" dist/icons
echo "assets written to data/, scene/elevationtable.cpp and dist/icons/"
