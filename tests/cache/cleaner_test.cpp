// The request cache's clean-up thread runs only while there are answers to
// purge: it ends once a purge (after its first) leaves the cache empty, and
// the next stored answer starts another. An idle library keeps no thread,
// which on Windows lets the module unload after a host's FreeLibrary. Each
// round waits the real ten seconds; threads are counted by their name.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "cache/web_req_cache.h"
#include "log/log_record.h"
#include "platform/thread_safety.h"
#include "temp_dir.h"

class WebReqCacheTestPeer {
public:
    static size_t Size(WebReqCache& cache) {
        qn::platform::MutexLock lock(cache.lock_);
        return cache.entries_.size();
    }
};

namespace {

std::atomic<int64_t> g_now_ns{int64_t{1} << 40};
WebReqCache::Clock::time_point manual_now() {
    return WebReqCache::Clock::time_point(std::chrono::nanoseconds(g_now_ns.load()));
}

// Whether `n` cleaners run within 25 s: two of the cleaner's rounds and some.
bool cleaners_within_two_rounds(int n) {
    for (int i = 0; i <= 2500; ++i) {
        int found = 0;
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
            found += qntest::read_file(task.path().string() + "/comm") == "quillnet cache\n";
        }
        if (found == n) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace

TEST(CacheCleaner, EndsWhenTheCacheIsEmptyAndComesBackWithTheNextAnswer) {
    qntest::TempDir config;
    qntest::use_config_dir(config.path());
    // The log's writer threads start with the first record, named after the
    // thread that wrote it: here, not the cleaner with its purge line.
    qn::log::Info() << "cleaner test" << "\n";
    WebReqCache cache(1000, std::chrono::seconds(10), &manual_now);
    EXPECT_TRUE(cleaners_within_two_rounds(1));  // named once it runs
    EXPECT_TRUE(cleaners_within_two_rounds(0));  // its second round finds nothing
    cache.Store(WebReqCacheKey("http://h/plume/device/queryDeviceOrgTree", "q"), WebReqCacheValue{"a"}, nullptr);
    EXPECT_TRUE(cleaners_within_two_rounds(1));
    g_now_ns += std::chrono::nanoseconds(std::chrono::seconds(11)).count();
    EXPECT_TRUE(cleaners_within_two_rounds(0));
    EXPECT_EQ(WebReqCacheTestPeer::Size(cache), 0u) << "purged before it ended";
}
