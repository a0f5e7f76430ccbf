# Shared part of the MinGW-w64 cross toolchains (mingw-w64-x86_64.cmake,
# mingw-w64-i686.cmake), which set QN_MINGW_TRIPLE and include this file.
#
# QUILLNET_WIN_PREFIX (cache variable or environment variable) names the
# folder that holds the cross-built third-party libraries (json-c, spdlog,
# fmt, cpp-httplib, GoogleTest, curl's headers); scripts/test-windows.sh
# builds it. Cross-built programs run under Wine when CMake or CTest has to
# run them (test discovery, the tests themselves).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${QN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QN_MINGW_TRIPLE}-windres)

if(NOT QUILLNET_WIN_PREFIX AND DEFINED ENV{QUILLNET_WIN_PREFIX})
  set(QUILLNET_WIN_PREFIX "$ENV{QUILLNET_WIN_PREFIX}")
endif()
set(QUILLNET_WIN_PREFIX "${QUILLNET_WIN_PREFIX}" CACHE PATH "Cross-built third-party libraries")
# try_compile projects see the toolchain file again, without the cache.
set(ENV{QUILLNET_WIN_PREFIX} "${QUILLNET_WIN_PREFIX}")

# The libraries' headers count as system headers, as they do on Linux in
# /usr/include: their own warnings are not ours.
if(QUILLNET_WIN_PREFIX)
  set(CMAKE_C_FLAGS_INIT "-isystem ${QUILLNET_WIN_PREFIX}/include")
  set(CMAKE_CXX_FLAGS_INIT "-isystem ${QUILLNET_WIN_PREFIX}/include")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${QN_MINGW_TRIPLE} ${QUILLNET_WIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config answers from the prefix only, never from the build machine.
set(ENV{PKG_CONFIG_LIBDIR} "${QUILLNET_WIN_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

find_program(QN_WINE NAMES wine wine64)
if(QN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QN_WINE})
endif()
