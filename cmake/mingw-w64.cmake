# Cross-builds the Windows target with Debian's mingw-w64 (POSIX thread
# model), linked statically so that no runtime DLL has to travel with the
# executables, and runs what it builds under Wine.
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The Wine prefix lives in the build directory (TRIVANE_WINEPREFIX to move
# it), so a build never touches the user's own prefix.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(TRIVANE_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(TRIVANE_WINE NAMES wine64 wine)
if(NOT DEFINED TRIVANE_WINEPREFIX)
  set(TRIVANE_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "The Wine prefix the Windows executables run in")
endif()
if(TRIVANE_WINE)
  # Headless and quiet; no offer to install the browser or .NET runtimes.
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env WINEPREFIX=${TRIVANE_WINEPREFIX} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= DISPLAY= ${TRIVANE_WINE})
endif()
