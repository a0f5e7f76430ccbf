// The frame exports as a host sees them: through the shared library, with
// the stand-in host modules beside the executable.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "log_file.h"
#include "quillnet.h"
#include "temp_dir.h"

using Lines = std::vector<std::string>;

namespace {

class Frame : public ::testing::Test {
protected:
    void SetUp() override { qntest::use_config_dir(config_.path()); }
    qntest::TempDir config_;
    qntest::LogReader log_{config_.path()};
};

}  // namespace

TEST_F(Frame, StartupAndCleanupPairUp) {
    // Export and result, in order: a second start-up does nothing more, a
    // clean-up while not started fails, and the library can start again.
    const std::pair<int (*)(), int> calls[] = {{quillnet_cleanup, 0}, {quillnet_startup, 1}, {quillnet_startup, 1},
                                               {quillnet_cleanup, 1}, {quillnet_cleanup, 0}, {quillnet_startup, 1},
                                               {quillnet_cleanup, 1}};
    for (const auto& [call, result] : calls) EXPECT_EQ(call(), result);
    EXPECT_EQ(log_.records(), Lines(2, "25 !s_is_startup"));
}

TEST_F(Frame, StartupAndCleanupFromManyThreadsAtOnce) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 50; ++i) {
                EXPECT_EQ(quillnet_startup(), 1);
                quillnet_cleanup();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    // However the calls interleaved, the state is whole: started once more,
    // cleaned up once.
    EXPECT_EQ(quillnet_startup(), 1);
    EXPECT_EQ(quillnet_cleanup(), 1);
    EXPECT_EQ(quillnet_cleanup(), 0);
}

TEST_F(Frame, ReleaseFunctions) {
    char* body = static_cast<char*>(std::malloc(16));
    std::strcpy(body, "response");
    EXPECT_EQ(quillnet_release(&body), 1);
    EXPECT_EQ(body, nullptr);
    EXPECT_EQ(quillnet_release(&body), 1);  // already released: nothing to do
    EXPECT_EQ(quillnet_release(nullptr), 0);
    quillnet_release_redirect_url(nullptr);
    char* url = static_cast<char*>(std::malloc(32));
    std::strcpy(url, "http://127.0.0.1/next");
    quillnet_release_redirect_url(url);  // freed; the leak check would say otherwise
    EXPECT_EQ(log_.records(), Lines{"25 ret_buf == NULL"});
}
