// ASan's __tls_get_addr interceptor (GCC 12, LLVM 14) misreads the dynamic
// TLS of the host modules, and LeakSanitizer's exit scan may die on it.
#if !defined(_WIN32)  // no sanitizers in the MinGW build
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "intercept_tls_get_addr=0";
}

// cpp-httplib and OpenSSL are not built with ThreadSanitizer: their hand-overs
// (server buffers, shared TLS sessions) look like races.
extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_suppressions() {
    return "called_from_lib:libcpp-httplib.so\n"
           "called_from_lib:libcrypto.so.3\n"
           "called_from_lib:libssl.so.3\n";
}
#endif
