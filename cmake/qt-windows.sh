#!/usr/bin/env bash
# Builds Qt for 64-bit Windows once, from Debian's own qt6-base source of the version the host's Qt
# has, with the installed mingw-w64 compilers and the host's Qt tools (moc, rcc, uic), and installs
# it into a cache outside the source tree. Prints the folder it is installed in.
#   cmake/qt-windows.sh          build it unless the cache has it
#   cmake/qt-windows.sh --where  print the folder only, built or not
# The folder is named by Qt's version and a hash of the options below, so that a change to them
# builds a new Qt beside the old one. A half-built Qt is never taken for a whole one: the install
# goes to a temporary folder that is renamed only once it is complete.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

# Only what Tessarin uses: Core, Gui, Widgets and Test, the windows platform plugin and the
# windowsvista style. Debian's tarball leaves out the tablet header wintab.h. OpenGL stays on:
# with it off, this Qt's qwindowswindow.cpp does not compile under dynamicgl.
options=(
  -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=ON
  -DQT_BUILD_EXAMPLES=OFF
  -DQT_BUILD_TESTS=OFF
  -DQT_BUILD_BENCHMARKS=OFF
  -DFEATURE_tabletevent=OFF
  -DFEATURE_concurrent=OFF
  -DFEATURE_dbus=OFF
  -DFEATURE_network=OFF
  -DFEATURE_printsupport=OFF
  -DFEATURE_sql=OFF
  -DFEATURE_xml=OFF
  -DFEATURE_jpeg=OFF
  -DFEATURE_system_zlib=OFF
  -DFEATURE_testlib=ON
  -DFEATURE_widgets=ON
  -DFEATURE_opengl=ON
)

version=$(dpkg-query -W -f='${Version}' qt6-base-dev)  # 6.4.2+dfsg-10
upstream=${version%%+*}
upstream=${upstream%%-*}
key=$(printf '%s\n' "$version" "${options[@]}" | sha256sum | cut -c1-12)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/tessarin
prefix=$cache/qt-$upstream-mingw64-$key

if [ "${1:-}" = --where ] || [ -x "$prefix/bin/qt-cmake" ]; then
  echo "$prefix"
  exit 0
fi

work=$cache/qt-$upstream-mingw64-$key.work
rm -rf "$work" "$prefix.partial"
mkdir -p "$work"
cd "$work"

# A private apt configuration: the machine's own sources, turned into deb-src entries, with lists
# of their own, so that the machine's apt configuration is left as it is.
mkdir -p apt/sources.list.d apt/lists/partial apt/cache/archives/partial
for f in /etc/apt/sources.list.d/*.sources; do
  [ -e "$f" ] && sed 's/^Types:.*/Types: deb-src/' "$f" >"apt/sources.list.d/$(basename "$f")"
done
if [ -f /etc/apt/sources.list ]; then
  sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list >apt/sources.list
else
  : >apt/sources.list
fi
apt=(apt-get -q
  -o Dir::Etc::SourceList="$work/apt/sources.list"
  -o Dir::Etc::SourceParts="$work/apt/sources.list.d"
  -o Dir::State::Lists="$work/apt/lists"
  -o Dir::Cache="$work/apt/cache"
  -o Debug::NoLocking=1)
"${apt[@]}" update >&2
"${apt[@]}" source --download-only "qt6-base=$version" >&2
dpkg-source --no-check -x qt6-base_*.dsc src >&2

cmake -G Ninja -S src -B build \
  -DCMAKE_TOOLCHAIN_FILE="$here/mingw-w64.cmake" \
  -DQT_HOST_PATH=/usr \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_INSTALL_PREFIX="$prefix.partial" \
  "${options[@]}" >&2
cmake --build build >&2
cmake --install build >&2

# Qt's configuration records the prefix it was built for; qt-cmake and the CMake files find the
# rest relative to themselves, so the folder can be renamed once whole.
mv "$prefix.partial" "$prefix"
grep -rl "$prefix.partial" "$prefix/bin" "$prefix/lib/cmake" "$prefix/lib/pkgconfig" "$prefix/mkspecs" 2>/dev/null |
  xargs -r sed -i "s|$prefix.partial|$prefix|g"
cd "$cache"
rm -rf "$work"
echo "$prefix"
