// The request cache's clean-up thread runs only while there are answers to
// purge: it ends once a purge (after its first) leaves the cache empty, and
// the next stored answer starts another, which purges that answer in its
// turn. An idle library thus keeps no thread, which on Windows is what lets
// the module unload after a host's FreeLibrary. Each round waits the real
// ten seconds; threads are counted by the name Linux shows.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "cache/web_req_cache.h"
#include "log/log_record.h"
#include "platform/thread_safety.h"
#include "temp_dir.h"

// The cache's insides, for this test only.
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

int cleaners() {
    int n = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        n += name == "quillnet cache";
    }
    return n;
}

// Polls `done` for up to 25 s: two of the cleaner's rounds and some.
bool within_two_rounds(const std::function<bool()>& done) {
    for (int i = 0; i < 2500 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

}  // namespace

TEST(CacheCleaner, EndsWhenTheCacheIsEmptyAndComesBackWithTheNextAnswer) {
    qntest::TempDir config;
    qntest::use_config_dir(config.path());
    // The log's writer threads start with the first record, named after the
    // thread that wrote it: here, not the cleaner with its purge line.
    qn::log::Info() << "cleaner test" << "\n";
    WebReqCache cache(1000, std::chrono::seconds(10), &manual_now);
    EXPECT_TRUE(within_two_rounds([] { return cleaners() == 1; }));  // named once it runs
    EXPECT_TRUE(within_two_rounds([] { return cleaners() == 0; }));  // its second round finds nothing
    cache.Store(WebReqCacheKey("http://h/plume/device/queryDeviceOrgTree", "q"), WebReqCacheValue{"a"}, nullptr);
    EXPECT_TRUE(within_two_rounds([] { return cleaners() == 1; }));
    g_now_ns += std::chrono::nanoseconds(std::chrono::seconds(11)).count();
    EXPECT_TRUE(within_two_rounds([] { return cleaners() == 0; }));
    EXPECT_EQ(WebReqCacheTestPeer::Size(cache), 0u) << "purged before it ended";
}
