# Cross-building for 64-bit Windows on Debian with MinGW-w64 (packages g++-mingw-w64-x86-64-posix and wine), and
# running what was built under Wine: scripts/build-windows.sh uses it.
#
#   cmake -S . -B build-windows --toolchain cmake/mingw-w64-x86_64.cmake \
#         -DVELMORA_BUILD_APP=OFF -DVELMORA_BUILD_BENCH=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The posix flavour of the compiler: its C++ library has std::thread and std::mutex (through winpthreads).
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Headers and libraries come from MinGW's tree only, never from the Linux system's; programs run here.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthreads linked in, so that an executable runs on a bare Windows 10 or 11 with the
# system's own DLLs alone.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# CTest (and try_run) run the Windows executables under Wine: quiet, in a prefix of the build's own, without the
# prompts to install Mono and Gecko, and without a window.
set(VELMORA_WINEPREFIX "${CMAKE_BINARY_DIR}/wine" CACHE PATH "The Wine prefix the tests run in")
find_program(VELMORA_WINE wine)
if(VELMORA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env WINEPREFIX=${VELMORA_WINEPREFIX} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=,winemenubuilder.exe=d
          DISPLAY= ${VELMORA_WINE})
endif()
