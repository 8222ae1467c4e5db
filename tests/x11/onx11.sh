#!/usr/bin/env bash
# Runs a command on a new X server with a window manager, as on a Linux desktop: Xvfb, with
# openbox managing its windows, and Qt's xcb platform.
#   onx11.sh COMMAND [ARG...]
# Exits with the command's status. The server and the window manager end with the command.
set -euo pipefail
. "$(dirname "$0")/desktop.sh"

work=$(mktemp -d)
xvfb=
wm=
cleanup() {
  stopdesktop
  rm -rf "$work"
}
trap cleanup EXIT

startdesktop

export QT_QPA_PLATFORM=xcb
status=0
"$@" || status=$?
exit "$status"
