# The packages of what cmake --install puts in place, made by cpack in the build directory: a
# Debian package, or for Windows a ZIP to unpack and run and an installer.
set(CPACK_PACKAGE_NAME tessarin)
set(CPACK_PACKAGE_VENDOR "The Tessarin developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# The build keeps its debug information; the packages do not.
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP NSIS)
  set(CPACK_PACKAGE_FILE_NAME Tessarin-${PROJECT_VERSION}-win64)
  # The ZIP unpacks into a folder of its own.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_PACKAGE_INSTALL_DIRECTORY Tessarin)
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Tessarin)
  # The Start menu entry: Tessarin.exe, named Tessarin, with the program's icon. The program is at
  # the top of the installation, not in the bin folder CPack takes by default for the entry and for
  # the finish page's box that runs it.
  set(CPACK_PACKAGE_EXECUTABLES Tessarin Tessarin)
  set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
  set(CPACK_NSIS_PACKAGE_NAME Tessarin)
  set(CPACK_NSIS_DISPLAY_NAME Tessarin)
  set(CPACK_NSIS_INSTALLED_ICON_NAME Tessarin.exe)
  set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/resources/icons/tessarin.ico)
  set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/resources/icons/tessarin.ico)
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
  set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
  # A 64-bit installer, as the program is: a 32-bit one would install into the 32-bit view of
  # Program Files and the registry, and needs Windows's 32-bit layer to run at all.
  set(CPACK_NSIS_DEFINES "Target amd64-unicode")
  # Japanese's "インストール(&I)" does not fit the Install button under Wine's stand-in for its font:
  # half-width katakana, as the translation has for its Uninstall button.
  string(APPEND CPACK_NSIS_DEFINES "\nLangString ^InstallBtn 1041 \"ｲﾝｽﾄｰﾙ(&I)\"")
  set(CPACK_NSIS_MUI_FINISHPAGE_RUN Tessarin.exe)
  # The installer keeps its folder in Software\<vendor>\Tessarin, which CPack's uninstaller
  # removes after these commands, leaving the vendor's key: both go here, the vendor's only when
  # nothing else is in it.
  set(CPACK_VERBATIM_VARIABLES ON)  # the backslashes and quotes below reach NSIS as they are
  set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "
  DeleteRegKey SHCTX \"Software\\${CPACK_PACKAGE_VENDOR}\\${CPACK_PACKAGE_INSTALL_REGISTRY_KEY}\"
  DeleteRegKey /ifempty SHCTX \"Software\\${CPACK_PACKAGE_VENDOR}\"")
  # The licence page's box wraps the text to its own width, and would break each of the file's
  # lines again short of its end: it gets the paragraphs whole, one line each.
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
  string(REPLACE "\n\n" "\r" license "${license}")
  string(REPLACE "\n" " " license "${license}")
  string(REPLACE "\r" "\r\n\r\n" license "${license}")
  file(WRITE ${PROJECT_BINARY_DIR}/license-page.txt "${license}")
  set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_BINARY_DIR}/license-page.txt)
  include(CPack)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

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
