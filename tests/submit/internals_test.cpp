// The receive buffer, the option document and the export guard from the
// inside: the growth rule of on_curl_recv_data at its edges,
// json_object_get_field_int, the Digest mode of the header procedure against
// a server that asks for Digest credentials, and what the guard lets through.
#include <gtest/gtest.h>

#include <json-c/json.h>

#include <algorithm>
#include <climits>
#include <stdexcept>
#include <string>
#include <vector>

#include "api/export_guard.h"
#include "curl/libcurl_wrapper.h"
#include "curl/transfer.h"
#include "file_server.h"
#include "log_file.h"
#include "raw_http_server.h"
#include "submit/param_doc.h"
#include "submit/recv_data.h"
#include "temp_dir.h"

using qntest::RawConnection;
using qntest::RawHttpServer;
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

TEST(ReceiveBuffer, GrowsByDoublingUntilTheChunkAndItsTerminatorFit) {
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
        ASSERT_EQ(r.data->capacity, 102400);
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

TEST_F(Internals, ReceiveBufferRefusalsAbortTheTransferAndKeepTheBuffer) {
    RecvData r;
    char one = 'x';  // not "byte": the Windows headers declare that type
    ASSERT_EQ(on_curl_recv_data(&one, 1, 1, r.data), 1u);
    EXPECT_EQ(on_curl_recv_data(nullptr, 1, 1, r.data), 0u);
    EXPECT_EQ(on_curl_recv_data(&one, 1, 1, nullptr), 0u);
    // The doubling past the signed 32-bit range counts as a failed
    // allocation. The record only claims that size: the growth is refused
    // before the block is touched.
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
    EXPECT_EQ(log_.records(), (Lines{"35 on_curl_recv_data -- ptr == NULL", "35 on_curl_recv_data -- stream == NULL",
                                     "35 on_curl_recv_data-- on_curl_recv_data"}));
}

TEST(OptionDocument, FieldIntTakesIntegersOnly) {
    json_object* obj = json_tokener_parse(
        R"({"time_out": 30, "neg": -4, "dbl": 1.5, "str": "30", "yes": true, "nul": null,
            "big": 99999999999, "small": -99999999999, "arr": [1]})");
    ASSERT_NE(obj, nullptr);
    const std::pair<const char*, int> cases[] = {
        {"time_out", 30}, {"neg", -4}, {"missing", 7}, {"dbl", 7},        {"str", 7},
        {"yes", 7},       {"nul", 7},  {"arr", 7},     {"big", INT_MAX}, {"small", INT_MIN}};
    for (const auto& [key, want] : cases) EXPECT_EQ(json_object_get_field_int(obj, key, 7), want) << key;
    EXPECT_EQ(json_object_get_field_int(nullptr, "time_out", 7), 7);
    EXPECT_EQ(json_object_get_field_int(json_object_object_get(obj, "arr"), "time_out", 7), 7);
    json_object_put(obj);

    for (const char* absent : {static_cast<const char*>(nullptr), "not json", "{}"}) {
        EXPECT_EQ(qn::submit::param_ex_time_out(absent), 20000);
    }
    EXPECT_EQ(qn::submit::param_ex_time_out(R"({"time_out": 45, "headers": []})"), 45);
}

TEST(OptionDocument, DigestModeKeepsCredentialsOffTheHeaderList) {
    CLibcurlWrapper& api = CLibcurlWrapper::instance();
    const char* const doc = R"({"headers":["X-A: 1", 42, "auth_digest", "auth_digestX: 2",
                                "Auth_digest:c:d", "auth_digest:user:pa:ss", "X-B: 3"]})";
    // The lines named exactly "auth_digest" set the credentials instead
    // (after the first colon; the last one wins).
    qn::curl::Transfer transfer;
    CURL* curl = transfer.easy();
    ASSERT_NE(curl, nullptr);
    ASSERT_EQ(qn::submit::add_param_ex_headers(doc, transfer.headers(), qn::submit::AuthDigestMode::kDigestCredentials,
                                               curl),
              qn::submit::ParamDocOutcome::kOk);
    Lines lines;
    for (const curl_slist* l = transfer.headers().get(); l != nullptr; l = l->next) lines.push_back(l->data);
    EXPECT_EQ(lines, (Lines{"X-A: 1", "42", "auth_digestX: 2", "Auth_digest:c:d", "X-B: 3"}));

    if (!qntest::libcurl_answers_digest()) GTEST_SKIP() << "Digest through SSPI: not in Wine";
    // The credentials drive a real Digest exchange.
    RawHttpServer server([](RawConnection& c) {
        c.send(!c.request().header("Authorization").empty()
                   ? RawHttpServer::response(200, "in")
                   : RawHttpServer::response(401, "", {"WWW-Authenticate: Digest realm=\"qn\", nonce=\"abc\", qop=\"auth\""}));
    });
    server.start();
    const std::string url = server.url("/private");
    RecvData r;
    qn::curl::RequestOptions options;
    options.url = url.c_str();
    options.timeout = 20;
    options.write_function = &on_curl_recv_data;
    options.write_data = r.data;
    qn::curl::setup_request(curl, options);
    transfer.use_headers();
    EXPECT_EQ(api.curl_easy_perform(curl), CURLE_OK);
    EXPECT_STREQ(r.data->buf, "in");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string auth = requests[1].header("Authorization");
    EXPECT_EQ(auth.rfind("Digest username=\"user\", realm=\"qn\"", 0), 0u) << auth;
}

TEST_F(Internals, ExportGuardTurnsExceptionsIntoTheFailureValueButLetsLoadFailuresThrough) {
    EXPECT_EQ(qn::api::guarded("quillnet_x", -1, []() -> int { throw std::bad_alloc(); }), -1);
    EXPECT_EQ(qn::api::guarded("quillnet_y", 0, []() -> int { throw std::system_error(EAGAIN, std::generic_category()); }),
              0);
    EXPECT_EQ(qn::api::guarded("quillnet_z", -1, []() -> int { throw 42; }), -1);
    EXPECT_EQ(qn::api::guarded("quillnet_ok", -1, [] { return 7; }), 7);
    EXPECT_THROW(qn::api::guarded("quillnet_startup", 0, []() -> int { throw CLibcurlLoadError("Failed to load libcurl"); }),
                 std::runtime_error);
    const Lines records = log_.records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0], "35 quillnet_x: out of memory");
    EXPECT_EQ(records[1].rfind("35 quillnet_y: ", 0), 0u) << records[1];
    EXPECT_EQ(records[2], "35 quillnet_z: unknown exception");
}
