# Cross-building Kestrum for 64-bit Windows with Debian's MinGW-w64 compilers,
# and running what it builds (tests, tools) under Wine.
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# The -posix compilers are used: the win32 thread model of GCC 12 has no
# std::mutex, which GoogleTest needs. Everything is linked statically, so
# the executables need no DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KESTRUM_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KESTRUM_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRUM_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRUM_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTRUM_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Wine runs the built executables for CTest, through wine-run.sh (which
# keeps Wine's own start-up faults and helper processes out of the results).
# Its prefix lives in the build tree; scripts/test-windows.sh creates it and
# starts the Wine server.
set(KESTRUM_WINE_PREFIX "${CMAKE_BINARY_DIR}/wine-prefix" CACHE PATH "Wine prefix for running the tests")
find_program(KESTRUM_WINE NAMES wine wine64)
if(KESTRUM_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${KESTRUM_WINE_PREFIX} WINEDEBUG=-all KESTRUM_WINE=${KESTRUM_WINE}
      bash ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
endif()
