// quillnet_submit_common: the record checks, and how its pipeline differs
// from quillnet_submit_ex7 (no URL rewriting, its own content-type rules and
// log texts).
#include <curl/curl.h>

#include <string>

#include "https_server.h"
#include "submit_fixture.h"

using qntest::Body;
using qntest::RawConnection;
using qntest::RawHttpServer;
using qntest::RawRequest;

namespace {

class VersionedSubmit : public qntest::SubmitTest {
protected:
    void SetUp() override {
        SubmitTest::SetUp();
        param_.version = 0;
        param_.size = sizeof(QuillnetSubmitParam);
        param_.timeout = 10;
        param_.content = "body";
        param_.submit_type = 2;
        param_.conten_type = 1;
        ex_.size = sizeof(QuillnetSubmitParamEx);
        ex_.ret_buf = &body_.ptr;
        ex_.ret_buf_len = &body_.len;
    }
    RawRequest last() {
        const auto requests = raw_.requests();
        EXPECT_FALSE(requests.empty());
        return requests.empty() ? RawRequest() : requests.back();
    }

    RawHttpServer raw_{[](RawConnection& c) {
        const std::string t = c.request().target();
        if (t == "/moved") {
            c.send(RawHttpServer::response(307, "", {"Location: http://127.0.0.1:1/next"}));
        } else {
            c.send(RawHttpServer::response(200, "answer"));
        }
    }};
    QuillnetSubmitParam param_{};
    QuillnetSubmitParamEx ex_{};
    Body body_;
};

}  // namespace

TEST_F(VersionedSubmit, PostsLikeTheExtendedSubmit) {
    raw_.start();
    const std::string url = raw_.url("/v0");
    param_.url = url.c_str();
    ASSERT_EQ(quillnet_submit_common(&param_, &ex_), 0);
    EXPECT_EQ(body_.str(), "answer");
    const RawRequest req = last();
    EXPECT_EQ(req.method(), "POST");
    EXPECT_EQ(req.body, "body");
    const auto lines = req.header_lines();
    const int charset = qntest::line_index(lines, "Accept-Charset: utf-8");
    ASSERT_GE(charset, 0);
    EXPECT_EQ(qntest::line_index(lines, "Accept-Encoding: utf-8"), charset + 1);
    EXPECT_EQ(qntest::line_index(lines, "Content-Type: application/json"), charset + 2);
}

TEST_F(VersionedSubmit, RecordChecks) {
    const std::string url = "http://127.0.0.1:1/never";
    param_.url = url.c_str();
    EXPECT_EQ(quillnet_submit_common(nullptr, &ex_), -1);
    EXPECT_EQ(quillnet_submit_common(&param_, nullptr), -1);

    QuillnetSubmitParam no_url = param_;
    no_url.url = nullptr;
    EXPECT_EQ(quillnet_submit_common(&no_url, &ex_), -1);

    QuillnetSubmitParam negative = param_;
    negative.timeout = -1;
    EXPECT_EQ(quillnet_submit_common(&negative, &ex_), -1);

    QuillnetSubmitParamEx no_cookie_buf = ex_;
    no_cookie_buf.need_get_cookie = 1;
    EXPECT_EQ(quillnet_submit_common(&param_, &no_cookie_buf), -1);

    // Version 1 is refused even with both sizes right.
    QuillnetSubmitParam v1 = param_;
    v1.version = 1;
    EXPECT_EQ(quillnet_submit_common(&v1, &ex_), -1);
    QuillnetSubmitParam below = param_;
    below.version = -2;
    EXPECT_EQ(quillnet_submit_common(&below, &ex_), -1);

    // Sizes of some other record.
    QuillnetSubmitParam wrong_size = param_;
    wrong_size.size = sizeof(QuillnetSubmitParamEx);
    EXPECT_EQ(quillnet_submit_common(&wrong_size, &ex_), -1);
    QuillnetSubmitParamEx wrong_ex_size = ex_;
    wrong_ex_size.size = sizeof(QuillnetSubmitParam);
    EXPECT_EQ(quillnet_submit_common(&param_, &wrong_ex_size), -1);

    EXPECT_EQ(record("param == NULL"), 30);
    EXPECT_EQ(record("param_ex == NULL"), 30);
    EXPECT_EQ(record("param->url == NULL"), 30);
    EXPECT_EQ(record("timeout < 0"), 30);
    EXPECT_EQ(record("cookie_buf == NULL || cookie_buf_len == NULL"), 30);
    EXPECT_EQ(record("not support version:1 cur support version :0"), 35);
    EXPECT_EQ(record("param->version < 0"), 30);
    EXPECT_EQ(record("param->size != sizeof(QuillnetSubmitParam)"), 30);
    EXPECT_EQ(record("param_ex->size != sizeof(QuillnetSubmitParamEx)"), 30);
    EXPECT_TRUE(records_containing("perform ret:").empty());
    EXPECT_EQ(body_.ptr, nullptr);
    EXPECT_EQ(body_.len, -1);
}

TEST_F(VersionedSubmit, NullContentIsReplacedInTheCallersRecord) {
    raw_.start();
    const std::string url = raw_.url("/nocontent");
    param_.url = url.c_str();
    param_.content = nullptr;
    ex_.ret_buf = nullptr;  // logged; the request still runs
    int len = -1;
    ex_.ret_buf_len = &len;
    ASSERT_EQ(quillnet_submit_common(&param_, &ex_), 0);
    ASSERT_NE(param_.content, nullptr);
    EXPECT_STREQ(param_.content, "");
    EXPECT_EQ(len, 6);
    EXPECT_EQ(last().body, "");
    EXPECT_EQ(last().header("Content-Length"), "0");
    EXPECT_EQ(record("param_ex->ret_buf == NULL"), 30);
}

TEST_F(VersionedSubmit, ItsOwnCodeRules) {
    raw_.start();
    const std::string url = raw_.url("/codes");
    param_.url = url.c_str();

    // 0 is unknown here: no content-type line of the library's own.
    param_.conten_type = 0;
    ASSERT_EQ(quillnet_submit_common(&param_, &ex_), 0);
    EXPECT_EQ(last().header("Content-Type"), "application/x-www-form-urlencoded");
    size_t content_types = 0;
    for (const std::string& line : last().header_lines()) {
        content_types += line.compare(0, 13, "Content-Type:") == 0 ? 1 : 0;
    }
    EXPECT_EQ(content_types, 1u) << last().head;
    EXPECT_EQ(record("unknown param->conten_type:0"), 35);
    EXPECT_TRUE(records_containing("CONTENT_APP_STANDARD").empty());

    // 2 with a document: its lines.
    param_.conten_type = 2;
    ex_.param_ex = R"({"headers":["X-Doc: yes"]})";
    Body b2;
    ex_.ret_buf = &b2.ptr;
    ASSERT_EQ(quillnet_submit_common(&param_, &ex_), 0);
    EXPECT_EQ(last().header("X-Doc"), "yes");

    // 2 without one: abandoned before any traffic.
    ex_.param_ex = nullptr;
    const size_t before = raw_.requests().size();
    int len = -1;
    ex_.ret_buf_len = &len;
    EXPECT_EQ(quillnet_submit_common(&param_, &ex_), -1);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(raw_.requests().size(), before);
    EXPECT_EQ(record("param_ex->param_ex == NULL"), 30);

    // Method 6 is an unknown code here, so libcurl's GET.
    param_.conten_type = 1;
    param_.submit_type = 6;
    Body b3;
    ex_.ret_buf = &b3.ptr;
    ASSERT_EQ(quillnet_submit_common(&param_, &ex_), 0);
    EXPECT_EQ(last().method(), "GET");
    EXPECT_EQ(record("submit_type = 6"), 25);
}

TEST_F(VersionedSubmit, UrlIsUsedAsGiven) {
    qntest::HttpsServer tls(config_.path());
    tls.server().Post("/t", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("tls", "text/plain");
    });
    tls.start();
    // The table would send this plain-HTTP URL over HTTPS; the versioned
    // submit does not consult it, so it speaks plain HTTP to a TLS port.
    config_.write("Resource/Protocol.json",
                  "{\"127.0.0.1:" + std::to_string(tls.port()) + "\": \"https://\"}");
    const std::string url = "http://127.0.0.1:" + std::to_string(tls.port()) + "/t";
    param_.url = url.c_str();
    EXPECT_EQ(quillnet_submit_common(&param_, &ex_), -1);
    EXPECT_TRUE(tls.requests().empty());
    EXPECT_FALSE(records_containing("error: CLibcurlWrapper::instance().curl_easy_perform(curl)[")
                     .empty());
    EXPECT_EQ(records_containing("] != CURLE_OK, url:" + url + " content:body").size(), 1u);

    // The same URL through ex5 is rewritten and reaches the TLS server.
    Body rewritten;
    ASSERT_EQ(quillnet_submit_ex5(url.c_str(), 10, "body", 0, 2, 1, nullptr, &rewritten.ptr,
                                  &rewritten.len, nullptr, nullptr),
              0);
    EXPECT_EQ(rewritten.str(), "tls");
}

TEST_F(VersionedSubmit, RedirectAndCookies) {
    raw_.start();
    const std::string url = raw_.url("/moved");
    param_.url = url.c_str();
    long code = 0;
    char* target = nullptr;
    ex_.http_code = &code;
    ex_.redirect_url = &target;
    ASSERT_EQ(quillnet_submit_common(&param_, &ex_), 0);
    EXPECT_EQ(code, 307);
    ASSERT_NE(target, nullptr);
    EXPECT_STREQ(target, "http://127.0.0.1:1/next");
    EXPECT_EQ(record("param_ex->redirect_url http://127.0.0.1:1/next pcUrl:http://127.0.0.1:1/next"),
              30);
    quillnet_release_redirect_url(target);

    // The status alone is not written.
    long alone = -9;
    ex_.redirect_url = nullptr;
    ex_.http_code = &alone;
    Body b2;
    ex_.ret_buf = &b2.ptr;
    ASSERT_EQ(quillnet_submit_common(&param_, &ex_), 0);
    EXPECT_EQ(alone, -9);

    // Cookies asked for, none set: -1 and the body discarded.
    char* cookies = nullptr;
    int cookies_len = 0;
    ex_.need_get_cookie = 1;
    ex_.cookie_buf = &cookies;
    ex_.cookie_buf_len = &cookies_len;
    Body b3;
    ex_.ret_buf = &b3.ptr;
    EXPECT_EQ(quillnet_submit_common(&param_, &ex_), -1);
    EXPECT_EQ(b3.ptr, nullptr);
    EXPECT_EQ(cookies, nullptr);
    EXPECT_EQ(record("*cookie_buf_len <= 0"), 30);
}
