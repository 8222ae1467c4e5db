#!/usr/bin/env bash
# Sets up a Debian 12 machine for Tessarin, builds it, and runs it or its tests.
#   ./build.sh run    install what is missing, build, start Tessarin
#   ./build.sh test   install what is missing, build, run the whole test suite (the widget tests
#                     headless, on Xvfb with openbox and on weston), then again, headless, in a
#                     sanitizer build, and for Windows under Wine: binio's tests, then the
#                     program's widget tests and its ZIP and installer
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-private-dev libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-ipafont-gothic
  coreutils util-linux
  desktop-file-utils appstream dpkg-dev lintian
  qt6-translations-l10n
  xvfb xauth openbox wmctrl libxcb1-dev libxcb-damage0-dev
  weston qt6-wayland
  g++-mingw-w64-x86-64-posix googletest wine64
  nsis unzip xdotool fonts-wine
)

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Configures and builds one preset of CMakePresets.json: release in build/, asan in build-asan/,
# wine (binio and its tests for Windows) in build-wine/, windows (the whole program for Windows)
# in build-windows/.
build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}

case "${1:-}" in
  run)
    install_missing
    build release
    exec ./build/main/tessarin
    ;;
  test)
    install_missing
    build release
    (cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600)
    # The same suite again in a build with AddressSanitizer, UndefinedBehaviorSanitizer and
    # LeakSanitizer.
    build asan
    (cd build-asan &&
      QT_QPA_PLATFORM=offscreen \
      ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1 \
      LSAN_OPTIONS="suppressions=$PWD/../tests/lsan.supp:print_suppressions=0" \
      UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      ctest --output-on-failure --timeout 900)
    # binio's Windows back end: cross-built with mingw-w64 and run under Wine, whose prefix the
    # test makes in build-wine/ (see tests/CMakeLists.txt).
    build wine
    ctest --preset wine --timeout 600
    # Tessarin for Windows against Qt for Windows, which cmake/qt-windows.sh builds the first
    # time from Debian's qt6-base source and keeps in the user's cache: Tessarin.exe, its widget
    # tests run under Wine on Xvfb with openbox, and its ZIP and installer, each tried in a
    # Wine prefix of its own.
    TESSARIN_QT_WINDOWS=$(cmake/qt-windows.sh)
    export TESSARIN_QT_WINDOWS
    build windows
    ctest --preset windows --timeout 900
    ;;
  *)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
