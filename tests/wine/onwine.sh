#!/usr/bin/env bash
# Runs a Windows program under Wine on a new X server with a window manager, as on a desktop
# (see x11/desktop.sh), with Qt's windows platform.
#   onwine.sh WINE PROGRAM [ARG...]
# WINE is Wine's loader (wine64). The environment names WINEPREFIX, Wine's folder for the C: drive
# and the registry, which Wine makes on first use, and as this machine names them:
# TESSARIN_WINE_DLLS, the folders of the DLLs the program loads (':' between them), and
# TESSARIN_QT_PLUGINS, Qt's plugin folder. The program finds them on Wine's drive Z:, the root.
# Exits with the program's status, and says so when that is not 0: a verdict that reads the
# program's output sees it too. Wine's session ends with the program, then the window manager and
# the server.
set -euo pipefail
. "$(dirname "$0")/../x11/desktop.sh"

wine=$1
shift
wineserver=$(dirname "$wine")/wineserver

# The Windows name of a path of this machine.
windows() {
  printf 'Z:%s' "${1//\//\\}"
}

# Waits until Wine's session in the prefix has ended, a minute at most, then ends it. Wine's own
# processes of a session end a few seconds after the last program, and the server after them, once
# it has written the registry out.
endsession() {
  timeout 60 "$wineserver" -w || "$wineserver" -k || true
}

work=$(mktemp -d)
xvfb=
wm=
cleanup() {
  endsession
  stopdesktop
  rm -rf "$work"
}
trap cleanup EXIT

# A session still running, on a display of its own or none, would take the program in.
endsession
# Windows holds a window to the size of the screen, with its frame: this screen holds the largest
# window the tests ask for, 3000 by 1400 pixels.
startdesktop 3200x2048

# Wine makes its prefix on first use, here with no crash dialog, which would wait for a click: a
# program that crashes ends there. Windows has its own fonts, Tahoma for the dialogs' MS Shell Dlg
# among them, in its font folder; this Wine does not find its stand-ins for them where it keeps
# them, so they are linked in there.
if [ ! -e "$WINEPREFIX/system.reg" ]; then
  "$wine" wineboot --init
  "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
fi
fonts=$(dirname "$wine")/../../share/wine/fonts
if [ -d "$fonts" ]; then
  ln -sf "$(realpath "$fonts")"/* "$WINEPREFIX/drive_c/windows/Fonts/"
fi

path=
IFS=: read -r -a folders <<<"$TESSARIN_WINE_DLLS"
for folder in "${folders[@]}"; do
  path+="${path:+;}$(windows "$folder")"
done
plugins=$(windows "$TESSARIN_QT_PLUGINS")
export WINEPATH=$path QT_PLUGIN_PATH=$plugins QT_QPA_PLATFORM=windows
# A program that Wine runs from a pipe has no console, and Qt then writes its messages, Qt Test's
# report too, to the debugger: to the output instead.
export QT_FORCE_STDERR_LOGGING=1
# Regular expressions without PCRE2's JIT, as Tessarin.exe sets for itself (see main.cpp): a Qt
# thread that ended crashed now and then in pcre2_jit_stack_free (8 runs in 82 with it, none in 60
# without).
export QT_ENABLE_REGEXP_JIT=0
# Wine keeps this machine's QT_ variables from a Windows program, and passes WINEQT_NAME on as
# QT_NAME instead.
for name in ${!QT_*}; do
  export "WINE$name=${!name}"
done
status=0
"$wine" "$@" || status=$?
if [ "$status" -ne 0 ]; then
  echo "onwine.sh: the program ended with status $status" >&2
fi
exit "$status"
