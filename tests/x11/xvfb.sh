# Sourced by the scripts that run a test on a display of its own (x11/desktop.sh,
# wayland/onwayland.sh): starts a new Xvfb server in the background. The server picks a free
# display itself and names it once it takes connections, so no two runs can pick the same one.
# Needs $work, the caller's scratch folder; sets $xvfb to the server's process and $display to its
# number, or exits when it does not start.
#   startxvfb [WIDTHxHEIGHT]  the screen's size, by default 1280x1024
startxvfb() {
  mkfifo "$work/display"
  Xvfb -displayfd 3 -screen 0 "${1:-1280x1024}x24" -nolisten tcp 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
  xvfb=$!
  if ! read -r -t 30 display <"$work/display"; then
    echo "$(basename "$0"): Xvfb did not start:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
  fi
}
