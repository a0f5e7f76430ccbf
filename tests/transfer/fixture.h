// What the download tests share: a configuration folder of their own (so
// that the library's log is theirs to read), the library started, a folder
// for the downloaded files, and the log records read back.
#ifndef QN_TEST_TRANSFER_FIXTURE_H
#define QN_TEST_TRANSFER_FIXTURE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "log_file.h"
#include "quillnet.h"
#include "temp_dir.h"

using Lines = std::vector<std::string>;

// The records in `log` that contain `part`.
inline Lines grep(const Lines& log, const std::string& part) {
    Lines out;
    std::copy_if(log.begin(), log.end(), std::back_inserter(out),
                 [&](const std::string& r) { return r.find(part) != std::string::npos; });
    return out;
}

// Polls `done` until it holds or `seconds` pass; returns its last answer.
inline bool eventually(const std::function<bool()>& done, int seconds = 20) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        qntest::use_config_dir(config_.path());
        ASSERT_EQ(quillnet_startup(), 1);
    }
    void TearDown() override { quillnet_cleanup(); }

    // The records so far, as "<level> <text>". The sink writes on a thread
    // of its own and in order, so a marker record (a clean-up while not
    // started logs "!s_is_startup") is awaited first.
    Lines logged() {
        EXPECT_EQ(quillnet_cleanup() + quillnet_cleanup(), 1);
        const std::string path = qntest::log_path(config_.path());
        EXPECT_NE(qntest::wait_for_log_line(path, "!s_is_startup", 10000), "");
        Lines out;
        for (const std::string& line : qntest::log_lines_containing(path, "")) {
            if (qntest::record_text(line) == "!s_is_startup") break;
            out.push_back(std::to_string(qntest::record_level(line)) + " " + qntest::record_text(line));
        }
        EXPECT_EQ(quillnet_startup(), 1);
        return out;
    }

    qntest::TempDir config_;
    qntest::TempDir out_;
};

#endif
