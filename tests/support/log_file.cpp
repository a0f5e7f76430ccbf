#include "log_file.h"

#include "temp_dir.h"

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace qntest {

std::string log_path(const std::string& config_dir, const std::string& module) {
    return config_dir + "log/" + module + ".log";
}

std::vector<std::string> log_lines_containing(const std::string& path, const std::string& needle) {
    std::vector<std::string> out;
    std::istringstream in(read_file(path));
    std::string line;
    while (std::getline(in, line)) {
        if (line.find(needle) != std::string::npos) out.push_back(line);
    }
    return out;
}

std::string wait_for_log_line(const std::string& path, const std::string& needle, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        auto lines = log_lines_containing(path, needle);
        if (!lines.empty()) return lines.front();
        if (std::chrono::steady_clock::now() >= deadline) return std::string();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// Line format of the stand-in sink:
//   2026-12-05 16:01:02.345 [12345] [30] record text
std::string record_text(const std::string& line) {
    size_t pos = line.find("] [");
    if (pos == std::string::npos) return line;
    pos = line.find("] ", pos + 3);
    return pos == std::string::npos ? line : line.substr(pos + 2);
}

int record_level(const std::string& line) {
    size_t pos = line.find("] [");
    if (pos == std::string::npos) return -1;
    return std::atoi(line.c_str() + pos + 3);
}

}  // namespace qntest
