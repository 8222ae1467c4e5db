#!/usr/bin/env bash
# Runs a command on a new X server with a window manager, as on a Linux desktop: Xvfb, with
# openbox managing its windows, and Qt's xcb platform.
#   onx11.sh COMMAND [ARG...]
# Exits with the command's status. The server and the window manager end with the command.
set -euo pipefail
. "$(dirname "$0")/xvfb.sh"

work=$(mktemp -d)
xvfb=
wm=
cleanup() {
  [ -n "$wm" ] && kill "$wm" 2>/dev/null && wait "$wm" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

startxvfb
export DISPLAY=":$display"

openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm=$!
# Tests need their windows managed from the first one on: wait until openbox has taken the screen.
for ((i = 0; i < 300; i++)); do
  wmctrl -m >/dev/null 2>&1 && break
  if ! kill -0 "$wm" 2>/dev/null; then
    echo "onx11.sh: openbox did not start:" >&2
    cat "$work/openbox.log" >&2
    exit 1
  fi
  sleep 0.1
done
wmctrl -m >/dev/null 2>&1 || { echo "onx11.sh: openbox did not take the screen in 30 s" >&2; exit 1; }

export QT_QPA_PLATFORM=xcb
status=0
"$@" || status=$?
exit "$status"
