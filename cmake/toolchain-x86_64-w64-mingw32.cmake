# Cross-compiling the 64-bit Windows programs with mingw-w64: the updater for
# installations that cannot run 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZV_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain-common.cmake)
