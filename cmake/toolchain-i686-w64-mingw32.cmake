# Cross-compiling the 32-bit Windows programs (the updater that ships) with
# mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZV_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain-common.cmake)
