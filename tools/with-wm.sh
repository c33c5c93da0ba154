#!/usr/bin/env bash
# Runs a command on the current X display with a window manager beside it, as a
# desktop has one (full-screen requests are honoured only then).
set -u
wm_pid=""
if command -v openbox >/dev/null 2>&1 && [ -n "${DISPLAY:-}" ]; then
  openbox >/dev/null 2>&1 &
  wm_pid=$!
  sleep 0.5
fi
"$@"
status=$?
[ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
exit $status
