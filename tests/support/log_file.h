// Reading back what the log sink wrote (on a thread of its own: readers poll).
#ifndef QN_TEST_LOG_FILE_H
#define QN_TEST_LOG_FILE_H

#include <string>
#include <vector>

#include <mj/mj_interfaces.h>

namespace qntest {

std::string log_path(const std::string& config_dir, const std::string& module = "quillnet");

std::vector<std::string> log_lines(const std::string& path, const std::string& needle = "");

// The first line that contains `needle` within `timeout_ms`, or empty text.
std::string wait_for_log_line(const std::string& path, const std::string& needle, int timeout_ms = 5000);

// The library's records, in order: each read waits for a marker of its own sink (one queue per file).
class LogReader {
public:
    explicit LogReader(const std::string& config_dir) : path_(log_path(config_dir)) {}
    ~LogReader();
    LogReader(const LogReader&) = delete;
    LogReader& operator=(const LogReader&) = delete;

    // "<level> <text>" of the records since the previous read that hold `needle`.
    std::vector<std::string> records(const std::string& needle = "");
    // Without the span, dump and rewriter lines every request writes.
    std::vector<std::string> notes();

private:
    std::string path_;
    mj::IMJLogSink* sink_ = nullptr;
    int marks_ = 0;
};

}  // namespace qntest

#endif
