#!/usr/bin/env bash
# Sets up a Debian 12 machine for Tessarin, builds it, and runs it or its tests.
#   ./build.sh run    install what is missing, build, start Tessarin
#   ./build.sh test   install what is missing, build, run the whole test suite headless
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-ipafont-gothic
  coreutils util-linux
  desktop-file-utils appstream dpkg-dev
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

build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir"
}

case "${1:-}" in
  run)
    install_missing
    build build
    exec ./build/main/tessarin
    ;;
  test)
    install_missing
    build build
    (cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600)
    ;;
  *)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
