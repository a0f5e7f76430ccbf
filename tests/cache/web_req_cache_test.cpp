// The request cache's tables, ages and limits, on a clock the tests move.
#include <gtest/gtest.h>

#include <curl/curl.h>

#include <chrono>
#include <string>

#include "cache/web_req_cache.h"
#include "cache_test_support.h"
#include "log_file.h"
#include "quillnet.h"
#include "temp_dir.h"

using cachetest::advance;
using cachetest::manual_now;
using std::chrono::nanoseconds;
using std::chrono::seconds;

namespace {

const std::string kUrl = std::string("http://127.0.0.1:1") + cachetest::kTreePath;

WebReqCacheKey key(const std::string& body, const std::string& url = kUrl) {
    return WebReqCacheKey(url, body);
}

WebReqCacheValue value(const std::string& body) {
    WebReqCacheValue v;
    v.body = body;
    return v;
}

// The cached answer, or "<none>" when the cache has no fresh one.
std::string cached(WebReqCache& cache, const WebReqCacheKey& k) {
    WebReqCacheValue out;
    return cache.GetOrFetch(k, out, WebReqCache::FetchFunction()) ? out.body : "<none>";
}

// A fetch that answers `body` and counts its runs.
WebReqCache::FetchFunction answering(const std::string& body, int* runs) {
    return [body, runs] {
        ++*runs;
        return std::make_pair(true, value(body));
    };
}

class CacheTest : public ::testing::Test {
protected:
    WebReqCache cache_{1000, seconds(10), &manual_now};
};

}  // namespace

TEST(CachedPaths, TheSixPathsAtTheEndOfTheUrl) {
    const char* paths[] = {
        "/plume/audioVideoAuth/baseGetTreeResourceData",
        "/plume/audioVideoAuth/baseGetTreeStatusWithFilters",
        "/plume/device/totalDeviceOrgTreeGa",
        "/plume/device/queryDeviceOrgTreeGa",
        "/plume/device/totalDeviceOrgTree",
        "/plume/device/queryDeviceOrgTree",
    };
    for (const char* path : paths) {
        const std::string p(path);
        EXPECT_TRUE(is_cached_path(p)) << p;
        EXPECT_TRUE(is_cached_path("https://host:8443/api" + p)) << p;
        EXPECT_FALSE(is_cached_path("http://host" + p + "?page=1")) << p;
        EXPECT_FALSE(is_cached_path("http://host" + p + "/")) << p;
        EXPECT_FALSE(is_cached_path("http://host" + p + " ")) << p;
        EXPECT_FALSE(is_cached_path(p.substr(1))) << p;  // the leading "/" belongs to it
        EXPECT_FALSE(is_cached_path("http://host" + p.substr(0, p.size() - 1))) << p;
        // A cached path earlier in the URL does not count.
        EXPECT_FALSE(is_cached_path("http://host" + p + "/plume/device/other")) << p;
    }
    EXPECT_FALSE(is_cached_path("http://host/PLUME/device/queryDeviceOrgTree"));
    EXPECT_FALSE(is_cached_path("http://host/plume/device/querydeviceorgtree"));
    EXPECT_FALSE(is_cached_path(""));
    EXPECT_FALSE(is_cached_path("/"));
    // The last occurrence decides, even when the path also stands earlier.
    EXPECT_TRUE(is_cached_path("http://h/plume/device/queryDeviceOrgTree/plume/device/queryDeviceOrgTree"));
}

TEST_F(CacheTest, FreshForTenSecondsInclusiveAndRenewedByEveryRead) {
    cache_.Store(key("q"), value("tree"), nullptr);
    advance(seconds(10));
    EXPECT_EQ(cached(cache_, key("q")), "tree") << "exactly 10 s old is still fresh";

    // That read restarted the ten seconds.
    advance(seconds(9));
    EXPECT_EQ(cached(cache_, key("q")), "tree");
    advance(seconds(10));
    EXPECT_EQ(cached(cache_, key("q")), "tree");

    advance(seconds(10) + nanoseconds(1));
    EXPECT_EQ(cached(cache_, key("q")), "<none>");
    // A stale answer is not served but stays until it is replaced or purged.
    EXPECT_EQ(cache_.size(), 1u);
    EXPECT_EQ(cached(cache_, key("q")), "<none>") << "a failed read does not renew";
}

TEST_F(CacheTest, StaleAnswerIsFetchedAgainAndReplacedInPlace) {
    int runs = 0;
    WebReqCacheValue out;
    ASSERT_TRUE(cache_.GetOrFetch(key("a"), out, answering("first", &runs)));
    cache_.Store(key("b"), value("other"), nullptr);
    EXPECT_EQ(runs, 1);

    advance(seconds(10));
    ASSERT_TRUE(cache_.GetOrFetch(key("a"), out, answering("second", &runs)));
    EXPECT_EQ(out.body, "first");
    EXPECT_EQ(runs, 1) << "fresh at 10 s: no fetch";

    advance(seconds(10) + nanoseconds(1));
    ASSERT_TRUE(cache_.GetOrFetch(key("a"), out, answering("second", &runs)));
    EXPECT_EQ(out.body, "second");
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(cache_.size(), 2u) << "replaced, not added";
    EXPECT_EQ(cached(cache_, key("a")), "second");
    EXPECT_EQ(cache_.pending_count(), 0u);
}

TEST_F(CacheTest, TwoBodiesToOneUrlAreTwoAnswers) {
    int runs = 0;
    WebReqCacheValue out;
    ASSERT_TRUE(cache_.GetOrFetch(key("{\"id\":1}"), out, answering("one", &runs)));
    ASSERT_TRUE(cache_.GetOrFetch(key("{\"id\":2}"), out, answering("two", &runs)));
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(cached(cache_, key("{\"id\":1}")), "one");
    EXPECT_EQ(cached(cache_, key("{\"id\":2}")), "two");
    // Both halves of the key count, byte for byte.
    EXPECT_EQ(cached(cache_, key("{\"id\":1} ")), "<none>");
    EXPECT_EQ(cached(cache_, key("{\"id\":1}", kUrl + "Ga")), "<none>");
    // Texts whose hashes cancel out in the xor are still told apart.
    cache_.Store(key("x", "x"), value("same"), nullptr);
    EXPECT_EQ(cached(cache_, key("y", "y")), "<none>");
}

TEST(CacheCapacity, The1001stAnswerEvictsTheLeastRecentlyUsed) {
    WebReqCache cache(1000, seconds(10), &manual_now);
    for (int i = 0; i < 1000; ++i) cache.Store(key(std::to_string(i)), value("v" + std::to_string(i)), nullptr);
    EXPECT_EQ(cache.size(), 1000u);

    // Reading the oldest makes the second oldest the least recently used.
    EXPECT_EQ(cached(cache, key("0")), "v0");
    cache.Store(key("1000"), value("v1000"), nullptr);
    EXPECT_EQ(cache.size(), 1000u);
    EXPECT_EQ(cached(cache, key("1")), "<none>");
    EXPECT_EQ(cached(cache, key("0")), "v0");
    EXPECT_EQ(cached(cache, key("2")), "v2");
    EXPECT_EQ(cached(cache, key("1000")), "v1000");

    // Replacing an answer renews its place as well.
    cache.Store(key("3"), value("v3b"), nullptr);
    cache.Store(key("1001"), value("v1001"), nullptr);
    EXPECT_EQ(cached(cache, key("3")), "v3b");
    EXPECT_EQ(cached(cache, key("4")), "<none>");
}

TEST_F(CacheTest, FailedFetchIsNotStoredAndTheNextCallFetchesAgain) {
    int result = 0;
    int runs = 0;
    WebReqCacheValue out;
    auto failing = [&] {
        ++runs;
        result = CURLE_COULDNT_CONNECT;
        return std::make_pair(false, WebReqCacheValue());
    };
    EXPECT_FALSE(cache_.GetOrFetch(key("q"), out, failing, &result));
    EXPECT_EQ(result, CURLE_COULDNT_CONNECT);
    EXPECT_EQ(cache_.size(), 0u);
    EXPECT_EQ(cache_.pending_count(), 0u);
    EXPECT_FALSE(cache_.GetOrFetch(key("q"), out, failing, &result));
    EXPECT_EQ(runs, 2);
    // Without a fetch function there is nothing to do but answer no.
    EXPECT_FALSE(cache_.GetOrFetch(key("q"), out, WebReqCache::FetchFunction()));
}

TEST_F(CacheTest, ClearForgetsAnswersButNotTheFetchInFlight) {
    cache_.Store(key("old"), value("stale soon"), nullptr);
    int runs = 0;
    WebReqCacheValue out;
    auto clearing = [&] {
        ++runs;
        // The fetch runs without the lock, so clearing from inside it must
        // neither block nor lose the answer.
        cache_.Clear();
        EXPECT_EQ(cache_.size(), 0u);
        EXPECT_EQ(cache_.pending_count(), 0u);
        return std::make_pair(true, value("fresh"));
    };
    ASSERT_TRUE(cache_.GetOrFetch(key("new"), out, clearing));
    EXPECT_EQ(out.body, "fresh");
    EXPECT_EQ(cache_.size(), 1u);
    EXPECT_EQ(cached(cache_, key("new")), "fresh");
    EXPECT_EQ(cached(cache_, key("old")), "<none>");
    EXPECT_EQ(runs, 1);
}

TEST(CachePurge, RemovesOnlyStaleAnswersAndLogsEach) {
    qntest::TempDir config;
    qntest::use_config_dir(config.path());
    const std::string log = qntest::log_path(config.path());

    WebReqCache cache(1000, seconds(10), &manual_now);
    cache.Store(key("q", "http://h/purged/first"), value("1"), nullptr);
    advance(seconds(5));
    cache.Store(key("q", "http://h/kept/at/the/edge"), value("2"), nullptr);
    advance(seconds(4));
    cache.Store(key("q", "http://h/kept/young"), value("3"), nullptr);
    cache.Store(key("r", "http://h/purged/first"), value("4"), nullptr);
    advance(seconds(1));
    EXPECT_EQ(cached(cache, key("r", "http://h/purged/first")), "4");  // renewed
    advance(seconds(5));

    {
        std::lock_guard<std::mutex> lock(cache.Mutex());
        cache.PurgeStale();
    }
    EXPECT_EQ(cache.size(), 3u);
    EXPECT_EQ(cached(cache, key("q", "http://h/purged/first")), "<none>");
    EXPECT_EQ(cached(cache, key("q", "http://h/kept/at/the/edge")), "2");

    cachetest::flush_log(log);
    const auto lines = qntest::log_lines_containing(log, "-- net cache clean up:");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(qntest::record_text(lines[0]), "-- net cache clean up:http://h/purged/first");
    EXPECT_EQ(qntest::record_level(lines[0]), 25);
}

TEST(CacheCleaner, StopsAtOnceAndJoins) {
    // Each instance's thread is asleep in its ten-second wait when the
    // instance goes; a stop that waited for the wait to end would make this
    // case run for minutes and hit the test time-out.
    for (int i = 0; i < 20; ++i) {
        WebReqCache cache(1000, seconds(10), &manual_now);
        cache.Store(key("q"), value("v"), nullptr);
        if (i % 2 == 0) cache.StopCleaner();  // stopping twice is harmless
    }
}

TEST(ClearCacheExport, NullClearsAndAnythingElseIsRefused) {
    WebReqCache& cache = WebReqCache::instance();
    EXPECT_EQ(&cache, &WebReqCache::instance());
    cache.Store(key("q"), value("kept"), nullptr);

    int reserved = 0;
    EXPECT_EQ(quillnet_clear_cache(&reserved), -1);
    EXPECT_EQ(cache.size(), 1u);
    EXPECT_EQ(cached(cache, key("q")), "kept");

    EXPECT_EQ(quillnet_clear_cache(nullptr), 0);
    EXPECT_EQ(cache.size(), 0u);
    EXPECT_EQ(cached(cache, key("q")), "<none>");
    EXPECT_EQ(quillnet_clear_cache(nullptr), 0) << "clearing an empty cache";
}
