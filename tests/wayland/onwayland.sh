#!/usr/bin/env bash
# Runs a command on a new Wayland compositor, as the GNOME and KDE Plasma desktops run a Qt
# program: weston with its own socket, and Qt's wayland platform.
#   onwayland.sh COMMAND [ARG...]
# Exits with the command's status. The compositor ends with the command.
#
# A desktop's compositor always has a seat (its keyboard and pointer). Weston's headless back end
# has none, and Qt's text input for Wayland takes a seat for granted: a line edit with the focus
# crashes it. So weston runs on its X11 back end, in an Xvfb of its own, whose keyboard and pointer
# make its seat; the command itself sees no X server.
set -euo pipefail
. "$(dirname "$0")/../x11/xvfb.sh"

work=$(mktemp -d)
xvfb=
weston=
cleanup() {
  [ -n "$weston" ] && kill "$weston" 2>/dev/null && wait "$weston" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

startxvfb

# Wayland clients find the compositor's socket in $XDG_RUNTIME_DIR, which must be private.
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
socket=tessarin-test
DISPLAY=":$display" weston --backend=x11-backend.so --use-pixman --socket="$socket" \
  --idle-time=0 --width=1280 --height=1024 >"$work/weston.log" 2>&1 &
weston=$!
# The socket appears once the compositor takes connections.
for ((i = 0; i < 300; i++)); do
  [ -S "$XDG_RUNTIME_DIR/$socket" ] && break
  if ! kill -0 "$weston" 2>/dev/null; then
    echo "onwayland.sh: weston did not start:" >&2
    cat "$work/weston.log" >&2
    exit 1
  fi
  sleep 0.1
done
[ -S "$XDG_RUNTIME_DIR/$socket" ] || { echo "onwayland.sh: weston did not start in 30 s" >&2; exit 1; }

export WAYLAND_DISPLAY=$socket QT_QPA_PLATFORM=wayland
unset DISPLAY
status=0
"$@" || status=$?
exit "$status"
