#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace qntest {

// A random name, taken by whoever creates it (Windows has no mkdtemp).
TempDir::TempDir() {
    std::random_device random;
    std::error_code ec;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const fs::path dir = fs::temp_directory_path() / ("quillnet-test-" + std::to_string(random()));
        if (fs::create_directory(dir, ec)) path_ = dir.generic_string() + "/";
    }
    if (path_.empty()) ADD_FAILURE() << "cannot make a temporary folder";
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

// Paths are UTF-8, also on Windows (not the ANSI code page).
std::string TempDir::write(const std::string& name, const std::string& content) const {
    const fs::path p = fs::u8path(path_) / fs::u8path(name);
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << content;
    return p.u8string();
}

std::string read_file(const std::string& path) {
#if defined(_WIN32)
    // Sharing deletion too, so that a log read here can still rotate.
    HANDLE file = ::CreateFileW(fs::u8path(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    std::string text;
    if (file == INVALID_HANDLE_VALUE) return text;
    char buf[65536];
    DWORD got = 0;
    while (::ReadFile(file, buf, sizeof buf, &got, nullptr) && got > 0) text.append(buf, got);
    ::CloseHandle(file);
    return text;
#else
    std::ifstream in(fs::u8path(path), std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
#endif
}

bool file_exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::u8path(path), ec);
}

void use_config_dir(const std::string& dir) {
    ::setenv("MJ_CONFIG_DIR", dir.c_str(), 1);  // posix_win32.h on Windows
}

}  // namespace qntest
