// The receive buffer and the option document from the inside: the growth
// rule of on_curl_recv_data at its edges, json_object_get_field_int, and
// the Digest mode of the header procedure against a real server that asks
// for Digest credentials.
#include <gtest/gtest.h>

#include <json-c/json.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "curl/libcurl_wrapper.h"
#include "log/log_record.h"
#include "log_file.h"
#include "raw_http_server.h"
#include "submit/param_doc.h"
#include "submit/recv_data.h"
#include "temp_dir.h"

using qn::submit::AuthDigestMode;
using qntest::RawConnection;
using qntest::RawHttpServer;
using Lines = std::vector<std::string>;

namespace {

struct RecvData {
    ~RecvData() { qn::submit::recv_data_free(data, false); }
    recv_data* data = qn::submit::recv_data_create(nullptr);
};

}  // namespace

TEST(Internals, ReceiveBufferGrowth) {
    // {bytes in all, bytes per call, size of a member, capacity after}:
    // libcurl's pieces; one byte short of the free space (fits with its
    // terminator); exactly the free space (doubles first); more than one
    // doubling can hold (doubles until it fits).
    struct Case {
        size_t total, piece, size;
        int32_t capacity;
    };
    for (const Case& k : {Case{300000, 16384, 1, 409600}, Case{102399, 102399, 1, 102400},
                          Case{102400, 102400, 4, 204800}, Case{500000, 500000, 1, 819200}}) {
        SCOPED_TRACE(k.total);
        RecvData r;
        std::string body(k.total, '\0');
        for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 26);
        for (size_t at = 0; at < body.size(); at += k.piece) {
            const size_t n = std::min(k.piece, body.size() - at);
            ASSERT_EQ(on_curl_recv_data(&body[at], k.size, n / k.size, r.data), n);
        }
        EXPECT_EQ(r.data->capacity, k.capacity);
        ASSERT_EQ(r.data->length, static_cast<int32_t>(k.total));
        EXPECT_EQ(r.data->buf[k.total], '\0');
        EXPECT_TRUE(std::string(r.data->buf, k.total) == body);
    }
}

TEST(Internals, RefusalsAbortTheTransfer) {
    qntest::TempDir config;
    qntest::use_config_dir(config.path());
    RecvData r;
    ASSERT_EQ(r.data->capacity, 102400);
    EXPECT_TRUE(std::all_of(r.data->buf, r.data->buf + 102400, [](char c) { return c == 0; }));
    char byte = 'x';
    EXPECT_EQ(on_curl_recv_data(nullptr, 1, 1, r.data), 0u);
    EXPECT_EQ(on_curl_recv_data(&byte, 1, 1, nullptr), 0u);
    EXPECT_EQ(r.data->length, 0);

    // The doubling past the signed 32-bit range counts as a failed
    // allocation and leaves the buffer as it was. The record only claims
    // that size: the growth is refused before the block is touched.
    ASSERT_EQ(on_curl_recv_data(&byte, 1, 1, r.data), 1u);
    char* const real_buf = r.data->buf;
    r.data->capacity = 1677721600;
    r.data->length = 1677721600 - 8;
    char chunk[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(on_curl_recv_data(chunk, 1, sizeof(chunk), r.data), 0u);
    EXPECT_EQ(r.data->capacity, 1677721600);
    EXPECT_EQ(r.data->length, 1677721600 - 8);
    EXPECT_EQ(r.data->buf, real_buf);
    r.data->capacity = 102400;
    r.data->length = 1;

    // Written once the marker after them is on disk.
    qn::log::Info() << "-- marker --" << "\n";
    const std::string log = qntest::log_path(config.path());
    ASSERT_FALSE(qntest::wait_for_log_line(log, "-- marker --", 10000).empty());
    Lines records;
    for (const std::string& line : qntest::log_lines_containing(log, "on_curl_recv_data")) {
        records.push_back(std::to_string(qntest::record_level(line)) + " " +
                          qntest::record_text(line));
    }
    EXPECT_EQ(records, (Lines{"35 on_curl_recv_data -- ptr == NULL",
                              "35 on_curl_recv_data -- stream == NULL",
                              "35 on_curl_recv_data-- on_curl_recv_data"}));
}

TEST(Internals, FieldIntTakesIntegersOnly) {
    json_object* obj = json_tokener_parse(
        R"({"time_out": 30, "neg": -4, "dbl": 1.5, "str": "30", "yes": true, "nul": null,
            "big": 99999999999, "small": -99999999999, "arr": [1]})");
    ASSERT_NE(obj, nullptr);
    const std::pair<const char*, int> cases[] = {
        {"time_out", 30}, {"neg", -4}, {"missing", 7}, {"dbl", 7},        {"str", 7},
        {"yes", 7},       {"nul", 7},  {"arr", 7},     {"big", INT_MAX}, {"small", INT_MIN}};
    for (const auto& [key, want] : cases) {
        EXPECT_EQ(json_object_get_field_int(obj, key, 7), want) << key;
    }
    EXPECT_EQ(json_object_get_field_int(nullptr, "time_out", 7), 7);
    EXPECT_EQ(json_object_get_field_int(json_object_object_get(obj, "arr"), "time_out", 7), 7);
    json_object_put(obj);

    EXPECT_EQ(qn::submit::param_ex_time_out(nullptr), 20000);
    EXPECT_EQ(qn::submit::param_ex_time_out("not json"), 20000);
    EXPECT_EQ(qn::submit::param_ex_time_out("{}"), 20000);
    EXPECT_EQ(qn::submit::param_ex_time_out(R"({"time_out": 45, "headers": []})"), 45);
}

TEST(Internals, DigestModeKeepsCredentialsOffTheHeaderList) {
    CLibcurlWrapper& api = CLibcurlWrapper::instance();
    const char* const doc = R"({"headers":["X-A: 1", 42, "auth_digest", "auth_digestX: 2",
                                "Auth_digest:c:d", "auth_digest:user:pa:ss", "X-B: 3"]})";
    // The lines named exactly "auth_digest" set the credentials instead
    // (after the first colon; the last one wins).
    CURL* curl = api.curl_easy_init();
    ASSERT_NE(curl, nullptr);
    qn::curl::StringList headers;
    const AuthDigestMode mode = AuthDigestMode::kDigestCredentials;
    ASSERT_EQ(qn::submit::add_param_ex_headers(doc, headers, mode, curl),
              qn::submit::ParamDocOutcome::kOk);
    Lines lines;
    for (const curl_slist* l = headers.get(); l != nullptr; l = l->next) lines.push_back(l->data);
    EXPECT_EQ(lines, (Lines{"X-A: 1", "42", "auth_digestX: 2", "Auth_digest:c:d", "X-B: 3"}));

    // The credentials drive a real Digest exchange.
    RawHttpServer server([](RawConnection& c) {
        c.send(c.request().has_header("Authorization")
                   ? RawHttpServer::response(200, "in")
                   : RawHttpServer::response(401, "", {"WWW-Authenticate: Digest realm=\"qn\", "
                                                       "nonce=\"abc\", qop=\"auth\""}));
    });
    server.start();
    const std::string url = server.url("/private");
    RecvData r;
    api.curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    api.curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    api.curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &on_curl_recv_data);
    api.curl_easy_setopt(curl, CURLOPT_WRITEDATA, r.data);
    api.curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
    EXPECT_EQ(api.curl_easy_perform(curl), CURLE_OK);
    api.curl_easy_cleanup(curl);
    EXPECT_STREQ(r.data->buf, "in");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string auth = requests[1].header("Authorization");
    EXPECT_EQ(auth.rfind("Digest username=\"user\", realm=\"qn\"", 0), 0u) << auth;
}
