// GetNewUrl from many threads at once, the first call included: the
// instance is made once and then only read.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "Public/Helper/UrlDealwith.h"
#include "url_test_home.h"

TEST(GetNewUrlThreads, ConcurrentFirstUseAndRewrites) {
    urltest::Home home(R"({"srv:80": "https://", "box:443": "http://"})");
    struct Case {
        const char* url;
        const char* want;
    };
    const Case cases[] = {
        {"http://srv", "https://srv"},
        {"http://srv/a", "https://srv:80/a"},
        {"https://box/b", "http://box:443/b"},
        {"https://box:80", "http://box"},  // found as box:443, then 443 dropped after http
        {"box/c", "http://box:443/c"},
        {"ftp://srv/x", "ftp://srv/x"},
        {"http://other:443", "http://other"},
    };
    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) std::this_thread::yield();
            for (int i = 0; i < 300; ++i) {
                const Case& c = cases[(i + t) % (sizeof cases / sizeof cases[0])];
                if (UrlFormat::HttpHeadDealwith::GetNewUrl(c.url) != c.want) failures.fetch_add(1);
            }
            if (UrlFormat::HttpHeadDealwith::GetNewUrl(nullptr) != "") failures.fetch_add(1);
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    // One instance: the protocol file was opened once.
    EXPECT_FALSE(home.line("strConfigFilePath:").empty());
    EXPECT_EQ(qntest::log_lines_containing(home.log(), "strConfigFilePath:").size(), 1u);
}
