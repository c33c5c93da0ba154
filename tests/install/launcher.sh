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

# The launcher execs the game, so the windows belong to this process id. The
# display may be shared with other tests: a window that closes while xdotool
# walks the tree makes the search fail, so it is tried again.
deadline=$((SECONDS + 60))
window=""
while [ -z "$window" ]; do
  if ! kill -0 "$game" 2>/dev/null; then
    echo "the game ended before it showed a window" >&2
    exit 1
  fi
  if [ "$SECONDS" -ge "$deadline" ]; then
    echo "neither the name prompt nor the warning box showed within 60 s" >&2
    exit 1
  fi
  window=$(xdotool search --all --onlyvisible --pid "$game" --name '^(Floe Rush|Application)$' 2>/dev/null | head -n 1)
  [ -n "$window" ] || sleep 0.2
done
title=$(xdotool getwindowname "$window")
if [ "$title" != "Floe Rush" ]; then
  echo "the game showed \"$title\" instead of its name prompt" >&2
  exit 1
fi
echo "name prompt shown"
