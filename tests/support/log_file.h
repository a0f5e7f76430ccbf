// Reading back what the stand-in log sink wrote. The sink writes on a
// background thread, so readers poll until the text shows up.
#ifndef QN_TEST_LOG_FILE_H
#define QN_TEST_LOG_FILE_H

#include <string>
#include <vector>

namespace qntest {

// The log file the sink writes for module `module` under configuration
// directory `config_dir` (which ends in "/").
std::string log_path(const std::string& config_dir, const std::string& module = "quillnet");

// Polls the file until a line contains `needle` or `timeout_ms` passes;
// returns the first such line, or empty text.
std::string wait_for_log_line(const std::string& path, const std::string& needle,
                              int timeout_ms = 5000);

// All lines of the file that contain `needle`, right now.
std::vector<std::string> log_lines_containing(const std::string& path, const std::string& needle);

// The record text of a log line: what follows the sink's prefix.
std::string record_text(const std::string& line);

// The level written in a log line's prefix, or -1.
int record_level(const std::string& line);

}  // namespace qntest

#endif
