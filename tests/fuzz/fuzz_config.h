// The fuzz process gets a configuration folder of its own, named after the
// program, whose mjlog.dat drops every record (the sink's disk work is not
// what is fuzzed), removed at exit.
#ifndef QN_FUZZ_CONFIG_H
#define QN_FUZZ_CONFIG_H

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

inline std::filesystem::path g_fuzz_config_dir;

inline void check(bool condition) {
    if (!condition) std::abort();
}

// Before the library's first use; the removal, registered before the
// library's statics exist, runs after them at exit.
extern "C" int LLVMFuzzerInitialize(int*, char*** argv) {
    namespace fs = std::filesystem;
    g_fuzz_config_dir = fs::temp_directory_path() /
                        (fs::path((*argv)[0]).filename().string() + "_" + std::to_string(::getpid()));
    fs::create_directories(g_fuzz_config_dir / "Resource");
    std::ofstream(g_fuzz_config_dir / "mjlog.dat") << "log_level=100\n";
    ::setenv("MJ_CONFIG_DIR", (g_fuzz_config_dir.string() + "/").c_str(), 1);
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(g_fuzz_config_dir, ignored);
    });
    return 0;
}

#endif
