#!/usr/bin/env bash
# Checks Tessarin's desktop files and what `cmake --install` and the Debian package put in place.
#   check_package.sh desktop  SOURCE_DIR
#   check_package.sh metainfo SOURCE_DIR VERSION
#   check_package.sh install  BUILD_DIR            (CMAKE names the cmake program)
#   check_package.sh deb      BUILD_DIR VERSION DEB_DIR
#                                                  (CPACK names the cpack program; the package
#                                                  is left in DEB_DIR for the lintian check)
#   check_package.sh lintian  DEB_DIR VERSION
set -uo pipefail

appid=io.github.tessarin.Tessarin
sizes=(16 22 24 32 48 64 128 256)
. "$(dirname "$0")/checks.sh"

need() {
    command -v "$1" >/dev/null ||
        { echo "FAIL: $1 not found; install the Debian package $2 (build.sh does)" >&2; exit 1; }
}

# What an installation holds, relative to its prefix.
expected_files() {
    echo bin/tessarin
    echo share/applications/$appid.desktop
    echo share/doc/tessarin/changelog.gz
    echo share/doc/tessarin/copyright
    echo share/icons/hicolor/scalable/apps/$appid.svg
    for size in "${sizes[@]}"; do
        echo "share/icons/hicolor/${size}x${size}/apps/$appid.png"
    done
    echo share/man/man1/tessarin.1.gz
    echo share/metainfo/$appid.metainfo.xml
}

# Compares a list of files (stdin) with expected_files. $1 says where the list comes from.
compare_files() {
    local actual missing extra
    actual=$(sort -u)
    missing=$(comm -23 <(expected_files | sort -u) <(echo "$actual"))
    extra=$(comm -13 <(expected_files | sort -u) <(echo "$actual"))
    [ -z "$missing" ] || fail "$1 lacks:"$'\n'"$missing"
    [ -z "$extra" ] || fail "$1 holds unexpected files:"$'\n'"$extra"
}

# Prints "WIDTH HEIGHT" of a PNG file from its header; fails if it is not a PNG.
png_size() {
    [ "$(od -An -tx1 -N8 "$1" | tr -d ' \n')" = 89504e470d0a1a0a ] || return 1
    od -An -tu4 --endian=big -j16 -N8 "$1" | awk '{ print $1, $2 }'
}

# Checks an installed tree: its file list, the program, the icons.
check_tree() {
    local prefix=$1 what=$2 size got
    (cd "$prefix" && find . -type f -o -type l) | sed 's|^\./||' | compare_files "$what"
    local program=$prefix/bin/tessarin
    if [ -f "$program" ]; then
        [ -x "$program" ] || fail "$what: bin/tessarin is not executable"
        [ "$(od -An -c -N4 "$program" | tr -d ' ')" = '177ELF' ] ||
            fail "$what: bin/tessarin is not an ELF program"
    fi
    for size in "${sizes[@]}"; do
        local icon=$prefix/share/icons/hicolor/${size}x${size}/apps/$appid.png
        [ -f "$icon" ] || continue
        got=$(png_size "$icon") || { fail "$what: ${icon#"$prefix"/} is not a PNG"; continue; }
        [ "$got" = "$size $size" ] ||
            fail "$what: the ${size}x${size} icon is $got pixels (width height)"
    done
    local svg=$prefix/share/icons/hicolor/scalable/apps/$appid.svg
    if [ -f "$svg" ] && ! grep -q '<svg' "$svg"; then
        fail "$what: the scalable icon is not an SVG"
    fi
}

# The value of KEY in the desktop entry FILE.
desktop_key() {
    sed -n "s/^$2=//p" "$1" | head -n 1
}

check_desktop() {
    local source=$1
    local file=$source/resources/$appid.desktop out
    need desktop-file-validate desktop-file-utils
    [ -f "$file" ] || { fail "no desktop entry at $file"; finish; }
    if ! out=$(desktop-file-validate "$file" 2>&1); then
        fail "desktop-file-validate rejects $file:"$'\n'"$out"
    elif grep -Eq ': (error|warning):' <<<"$out"; then
        fail "desktop-file-validate warns about $file:"$'\n'"$out"
    fi
    [ -z "$out" ] || echo "$out"
    # Tessarin takes no command line, so the menu must not hand it files (%f, %U ...).
    [ "$(desktop_key "$file" Exec)" = tessarin ] ||
        fail "Exec is '$(desktop_key "$file" Exec)', not the bare program name tessarin"
    [ "$(desktop_key "$file" Icon)" = "$appid" ] ||
        fail "Icon is '$(desktop_key "$file" Icon)', not the installed icon name $appid"
    [ "$(desktop_key "$file" Terminal)" = false ] || fail "Terminal is not false"
    # Wayland compositors match the window to the entry by this name.
    grep -q "setDesktopFileName(QStringLiteral(\"$appid\"))" "$source/main/main.cpp" ||
        fail "main/main.cpp does not set the desktop file name $appid"
}

check_metainfo() {
    local source=$1 version=$2
    local file=$source/resources/$appid.metainfo.xml out launchable
    need appstreamcli appstream
    [ -f "$file" ] || { fail "no metainfo at $file"; finish; }
    if ! out=$(appstreamcli validate --no-net "$file" 2>&1); then
        fail "appstreamcli validate --no-net rejects $file:"$'\n'"$out"
    fi
    echo "$out"
    grep -q "<id>$appid</id>" "$file" || fail "the component id is not $appid"
    launchable=$(sed -n 's|.*<launchable type="desktop-id">\(.*\)</launchable>.*|\1|p' "$file")
    if ! { [ "$launchable" = "$appid.desktop" ] && [ -f "$source/resources/$launchable" ]; }; then
        fail "the launchable '$launchable' is not the desktop entry resources/$appid.desktop"
    fi
    grep -q "<release version=\"$version\"" "$file" ||
        fail "no release entry for the project version $version"
}

check_install() {
    local build=$1 prefix=$workdir log status
    if ! log=$("${CMAKE:-cmake}" --install "$build" --prefix "$prefix" 2>&1); then
        fail "cmake --install $build failed:"$'\n'"$log"
        finish
    fi
    check_tree "$prefix" "the installation"
    # The installed program must start on its own (no build-tree library paths).
    if [ -x "$prefix/bin/tessarin" ]; then
        log=$(cd "$prefix" && QT_QPA_PLATFORM=offscreen timeout 2 "$prefix/bin/tessarin" 2>&1)
        status=$?
        [ "$status" -eq 124 ] ||
            fail "the installed tessarin exited with status $status within 2 s:"$'\n'"$log"
    fi
    finish
}

# The file name cpack gives the package of VERSION.
debname() {
    echo "tessarin_${1}_$(dpkg --print-architecture).deb"
}

check_deb() {
    local build=$1 version=$2 debdir=$3 out=$workdir log deb field
    need dpkg-deb dpkg
    need dpkg-shlibdeps dpkg-dev
    rm -f "$debdir/$(debname "$version")"
    if ! log=$("${CPACK:-cpack}" -G DEB --config "$build/CPackConfig.cmake" -B "$out" 2>&1); then
        fail "cpack -G DEB failed:"$'\n'"$log"
        finish
    fi
    deb=$out/$(debname "$version")
    [ -f "$deb" ] || { fail "cpack made no $(basename "$deb"):"$'\n'"$log"; finish; }
    mkdir -p "$debdir" && cp "$deb" "$debdir/" || fail "cannot keep the package in $debdir"

    # Every file lies under /usr and is one of the installed set.
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./||' >"$out/list"
    if grep -v '^usr/' "$out/list"; then
        fail "the package holds files outside /usr (listed above)"
    fi
    sed 's|^usr/||' "$out/list" | compare_files "the package"

    [ "$(dpkg-deb -f "$deb" Package)" = tessarin ] || fail "the package is not named tessarin"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package version is not $version"
    [ "$(dpkg-deb -f "$deb" Section)" = utils ] || fail "the package section is not utils"
    [ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "the package has no Maintainer"
    [ -n "$(dpkg-deb -f "$deb" Description)" ] || fail "the package has no Description"
    local depends recommends
    depends=$(dpkg-deb -f "$deb" Depends)
    recommends=$(dpkg-deb -f "$deb" Recommends)
    for field in libqt6widgets6 libqt6gui6 libqt6core6 fonts-ipafont-gothic; do
        grep -Eq "(^|[ ,])$field( |,|$)" <<<"$depends" || fail "Depends lacks $field: $depends"
    done
    if grep -Eq -- '-dev( |,|$)' <<<"$depends"; then
        fail "Depends names a development package: $depends"
    fi
    for field in qt6-wayland qt6-translations-l10n; do
        grep -Eq "(^|[ ,])$field( |,|$)" <<<"$recommends" ||
            fail "Recommends lacks $field: '$recommends'"
    done

    # What the package unpacks to is what cmake --install gives, with the program stripped.
    dpkg-deb -x "$deb" "$out/root"
    check_tree "$out/root/usr" "the package"
    if [ -f "$out/root/usr/bin/tessarin" ] &&
        readelf -S "$out/root/usr/bin/tessarin" | grep -q '\.debug_info'; then
        fail "the packaged tessarin carries debug information"
    fi
    finish
}

# Debian's own checker must find neither an error nor a warning. It refuses to run as root
# unless told that this is meant.
check_lintian() {
    local deb=$1/$(debname "$2") log asroot=()
    need lintian lintian
    [ -f "$deb" ] || { fail "no package $deb to check"; finish; }
    [ "$(id -u)" -ne 0 ] || asroot=(--allow-root)
    if ! log=$(lintian "${asroot[@]}" --fail-on error,warning --display-info "$deb" 2>&1); then
        fail "lintian finds errors or warnings in $(basename "$deb"):"$'\n'"$log"
    elif [ -n "$log" ]; then
        echo "$log"
    fi
    finish
}

case "${1:-}" in
    desktop) check_desktop "$2"; finish ;;
    metainfo) check_metainfo "$2" "$3"; finish ;;
    install) check_install "$2" ;;
    deb) check_deb "$2" "$3" "$4" ;;
    lintian) check_lintian "$2" "$3" ;;
    *)
        echo "usage: $0 desktop|metainfo|install|deb|lintian DIR [VERSION] [DEB_DIR]" >&2
        exit 2
        ;;
esac
