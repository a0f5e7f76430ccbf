#include "log_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "../mjbase/mjbase_test.h"
#include "temp_dir.h"

namespace qntest {

std::string log_path(const std::string& config_dir, const std::string& module) {
    return config_dir + "log/" + module + ".log";
}

std::vector<std::string> log_lines(const std::string& path, const std::string& needle) {
    std::vector<std::string> out;
    std::istringstream in(read_file(path));
    for (std::string line; std::getline(in, line);) {
        if (line.find(needle) != std::string::npos) out.push_back(line);
    }
    return out;
}

std::string wait_for_log_line(const std::string& path, const std::string& needle, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        const auto lines = log_lines(path, needle);
        if (!lines.empty()) return lines.front();
        if (std::chrono::steady_clock::now() >= deadline) return std::string();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

LogReader::~LogReader() {
    if (sink_ != nullptr) sink_->Release();
}

std::vector<std::string> LogReader::records(const std::string& needle) {
    static const char kMarker[] = "-- test log marker ";
    std::vector<std::string> out;
    if (sink_ == nullptr && (sink_ = mjtest::create<mj::IMJLogSink>(mj::CLSID_MJLogSink).release()) == nullptr) {
        ADD_FAILURE() << "no log sink from MJBase";
        return out;
    }
    if (marks_ == 0) sink_->SetModuleName(mjtest::W(std::string("quillnet")).c_str(), 0);
    const std::string marker = kMarker + std::to_string(++marks_);
    sink_->Write(mjtest::W(marker).c_str(), 35);
    if (wait_for_log_line(path_, marker, 10000).empty()) {
        ADD_FAILURE() << "the log marker did not arrive in " << path_;
        return out;
    }
    // "2026-12-05 16:01:02.345 [tid] [level] text"
    int passed = 0;  // markers before the current line
    for (const std::string& line : log_lines(path_, "")) {
        const size_t level = line.find("] [") + 3;
        const size_t text = line.find("] ", level) + 2;
        if (level < 3 || text < 2) continue;
        if (line.compare(text, sizeof(kMarker) - 1, kMarker) == 0) {
            if (++passed == marks_) break;
        } else if (passed == marks_ - 1 && line.find(needle, text) != std::string::npos) {
            out.push_back(line.substr(level, line.find(']', level) - level) + " " + line.substr(text));
        }
    }
    return out;
}

std::vector<std::string> LogReader::notes() {
    std::vector<std::string> out;
    for (const std::string& r : records()) {
        if (r.find("] perform ret:") == std::string::npos && r.find(" == Req:") == std::string::npos &&
            r.find("strConfigFilePath:") == std::string::npos) {
            out.push_back(r);
        }
    }
    return out;
}

}  // namespace qntest
