// The synchronous submits against loopback servers: what goes out, what comes back, what hostile input cannot do.
#include <curl/curl.h>

#include <tuple>

#include "harness.h"
#include "http_server.h"
#include "raw_http_server.h"
#include "submit_helpers.h"

using qntest::Body;
using qntest::Form;
using qntest::RawConnection;
using qntest::RawHttpServer;
using Lines = std::vector<std::string>;

namespace {

const std::string kCharset = "Accept-Charset: utf-8", kEncoding = "Accept-Encoding: utf-8",
                  kFailed = "35 error: CLibcurlWrapper::instance().curl_easy_perform(curl)[",
                  kForm = "application/x-www-form-urlencoded";

const std::string kLarge = qntest::pattern(300000);  // with zero bytes

void answer(RawConnection& c) {  // by path; "ok" for any other
    const std::string t = c.request().target();
    const Lines cookies = {"Set-Cookie: sid=abc123; Path=/", "Set-Cookie: theme=dark; Path=/"};
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: ";
    c.send(t == "/large"   ? RawHttpServer::response(200, kLarge)
           : t == "/drop"  ? head + "300000\r\n\r\n" + std::string(50000, 'z')  // closed 250000 bytes short
           : t == "/huge"  ? head + "1677721600\r\n\r\n" + std::string(65536, 'h')  // one byte over what the buffer holds
           : t == "/fail"  ? RawHttpServer::response(500, "<h1>broken</h1>")
           : t == "/empty" ? RawHttpServer::response(200, "")
           : t == "/moved" ? RawHttpServer::response(302, "see", {"Location: /new/place?x=1"})
           : t == "/bare"  ? RawHttpServer::response(301, "")
           : t == "/login" ? RawHttpServer::response(200, "welcome", cookies)
           : t == "/forge" ? RawHttpServer::response(200, "ok\n2020-01-01 00:00:00.000 [1] [35] FORGED\xff tail")
                           : RawHttpServer::response(200, "ok"),
           t == "/large" ? size_t{16384} : std::string::npos);
}

class Submit : public qntest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        server_.start();
        param_ex_.size = static_cast<int>(sizeof(param_ex_));
    }
    std::string url(const std::string& path) const { return server_.url(path); }
    qntest::RawRequest last() const {
        const auto r = server_.requests();
        return r.empty() ? qntest::RawRequest() : r.back();
    }
    Lines own_lines() const {  // the last request's header lines from the library's first one on
        Lines lines = last().header_lines();
        lines.erase(lines.begin(), std::find(lines.begin(), lines.end(), kCharset));
        return lines;
    }
    std::string said() const { return last().method() + " " + last().header("Content-Type") + " " + last().body; }

    RawHttpServer server_{answer};
    QuillnetSubmitParam param_{0, static_cast<int>(sizeof(QuillnetSubmitParam)), nullptr, 10, "body", 0, 2, 1};
    QuillnetSubmitParamEx param_ex_{};
};

}  // namespace

TEST_F(Submit, AnswersOfEveryStatusAndSizeComeBackWholeAndTerminated) {
    const std::pair<const char*, std::string> answers[] = {
        {"/ok", "ok"}, {"/fail", "<h1>broken</h1>"}, {"/large", kLarge}, {"/empty", ""}};
    for (const auto& [path, want] : answers) {
        Body b;
        ASSERT_EQ(quillnet_submit_ex(url(path).c_str(), 60, "a=1", 0, &b.ptr, &b.len), 0);
        ASSERT_EQ(b.len, static_cast<int>(want.size())) << path;
        EXPECT_TRUE(b.ptr[b.len] == '\0' && b.str() == want) << path;
    }
    EXPECT_EQ(said(), "POST " + kForm + " a=1");
    EXPECT_EQ(own_lines(), (Lines{kCharset, kEncoding, "Content-Length: 3", "Content-Type: " + kForm}));
    // NULL content is an empty POST; without a buffer the body is dropped but its length is still reported.
    int len = -1;
    EXPECT_EQ(quillnet_submit_ex(url("/ok").c_str(), 10, nullptr, 0, nullptr, &len), 0);
    EXPECT_EQ(std::to_string(len) + " " + last().header("Content-Length"), "2 0");
    EXPECT_EQ(log_.notes(), Lines{"25 ret_buf == NULL"});
    // An answer cannot forge or cut records: the break escaped, the bad byte replaced.
    Body forged;
    ASSERT_EQ(quillnet_submit(url("/forge").c_str(), 10, "q", 0, &forged.ptr), 0);
    EXPECT_STREQ(forged.ptr, "ok\n2020-01-01 00:00:00.000 [1] [35] FORGED\xff tail");
    EXPECT_EQ(log_.records("FORGED"), Lines{"25 by net == Req:q Rep:ok\\n2020-01-01 00:00:00.000 [1] [35] FORGED\xEF\xBF\xBD tail"});
}

TEST_F(Submit, TransferFailuresKeepTheCallersBufferAndAreLoggedPerFamily) {
    RawHttpServer silent([](RawConnection& c) { c.hold_until_stopped(); });
    silent.start();
    char sentinel[] = "untouched";
    char* ret = sentinel;
    int len = -1;
    EXPECT_EQ(quillnet_submit_ex(url("/drop").c_str(), 10, "body-text", 0, &ret, &len), -1);
    EXPECT_TRUE(ret == sentinel && len == 50000) << len;  // what arrived before the connection closed
    EXPECT_EQ(quillnet_submit_ex(silent.url("/s").c_str(), 1, "", 0, &ret, &len), -1);
    EXPECT_TRUE(ret == sentinel && len == 0) << len;
    len = -1;
    EXPECT_EQ(quillnet_submit_ex(url("/huge").c_str(), 10, "q", 0, &ret, &len), -1);  // refused from the head on
    EXPECT_TRUE(ret == sentinel && len == 0) << len;
    silent.stop();  // nobody listens any more: refused
    const std::string gone = silent.url("/s");
    EXPECT_EQ(quillnet_submit_ex4(gone.c_str(), 10, "text", 0, 2, 1, nullptr, &ret, &len), -1);
    Form form;
    EXPECT_EQ(quillnet_submit_multipart(gone.c_str(), 10, form.add(1, "k", "v").get(), 0, &ret, &len), -1);
    EXPECT_EQ(ret, sentinel);
    const std::string refused = kFailed + std::to_string(CURLE_COULDNT_CONNECT) + "] != CURLE_OK";
    EXPECT_EQ(log_.records("!= CURLE_OK"),
              (Lines{kFailed + std::to_string(CURLE_PARTIAL_FILE) + "] != CURLE_OK, url:" + url("/drop") +
                         " content:body-text",
                     kFailed + std::to_string(CURLE_OPERATION_TIMEDOUT) + "] != CURLE_OK, url:" + gone + " content:",
                     kFailed + std::to_string(CURLE_FILESIZE_EXCEEDED) + "] != CURLE_OK, url:" + url("/huge") + " content:q",
                     refused + "," + gone + ",text", refused + ", url:" + gone}));
}

TEST_F(Submit, MethodAndContentTypeCodes) {
    // submit_type, conten_type, document; method, content type and body sent; record.
    const std::tuple<int, int, const char*, std::string, Lines> cases[] = {
        {1, 1, nullptr, "GET application/json ", {}}, {2, 1, nullptr, "POST application/json payload", {}},
        {4, 1, nullptr, "PUT application/json payload", {}}, {5, 1, nullptr, "DELETE application/json payload", {}},
        // Unknown methods set nothing: libcurl's GET, and the body stays home.
        {3, 1, nullptr, "GET application/json ", {"25 submit_type = 3"}},
        {2, 0, nullptr, "POST " + kForm + " payload", {"25 CONTENT_APP_STANDARD conten_type:0"}},
        {2, 9, nullptr, "POST text/plain payload", {"25 unknown conten_type:9"}},
        // The document's lines instead of a content type: libcurl's default stays.
        {2, 2, R"({"headers":["X-Trace: 7"]})", "POST " + kForm + " payload", {}},
    };
    for (const auto& [submit_type, conten_type, doc, sent, records] : cases) {
        Body b;
        ASSERT_EQ(quillnet_submit_ex4(url("/c").c_str(), 10, "payload", 0, submit_type, conten_type, doc, &b.ptr, &b.len), 0);
        EXPECT_EQ(said(), sent);
        EXPECT_EQ(log_.notes(), records) << sent;
    }
    EXPECT_EQ(last().header("X-Trace"), "7");
    // ex2 fills in the form type; ex3 takes the content type before the method (and cannot pass a document).
    Body a, b, none;
    ASSERT_EQ(quillnet_submit_ex2(url("/c").c_str(), 10, "k=v", 0, 4, &a.ptr, &a.len), 0);
    EXPECT_EQ(said(), "PUT " + kForm + " k=v");
    ASSERT_EQ(quillnet_submit_ex3(url("/c").c_str(), 10, "{}", 0, 1, 2, &b.ptr, &b.len), 0);
    EXPECT_EQ(said(), "POST application/json {}");
    EXPECT_EQ(quillnet_submit_ex3(url("/c").c_str(), 10, "{}", 0, 2, 1, &none.ptr, &none.len), -1);
    EXPECT_EQ(log_.notes(), (Lines{"25 CONTENT_APP_STANDARD conten_type:0", "30 param_ex == NULL"}));
    // The versioned submit: NULL content replaced in the caller's record; content type 0 and method 6 unknown.
    const std::string u = url("/c");
    param_ = {0, static_cast<int>(sizeof(param_)), u.c_str(), 10, nullptr, 0, 6, 0};
    ASSERT_EQ(quillnet_submit_common(&param_, &param_ex_), 0);
    EXPECT_STREQ(param_.content, "");
    EXPECT_EQ(said(), "GET  ");
    EXPECT_EQ(own_lines(), (Lines{kCharset, kEncoding}));
    EXPECT_EQ(log_.notes(), (Lines{"30 param_ex->ret_buf == NULL", "25 submit_type = 6", "35 unknown param->conten_type:0"}));
    param_.conten_type = 2;
    EXPECT_EQ(quillnet_submit_common(&param_, &param_ex_), -1);
    EXPECT_EQ(log_.records("param_ex->param_ex == NULL"), Lines{"30 param_ex->param_ex == NULL"});
}

TEST_F(Submit, OptionDocumentLinesGoOutInOrderOrTheRequestIsAbandoned) {
    // In order after the defaults; null skipped, "auth_digest" a plain line, other members ignored, others as JSON.
    const std::pair<const char*, Lines> sent[] = {
        {R"({"headers":["X-1: a", null, "auth_digest:user:pw"], "time_out": 3})",
         {kCharset, kEncoding, "X-1: a", "auth_digest:user:pw"}},
        {R"({"headers":[42, {"X-Obj":1}, "X-2: b"]})", {kCharset, kEncoding, "{ \"X-Obj\": 1 }", "X-2: b"}},
        {R"({"headers":[]})", {kCharset, kEncoding}},
    };
    Form form;
    form.add(1, "k", "v");
    for (const auto& [doc, lines] : sent) {
        SCOPED_TRACE(doc);
        Body a, b;  // the multipart submit reads the same document
        ASSERT_EQ(quillnet_submit_ex4(url("/d").c_str(), 10, "x", 0, 1, 2, doc, &a.ptr, &a.len), 0);
        EXPECT_EQ(own_lines(), lines);
        ASSERT_EQ(quillnet_submit_multipart_ex(url("/d").c_str(), 10, form.get(), 0, doc, &b.ptr, &b.len), 0);
        Lines multipart = own_lines();
        multipart.resize(std::min(multipart.size(), lines.size()));
        EXPECT_EQ(multipart, lines);
    }
    EXPECT_EQ(log_.notes(), (Lines{"30 is_error(jso_header)", "30 param_ex != NULL", "30 is_error(jso_header)",
                              "30 param_ex != NULL", "30 param_ex != NULL"}));
    // No "headers" array: both abandon the request before any traffic.
    const size_t requests = server_.requests().size();
    const std::pair<const char*, std::string> abandoned[] = {
        {"{not json", "30 is_error(jso)"},           {"{}", "30 is_error(jso_headers)"},
        {R"({"headers":"X-A: 1"})", "30 is_error(jso_headers)"}, {R"(["X-A: 1"])", "30 is_error(jso_headers)"},
        {R"({"Headers":["X-A: 1"]})", "30 is_error(jso_headers)"}};
    for (const auto& [doc, record] : abandoned) {
        Body a, b;
        EXPECT_EQ(quillnet_submit_ex4(url("/d").c_str(), 10, "x", 0, 2, 2, doc, &a.ptr, &a.len), -1);
        EXPECT_EQ(quillnet_submit_multipart_ex(url("/d").c_str(), 10, form.get(), 0, doc, &b.ptr, &b.len), -1);
        EXPECT_EQ(a.str() + b.str() + std::to_string(a.len) + std::to_string(b.len), "00") << doc;
        EXPECT_EQ(log_.notes(), (Lines{record, "30 param_ex != NULL", record})) << doc;
    }
    EXPECT_EQ(server_.requests().size(), requests);
}

TEST_F(Submit, StatusAndRedirectTargetAreWrittenOnlyWhenBothAreAskedFor) {
    const std::string target = url("/new/place?x=1");
    // path, status asked, target asked; body, status and target written ("-" for untouched).
    const std::tuple<const char*, bool, bool, std::string> cases[] = {
        {"/moved", true, true, "see 302 " + target},  // not followed
        {"/moved", true, false, "see -5 -"}, {"/moved", false, true, "see -5 -"}, {"/ok", true, true, "ok 200 -"},
        {"/bare", true, true, " 301 -"}};  // a 3xx without a target
    for (const auto& [path, want_code, want_target, written] : cases) {
        long code = -5;
        char* target_url = nullptr;
        Body b;
        EXPECT_EQ(quillnet_submit_ex5(url(path).c_str(), 10, "", 0, 1, 1, nullptr, &b.ptr, &b.len,
                                      want_code ? &code : nullptr, want_target ? &target_url : nullptr), 0);
        EXPECT_EQ(b.str() + " " + std::to_string(code) + " " + (target_url ? target_url : "-"), written) << path;
        quillnet_release_redirect_url(target_url);
    }
    long code = 0;
    char* target_url = nullptr;
    const std::string moved = url("/moved");
    param_.url = moved.c_str(), param_ex_.http_code = &code, param_ex_.redirect_url = &target_url;
    ASSERT_EQ(quillnet_submit_common(&param_, &param_ex_), 0);
    EXPECT_EQ(std::to_string(code) + " " + (target_url ? target_url : "-"), "302 " + target);
    quillnet_release_redirect_url(target_url);
    EXPECT_EQ(log_.records("redirect_url "),
              (Lines{"25 redirect_url :" + target, "30 param_ex->redirect_url " + target + " pcUrl:" + target}));
}

TEST_F(Submit, CookiesReceivedAndSent) {
    auto ex6 = [&](const char* path, char** buf, int* buf_len, Body&& b = Body()) {  // result, body, its length
        const int r = quillnet_submit_ex6(url(path).c_str(), 10, "", 0, 1, 1, nullptr, &b.ptr, &b.len, nullptr,
                                          nullptr, 1, buf, buf_len);
        return std::to_string(r) + " " + b.str() + " " + std::to_string(b.len);
    };
    // Two cookies: libcurl's lines, each with a tab after; the length counts the terminator; reused: grown, not leaked.
    char* cookies = nullptr;
    int cookies_len = 0;
    ASSERT_EQ(ex6("/login", &cookies, &cookies_len), "0 welcome 7");
    ASSERT_NE(cookies, nullptr);
    const std::string sid = "127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\tabc123\t",
                      theme = "127.0.0.1\tFALSE\t/\tFALSE\t0\ttheme\tdark\t", got(cookies);
    EXPECT_TRUE(got == sid + theme || got == theme + sid) << got;
    EXPECT_EQ(cookies_len, static_cast<int>(sid.size() + theme.size() + 1));
    ASSERT_EQ(ex6("/login", &cookies, &cookies_len), "0 welcome 7");
    EXPECT_EQ(std::string(cookies), got);
    quillnet_release(&cookies);
    // None set: -1, the body dropped (its length reported), the block untouched.
    cookies_len = 0;
    EXPECT_EQ(ex6("/ok", &cookies, &cookies_len), "-1  2");
    EXPECT_TRUE(cookies == nullptr && cookies_len == 0);
    EXPECT_EQ(log_.notes(), Lines{"30 *cookie_buf_len <= 0"});
    Body sent;
    ASSERT_EQ(quillnet_submit_ex7(url("/c").c_str(), 10, "", 0, 1, 1, nullptr, &sent.ptr, &sent.len, nullptr,
                                  nullptr, 0, nullptr, nullptr, "sid=abc; l=en", nullptr), 0);
    EXPECT_EQ(last().header("Cookie"), "sid=abc; l=en");
    EXPECT_EQ(log_.notes(), Lines{"25 ---------------need_set_cookie:---------------sid=abc; l=en"});
}

// Every request is restricted in one place, to HTTP(S) or to FTP: one export of each kind.
TEST_F(Submit, EachExportSpeaksOnlyTheProtocolsItExistsFor) {
    const std::string here = "127.0.0.1:" + std::to_string(server_.port()), file = config_.file("got");
    RawHttpServer mover([](RawConnection& c) { c.send(RawHttpServer::response(302, "", {"Location: file:///etc/passwd"})); });
    mover.start();
    const Lines urls = {"file:///etc/passwd", "gopher://" + here + "/_X-Injected:%20yes", "dict://" + here + "/d:word",
                        "telnet://" + here + "/", "ftp://" + here + "/", mover.url("/moved")};
    for (const std::string& u : urls) {
        SCOPED_TRACE(u);
        Body b;  // a redirect is not followed: the 3xx answer's empty body
        EXPECT_EQ(quillnet_submit_ex(u.c_str(), 10, "q", 0, &b.ptr, &b.len), u == urls.back() ? 0 : -1);
        EXPECT_EQ(b.str(), "");
        const std::string ftp = u.rfind("ftp", 0) == 0 ? "http://" + here + "/" : u;
        EXPECT_EQ(quillnet_download_ftpfile(ftp.c_str(), file.c_str(), "u", "p"), 0);
        EXPECT_EQ(qntest::file_exists(file) ? qntest::read_file(file) : "", "");
    }
    EXPECT_EQ(server_.accepted(), 0);
    EXPECT_FALSE(log_.records(std::to_string(CURLE_UNSUPPORTED_PROTOCOL) + "] != CURLE_OK").empty());
}

TEST_F(Submit, LineBreaksNeverReachTheWire) {
    const std::string u = server_.url("/x");
    const char* const doc = R"({"headers":["X-A: b\r\nX-Injected: yes", "X-B: 1", "auth_digest:u\nX-Injected: yes"]})";
    const char* const lf_doc = R"({"headers":["X-A: b\nX-Injected: yes", "X-B: 1"]})";
    auto ex7 = [&](const char* d, const char* cookie, Body& b) {
        return quillnet_submit_ex7(u.c_str(), 10, "q", 0, 2, 2, d, &b.ptr, &b.len, nullptr, nullptr, 0, nullptr,
                                   nullptr, cookie, nullptr);
    };
    auto multipart = [&](Form& form, const char* d, Body& b) {
        return quillnet_submit_multipart_ex(u.c_str(), 10, form.get(), 0, d, &b.ptr, &b.len);
    };
    const std::string dropped0 = "30 header with CR or LF dropped, index:0", dropped2 = dropped0.substr(0, 39) + "2";
    Form plain, field, file, unterminated, negative, huge;
    plain.add(WEB_PART_FIELD, "k", "line one\r\nline two");  // a value may hold line breaks
    field.add(WEB_PART_FIELD, "k", "v").add(WEB_PART_FIELD, "f\r\nX-Injected: yes", "v");
    file.add(WEB_PART_FILE, "a.txt\nX-Injected: yes", "data");
    unterminated.add(WEB_PART_FIELD_TYPED, std::string(260, 'n'), "v");
    negative.add(WEB_PART_FILE, "a.bin", "data").length(-1);
    huge.add(WEB_PART_SENDFILE, "a.bin", "data").length(int64_t{1} << 32);  // 0 as 32 bits
    const std::string name_refused = "35 web_part name with CR or LF, request not sent",
                      length_refused = "35 web_part data_len out of range, request not sent";
    // name; the call; result; records besides the transfer's own; requests that reached the server.
    const std::tuple<const char*, std::function<int(Body&)>, int, Lines, int> cases[] = {
        {"document line", [&](Body& b) { return ex7(doc, nullptr, b); }, 0, {dropped0, dropped2}, 1},
        {"document line, LF", [&](Body& b) { return ex7(lf_doc, nullptr, b); }, 0, {dropped0}, 1},
        {"multipart document", [&](Body& b) { return multipart(plain, doc, b); }, 0,
         {"30 param_ex != NULL", dropped0, dropped2}, 1},
        {"cookie", [&](Body& b) { return ex7(lf_doc, "a=b\r\nX-Injected: yes", b); }, -1,
         {"25 ---------------need_set_cookie:---------------a=b\\r\\nX-Injected: yes",
          "35 need_set_cookie with CR or LF, request not sent"}, 0},
        {"field name", [&](Body& b) { return multipart(field, nullptr, b); }, -1, {name_refused}, 0},
        {"field name, asynchronous", [&](Body& b) { b.len = 0;
             return static_cast<int>(quillnet_submit_multipart_asyn(u.c_str(), field.get(), 0, 2, 1, nullptr, 0, nullptr, nullptr));
         }, -1, {name_refused}, 0},
        {"file name", [&](Body& b) { return multipart(file, nullptr, b); }, -1, {name_refused}, 0},
        {"name without end", [&](Body& b) { return multipart(unterminated, nullptr, b); }, -1,
         {"35 web_part name without its terminator, request not sent"}, 0},
        {"negative file length", [&](Body& b) { return multipart(negative, nullptr, b); }, -1, {length_refused}, 0},
        {"file length beyond 32 bits", [&](Body& b) { return multipart(huge, nullptr, b); }, -1, {length_refused}, 0},
        {"url", [&](Body& b) { return quillnet_submit_ex((u + " HTTP/1.1\r\nX-Injected: yes\r\n").c_str(), 10, "q", 0, &b.ptr, &b.len); },
         -1, {}, 0},
    };
    for (const auto& [name, call, result, records, requests] : cases) {
        SCOPED_TRACE(name);
        const size_t before = server_.requests().size();
        Body body;
        EXPECT_EQ(call(body) * 10 + body.len, result == 0 ? 2 : -10);
        EXPECT_EQ(server_.requests().size() - before, static_cast<size_t>(requests));
        Lines notes = log_.notes();
        if (name == std::string("url")) notes.erase(notes.begin());  // the failed transfer's line
        EXPECT_EQ(notes, records);
    }
    std::string heads;
    for (const auto& r : server_.requests()) heads += r.head;
    EXPECT_EQ(heads.find("X-Injected"), std::string::npos) << heads;
    EXPECT_NE(heads.find("\r\nX-B: 1\r\n"), std::string::npos);
}

// Read once per process: QUILLNET_TLS_VERIFY or null, QUILLNET_TLS_CA_FILE (the server's certificate), host, results.
struct TlsCase { const char *name, *verify; bool ca_file; const char* host; int submit, multipart; };
class TlsVerification : public ::testing::TestWithParam<TlsCase> {};
TEST_P(TlsVerification, AsTheHostAsked) {
#if !defined(CPPHTTPLIB_OPENSSL_SUPPORT)
    GTEST_SKIP() << "no TLS test server in this build (cpp-httplib without OpenSSL)";
#endif
    const TlsCase& c = GetParam();
    qntest::TempDir config;
    qntest::use_config_dir(config.path());
    qntest::LogReader log(config.path());
    qntest::HttpServer server(config.path());
    server.server().Post("/t", [](const httplib::Request&, httplib::Response& res) { res.set_content("tls", "text/plain"); });
    server.start();
    if (c.verify != nullptr) ::setenv("QUILLNET_TLS_VERIFY", c.verify, 1);
    if (c.ca_file) ::setenv("QUILLNET_TLS_CA_FILE", config.file("cert.pem").c_str(), 1);
    ASSERT_EQ(quillnet_startup(), 1);
    const std::string url = "https://" + std::string(c.host) + ":" + std::to_string(server.port()) + "/t";
    Body a, b;
    Form form;
    EXPECT_EQ(quillnet_submit_ex(url.c_str(), 10, "q", 0, &a.ptr, &a.len), c.submit);
    EXPECT_EQ(quillnet_submit_multipart(url.c_str(), 10, form.add(1, "k", "v").get(), 0, &b.ptr, &b.len), c.multipart);
    EXPECT_EQ(a.str() + b.str(), std::string(c.submit == 0 ? "tls" : "") + (c.multipart == 0 ? "tls" : ""));
    // The curve list reaches the TLS layer: one it does not know fails the handshake.
    Body d;
    EXPECT_EQ(quillnet_submit_ex7(url.c_str(), 10, "q", 0, 2, 1, nullptr, &d.ptr, &d.len, nullptr, nullptr, 0, nullptr,
                                  nullptr, nullptr, "no-such-curve"), -1);
    EXPECT_EQ(log.records(kFailed.substr(3) + std::to_string(CURLE_PEER_FAILED_VERIFICATION)).size(),
              static_cast<size_t>((c.submit != 0) + (c.multipart != 0)));
    server.stop();
    quillnet_cleanup();
}

// The test's certificate is self-signed for 127.0.0.1: unknown to the system's store, not valid for localhost.
INSTANTIATE_TEST_SUITE_P(
    Host, TlsVerification,
    ::testing::Values(TlsCase{"off_by_default", nullptr, false, "127.0.0.1", 0, -1}, TlsCase{"off", "0", true, "localhost", 0, -1},
                      TlsCase{"on_any_value_but_0_against_the_system_store", "yes", false, "127.0.0.1", -1, -1},
                      TlsCase{"on_against_the_hosts_store", "1", true, "127.0.0.1", 0, 0},
                      TlsCase{"on_checks_the_name", "1", true, "localhost", -1, -1}),
    [](const ::testing::TestParamInfo<TlsCase>& p) { return std::string(p.param.name); });
