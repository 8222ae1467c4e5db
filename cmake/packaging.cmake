# A Debian package of what cmake --install puts in place: cpack -G DEB in the build directory.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessarin)
set(CPACK_PACKAGE_VENDOR "The Tessarin developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The build keeps its debug information; the package does not.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TESSARIN_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The summary line comes from CPACK_PACKAGE_DESCRIPTION_SUMMARY.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tessarin shows the whole content of a file as a grid of cells, one per byte,
in ASCII, hexadecimal, binary or decimal, each cell coloured by the kind of
byte it holds. Click a cell, pick a new value, and save the result under a
new name: as the raw bytes, or as a text of fixed-width numbers.")
# dpkg-shlibdeps (from dpkg-dev) finds the libraries the program links: Qt 6, libstdc++, libc.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's font; Qt loads it by name, so no library dependency shows it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-ipafont-gothic)
# Without qt6-wayland Qt runs through XWayland on a Wayland desktop; without
# qt6-translations-l10n Qt's own dialogs speak English.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, qt6-translations-l10n")

include(CPack)
