# Cross-builds for 64-bit Windows with Debian's g++-mingw-w64-x86-64-posix:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DQUILLNET_WIN_PREFIX=<libs> ...
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QN_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
