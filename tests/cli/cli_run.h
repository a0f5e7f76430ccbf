// Runs the quillnet program from beside the test as a child process, with
// its own configuration directory, and collects what it printed.
#ifndef QN_TEST_CLI_RUN_H
#define QN_TEST_CLI_RUN_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace qntest {

struct CliResult {
    int code = -1;          // exit status; 128 + signal when it was killed
    std::string out, err;
    double seconds = 0;
};

// Where the child's standard input comes from and its output goes; by
// default /dev/null and a file in the folder, read back as CliResult::out.
struct CliIo {
    std::string in = "/dev/null";
    std::string out;
};

class Cli {
public:
    // `dir` (ending in "/") holds the configuration directory and the output,
    // and is the child's working folder. `program` defaults to the quillnet
    // beside the test.
    explicit Cli(std::string dir, std::string program = "") : dir_(std::move(dir)), program_(std::move(program)) {}

    CliResult run(const std::vector<std::string>& args, const CliIo& io = {});
    // Starts without waiting; finish() waits (at most `timeout_s`, then kills).
    pid_t start(const std::vector<std::string>& args, const CliIo& io = {});
    CliResult finish(pid_t pid, int timeout_s = 90);

    std::string config_dir() const { return dir_ + "config/"; }

private:
    std::string dir_;
    std::string program_;
    double started_ = 0;
};

double now_seconds();

}  // namespace qntest

#endif
