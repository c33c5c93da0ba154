#!/usr/bin/env bash
# Takes docs/screenshot.png: the real game at the start point, full screen on a
# virtual 1920 x 1080 display with a window manager, the name typed as a player would.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
ensure_packages "${FLOERUSH_PACKAGES[@]}" xdotool imagemagick
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target floerush

out=${1:-docs/screenshot.png}
xvfb-run -a -s "-screen 0 1920x1080x24" tools/with-wm.sh bash -c '
  set -e
  ./build/app/floerush &
  game=$!
  xdotool search --sync --onlyvisible --name "^Floe Rush$" >/dev/null
  sleep 1   # the prompt takes the keyboard focus
  xdotool type --delay 20 "Pingu"
  xdotool key Return
  xdotool search --sync --onlyvisible --name "^FloeRush$" >/dev/null
  sleep 2   # a few frames, and the window manager settles full screen
  import -window root "$1"
  kill "$game"
' _ "$out"
echo "wrote $out"
