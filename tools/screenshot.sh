#!/usr/bin/env bash
# Takes the README's pictures from the real game, full screen on a virtual
# 1920 x 1080 display with a window manager, played as a player would: the
# name typed, a key to start, one press of the left arrow at cruising speed,
# which brings the penguin through the finish gate.
#   DIR/screenshot-start.jpg   the start point, waiting for a key
#   DIR/screenshot-gates.jpg   among the slalom gates
#   DIR/screenshot-finish.jpg  through the finish gate, with the result
# Usage: tools/screenshot.sh [DIR]   (default: docs)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
ensure_packages "${FLOERUSH_PACKAGES[@]}" xdotool imagemagick
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target floerush

dir=${1:-docs}
mkdir -p "$dir"
xvfb-run -a -s "-screen 0 1920x1080x24" tools/with-wm.sh bash -c '
  set -e
  dir=$1
  shot() { import -window root -resize 1280x720 -quality 90 "$dir/screenshot-$1.jpg"; }
  ./build/app/floerush &
  game=$!
  trap "kill $game 2>/dev/null || true" EXIT
  xdotool search --sync --onlyvisible --name "^Floe Rush$" >/dev/null
  sleep 1   # the prompt takes the keyboard focus
  xdotool type --delay 20 "Pingu"
  xdotool key Return
  xdotool search --sync --onlyvisible --name "^FloeRush$" >/dev/null
  sleep 2   # a few frames, and the window manager settles full screen
  shot start
  xdotool key space   # starts the run; the speed ramps up to 10.5 in 21 ticks
  sleep 2
  xdotool key Left    # 0.87 degrees towards the south at that speed
  sleep 4
  shot gates
  # The finish stops the clock and the frames: wait until the screen holds still.
  previous=""
  for _ in $(seq 1 120); do
    sleep 1
    current=$(import -window root -resize 320x180 rgb:- | md5sum)
    [ "$current" = "$previous" ] && break
    previous=$current
  done
  shot finish
' _ "$dir"
echo "wrote $dir/screenshot-start.jpg, screenshot-gates.jpg, screenshot-finish.jpg"
