// The receive buffer and the option document from the inside: the growth
// rule of on_curl_recv_data at its edges, json_object_get_field_int, and
// the header procedure in both of its modes, Digest mode against a real
// server that asks for Digest credentials.
#include <gtest/gtest.h>

#include <json-c/json.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "curl/libcurl_wrapper.h"
#include "log/log_record.h"
#include "log_file.h"
#include "raw_http_server.h"
#include "submit/param_doc.h"
#include "submit/recv_data.h"
#include "temp_dir.h"

using qn::submit::AuthDigestMode;
using qn::submit::ParamDocOutcome;
using qntest::RawConnection;
using qntest::RawHttpServer;

namespace {

class Internals : public ::testing::Test {
protected:
    void SetUp() override { qntest::use_config_dir(config_.path()); }

    // Records containing `needle`, after everything logged so far is on disk.
    std::vector<std::string> records(const std::string& needle) {
        const std::string marker = "-- marker " + std::to_string(++markers_) + " --";
        qn::log::Info() << marker << "\n";
        const std::string log = qntest::log_path(config_.path());
        EXPECT_FALSE(qntest::wait_for_log_line(log, marker, 10000).empty());
        std::vector<std::string> out;
        for (const std::string& line : qntest::log_lines_containing(log, needle)) {
            out.push_back(std::to_string(qntest::record_level(line)) + " " + qntest::record_text(line));
        }
        return out;
    }

    qntest::TempDir config_;
    int markers_ = 0;
};

struct RecvData {
    RecvData() : data(recv_data_create(nullptr)) {}
    ~RecvData() { recv_data_free(data, false); }
    recv_data* data;
};

std::vector<std::string> lines_of(const curl_slist* list) {
    std::vector<std::string> out;
    for (; list != nullptr; list = list->next) out.push_back(list->data);
    return out;
}

struct HeaderList {
    ~HeaderList() {
        if (list != nullptr) CLibcurlWrapper::instance().curl_slist_free_all(list);
    }
    curl_slist* list = nullptr;
};

}  // namespace

// ---- receive buffer ----------------------------------------------------

TEST_F(Internals, ChunksOf16384GrowByDoubling) {
    RecvData r;
    std::string chunk(16384, 'x');
    size_t total = 0;
    while (total < 300000) {
        const size_t n = std::min<size_t>(16384, 300000 - total);
        for (size_t i = 0; i < n; ++i) chunk[i] = static_cast<char>('a' + (total + i) % 26);
        ASSERT_EQ(on_curl_recv_data(chunk.data(), 1, n, r.data), n);
        total += n;
    }
    EXPECT_EQ(r.data->capacity, 409600);
    EXPECT_EQ(r.data->length, 300000);
    EXPECT_EQ(r.data->buf[300000], '\0');
    for (int i = 0; i < 300000; ++i) ASSERT_EQ(r.data->buf[i], static_cast<char>('a' + i % 26)) << i;
}

TEST_F(Internals, TheTerminatorNeedsRoom) {
    // One byte less than the free space fits as it is ...
    RecvData a;
    std::string fits(102399, 'f');
    ASSERT_EQ(on_curl_recv_data(fits.data(), 1, fits.size(), a.data), fits.size());
    EXPECT_EQ(a.data->capacity, 102400);
    EXPECT_EQ(a.data->buf[102399], '\0');

    // ... exactly the free space makes the block double first.
    RecvData b;
    std::string full(102400, 'g');
    ASSERT_EQ(on_curl_recv_data(full.data(), 4, full.size() / 4, b.data), full.size());
    EXPECT_EQ(b.data->capacity, 204800);
    EXPECT_EQ(b.data->length, 102400);
    EXPECT_EQ(b.data->buf[102400], '\0');

    // A chunk larger than a single doubling can hold doubles until it fits.
    RecvData c;
    std::string big(500000, 'h');
    ASSERT_EQ(on_curl_recv_data(big.data(), 1, big.size(), c.data), big.size());
    EXPECT_EQ(c.data->capacity, 819200);
    EXPECT_EQ(c.data->length, 500000);
    EXPECT_EQ(std::string(c.data->buf, 500000), big);
}

TEST_F(Internals, RefusalsAbortTheTransfer) {
    RecvData r;
    char byte = 'x';
    EXPECT_EQ(on_curl_recv_data(nullptr, 1, 1, r.data), 0u);
    EXPECT_EQ(on_curl_recv_data(&byte, 1, 1, nullptr), 0u);
    EXPECT_EQ(r.data->length, 0);

    // At the ceiling the next doubling would leave the signed 32-bit range:
    // it counts as a failed allocation, and the buffer stays as it was. The
    // record only claims the size here; nothing beyond the real block is
    // touched because the growth is refused first.
    ASSERT_EQ(on_curl_recv_data(&byte, 1, 1, r.data), 1u);
    const int32_t real_capacity = r.data->capacity;
    char* const real_buf = r.data->buf;
    r.data->capacity = 1677721600;
    r.data->length = 1677721600 - 8;
    char chunk[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(on_curl_recv_data(chunk, 1, sizeof(chunk), r.data), 0u);
    EXPECT_EQ(r.data->capacity, 1677721600);
    EXPECT_EQ(r.data->length, 1677721600 - 8);
    EXPECT_EQ(r.data->buf, real_buf);
    r.data->capacity = real_capacity;
    r.data->length = 1;
    EXPECT_EQ(r.data->buf[0], 'x');

    EXPECT_EQ(records("on_curl_recv_data"),
              (std::vector<std::string>{"35 on_curl_recv_data -- ptr == NULL",
                                        "35 on_curl_recv_data -- stream == NULL",
                                        "35 on_curl_recv_data-- on_curl_recv_data"}));
}

TEST_F(Internals, RealTransferIn16384BytePieces) {
    std::string body(300000, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i % 251);
    RawHttpServer server([&](RawConnection& c) {
        c.send_in_pieces(RawHttpServer::response(200, body), 16384);
    });
    server.start();

    CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
    CURL* curl = curl_api.curl_easy_init();
    ASSERT_NE(curl, nullptr);
    RecvData r;
    const std::string url = server.url("/bytes");
    curl_api.curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_api.curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &on_curl_recv_data);
    curl_api.curl_easy_setopt(curl, CURLOPT_WRITEDATA, r.data);
    curl_api.curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    EXPECT_EQ(curl_api.curl_easy_perform(curl), CURLE_OK);
    curl_api.curl_easy_cleanup(curl);
    EXPECT_EQ(r.data->capacity, 409600);
    ASSERT_EQ(r.data->length, 300000);
    EXPECT_EQ(r.data->buf[300000], '\0');
    EXPECT_TRUE(std::string(r.data->buf, 300000) == body);
}

// ---- json_object_get_field_int -----------------------------------------

TEST_F(Internals, FieldIntTakesIntegersOnly) {
    json_object* obj = json_tokener_parse(
        R"({"time_out": 30, "neg": -4, "dbl": 1.5, "str": "30", "yes": true, "nul": null,
            "big": 99999999999, "small": -99999999999, "arr": [1]})");
    ASSERT_NE(obj, nullptr);
    EXPECT_EQ(json_object_get_field_int(obj, "time_out", 20000), 30);
    EXPECT_EQ(json_object_get_field_int(obj, "neg", 20000), -4);
    EXPECT_EQ(json_object_get_field_int(obj, "missing", 20000), 20000);
    EXPECT_EQ(json_object_get_field_int(obj, "dbl", 20000), 20000);
    EXPECT_EQ(json_object_get_field_int(obj, "str", 20000), 20000);
    EXPECT_EQ(json_object_get_field_int(obj, "yes", 20000), 20000);
    EXPECT_EQ(json_object_get_field_int(obj, "nul", 20000), 20000);
    EXPECT_EQ(json_object_get_field_int(obj, "arr", 20000), 20000);
    EXPECT_EQ(json_object_get_field_int(obj, "big", 0), 2147483647);
    EXPECT_EQ(json_object_get_field_int(obj, "small", 0), -2147483647 - 1);
    EXPECT_EQ(json_object_get_field_int(nullptr, "time_out", 7), 7);
    json_object* arr = json_object_object_get(obj, "arr");
    EXPECT_EQ(json_object_get_field_int(arr, "time_out", 7), 7);
    json_object_put(obj);

    EXPECT_EQ(qn::submit::param_ex_time_out(nullptr), 20000);
    EXPECT_EQ(qn::submit::param_ex_time_out("not json"), 20000);
    EXPECT_EQ(qn::submit::param_ex_time_out("{}"), 20000);
    EXPECT_EQ(qn::submit::param_ex_time_out(R"({"time_out": 45, "headers": []})"), 45);
}

// ---- the header procedure ----------------------------------------------

TEST_F(Internals, HeaderLinesAndOutcomes) {
    HeaderList h;
    ASSERT_TRUE(qn::submit::append_header_line(&h.list, "Accept-Charset: utf-8"));
    EXPECT_EQ(qn::submit::add_param_ex_headers(
                  R"({"headers":["A: 1", null, 42, {"o":1}, "auth_digest:u:p", "B: 2"]})", &h.list,
                  AuthDigestMode::kSendAsHeader, nullptr),
              ParamDocOutcome::kOk);
    EXPECT_EQ(lines_of(h.list),
              (std::vector<std::string>{"Accept-Charset: utf-8", "A: 1", "42", "{ \"o\": 1 }",
                                        "auth_digest:u:p", "B: 2"}));

    HeaderList untouched;
    EXPECT_EQ(qn::submit::add_param_ex_headers("{oops", &untouched.list,
                                               AuthDigestMode::kSendAsHeader, nullptr),
              ParamDocOutcome::kUnparsable);
    EXPECT_EQ(qn::submit::add_param_ex_headers(nullptr, &untouched.list,
                                               AuthDigestMode::kSendAsHeader, nullptr),
              ParamDocOutcome::kUnparsable);
    EXPECT_EQ(qn::submit::add_param_ex_headers(R"({"Headers":["A: 1"]})", &untouched.list,
                                               AuthDigestMode::kSendAsHeader, nullptr),
              ParamDocOutcome::kNoHeaders);
    EXPECT_EQ(qn::submit::add_param_ex_headers(R"({"headers":"A: 1"})", &untouched.list,
                                               AuthDigestMode::kSendAsHeader, nullptr),
              ParamDocOutcome::kNoHeaders);
    EXPECT_EQ(qn::submit::add_param_ex_headers(R"(["A: 1"])", &untouched.list,
                                               AuthDigestMode::kSendAsHeader, nullptr),
              ParamDocOutcome::kNoHeaders);
    EXPECT_EQ(qn::submit::add_param_ex_headers(R"({"headers":[]})", &untouched.list,
                                               AuthDigestMode::kSendAsHeader, nullptr),
              ParamDocOutcome::kOk);
    EXPECT_EQ(untouched.list, nullptr);

    EXPECT_EQ(records("is_error("),
              (std::vector<std::string>{"30 is_error(jso_header)", "30 is_error(jso)",
                                        "30 is_error(jso)", "30 is_error(jso_headers)",
                                        "30 is_error(jso_headers)", "30 is_error(jso_headers)"}));
}

TEST_F(Internals, DigestModeKeepsCredentialsOffTheHeaderList) {
    CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
    CURL* curl = curl_api.curl_easy_init();
    ASSERT_NE(curl, nullptr);
    HeaderList h;
    EXPECT_EQ(qn::submit::add_param_ex_headers(
                  R"({"headers":["X-A: 1", "auth_digest", "auth_digestX: 2", "Auth_digest:c:d",
                                  "auth_digest:user:pa:ss", "X-B: 3"]})",
                  &h.list, AuthDigestMode::kDigestCredentials, curl),
              ParamDocOutcome::kOk);
    // Only the exact name counts; the last one given wins on the handle.
    EXPECT_EQ(lines_of(h.list),
              (std::vector<std::string>{"X-A: 1", "auth_digestX: 2", "Auth_digest:c:d", "X-B: 3"}));

    // The credentials drive a real Digest exchange.
    RawHttpServer server([](RawConnection& c) {
        if (!c.request().has_header("Authorization")) {
            c.send(RawHttpServer::response(
                401, "", {"WWW-Authenticate: Digest realm=\"qn\", nonce=\"abc123\", qop=\"auth\""}));
        } else {
            c.send(RawHttpServer::response(200, "in"));
        }
    });
    server.start();
    const std::string url = server.url("/private");
    RecvData r;
    curl_api.curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_api.curl_easy_setopt(curl, CURLOPT_HTTPHEADER, h.list);
    curl_api.curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &on_curl_recv_data);
    curl_api.curl_easy_setopt(curl, CURLOPT_WRITEDATA, r.data);
    curl_api.curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
    EXPECT_EQ(curl_api.curl_easy_perform(curl), CURLE_OK);
    long code = 0;
    curl_api.curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    curl_api.curl_easy_cleanup(curl);
    EXPECT_EQ(code, 200);
    EXPECT_STREQ(r.data->buf, "in");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string auth = requests[1].header("Authorization");
    EXPECT_EQ(auth.compare(0, 7, "Digest "), 0) << auth;
    EXPECT_NE(auth.find("username=\"user\""), std::string::npos) << auth;
    EXPECT_NE(auth.find("realm=\"qn\""), std::string::npos) << auth;
    for (const auto& req : requests) {
        EXPECT_EQ(req.header("X-A"), "1");
        EXPECT_EQ(req.header("X-B"), "3");
        // Only the line whose name differs in case went out.
        std::vector<std::string> digest_lines;
        for (const std::string& line : req.header_lines()) {
            if (line.compare(0, 11, "auth_digest") == 0 || line.compare(0, 11, "Auth_digest") == 0) {
                digest_lines.push_back(line);
            }
        }
        EXPECT_EQ(digest_lines, (std::vector<std::string>{"auth_digestX: 2", "Auth_digest:c:d"}));
    }
}
