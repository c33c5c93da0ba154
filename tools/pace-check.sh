#!/usr/bin/env bash
# Plays the real game as a player would (name, Up, one Left at cruising speed,
# on to the finish) on two virtual screens, full screen at 1920 x 1080 and
# at 800 x 600, and compares the results the game reports: the same descent
# must take the same game time, within 5 %, however long the frames take. It
# also checks that the game kept its pace: at the finish its clock read no more
# than 5 % beyond the result. Exits 0 when both hold.
#
# The game shows its result on screen only; it also writes it to its standard
# error through the Qt logging category floerush.result, which is off unless
# QT_LOGGING_RULES switches it on, as here. The line gives the result (the game
# time of the tick that reached the finish) and what the game clock read then;
# the two agree when the game kept its pace.
#
# Usage: tools/pace-check.sh [BUILD_DIR]   (default: build; builds floerush there)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
ensure_packages "${FLOERUSH_PACKAGES[@]}" xdotool
build=${1:-build}
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target floerush >/dev/null

# play SCREEN: one descent on a virtual screen of that size; prints the result line.
play() {
  xvfb-run -a -s "-screen 0 ${1}x24" tools/with-wm.sh bash -c '
    set -e
    log=$(mktemp)
    QT_LOGGING_RULES="floerush.result.info=true" "$1" 2>"$log" &
    game=$!
    trap "kill $game 2>/dev/null; rm -f $log" EXIT
    xdotool search --sync --onlyvisible --name "^Floe Rush$" >/dev/null
    sleep 1   # the prompt takes the keyboard focus
    xdotool type --delay 20 "Pingu"
    xdotool key Return
    window=$(xdotool search --sync --onlyvisible --name "^FloeRush$" | head -1)
    sleep 2   # the window manager settles full screen
    xdotool windowfocus --sync "$window"
    xdotool key Up     # starts the run
    sleep 1.5          # cruising speed comes at the 21st tick, 0.42 s in
    xdotool key Left
    for _ in $(seq 240); do
      grep -q "floerush.result: " "$log" && break
      sleep 0.25
    done
    grep -o "result [0-9]* ms.*" "$log" || { echo "no result; the game wrote:" >&2; cat "$log" >&2; exit 1; }
  ' _ "$build/app/floerush"
}

full=$(play 1920x1080)
small=$(play 800x600)
echo "1920 x 1080: $full"
echo "  800 x 600: $small"
# Fields: result MS ms, TICKS ticks, game clock CLOCK ms
awk -v full="$full" -v small="$small" 'BEGIN {
  split(full, f, "[ ,]+"); split(small, s, "[ ,]+")
  status = 0
  d = (f[2] - s[2]) / s[2] * 100
  printf "result, full screen against small window: %+.2f %%\n", d
  if (d > 5 || d < -5) status = 1
  # The motion keeps the pace of the clock if the clock read no more than
  # 5 % beyond the result when the finish was reached.
  pf = (f[8] - f[2]) / f[2] * 100; ps = (s[8] - s[2]) / s[2] * 100
  printf "game clock beyond the result: full screen %+.2f %%, small window %+.2f %%\n", pf, ps
  if (pf > 5 || ps > 5) status = 1
  exit status
}'
