# The Windows test build (MinGW-w64 cross-build, run under Wine by
# scripts/test-windows.sh). Included by tests/CMakeLists.txt on WIN32.
#
# - No OpenSSL here: the HTTPS test server is left out and its tests skip.
# - Every test executable copies the library's debugger output to stderr
#   (debugger_output_win32.cpp), where the tests read it.
# - The loopback servers speak Winsock.
set(QN_TEST_PLATFORM_SOURCES ${CMAKE_CURRENT_LIST_DIR}/debugger_output_win32.cpp)
set(QN_TEST_PLATFORM_LIBS ws2_32)

# No min and max macros from <windows.h> over std::min and std::max.
add_compile_definitions(NOMINMAX)

# setenv and unsetenv, for every test source.
add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:-include;${CMAKE_CURRENT_LIST_DIR}/posix_win32.h>")
