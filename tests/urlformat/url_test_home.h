// A configuration directory of its own for one URL test process: the
// protocol table under Resource/, optionally mjlog.dat, and the log the
// stand-in sink writes there.
#ifndef QN_TEST_URL_TEST_HOME_H
#define QN_TEST_URL_TEST_HOME_H

#include <chrono>
#include <string>
#include <thread>

#include "log_file.h"
#include "temp_dir.h"

namespace urltest {

// Where the rewriter's log lines say they come from.
inline const std::string kSource = "common/public/include/Public/Helper/UrlDealwith";

class Home {
public:
    // `protocol`: the text of Resource/Protocol.json, or null for no file.
    explicit Home(const char* protocol, const char* mjlog = nullptr) : logs_everything_(mjlog == nullptr) {
        if (protocol != nullptr) dir_.write("Resource/Protocol.json", protocol);
        if (mjlog != nullptr) dir_.write("mjlog.dat", mjlog);
        qntest::use_config_dir(dir_.path());
    }
    // The sink opens its file on its own thread when the first record
    // arrives; removing the folder before that would only have the sink
    // make it again. At the default level the rewriter always logs.
    ~Home() {
        if (!logs_everything_) return;
        for (int i = 0; i < 100 && !qntest::file_exists(log()); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    Home(const Home&) = delete;
    Home& operator=(const Home&) = delete;
    const std::string& path() const { return dir_.path(); }
    void write(const std::string& name, const std::string& content) const { dir_.write(name, content); }
    std::string log() const { return qntest::log_path(dir_.path()); }
    // The first log line holding `needle`, or empty text after a while.
    std::string line(const std::string& needle) const { return qntest::wait_for_log_line(log(), needle); }

private:
    qntest::TempDir dir_;
    bool logs_everything_;
};

}  // namespace urltest

#endif  // QN_TEST_URL_TEST_HOME_H
