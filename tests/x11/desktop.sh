# Sourced by the scripts that run a test on a desktop of its own (x11/onx11.sh, wine/onwine.sh): a
# new Xvfb (see xvfb.sh) with openbox managing its windows, as on a Linux desktop.
# Needs $work, the caller's scratch folder. startdesktop starts both, sets $xvfb and $wm to their
# processes and exports DISPLAY, or exits when either does not start; stopdesktop ends them.
#   startdesktop [WIDTHxHEIGHT]  the screen's size (see startxvfb)
. "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"

startdesktop() {
  startxvfb "$@"
  export DISPLAY=":$display"
  # openbox keeps its log in the user's cache folder: the scratch folder has it instead.
  XDG_CACHE_HOME=$work openbox --sm-disable >"$work/openbox.log" 2>&1 &
  wm=$!
  # Tests need their windows managed from the first one on: wait until openbox has taken the screen.
  for ((i = 0; i < 300; i++)); do
    wmctrl -m >/dev/null 2>&1 && return 0
    if ! kill -0 "$wm" 2>/dev/null; then
      echo "$(basename "$0"): openbox did not start:" >&2
      cat "$work/openbox.log" >&2
      exit 1
    fi
    sleep 0.1
  done
  echo "$(basename "$0"): openbox did not take the screen in 30 s" >&2
  exit 1
}

stopdesktop() {
  local process
  for process in "${wm:-}" "${xvfb:-}"; do
    if [ -n "$process" ] && kill "$process" 2>/dev/null; then
      wait "$process" 2>/dev/null || true
    fi
  done
}
