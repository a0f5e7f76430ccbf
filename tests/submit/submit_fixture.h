// Shared by the submit tests that go through the library's exports: a
// configuration folder of the test's own, the library started, and readers
// for the records the library writes.
#ifndef QN_TEST_SUBMIT_FIXTURE_H
#define QN_TEST_SUBMIT_FIXTURE_H

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "log_file.h"
#include "quillnet.h"
#include "raw_http_server.h"
#include "temp_dir.h"

namespace qntest {

class SubmitTest : public ::testing::Test {
protected:
    void SetUp() override {
        use_config_dir(config_.path());
        ASSERT_EQ(quillnet_startup(), 1);
    }
    void TearDown() override { quillnet_cleanup(); }

    std::string log() const { return log_path(config_.path()); }

    // Waits for a record whose text is exactly `text` and returns its
    // level, or -1 (with the log in the failure message) when none shows up.
    int record(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            for (const std::string& line : log_lines_containing(log(), text)) {
                if (record_text(line) == text) return record_level(line);
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                ADD_FAILURE() << "no record \"" << text << "\" in:\n" << read_file(log());
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    // Records containing `needle` written so far. The sink writes on a
    // thread of its own and in order, so this first writes a marker record
    // and waits for it: everything logged before the call is then on disk.
    std::vector<std::string> records_containing(const std::string& needle) {
        flush_log();
        std::vector<std::string> texts;
        for (const std::string& line : log_lines_containing(log(), needle)) {
            texts.push_back(record_text(line));
        }
        return texts;
    }

    void flush_log() {
        // A clean-up while not started is the one export that writes a
        // record of its own without touching a transfer.
        ASSERT_EQ(quillnet_cleanup(), 1);
        ASSERT_EQ(quillnet_cleanup(), 0);
        ++markers_;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (log_lines_containing(log(), "!s_is_startup").size() < markers_) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << read_file(log());
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_EQ(quillnet_startup(), 1);
    }

    TempDir config_;
    size_t markers_ = 0;
};

// A response body handed out by the library, released through the export.
struct Body {
    char* ptr = nullptr;
    int len = -1;
    ~Body() { quillnet_release(&ptr); }
    std::string str() const { return ptr == nullptr ? std::string() : std::string(ptr, len < 0 ? 0 : len); }
};

// Position of the first header line starting with `prefix`, or -1.
inline int line_index(const std::vector<std::string>& lines, const std::string& prefix) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].compare(0, prefix.size(), prefix) == 0) return static_cast<int>(i);
    }
    return -1;
}

// A raw server answering every request with 200 and `body`.
inline RawHttpServer::Handler answer(const std::string& body, int status = 200,
                                     std::vector<std::string> extra = {}) {
    return [body, status, extra](RawConnection& c) {
        c.send(RawHttpServer::response(status, body, extra));
    };
}

}  // namespace qntest

#endif
