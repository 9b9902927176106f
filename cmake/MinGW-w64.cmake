# Toolchain file: Windows x86-64 programs from Debian's MinGW-w64 cross compiler, the
# posix flavour (which has std::thread and <filesystem>), linked statically so that
# the .exe needs no DLL beside it. Used by scripts/build-windows.sh and
# scripts/test-windows.sh:
#   cmake -S . -B build-windows --toolchain cmake/MinGW-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(HALYARD_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${HALYARD_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HALYARD_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${HALYARD_MINGW_PREFIX}-windres)

# Libraries and packages come from the cross compiler's own root, never from the build
# machine's (whose header-only libraries the top CMakeLists.txt takes one by one).
set(CMAKE_FIND_ROOT_PATH /usr/${HALYARD_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Programs built here run under Wine (discovery of the tests, ctest).
find_program(HALYARD_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(HALYARD_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${HALYARD_WINE})
endif()
