# Cross-builds for 64-bit Windows with Debian's mingw-w64 (package g++-mingw-w64-x86-64-posix)
# and runs what it builds under Wine (package wine64), which CTest puts before each test command.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's own libraries are linked in for binio's tests alone (see CMakeLists.txt), so that
# they need no DLLs beside them; programs built with Qt link the shared run-time, which ships
# beside them.

# Debian's wine64 installs the loader outside PATH; the wine package adds a wrapper that is.
find_program(TESSARIN_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TESSARIN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TESSARIN_WINE})
endif()
