#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#if defined(_WIN32)
#include <windows.h>

#include <random>
#endif

namespace fs = std::filesystem;

namespace qntest {

TempDir::TempDir() {
#if defined(_WIN32)
    // No mkdtemp: a random name, taken only by the one who creates it.
    std::random_device random;
    std::error_code ec;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const fs::path dir = fs::temp_directory_path() / ("quillnet-test-" + std::to_string(random()));
        if (fs::create_directory(dir, ec)) path_ = dir.generic_string() + "/";
    }
    if (path_.empty()) ADD_FAILURE() << "cannot make a temporary folder";
#else
    std::string templ = (fs::temp_directory_path() / "quillnet-test-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed";
    }
    path_ = templ + "/";
#endif
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

// Paths are UTF-8 text, on Windows too, where narrow file names would be
// read in the ANSI code page.
std::string TempDir::write(const std::string& name, const std::string& content) const {
    const fs::path p = fs::u8path(path_) / fs::u8path(name);
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << content;
    return p.u8string();
}

std::string read_file(const std::string& path) {
#if defined(_WIN32)
    // Opened as log viewers open a log, sharing even deletion: Windows
    // refuses to rename a file while a handle without that sharing is open,
    // and a log read here must stay free to rotate under its writer.
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
#if defined(_WIN32)
    ::_putenv_s("MJ_CONFIG_DIR", dir.c_str());
#else
    ::setenv("MJ_CONFIG_DIR", dir.c_str(), 1);
#endif
}

}  // namespace qntest
