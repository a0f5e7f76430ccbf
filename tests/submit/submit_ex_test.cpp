// quillnet_submit_ex2 to quillnet_submit_ex7 against real loopback servers
// (plain HTTP, HTTPS with a certificate made here, and FTP): methods,
// content types, the option document, status and redirect target, cookies,
// and the failures.
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "ftp_server.h"
#include "http_server.h"
#include "https_server.h"
#include "submit_fixture.h"

using qntest::Body;
using qntest::RawConnection;
using qntest::RawHttpServer;
using qntest::RawRequest;

namespace {

class ExtendedSubmit : public qntest::SubmitTest {
protected:
    // ex4 with a fresh body, against the raw server; returns the result.
    int submit4(const std::string& path, int submit_type, int conten_type, const char* param_ex,
                const char* content = "payload") {
        Body body;
        return quillnet_submit_ex4(raw_.url(path).c_str(), 10, content, 0, submit_type, conten_type,
                                   param_ex, &body.ptr, &body.len);
    }
    RawRequest last() {
        const auto requests = raw_.requests();
        EXPECT_FALSE(requests.empty());
        return requests.empty() ? RawRequest() : requests.back();
    }

    RawHttpServer raw_{qntest::answer("ok")};
};

}  // namespace

TEST_F(ExtendedSubmit, MethodCodes) {
    raw_.start();
    ASSERT_EQ(submit4("/get", 1, 1, nullptr), 0);
    RawRequest get = last();
    EXPECT_EQ(get.method(), "GET");
    EXPECT_EQ(get.body, "");
    EXPECT_FALSE(get.has_header("Content-Length"));

    ASSERT_EQ(submit4("/post", 2, 1, nullptr), 0);
    EXPECT_EQ(last().method(), "POST");
    EXPECT_EQ(last().body, "payload");

    ASSERT_EQ(submit4("/put", 4, 1, nullptr), 0);
    EXPECT_EQ(last().method(), "PUT");
    EXPECT_EQ(last().body, "payload");

    ASSERT_EQ(submit4("/delete", 5, 1, nullptr), 0);
    EXPECT_EQ(last().method(), "DELETE");
    EXPECT_EQ(last().body, "payload");

    // Unknown codes set no method: libcurl's GET, and the body stays home.
    ASSERT_EQ(submit4("/three", 3, 1, nullptr), 0);
    EXPECT_EQ(last().method(), "GET");
    EXPECT_EQ(last().body, "");
    ASSERT_EQ(submit4("/other", 77, 1, nullptr), 0);
    EXPECT_EQ(last().method(), "GET");
    EXPECT_EQ(record("submit_type = 3"), 25);
    EXPECT_EQ(record("submit_type = 77"), 25);
    EXPECT_EQ(records_containing("submit_type = ").size(), 2u);
}

TEST_F(ExtendedSubmit, ContentTypeCodes) {
    raw_.start();
    ASSERT_EQ(submit4("/form", 2, 0, nullptr), 0);
    EXPECT_EQ(last().header("Content-Type"), "application/x-www-form-urlencoded");
    ASSERT_EQ(submit4("/json", 2, 1, nullptr), 0);
    EXPECT_EQ(last().header("Content-Type"), "application/json");
    ASSERT_EQ(submit4("/plain", 2, 9, nullptr), 0);
    EXPECT_EQ(last().header("Content-Type"), "text/plain");
    // Code 2: the document's lines and no content-type line of the
    // library's own, so libcurl's default for a POST stays.
    ASSERT_EQ(submit4("/doc", 2, 2, R"({"headers":["X-Trace: 7"]})"), 0);
    EXPECT_EQ(last().header("X-Trace"), "7");
    EXPECT_EQ(last().header("Content-Type"), "application/x-www-form-urlencoded");

    EXPECT_EQ(record("CONTENT_APP_STANDARD conten_type:0"), 25);
    EXPECT_EQ(record("unknown conten_type:9"), 25);
}

TEST_F(ExtendedSubmit, ShortVariantsFillTheirDefaults) {
    raw_.start();
    Body a;
    // ex2: the form content type, logged on every call.
    ASSERT_EQ(quillnet_submit_ex2(raw_.url("/ex2").c_str(), 10, "k=v", 0, 2, &a.ptr, &a.len), 0);
    EXPECT_EQ(last().method(), "POST");
    EXPECT_EQ(last().body, "k=v");
    EXPECT_EQ(last().header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(record("CONTENT_APP_STANDARD conten_type:0"), 25);

    // ex3 takes the content type before the method: (1, 2) is a JSON POST.
    Body b;
    ASSERT_EQ(quillnet_submit_ex3(raw_.url("/ex3").c_str(), 10, "{}", 0, 1, 2, &b.ptr, &b.len), 0);
    EXPECT_EQ(last().method(), "POST");
    EXPECT_EQ(last().header("Content-Type"), "application/json");
    // ... and (2, 1) asks for document lines that ex3 cannot pass.
    Body c;
    EXPECT_EQ(quillnet_submit_ex3(raw_.url("/ex3doc").c_str(), 10, "{}", 0, 2, 1, &c.ptr, &c.len), -1);
    EXPECT_EQ(c.len, 0);
    EXPECT_EQ(c.ptr, nullptr);
    EXPECT_EQ(record("param_ex == NULL"), 30);
    EXPECT_EQ(raw_.requests().size(), 2u);
}

TEST_F(ExtendedSubmit, DocumentLinesFollowTheDefaultLinesInArrayOrder) {
    raw_.start();
    ASSERT_EQ(submit4("/order", 2, 2,
                      R"({"headers":["X-First: 1", null, "X-Second: 2", "auth_digest:user:pw"],
                          "time_out": 3, "other": true})"),
              0);
    const auto lines = last().header_lines();
    const int charset = qntest::line_index(lines, "Accept-Charset: utf-8");
    ASSERT_GE(charset, 0) << last().head;
    EXPECT_EQ(qntest::line_index(lines, "Accept-Encoding: utf-8"), charset + 1);
    EXPECT_EQ(qntest::line_index(lines, "X-First: 1"), charset + 2);
    EXPECT_EQ(qntest::line_index(lines, "X-Second: 2"), charset + 3);
    // A submit sends "auth_digest" as an ordinary line.
    EXPECT_EQ(qntest::line_index(lines, "auth_digest:user:pw"), charset + 4);
    EXPECT_FALSE(last().has_header("Authorization"));
    EXPECT_EQ(record("is_error(jso_header)"), 30);
    EXPECT_EQ(records_containing("is_error(jso_header)").size(), 1u);
}

TEST_F(ExtendedSubmit, DocumentsThatAbandonTheRequest) {
    raw_.start();
    const char* broken[] = {"{not json", "{}", R"({"headers":"X-A: 1"})", R"({"headers":{"a":1}})"};
    for (const char* doc : broken) {
        Body body;
        EXPECT_EQ(quillnet_submit_ex4(raw_.url("/never").c_str(), 10, "x", 0, 2, 2, doc, &body.ptr,
                                      &body.len),
                  -1)
            << doc;
        EXPECT_EQ(body.len, 0) << doc;
        EXPECT_EQ(body.ptr, nullptr) << doc;
    }
    EXPECT_TRUE(raw_.requests().empty());
    EXPECT_EQ(record("is_error(jso)"), 30);
    EXPECT_EQ(record("is_error(jso_headers)"), 30);
    EXPECT_EQ(records_containing("is_error(jso_headers)").size(), 3u);
    EXPECT_TRUE(records_containing("perform ret:").empty());
}

TEST_F(ExtendedSubmit, DocumentsThatDoNotAbandonTheRequest) {
    raw_.start();
    // An empty array: the two default lines only (a GET, so that libcurl
    // adds no body lines after them).
    ASSERT_EQ(submit4("/empty", 1, 2, R"({"headers":[]})"), 0);
    auto lines = last().header_lines();
    const int charset = qntest::line_index(lines, "Accept-Charset: utf-8");
    ASSERT_GE(charset, 0);
    EXPECT_EQ(static_cast<size_t>(charset + 2), lines.size()) << last().head;

    // Elements that are not strings go out as their JSON text and never
    // stop the request.
    ASSERT_EQ(submit4("/number", 2, 2, R"({"headers":[42, {"X-Obj":1}, "X-After: yes"]})"), 0);
    EXPECT_GE(qntest::line_index(last().header_lines(), "{ \"X-Obj\": 1 }"), 0) << last().head;
    EXPECT_EQ(last().header("X-After"), "yes");
    EXPECT_TRUE(records_containing("header == NULL").empty());
}

TEST_F(ExtendedSubmit, StatusAndRedirectTarget) {
    RawHttpServer server([](RawConnection& c) {
        const std::string t = c.request().target();
        if (t == "/moved") {
            c.send(RawHttpServer::response(302, "see other", {"Location: /new/place?x=1"}));
        } else if (t == "/nolocation") {
            c.send(RawHttpServer::response(301, ""));
        } else {
            c.send(RawHttpServer::response(200, "here"));
        }
    });
    server.start();
    const std::string moved = server.url("/moved");

    long code = 0;
    char* target = nullptr;
    Body body;
    ASSERT_EQ(quillnet_submit_ex5(moved.c_str(), 10, "", 0, 1, 1, nullptr, &body.ptr, &body.len,
                                  &code, &target),
              0);
    EXPECT_EQ(code, 302);
    ASSERT_NE(target, nullptr);
    EXPECT_STREQ(target, server.url("/new/place?x=1").c_str());
    EXPECT_EQ(body.str(), "see other");  // not followed
    EXPECT_EQ(record("redirect_url :" + server.url("/new/place?x=1")), 25);
    quillnet_release_redirect_url(target);

    // Only one of the two out-parameters: neither is written.
    long only_code = -5;
    Body b2;
    ASSERT_EQ(quillnet_submit_ex5(moved.c_str(), 10, "", 0, 1, 1, nullptr, &b2.ptr, &b2.len,
                                  &only_code, nullptr),
              0);
    EXPECT_EQ(only_code, -5);
    char sentinel[] = "unchanged";
    char* only_target = sentinel;
    Body b3;
    ASSERT_EQ(quillnet_submit_ex5(moved.c_str(), 10, "", 0, 1, 1, nullptr, &b3.ptr, &b3.len,
                                  nullptr, &only_target),
              0);
    EXPECT_EQ(only_target, sentinel);

    // A 200 writes the status and leaves the target alone; so does a 3xx
    // without a Location.
    long ok_code = 0;
    char* ok_target = sentinel;
    Body b4;
    ASSERT_EQ(quillnet_submit_ex5(server.url("/plain").c_str(), 10, "", 0, 1, 1, nullptr, &b4.ptr,
                                  &b4.len, &ok_code, &ok_target),
              0);
    EXPECT_EQ(ok_code, 200);
    EXPECT_EQ(ok_target, sentinel);
    long bare_code = 0;
    Body b5;
    ASSERT_EQ(quillnet_submit_ex5(server.url("/nolocation").c_str(), 10, "", 0, 1, 1, nullptr,
                                  &b5.ptr, &b5.len, &bare_code, &ok_target),
              0);
    EXPECT_EQ(bare_code, 301);
    EXPECT_EQ(ok_target, sentinel);
}

TEST_F(ExtendedSubmit, CookiesSetByTheServer) {
    qntest::HttpServer server;
    server.server().Get("/login", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "sid=abc123; Path=/");
        res.set_header("Set-Cookie", "theme=dark; Path=/");
        res.set_content("welcome", "text/plain");
    });
    std::atomic<int> anon_served{0};  // the server's own record can lag behind its answer
    server.server().Get("/anon", [&](const httplib::Request&, httplib::Response& res) {
        ++anon_served;
        res.set_content("no cookies", "text/plain");
    });
    server.start();

    char* cookies = nullptr;
    int cookies_len = 0;
    Body body;
    ASSERT_EQ(quillnet_submit_ex6(server.url("/login").c_str(), 10, "", 0, 1, 1, nullptr, &body.ptr,
                                  &body.len, nullptr, nullptr, 1, &cookies, &cookies_len),
              0);
    EXPECT_EQ(body.str(), "welcome");
    ASSERT_NE(cookies, nullptr);
    const std::string sid = "127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\tabc123";
    const std::string theme = "127.0.0.1\tFALSE\t/\tFALSE\t0\ttheme\tdark";
    const std::string got(cookies);
    EXPECT_TRUE(got == sid + "\t" + theme + "\t" || got == theme + "\t" + sid + "\t") << got;
    EXPECT_EQ(cookies_len, static_cast<int>(sid.size() + theme.size() + 3));
    EXPECT_EQ(cookies_len, static_cast<int>(got.size() + 1));

    // The same block goes round again: it is grown, not leaked.
    Body again;
    ASSERT_EQ(quillnet_submit_ex6(server.url("/login").c_str(), 10, "", 0, 1, 1, nullptr, &again.ptr,
                                  &again.len, nullptr, nullptr, 1, &cookies, &cookies_len),
              0);
    EXPECT_EQ(std::string(cookies), got);
    quillnet_release(&cookies);

    // No cookie at all: -1, the body is discarded, the buffer untouched.
    char* none = nullptr;
    int none_len = 0;
    Body anon;
    EXPECT_EQ(quillnet_submit_ex6(server.url("/anon").c_str(), 10, "", 0, 1, 1, nullptr, &anon.ptr,
                                  &anon.len, nullptr, nullptr, 1, &none, &none_len),
              -1);
    EXPECT_EQ(anon.ptr, nullptr);
    EXPECT_EQ(anon.len, 10);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(none_len, 0);
    EXPECT_EQ(record("*cookie_buf_len <= 0"), 30);
    EXPECT_EQ(anon_served.load(), 1);

    // Asking for cookies without somewhere to put them.
    EXPECT_EQ(quillnet_submit_ex6(server.url("/anon").c_str(), 10, "", 0, 1, 1, nullptr, &anon.ptr,
                                  &anon.len, nullptr, nullptr, 1, nullptr, &none_len),
              -1);
    EXPECT_EQ(record("cookie_buf == NULL || cookie_buf_len == NULL"), 30);
    EXPECT_EQ(anon_served.load(), 1);
}

TEST_F(ExtendedSubmit, CookieHeaderSent) {
    raw_.start();
    Body body;
    ASSERT_EQ(quillnet_submit_ex7(raw_.url("/c").c_str(), 10, "", 0, 1, 1, nullptr, &body.ptr,
                                  &body.len, nullptr, nullptr, 0, nullptr, nullptr,
                                  "sid=abc; lang=en", nullptr),
              0);
    EXPECT_EQ(last().header("Cookie"), "sid=abc; lang=en");
    EXPECT_EQ(record("---------------need_set_cookie:---------------sid=abc; lang=en"), 25);
}

TEST_F(ExtendedSubmit, CurvesOverHttps) {
    qntest::HttpsServer server(config_.path());
    server.server().Post("/secure", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("secret:" + req.body, "text/plain");
    });
    server.start();
    const std::string url = server.url("/secure");

    Body good;
    ASSERT_EQ(quillnet_submit_ex7(url.c_str(), 10, "hello", 0, 2, 1, nullptr, &good.ptr, &good.len,
                                  nullptr, nullptr, 0, nullptr, nullptr, nullptr, "P-256"),
              0);
    EXPECT_EQ(good.str(), "secret:hello");  // self-signed: not verified by the submits
    EXPECT_EQ(record("---------------need_ssl_ec_curves:---------------P-256"), 25);

    // The list reaches the TLS layer: one it cannot use fails the handshake.
    Body bad;
    EXPECT_EQ(quillnet_submit_ex7(url.c_str(), 10, "hello", 0, 2, 1, nullptr, &bad.ptr, &bad.len,
                                  nullptr, nullptr, 0, nullptr, nullptr, nullptr, "no-such-curve"),
              -1);
    EXPECT_EQ(bad.ptr, nullptr);
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(ExtendedSubmit, NameOnlyFtpListing) {
    qntest::TempDir root;
    root.write("alpha.txt", "a");
    root.write("beta.bin", "bb");
    root.write("sub/inner.txt", "c");
    qntest::FtpServer ftp(root.path());
    ASSERT_TRUE(ftp.start());
    Body body;
    ASSERT_EQ(quillnet_submit_ex2(ftp.url("/").c_str(), 20, nullptr, 0, 6, &body.ptr, &body.len), 0);
    std::vector<std::string> names;
    std::string listing = body.str();
    size_t pos = 0;
    while (pos < listing.size()) {
        size_t end = listing.find('\n', pos);
        if (end == std::string::npos) end = listing.size();
        std::string name = listing.substr(pos, end - pos);
        if (!name.empty() && name.back() == '\r') name.pop_back();
        if (!name.empty()) names.push_back(name);
        pos = end + 1;
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"alpha.txt", "beta.bin", "sub"})) << listing;
    EXPECT_TRUE(records_containing("submit_type = ").empty());
}

TEST_F(ExtendedSubmit, ChecksAndTransferFailures) {
    Body body;
    EXPECT_EQ(quillnet_submit_ex7(nullptr, 10, "", 0, 2, 1, nullptr, &body.ptr, &body.len, nullptr,
                                  nullptr, 0, nullptr, nullptr, nullptr, nullptr),
              -1);
    EXPECT_EQ(quillnet_submit_ex4("http://127.0.0.1:1/", -3, "", 0, 2, 1, nullptr, &body.ptr,
                                  &body.len),
              -1);
    EXPECT_EQ(record("url == NULL"), 30);
    EXPECT_EQ(record("timeout < 0"), 30);

    // Nobody listens on the port: connection refused, and no body given.
    RawHttpServer closed(qntest::answer(""));
    closed.start();
    const std::string url = closed.url("/gone");
    closed.stop();
    int len = -1;
    EXPECT_EQ(quillnet_submit_ex4(url.c_str(), 10, "the content", 0, 2, 1, nullptr, nullptr, &len), -1);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(record("ret_buf == NULL"), 30);
    EXPECT_EQ(record("error: CLibcurlWrapper::instance().curl_easy_perform(curl)[" +
                     std::to_string(CURLE_COULDNT_CONNECT) + "] != CURLE_OK," + url + ",the content"),
              35);
}
