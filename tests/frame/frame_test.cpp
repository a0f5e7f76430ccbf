// The frame exports as a host sees them: through the shared library, with
// the stand-in host modules beside the executable.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "log_file.h"
#include "quillnet.h"
#include "temp_dir.h"

namespace {

class Frame : public ::testing::Test {
protected:
    void SetUp() override { qntest::use_config_dir(config_.path()); }
    std::string log() const { return qntest::log_path(config_.path()); }
    qntest::TempDir config_;
};

}  // namespace

TEST_F(Frame, StartupAndCleanupPairUp) {
    EXPECT_EQ(quillnet_startup(), 1);
    EXPECT_EQ(quillnet_startup(), 1);  // already started: nothing more
    EXPECT_EQ(quillnet_cleanup(), 1);
    EXPECT_EQ(quillnet_cleanup(), 0);  // not started any more
    EXPECT_EQ(quillnet_startup(), 1);  // and it can start again
    EXPECT_EQ(quillnet_cleanup(), 1);

    const std::string line = qntest::wait_for_log_line(log(), "!s_is_startup");
    ASSERT_FALSE(line.empty()) << qntest::read_file(log());
    EXPECT_EQ(qntest::record_text(line), "!s_is_startup");
    EXPECT_EQ(qntest::record_level(line), 25);
    EXPECT_EQ(qntest::log_lines_containing(log(), "!s_is_startup").size(), 1u);
}

TEST_F(Frame, CleanupBeforeStartupFails) {
    EXPECT_EQ(quillnet_cleanup(), 0);
    EXPECT_FALSE(qntest::wait_for_log_line(log(), "!s_is_startup").empty());
}

TEST_F(Frame, ReleaseFreesAndClears) {
    char* body = static_cast<char*>(std::malloc(16));
    std::strcpy(body, "response");
    EXPECT_EQ(quillnet_release(&body), 1);
    EXPECT_EQ(body, nullptr);
    EXPECT_EQ(quillnet_release(&body), 1);  // already released: nothing to do
    EXPECT_EQ(body, nullptr);

    EXPECT_EQ(quillnet_release(nullptr), 0);
    const std::string line = qntest::wait_for_log_line(log(), "ret_buf == NULL");
    EXPECT_EQ(qntest::record_level(line), 25);
}

TEST_F(Frame, ReleaseRedirectUrl) {
    quillnet_release_redirect_url(nullptr);
    char* url = static_cast<char*>(std::malloc(32));
    std::strcpy(url, "http://127.0.0.1/next");
    quillnet_release_redirect_url(url);  // freed; ASan would report a leak otherwise
    // Neither call writes a record: a later one is the only line.
    EXPECT_EQ(quillnet_release(nullptr), 0);
    qntest::wait_for_log_line(log(), "ret_buf == NULL");
    EXPECT_EQ(qntest::log_lines_containing(log(), "] [").size(), 1u);
}
