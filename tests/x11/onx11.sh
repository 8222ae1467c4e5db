#!/usr/bin/env bash
# Runs a command on a new X server with a window manager, as a desktop session would: Xvfb, with
# openbox managing its windows, and Qt's xcb platform.
#   onx11.sh COMMAND [ARG...]
# Exits with the command's status. The server and the window manager end with the command.
set -euo pipefail

if [ "${1:-}" != --inside ]; then
  # xvfb-run picks a free display, sets up its authority and waits for the server to listen.
  exec xvfb-run --auto-servernum --server-args="-screen 0 1280x1024x24 -nolisten tcp" \
    "$0" --inside "$@"
fi
shift

openbox --sm-disable >/dev/null 2>&1 &
wm=$!
trap 'kill "$wm" 2>/dev/null; wait "$wm" 2>/dev/null || true' EXIT
# Tests need their windows managed from the first one on: wait until openbox has taken the screen.
for ((i = 0; i < 300; i++)); do
  wmctrl -m >/dev/null 2>&1 && break
  kill -0 "$wm" 2>/dev/null || { echo "onx11.sh: openbox did not start" >&2; exit 1; }
  sleep 0.1
done
wmctrl -m >/dev/null 2>&1 || { echo "onx11.sh: openbox did not take the screen in 30 s" >&2; exit 1; }

export QT_QPA_PLATFORM=xcb
"$@"
