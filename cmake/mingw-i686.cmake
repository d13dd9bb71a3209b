# mingw-i686.cmake - cross-compiles zelto for 32-bit Windows with the
# i686-w64-mingw32 toolchain:
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(ZELTO_MINGW_PREFIX i686-w64-mingw32 CACHE STRING "Target triplet of the MinGW-w64 cross tools")
set(CMAKE_C_COMPILER ${ZELTO_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${ZELTO_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${ZELTO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZELTO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# SSE2 arithmetic instead of the x87 unit, so that floating-point results
# round exactly as they do in the 64-bit Linux build.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

# The tests, the command-line tool and the benchmarks run on Linux only; the
# cross build makes the DLL, its import library and the Windows host test.
set(ZELTO_BUILD_TESTS OFF CACHE BOOL "Build the tests")
set(ZELTO_BUILD_TOOLS OFF CACHE BOOL "Build the zelto command-line tool")
set(ZELTO_BUILD_BENCHMARKS OFF CACHE BOOL "Build the benchmarks (run on demand only)")
