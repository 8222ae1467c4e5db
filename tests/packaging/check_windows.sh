#!/usr/bin/env bash
# Checks Tessarin's Windows packages as a user gets them, under Wine, each in a Wine prefix of its
# own made for the check (a Windows that has nothing of Qt or of the compiler):
#   check_windows.sh zip  BUILD_DIR VERSION   the ZIP holds every DLL and plugin the program
#                                             loads and their licences; unpacked, Tessarin.exe
#                                             comes up with the caption "Tessarin", Open of a
#                                             file, typed into the system's dialog, sets the
#                                             caption to its path, and Qt's settings are not
#                                             left in the registry
#   check_windows.sh nsis BUILD_DIR VERSION   the installer puts Tessarin.exe, its Start menu
#                                             entry and its uninstaller in place, silently; the
#                                             entry starts the program as the ZIP's; the
#                                             uninstaller takes them away again, and the
#                                             installer's keys in the registry
# CPACK names the cpack program and WINE the Wine loader.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/checks.sh"

# A Wine prefix of its own, without the .NET and HTML engines Wine would offer to download, and
# without Wine's menu builder, which copies the Start menu into the user's desktop menus. Openbox
# keeps its log in the cache folder: this one goes with the script too.
export WINEPREFIX=$workdir/prefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export XDG_CACHE_HOME=$workdir/cache
unset WINEPATH QT_PLUGIN_PATH QT_QPA_PLATFORM
wine=${WINE:-/usr/lib/wine/wine64}
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=wineserver

makepackage() {  # GENERATOR BUILD_DIR VERSION
  (cd "$2" && "$CPACK" -G "$1" >"$workdir/cpack.log" 2>&1) ||
    { cat "$workdir/cpack.log" >&2; echo "FAIL: cpack -G $1" >&2; exit 1; }
}

# Waits up to $1 seconds for a window whose whole caption is $2; prints its id.
waitwindow() {
  local id
  for ((i = 0; i < $1 * 10; i++)); do
    id=$(xdotool search --name "^$2\$" 2>/dev/null | head -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}

# On the display of x11/onx11.sh: starts the program with Wine's ARGs and opens FILE through its
# Open button and the system's Open dialog, as a user would, by keyboard.
run_gui() {  # FILE ARG...
  "$wine" wineboot --init >/dev/null 2>&1
  "$wine" "${@:2}" >"$workdir/tessarin.log" 2>&1 &
  local program=$!
  if ! waitwindow 60 Tessarin >/dev/null; then
    fail "no window with the caption Tessarin came up; Wine said:"
    cat "$workdir/tessarin.log" >&2
    return
  fi
  echo "the window came up with the caption Tessarin"
  local winpath="Z:${1//\//\\}"
  # The system's Open dialog: Wine's has no caption. Alt+O goes again every 5 s while none is up:
  # a key sent before the window manager has made the window active is lost.
  local dialog=
  for ((i = 0; i < 300; i++)); do
    if ((i % 50 == 0)); then
      xdotool search --name '^Tessarin$' windowactivate --sync key alt+o 2>/dev/null
    fi
    dialog=$(wmctrl -l | awk '$4 != "Tessarin"' | head -1)
    [ -n "$dialog" ] && break
    sleep 0.1
  done
  if [ -z "$dialog" ]; then
    fail "Open brought up no dialog"
  else
    sleep 1
    xdotool type --delay 20 "$winpath"
    xdotool key Return
    if waitwindow 30 "Tessarin - ${winpath//\\/\\\\}" >/dev/null; then
      echo "Open of $winpath set the caption to it"
    else
      fail "the caption did not become \"Tessarin - $winpath\": $(wmctrl -l | cut -c 20-)"
    fi
  fi
  wmctrl -c Tessarin
  for ((i = 0; i < 100; i++)); do
    kill -0 "$program" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$program" 2>/dev/null && fail "Tessarin did not end when its window was closed"
  "$wine" wineboot --end-session >/dev/null 2>&1
  "$wineserver" -k 2>/dev/null
}

# Runs run_gui with a file to open and Wine's ARGs on the display of x11/onx11.sh, whose status
# brings its failures back here.
gui() {  # ARG...
  printf 'A\nB' >"$workdir/one.bin"
  export -f run_gui waitwindow fail
  export workdir wine wineserver
  WINE=$wine bash "$here/../x11/onx11.sh" bash -c 'failures=0; run_gui "$@"; exit $failures' \
    run_gui "$workdir/one.bin" "$@" || failures=$((failures + 1))
}

check_zip() {  # BUILD_DIR VERSION
  local name=Tessarin-$2-win64
  makepackage ZIP "$1" "$2"
  mkdir "$workdir/unpacked"
  (cd "$workdir/unpacked" && unzip -q "$1/$name.zip") || { fail "$name.zip does not unpack"; return; }
  local dir=$workdir/unpacked/$name
  for file in Tessarin.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll platforms/qwindows.dll \
    styles/qwindowsvistastyle.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll \
    qt.conf translations/qtbase_ja.qm LICENSE.txt licenses/{Qt,Qt-translations,GCC-runtime}.txt \
    licenses/{mingw-w64,GPL-3,LGPL-3}.txt; do
    [ -f "$dir/$file" ] || fail "$name.zip has no $file"
  done
  # Every DLL a program or DLL of the package imports is in the package or is Windows's own.
  local system=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
  while IFS= read -r binary; do
    while IFS= read -r dll; do
      # api-ms-win-… and ext-ms-… name sets of Windows's own functions, not files.
      [ -f "$dir/$dll" ] || [ -f "$system/${dll,,}" ] || [[ ${dll,,} == @(api|ext)-ms-* ]] ||
        fail "${binary#"$dir/"} imports $dll, which is neither in the package nor Windows's"
    done < <(x86_64-w64-mingw32-objdump -p "$binary" | sed -n 's/^\s*DLL Name: //p')
  done < <(find "$dir" -iname '*.exe' -o -iname '*.dll')

  gui "$dir/Tessarin.exe"
  # Qt keeps the settings of its own file dialog in the registry, also when the system's is shown.
  grep '^\[.*QtProject' "$WINEPREFIX/user.reg" && fail "the program left the registry keys above"
}

check_nsis() {  # BUILD_DIR VERSION
  local installer=$1/Tessarin-$2-win64.exe
  makepackage NSIS "$1" "$2"
  [ -f "$installer" ] || { fail "no installer $installer"; return; }
  "$wine" wineboot --init >/dev/null 2>&1
  local target='C:\Tessarin' installed=$WINEPREFIX/drive_c/Tessarin
  "$wine" "$installer" /S "/D=$target" >/dev/null 2>&1
  "$wineserver" -w
  for file in Tessarin.exe Qt6Widgets.dll platforms/qwindows.dll Uninstall.exe; do
    [ -f "$installed/$file" ] || fail "the installer put no $file in $target"
  done
  local menu
  menu=$(find "$WINEPREFIX/drive_c" -path '*Start Menu*' -iname 'Tessarin.lnk' | head -1)
  [ -n "$menu" ] || fail "the installer made no Start menu entry Tessarin"
  # The entry started as the Start menu does, by what it says; start waits for the program's end.
  [ -n "$menu" ] && gui start /wait /unix "$menu"
  "$wine" "$installed/Uninstall.exe" /S >/dev/null 2>&1
  "$wineserver" -w
  # The uninstaller copies itself away to run, and removes the folder when it is done.
  for ((i = 0; i < 100; i++)); do
    [ -e "$installed/Tessarin.exe" ] || break
    sleep 0.1
  done
  [ -e "$installed/Tessarin.exe" ] && fail "the uninstaller left Tessarin.exe"
  [ -n "$menu" ] && [ -e "$menu" ] && fail "the uninstaller left the Start menu entry"
  "$wineserver" -k 2>/dev/null
  grep -i '^\[.*Tessarin' "$WINEPREFIX/system.reg" &&
    fail "the uninstaller left the registry keys above"
}

case "${1:-}" in
  zip) check_zip "$2" "$3" ;;
  nsis) check_nsis "$2" "$3" ;;
  *) echo "usage: $0 zip|nsis BUILD_DIR VERSION" >&2; exit 2 ;;
esac
finish
