// Reading back what the stand-in log sink wrote. The sink writes on a
// background thread, so readers poll until the text shows up.
#ifndef QN_TEST_LOG_FILE_H
#define QN_TEST_LOG_FILE_H

#include <string>
#include <vector>

#include <mj/mj_interfaces.h>

namespace qntest {

// The sink's file for `module` under `config_dir` (which ends in "/").
std::string log_path(const std::string& config_dir, const std::string& module = "quillnet");

// The lines of the file that contain `needle`, right now.
std::vector<std::string> log_lines_containing(const std::string& path, const std::string& needle);

// The first line that contains `needle` within `timeout_ms`, or empty text.
std::string wait_for_log_line(const std::string& path, const std::string& needle, int timeout_ms = 5000);

// The records the library writes under a configuration directory, in the
// order they were made. Each read queues a marker record to the same file
// through a sink of its own (made at the first read, so the directory may be
// set later; the sink keeps one queue per file) and waits for it, so every
// record made before the read is in.
class LogReader {
public:
    explicit LogReader(const std::string& config_dir) : path_(log_path(config_dir)) {}
    ~LogReader();
    LogReader(const LogReader&) = delete;
    LogReader& operator=(const LogReader&) = delete;

    // "<level> <text>" of the records since the previous read that contain
    // `needle`; a test failure when the marker does not arrive.
    std::vector<std::string> records(const std::string& needle = "");
    // The same without those every request writes: the timed perform's
    // span and dump lines and the rewriter's first line.
    std::vector<std::string> notes();

private:
    std::string path_;
    mj::IMJLogSink* sink_ = nullptr;
    int marks_ = 0;
};

}  // namespace qntest

#endif
