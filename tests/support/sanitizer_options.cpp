// Defaults for the sanitizer runtimes in these test processes.
//
// The __tls_get_addr interceptor of the AddressSanitizer runtimes in use
// (GCC 12, LLVM 14) guesses a dynamic TLS block's bounds from a glibc
// header that glibc no longer writes; when a block happens to land on the
// guessed offset, LeakSanitizer's exit scan reads a bogus range and dies
// ("Tracer caught signal 11") after every test has passed. The host modules
// are loaded at run time and use dynamic TLS, so whether it happens depends
// on the process layout. Leaks are still reported without that scan.
#if !defined(_WIN32)  // no sanitizers in the MinGW build
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "intercept_tls_get_addr=0";
}

// cpp-httplib's compiled part (libcpp-httplib.so) is not built with
// ThreadSanitizer: the test servers' worker threads hand buffers to each
// other through code it cannot see, so the memcpy and memcmp it intercepts
// there look like races. Calls made from that library are not checked; our
// own code and the library under test still are.
// OpenSSL is not built with it either: TLS sessions kept in the shared
// session cache are handed between connections under reference counts
// whose atomic updates happen where it cannot see them, so one connection
// freeing a session's last copy looks like a race with another that read
// it earlier. Calls from libcrypto and libssl are not checked either.
extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_suppressions() {
    return "called_from_lib:libcpp-httplib.so\n"
           "called_from_lib:libcrypto.so.3\n"
           "called_from_lib:libssl.so.3\n";
}
#endif
