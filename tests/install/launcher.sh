#!/usr/bin/env bash
# Starts an installed launcher from / (no data/ there) on the current display
# and waits for the game's name prompt, which it opens only once the model is
# loaded; the warning box of a missing model must not show instead.
# Usage: launcher.sh INSTALLED_LAUNCHER
set -u
cd / || exit 1
found=$(mktemp)
"$1" &
game=$!
# The launcher execs the game, so the windows belong to this process id.
timeout 60 xdotool search --sync --all --onlyvisible --pid "$game" --name '^(Floe Rush|Application)$' >"$found" &
finder=$!
trap 'kill $game $finder 2>/dev/null; wait 2>/dev/null; rm -f "$found"' EXIT

wait -n "$game" "$finder"
if ! kill -0 "$game" 2>/dev/null; then
  echo "the game ended before it showed a window" >&2
  exit 1
fi
window=$(head -n 1 "$found")
if [ -z "$window" ]; then
  echo "neither the name prompt nor the warning box showed within 60 s" >&2
  exit 1
fi
title=$(xdotool getwindowname "$window")
if [ "$title" != "Floe Rush" ]; then
  echo "the game showed \"$title\" instead of its name prompt" >&2
  exit 1
fi
echo "name prompt shown"
