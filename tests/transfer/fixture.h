// What the transfer tests share: a configuration folder of their own (so
// that the library's log is theirs to read), the library started, a folder
// for the files, and the log records read back.
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

    // The records since the previous read, as "<level> <text>".
    Lines logged() { return log_.records(); }
    // Every record so far, as "<level> <text>".
    const Lines& log_so_far() {
        const Lines more = log_.records();
        so_far_.insert(so_far_.end(), more.begin(), more.end());
        return so_far_;
    }

    qntest::TempDir config_;
    qntest::TempDir out_;
    qntest::LogReader log_{config_.path()};
    Lines so_far_;
};

// The records that contain `part` and none of `but`.
inline Lines grep_but(const Lines& log, const std::string& part, const std::string& but) {
    Lines out;
    for (const std::string& line : grep(log, part)) {
        if (line.find(but) == std::string::npos) out.push_back(line);
    }
    return out;
}

#endif
