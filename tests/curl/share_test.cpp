// Shared connections: exact answers over few connections, one each when off, servers that drop kept ones.
#include <gtest/gtest.h>

#include <set>

#include "http_server.h"
#include "raw_http_server.h"
#include "submit_helpers.h"
#include "temp_dir.h"

namespace {

size_t connections(const std::vector<qntest::ReceivedRequest>& requests) {
    std::set<int> ports;
    for (const auto& r : requests) ports.insert(r.remote_port);
    return ports.size();
}

std::string submit(const std::string& url, const std::string& body) {
    qntest::Body b;
    const int r = quillnet_submit_ex(url.c_str(), 20, body.c_str(), 0, &b.ptr, &b.len);
    return r == 0 ? b.str() : "failed";
}

// share: QUILLNET_SHARE_CONNECTIONS, or null; max_connections 0: one per request.
struct Load { const char* name; bool tls; int threads, per_thread; const char* share; size_t max_connections; };
void PrintTo(const Load& l, std::ostream* out) { *out << l.name; }

class Sharing : public ::testing::TestWithParam<Load> {};

}  // namespace

TEST_P(Sharing, AnswersStayExactWhileConnectionsAreReused) {
    const Load& load = GetParam();
#if !defined(CPPHTTPLIB_OPENSSL_SUPPORT)
    if (load.tls) GTEST_SKIP() << "no TLS test server in this build (cpp-httplib without OpenSSL)";
#endif
    if (load.share != nullptr) ::setenv("QUILLNET_SHARE_CONNECTIONS", load.share, 1);
    qntest::TempDir config;
    qntest::use_config_dir(config.path());
    qntest::HttpServer server(load.tls ? config.path() : "");
    const size_t workers = static_cast<size_t>(load.threads) + 4;  // one per client thread
    server.server().new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
    server.server().Post(".*", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("echo:" + req.body, "text/plain");
    });
    server.keep_alive(1);  // for any number of requests
    server.start();
    ASSERT_EQ(quillnet_startup(), 1);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < load.threads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < load.per_thread; ++i) {
                const std::string body = "t" + std::to_string(t) + "-" + std::string(static_cast<size_t>(i), 'x');
                if (submit(server.url("/e"), body) != "echo:" + body) ++wrong;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), static_cast<size_t>(load.threads * load.per_thread));
    if (load.max_connections == 0) {
        EXPECT_EQ(connections(requests), requests.size());
    } else {
        EXPECT_LE(connections(requests), load.max_connections);
    }
    quillnet_cleanup();
}

INSTANTIATE_TEST_SUITE_P(
    Loads, Sharing,
    ::testing::Values(Load{"http_one_thread", false, 1, 40, nullptr, 1},
                      Load{"https_one_thread", true, 1, 40, nullptr, 1},
                      Load{"https_32_threads", true, 32, 20, nullptr, 64},
                      Load{"http_turned_off", false, 4, 10, "0", 0}),
    [](const ::testing::TestParamInfo<Load>& p) { return std::string(p.param.name); });

TEST(SharingServer, ThatDropsKeptAliveConnectionsCostsNoFailedSubmit) {
    qntest::TempDir config;
    qntest::use_config_dir(config.path());
    // Answers as if the connection stayed open, then closes it.
    qntest::RawHttpServer server([](qntest::RawConnection& c) {
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nkept");
    });
    server.start();
    ASSERT_EQ(quillnet_startup(), 1);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(submit(server.url("/k"), "q" + std::to_string(i)), "kept") << i;
        // Now and then the close arrives before the next call.
        if (i % 2 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(server.requests().size(), 20u);
    EXPECT_EQ(server.accepted(), 20);
    quillnet_cleanup();
}

