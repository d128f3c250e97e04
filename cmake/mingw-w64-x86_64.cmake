# Cross-building for 64-bit Windows with Debian's MinGW-w64 (its posix thread model, which the
# C++ thread library needs); tests then run under wine.
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DTALVEX_QT=OFF
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
# The C++, GCC and thread runtimes linked in: the programs need no DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Debian's wine64 package keeps its loader out of the search path.
find_program(TALVEX_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(TALVEX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TALVEX_WINE})
endif()
