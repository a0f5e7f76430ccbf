// From the inside: the receive buffer, the document's integers, engines lacking parts (binding entries changed).
#include <gtest/gtest.h>

#include <json-c/json.h>

#include <chrono>
#include <climits>
#include <cstdarg>
#include <stdexcept>
#include <tuple>

#include "api/export_guard.h"
#include "curl/libcurl_wrapper.h"
#include "log_file.h"
#include "raw_http_server.h"
#include "submit/param_doc.h"
#include "submit/recv_data.h"
#include "submit_helpers.h"
#include "temp_dir.h"

using Lines = std::vector<std::string>;

namespace {

struct RecvData {
    ~RecvData() { qn::submit::recv_data_free(data, false); }
    recv_data* data = qn::submit::recv_data_create(nullptr);
};

class Internals : public ::testing::Test {
protected:
    void SetUp() override { qntest::use_config_dir(config_.path()); }
    qntest::TempDir config_;
    qntest::LogReader log_{config_.path()};
};

}  // namespace

TEST_F(Internals, ReceiveBufferGrowsByDoublingAndRefusesWhatItCannotHold) {
    // {bytes, per call, member size, capacity after}: libcurl's pieces; free space -1, exact; over one doubling.
    const std::tuple<size_t, size_t, size_t, int32_t> cases[] = {
        {300000, 16384, 1, 409600}, {102399, 102399, 1, 102400}, {102400, 102400, 4, 204800}, {500000, 500000, 1, 819200}};
    for (const auto& [total, piece, size, capacity] : cases) {
        RecvData r;
        ASSERT_EQ(r.data->capacity, 102400);
        std::string body(total, '\0');
        for (size_t i = 0; i < total; ++i) body[i] = static_cast<char>('a' + i % 26);
        for (size_t at = 0, n = std::min(piece, total); at < total; at += n, n = std::min(piece, total - at))
            ASSERT_EQ(on_curl_recv_data(&body[at], size, n / size, r.data), n);
        EXPECT_EQ(r.data->capacity, capacity) << total;
        ASSERT_EQ(r.data->length, static_cast<int32_t>(total));
        EXPECT_TRUE(r.data->buf[total] == '\0' && std::string(r.data->buf, total) == body) << total;
    }
    RecvData r;
    char chunk[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(on_curl_recv_data(nullptr, 1, 1, r.data), 0u);
    EXPECT_EQ(on_curl_recv_data(chunk, 1, 1, nullptr), 0u);
    // Doubling past the signed 32-bit range fails like an allocation; the record only claims that size.
    char* const real_buf = r.data->buf;
    r.data->capacity = 1677721600, r.data->length = 1677721600 - 8;
    EXPECT_EQ(on_curl_recv_data(chunk, 1, sizeof(chunk), r.data), 0u);
    EXPECT_TRUE(r.data->capacity == 1677721600 && r.data->length == 1677721600 - 8 && r.data->buf == real_buf);
    r.data->capacity = 102400, r.data->length = 0;
    EXPECT_EQ(log_.records(), (Lines{"35 on_curl_recv_data -- ptr == NULL", "35 on_curl_recv_data -- stream == NULL",
                                     "35 on_curl_recv_data-- on_curl_recv_data"}));
}

TEST_F(Internals, ExportGuardLogsWhatEscapes) {  // no export throws anything but bad_alloc on demand
    EXPECT_EQ(qn::api::guarded("quillnet_x", -1, []() -> int { throw std::runtime_error("broken"); }), -1);
    EXPECT_EQ(qn::api::guarded("quillnet_y", 0, []() -> int { throw 42; }), 0);
    EXPECT_EQ(log_.records(), (Lines{"35 quillnet_x: broken", "35 quillnet_y: unknown exception"}));
}

TEST(OptionDocument, FieldIntTakesIntegersOnly) {
    json_object* obj = json_tokener_parse(R"({"time_out": 30, "neg": -4, "dbl": 1.5, "str": "30", "yes": true,
                                              "nul": null, "big": 99999999999, "small": -99999999999, "arr": [1]})");
    ASSERT_NE(obj, nullptr);
    const std::pair<const char*, int> cases[] = {{"time_out", 30}, {"neg", -4}, {"missing", 7}, {"dbl", 7},
                                                 {"str", 7},       {"yes", 7},  {"nul", 7},     {"arr", 7},
                                                 {"big", INT_MAX}, {"small", INT_MIN}};
    for (const auto& [key, want] : cases) EXPECT_EQ(json_object_get_field_int(obj, key, 7), want) << key;
    EXPECT_EQ(json_object_get_field_int(nullptr, "time_out", 7), 7);
    EXPECT_EQ(json_object_get_field_int(json_object_object_get(obj, "arr"), "time_out", 7), 7);
    json_object_put(obj);
    for (const char* absent : {static_cast<const char*>(nullptr), "not json", "{}"})
        EXPECT_EQ(qn::submit::param_ex_time_out(absent), 20000);
    EXPECT_EQ(qn::submit::param_ex_time_out(R"({"time_out": 45, "headers": []})"), 45);
}

namespace {

class Engine : public Internals {  // answers a POST with its body at once, after 300 ms (/late) or never (/never)
protected:
    void SetUp() override {
        Internals::SetUp();
        ASSERT_EQ(quillnet_startup(), 1);
        server_.start();
    }
    void TearDown() override {
        server_.stop();
        quillnet_cleanup();
    }
    std::string submit(const std::string& path, const std::string& body, int timeout = 10) {
        qntest::Body b;
        const int r = quillnet_submit_ex(server_.url(path).c_str(), timeout, body.c_str(), 0, &b.ptr, &b.len);
        return std::to_string(r) + " " + b.str();
    }
    void expect_every_answer() {
        for (int i = 0; i < 3; ++i) EXPECT_EQ(submit("/now", "q" + std::to_string(i)), "0 q" + std::to_string(i));
        EXPECT_EQ(submit("/late", "slow"), "0 slow");
        EXPECT_EQ(submit("/never", "none", 1), "-1 ");
        const Lines failed = log_.records("] != CURLE_OK");
        EXPECT_TRUE(failed.size() == 1 && failed[0].find("[" + std::to_string(CURLE_OPERATION_TIMEDOUT) + "]") != std::string::npos);
    }
    qntest::RawHttpServer server_{[](qntest::RawConnection& c) {
        const std::string target = c.request().target();
        // (One connection at a time: /never is closed after its client gave up.)
        std::this_thread::sleep_for(std::chrono::milliseconds(target == "/never" ? 1500 : target == "/late" ? 300 : 0));
        if (target != "/never") c.send(qntest::RawHttpServer::response(200, c.request().body));
    }};
};

CURLcode (*g_real_setopt)(CURL*, CURLoption, ...) = nullptr;
bool g_names_known = true;  // CURLOPT_PROTOCOLS_STR and its redirect twin (libcurl 7.85 on)
bool g_masks_known = true;  // CURLOPT_PROTOCOLS and its redirect twin

// curl_easy_setopt of an engine that may not know the ways of restricting the protocols.
CURLcode setopt_without_protocols(CURL* curl, CURLoption option, ...) {
    std::va_list args;
    va_start(args, option);
    CURLcode result = CURLE_UNKNOWN_OPTION;
    const bool names = option == CURLOPT_PROTOCOLS_STR || option == CURLOPT_REDIR_PROTOCOLS_STR;
    const bool masks = option == CURLOPT_PROTOCOLS || option == CURLOPT_REDIR_PROTOCOLS;
    if (names ? g_names_known : masks ? g_masks_known : true)
        result = option < CURLOPTTYPE_OBJECTPOINT ? g_real_setopt(curl, option, va_arg(args, long))
                 : option >= CURLOPTTYPE_OFF_T && option < CURLOPTTYPE_BLOB
                     ? g_real_setopt(curl, option, va_arg(args, curl_off_t))
                     : g_real_setopt(curl, option, va_arg(args, void*));
    va_end(args);
    return result;
}

}  // namespace

// Without curl_multi_poll the kept multi handles wait with curl_multi_wait.
TEST_F(Engine, WithoutMultiPoll) {
    CLibcurlWrapper::instance().curl_multi_poll = nullptr;
    expect_every_answer();
}

// Without a multi handle, or with one that refuses the transfer, a request runs through curl_easy_perform.
TEST_F(Engine, WithoutMultiHandles) {
    CLibcurlWrapper& curl = CLibcurlWrapper::instance();
    const auto multi_init = curl.curl_multi_init;
    curl.curl_multi_init = []() -> CURLM* { return nullptr; };
    expect_every_answer();
    curl.curl_multi_init = multi_init;
    curl.curl_multi_add_handle = [](CURLM*, CURL*) { return CURLM_OUT_OF_MEMORY; };
    expect_every_answer();
}

// Only the masks (before 7.85): restricted with them; no way at all: no URL, nothing sent.
TEST_F(Engine, ProtocolsRestrictedOrNothingSent) {
    g_real_setopt = CLibcurlWrapper::instance().curl_easy_setopt;
    CLibcurlWrapper::instance().curl_easy_setopt = &setopt_without_protocols;
    g_names_known = false;
    EXPECT_EQ(submit("/now", "masks"), "0 masks");
    qntest::Body b;
    const std::string gopher = "gopher://127.0.0.1:" + std::to_string(server_.port()) + "/";
    EXPECT_EQ(quillnet_submit_ex(gopher.c_str(), 10, "q", 0, &b.ptr, &b.len), -1);
    g_masks_known = false;
    EXPECT_EQ(submit("/now", "none"), "-1 ");
    EXPECT_EQ(server_.accepted(), 1);
    EXPECT_EQ(log_.records("protocols cannot"), Lines{"35 protocols cannot be restricted, request not sent"});
}
