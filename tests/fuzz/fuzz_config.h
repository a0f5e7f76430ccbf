// A configuration folder of the fuzz process's own, whose mjlog.dat drops
// every record (the sink's disk work is not what is fuzzed), removed at exit.
#ifndef QN_FUZZ_CONFIG_H
#define QN_FUZZ_CONFIG_H

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace qnfuzz {

inline std::filesystem::path& config_dir() {
    static std::filesystem::path dir;
    return dir;
}

inline void remove_config_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(config_dir(), ignored);
}

// Call from LLVMFuzzerInitialize, before the library's first use.
inline void use_quiet_config_dir(const std::string& name) {
    config_dir() = std::filesystem::temp_directory_path() / (name + "_" + std::to_string(::getpid()));
    std::filesystem::create_directories(config_dir() / "Resource");
    std::ofstream(config_dir() / "mjlog.dat") << "log_level=100\n";
    ::setenv("MJ_CONFIG_DIR", (config_dir().string() + "/").c_str(), 1);
    // Registered before the library's own statics exist, so it runs after
    // them at exit.
    std::atexit(remove_config_dir);
}

inline void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace qnfuzz

#endif
