# 32-bit Windows release, cross-built with MinGW-w64. The -posix compilers are
# the ones whose libstdc++ has std::mutex, which GoogleTest needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The 32-bit Wine loader runs under qemu-i386 user-mode emulation, through the
# wrapper that scripts/lib/wine32.sh keeps in the work tree's cache. Without it
# the tests still build, but CTest has nothing to run them with.
set(MURMEX_WINE32_LOADER ${CMAKE_CURRENT_LIST_DIR}/../.cache/wine32/lib/wine/qemu-wine64)
if(EXISTS ${MURMEX_WINE32_LOADER})
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MURMEX_WINE32_LOADER})
endif()
