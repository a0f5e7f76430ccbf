# Cross-builds for 32-bit Windows with Debian's g++-mingw-w64-i686-posix:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DQUILLNET_WIN_PREFIX=<libs> ...
set(CMAKE_SYSTEM_PROCESSOR x86)
set(QN_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
