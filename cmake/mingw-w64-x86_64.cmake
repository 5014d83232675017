# Cross build for 64-bit Windows from Linux with Debian's MinGW-w64 (the posix thread
# flavour, which std::thread needs). Tests run under Wine through the emulator below.
#
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORBILUNE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ORBILUNE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORBILUNE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ORBILUNE_MINGW_PREFIX}-windres)
set(CMAKE_AR ${ORBILUNE_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${ORBILUNE_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${ORBILUNE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: libgcc, libstdc++ and winpthread linked in, no MinGW DLLs
# to ship beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(ORBILUNE_WINE NAMES wine wine64)
if(ORBILUNE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ORBILUNE_WINE})
endif()
