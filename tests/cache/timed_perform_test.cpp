// timed_easy_perform and timed_multi_perform against a loopback server, all
// on the test's main thread, which the stand-in hubcore names as the
// host's user-interface thread.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "cache/timed_perform.h"
#include "cache/web_req_cache.h"
#include "cache_test_support.h"
#include "curl/libcurl_wrapper.h"
#include "log_file.h"
#include "quillnet.h"
#include "submit/recv_data.h"
#include "temp_dir.h"

using cachetest::records;
using cachetest::send;
using cachetest::Sent;

namespace {

struct Buffer {
    Buffer() : data(recv_data_create(nullptr)) {}
    explicit Buffer(recv_data* d) : data(d) {}
    ~Buffer() { recv_data_free(data, false); }
    std::string text() const { return std::string(data->buf, static_cast<size_t>(data->length)); }
    recv_data* data;
};

class TimedPerform : public ::testing::Test {
protected:
    void SetUp() override {
        qntest::use_config_dir(config_.path());
        CLibcurlWrapper::instance().curl_global_init(CURL_GLOBAL_ALL);
    }
    void TearDown() override { CLibcurlWrapper::instance().curl_global_cleanup(); }

    std::string log() const { return qntest::log_path(config_.path()); }

    // POSTs `request` to the tree path into a fresh buffer.
    std::string ask(const std::string& request, int* code = nullptr) {
        Buffer buffer;
        const Sent sent = send(server_.url(), request.c_str(), buffer.data);
        if (code != nullptr) *code = sent.code;
        EXPECT_EQ(buffer.data->buf[buffer.data->length], '\0');
        return buffer.text();
    }

    qntest::TempDir config_;
    cachetest::TreeServer server_;
};

}  // namespace

TEST_F(TimedPerform, SecondIdenticalRequestIsAnsweredFromMemory) {
    Buffer first;
    Sent sent = send(server_.url(), "{\"org\":1}", first.data);
    EXPECT_EQ(sent.code, CURLE_OK);
    EXPECT_EQ(sent.http_code, 200);
    EXPECT_EQ(first.text(), "tree({\"org\":1})#1");

    Buffer second;
    sent = send(server_.url(), "{\"org\":1}", second.data);
    EXPECT_EQ(sent.code, CURLE_OK);
    EXPECT_EQ(sent.http_code, 0) << "the handle was never performed";
    EXPECT_EQ(second.text(), "tree({\"org\":1})#1");
    EXPECT_EQ(second.data->capacity, kRecvDataInitialCapacity);
    EXPECT_EQ(server_.hits(), 1);

    const auto net = records(log(), "by net");
    const auto cached = records(log(), "by catch");
    ASSERT_EQ(net.size(), 1u);
    ASSERT_EQ(cached.size(), 1u);
    EXPECT_EQ(net[0], "by net == Req:{\"org\":1} Rep:tree({\"org\":1})#1");
    EXPECT_EQ(cached[0], "by catch == Req:{\"org\":1} Rep:tree({\"org\":1})#1");
    EXPECT_EQ(qntest::record_level(qntest::wait_for_log_line(log(), "by catch")), 25);
}

TEST_F(TimedPerform, SpanLineOnTheUserInterfaceThread) {
    EXPECT_EQ(ask("q"), "tree(q)#1");
    const std::string line = qntest::wait_for_log_line(log(), "] perform ret:");
    EXPECT_EQ(qntest::record_level(line), 30);
    const std::regex span("\\[" + std::regex_replace(server_.url(), std::regex("[.]"), "\\.") +
                          "\\] perform ret:0 spantime:[0-9]+ \\*\\* by UIThread\\.");
    EXPECT_TRUE(std::regex_match(qntest::record_text(line), span)) << line;
    // The span line comes before the dump line.
    const std::string all = qntest::read_file(log());
    EXPECT_LT(all.find("] perform ret:"), all.find("by net == Req:q"));
}

TEST_F(TimedPerform, DirectRoadWithoutRequestOrBufferWritesOnlyTheSpanLine) {
    // A request without a buffer, and a buffer without a request, never
    // reach the cache, even on a cached path.
    EXPECT_EQ(send(server_.url(), "q", nullptr).code, CURLE_OK);
    EXPECT_EQ(send(server_.url(), "q", nullptr).code, CURLE_OK);
    Buffer got;
    EXPECT_EQ(send(server_.url(), nullptr, got.data).code, CURLE_OK);
    EXPECT_EQ(got.text(), "tree()#3");
    Buffer again;
    EXPECT_EQ(send(server_.url(), nullptr, again.data).code, CURLE_OK);
    EXPECT_EQ(again.text(), "tree()#4");
    EXPECT_EQ(server_.hits(), 4);

    EXPECT_EQ(records(log(), "] perform ret:0 spantime:", 4).size(), 4u);
    cachetest::flush_log(log());
    EXPECT_TRUE(qntest::log_lines_containing(log(), "== Req:").empty());
}

TEST_F(TimedPerform, PathsOutsideTheSixAreNeverCached) {
    for (int i = 0; i < 2; ++i) {
        Buffer buffer;
        EXPECT_EQ(send(server_.url("/plume/device/other"), "q", buffer.data).code, CURLE_OK);
    }
    EXPECT_EQ(server_.hits(), 2);
    // Both went out, and both dump what they received.
    const auto net = records(log(), "by net == Req:q", 2);
    ASSERT_EQ(net.size(), 2u);
    EXPECT_EQ(net[1], "by net == Req:q Rep:tree(q)#2");
}

TEST_F(TimedPerform, CachedAnswerGrowsASmallBufferToExactlyItsSize) {
    server_.set_answer("0123456789");
    ASSERT_EQ(ask("q"), "0123456789");

    struct Case {
        int32_t capacity;
        int32_t expected_capacity;
    } cases[] = {{8, 11}, {10, 11}, {11, 11}, {64, 64}};
    for (const Case& c : cases) {
        Buffer buffer(cachetest::make_buffer(c.capacity, 3));
        EXPECT_EQ(send(server_.url(), "q", buffer.data).code, CURLE_OK);
        EXPECT_EQ(buffer.data->capacity, c.expected_capacity) << c.capacity;
        EXPECT_EQ(buffer.data->length, 10) << c.capacity;
        EXPECT_STREQ(buffer.data->buf, "0123456789") << c.capacity;
    }
    EXPECT_EQ(server_.hits(), 1);
}

TEST_F(TimedPerform, StaleAnswerGoesBackToTheNetwork) {
    WebReqCache::instance().SetClock(&cachetest::manual_now);
    EXPECT_EQ(ask("q"), "tree(q)#1");
    cachetest::advance(std::chrono::seconds(10));
    EXPECT_EQ(ask("q"), "tree(q)#1");
    cachetest::advance(std::chrono::seconds(10) + std::chrono::nanoseconds(1));
    EXPECT_EQ(ask("q"), "tree(q)#2");
    EXPECT_EQ(ask("q"), "tree(q)#2");
    EXPECT_EQ(server_.hits(), 2);
    EXPECT_EQ(WebReqCache::instance().size(), 1u);
    EXPECT_EQ(records(log(), "by net == Req:q", 2).size(), 2u);
    EXPECT_EQ(records(log(), "by catch == Req:q", 2).size(), 2u);
}

TEST_F(TimedPerform, ClearCacheSendsTheNextRequestToTheNetwork) {
    EXPECT_EQ(ask("q"), "tree(q)#1");
    int reserved = 0;
    EXPECT_EQ(quillnet_clear_cache(&reserved), -1);
    EXPECT_EQ(ask("q"), "tree(q)#1");
    EXPECT_EQ(quillnet_clear_cache(nullptr), 0);
    EXPECT_EQ(ask("q"), "tree(q)#2");
    EXPECT_EQ(server_.hits(), 2);
}

TEST_F(TimedPerform, FailedTransferIsReportedAndNotStored) {
    server_.drop(true);
    int code = 0;
    EXPECT_EQ(ask("q", &code), "");
    EXPECT_NE(code, CURLE_OK);
    EXPECT_EQ(server_.hits(), 1);
    const auto span = records(log(), "] perform ret:");
    ASSERT_EQ(span.size(), 1u);
    EXPECT_NE(span[0].find("] perform ret:" + std::to_string(code) + " spantime:"), std::string::npos);
    const auto dump = records(log(), "by net");
    ASSERT_EQ(dump.size(), 1u);
    EXPECT_EQ(dump[0], "by net == Req:q Rep:");

    server_.drop(false);
    EXPECT_EQ(ask("q", &code), "tree(q)#2");
    EXPECT_EQ(code, CURLE_OK);
}

TEST_F(TimedPerform, UnreachableServerGivesTheConnectError) {
    // A port that was just free: nothing listens there.
    std::string url;
    {
        qntest::HttpServer gone;
        gone.start();
        url = gone.url(cachetest::kTreePath);
    }
    for (int i = 0; i < 2; ++i) {
        Buffer buffer;
        EXPECT_EQ(send(url, "q", buffer.data).code, CURLE_COULDNT_CONNECT);
        EXPECT_EQ(buffer.data->length, 0);
    }
    // Each went to the network: a failure is never served from memory.
    EXPECT_EQ(records(log(), "by net == Req:q Rep:", 2).size(), 2u);
    EXPECT_EQ(WebReqCache::instance().size(), 0u);
    EXPECT_EQ(WebReqCache::instance().pending_count(), 0u);
}

TEST_F(TimedPerform, MultiPerformLogsEveryTurn) {
    CLibcurlWrapper& lib = CLibcurlWrapper::instance();
    CURLM* multi = lib.curl_multi_init();
    Buffer buffer;
    CURL* easy = lib.curl_easy_init();
    const std::string url = server_.url();
    lib.curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    lib.curl_easy_setopt(easy, CURLOPT_POSTFIELDS, "m");
    lib.curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &on_curl_recv_data);
    lib.curl_easy_setopt(easy, CURLOPT_WRITEDATA, buffer.data);
    lib.curl_multi_add_handle(multi, easy);

    int turns = 0;
    int running = 1;
    while (running > 0 && turns < 100000) {
        ASSERT_EQ(timed_multi_perform(multi, &running, "async label"), CURLM_OK);
        ++turns;
        if (running > 0) lib.curl_multi_wait(multi, nullptr, 0, 100, nullptr);
    }
    lib.curl_multi_remove_handle(multi, easy);
    lib.curl_easy_cleanup(easy);
    lib.curl_multi_cleanup(multi);
    EXPECT_EQ(buffer.text(), "tree(m)#1");

    const auto lines = records(log(), "[async label] curl_multi_perform ret:", static_cast<size_t>(turns));
    EXPECT_EQ(lines.size(), static_cast<size_t>(turns));
    const std::regex line("\\[async label\\] curl_multi_perform ret:0 spantime:[0-9]+ \\*\\* by UIThread\\.");
    for (const auto& l : lines) EXPECT_TRUE(std::regex_match(l, line)) << l;
    // The multi road neither caches nor dumps.
    cachetest::flush_log(log());
    EXPECT_TRUE(qntest::log_lines_containing(log(), "== Req:").empty());
}
