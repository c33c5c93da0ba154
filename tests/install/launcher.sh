#!/usr/bin/env bash
# Starts an installed launcher from / (no data/ there) on the current display
# and waits for the game's name prompt, which it opens only once the model is
# loaded; the warning box of a missing model must not show instead.
# Usage: launcher.sh INSTALLED_LAUNCHER
set -u
cd / || exit 1
"$1" &
game=$!
trap 'kill $game 2>/dev/null; wait 2>/dev/null' EXIT

# The launcher execs the game, so its windows belong to this process id. A
# window of another test on the display that closes while xdotool walks the
# tree makes a search fail: it is tried again, for 60 s.
for _ in $(seq 300); do
  kill -0 "$game" 2>/dev/null || { echo "the game ended before it showed a window" >&2; exit 1; }
  window=$(xdotool search --all --onlyvisible --pid "$game" --name '^(Floe Rush|Application)$' 2>/dev/null | head -n 1)
  if [ -n "$window" ]; then
    title=$(xdotool getwindowname "$window")
    [ "$title" = "Floe Rush" ] && { echo "name prompt shown"; exit 0; }
    echo "the game showed \"$title\" instead of its name prompt" >&2
    exit 1
  fi
  sleep 0.2
done
echo "neither the name prompt nor the warning box showed within 60 s" >&2
exit 1
