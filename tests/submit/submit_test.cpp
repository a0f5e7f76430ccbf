// The synchronous submits through the library's exports, as a host calls
// them, against real loopback servers (HTTP, HTTPS, FTP): what goes out,
// what comes back, and the records the failures leave in the log file.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "ftp_server.h"
#include "http_server.h"
#include "log_file.h"
#include "quillnet.h"
#include "raw_http_server.h"
#include "temp_dir.h"

using qntest::RawConnection;
using qntest::RawHttpServer;
using qntest::RawRequest;
using Lines = std::vector<std::string>;

namespace {

const std::string kFailed = "error: CLibcurlWrapper::instance().curl_easy_perform(curl)[";
const std::string kCharset = "Accept-Charset: utf-8";
const std::string kEncoding = "Accept-Encoding: utf-8";

// The records in `log` that contain `part`.
Lines grep(const Lines& log, const std::string& part) {
    Lines out;
    std::copy_if(log.begin(), log.end(), std::back_inserter(out),
                 [&](const std::string& r) { return r.find(part) != std::string::npos; });
    return out;
}

RawRequest last(const RawHttpServer& server) {
    const auto requests = server.requests();
    return requests.empty() ? RawRequest() : requests.back();
}

// The last request's header lines from the library's first one on, at most `n`.
Lines own_lines(const RawHttpServer& server, size_t n = 99) {
    const Lines lines = last(server).header_lines();
    const size_t first = static_cast<size_t>(std::find(lines.begin(), lines.end(), kCharset) - lines.begin());
    Lines out;
    for (size_t i = first; i < lines.size() && out.size() < n; ++i) out.push_back(lines[i]);
    return out;
}

// Method, content type and body of the last request.
std::string said(const RawHttpServer& server) {
    const RawRequest r = last(server);
    return r.method() + " " + r.header("Content-Type") + " " + r.body;
}

// A response body handed out by the library, released through the export.
struct Body {
    char* ptr = nullptr;
    int len = -1;
    ~Body() { quillnet_release(&ptr); }
    std::string str() const { return ptr == nullptr ? "" : std::string(ptr, static_cast<size_t>(std::max(len, 0))); }
};

struct Free {
    void operator()(void* p) const { std::free(p); }
};

// A multipart description laid out as a host lays it out: a header, a
// table of part pointers, and parts with their data right after the name.
class Form {
public:
    Form& add(int type, const std::string& name, const std::string& data) {
        const size_t size = offsetof(web_part, data) + data.size() + 1;
        auto* p = static_cast<web_part*>(std::calloc(1, size));
        p->type = type;
        p->data_len = static_cast<int64_t>(data.size());
        std::strncpy(p->name, name.c_str(), sizeof(p->name) - 1);
        std::memcpy(p->data, data.data(), data.size());
        parts_.emplace_back(p);
        return *this;
    }
    web_data* get() {
        table_.reset(static_cast<web_data*>(std::calloc(parts_.size() + 2, sizeof(void*))));
        header_.count = static_cast<int>(parts_.size());
        table_->header = &header_;
        for (size_t i = 0; i < parts_.size(); ++i) table_->parts[i] = parts_[i].get();
        return table_.get();
    }

private:
    web_data_header header_{0, 0};
    std::vector<std::unique_ptr<web_part, Free>> parts_;
    std::unique_ptr<web_data, Free> table_;
};

class Submit : public ::testing::Test {
protected:
    void SetUp() override {
        qntest::use_config_dir(config_.path());
        ASSERT_EQ(quillnet_startup(), 1);
        param_ = {0, static_cast<int>(sizeof(param_)), nullptr, 10, "body", 0, 2, 1};
        param_ex_.size = static_cast<int>(sizeof(param_ex_));
    }
    void TearDown() override { quillnet_cleanup(); }

    // The records so far, as "<level> <text>"; once a test. The sink writes
    // on a thread of its own and in order, so a marker record (a clean-up
    // while not started logs "!s_is_startup") is awaited first.
    Lines logged() {
        EXPECT_EQ(quillnet_cleanup() + quillnet_cleanup(), 1);
        const std::string path = qntest::log_path(config_.path());
        EXPECT_NE(qntest::wait_for_log_line(path, "!s_is_startup", 10000), "");
        Lines out;
        for (const std::string& line : qntest::log_lines_containing(path, "")) {
            if (qntest::record_text(line) == "!s_is_startup") break;
            out.push_back(std::to_string(qntest::record_level(line)) + " " +
                          qntest::record_text(line));
        }
        EXPECT_EQ(quillnet_startup(), 1);
        return out;
    }

    qntest::TempDir config_;
    QuillnetSubmitParam param_{};  // a valid pair of versioned records, save the URL and outputs
    QuillnetSubmitParamEx param_ex_{};
};

}  // namespace

TEST_F(Submit, PostsAndAnswersOfEverySize) {
    std::string large(300000, '\0');
    std::string huge(5 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < huge.size(); ++i) {
        huge[i] = static_cast<char>('0' + (i * 7) % 10);
        if (i < large.size()) large[i] = static_cast<char>('a' + i % 26);
    }
    const std::string empty, fail = "<h1>broken</h1>";
    const std::string tree = "/plume/device/queryDeviceOrgTree";  // a cached path
    int trees = 0;
    RawHttpServer server([&](RawConnection& c) {
        const std::string t = c.request().target();
        const std::string& body = t == "/large" ? large : t == "/huge" ? huge : empty;
        const std::string answer = t == tree ? "tree" + std::to_string(++trees) : "pong";
        c.send_in_pieces(RawHttpServer::response(t == "/fail" ? 500 : 200,
                                                 t == "/fail" ? fail : t[1] == 'p' ? answer : body),
                         16384);
    });
    server.start();
    auto ex = [&](const std::string& path, const char* content, Body& b) {
        return quillnet_submit_ex(server.url(path).c_str(), 60, content, 0, &b.ptr, &b.len);
    };

    Body echo, basic, long_url, one, again, two;
    ASSERT_EQ(ex("/pong", "a=1", echo), 0);
    EXPECT_EQ(echo.str() + std::to_string(echo.len), "pong4");
    EXPECT_EQ(said(server), "POST application/x-www-form-urlencoded a=1");
    EXPECT_EQ(own_lines(server, 2), (Lines{kCharset, kEncoding}));

    // NULL content is an empty POST; without a buffer the body is dropped
    // but its length is still reported.
    int len = -1;
    EXPECT_EQ(quillnet_submit_ex(server.url("/pong").c_str(), 10, nullptr, 0, nullptr, &len), 0);
    EXPECT_EQ(len, 4);
    EXPECT_EQ(last(server).header("Content-Length"), "0");
    EXPECT_EQ(quillnet_submit(server.url("/pong").c_str(), 10, nullptr, 1, &basic.ptr), 0);
    EXPECT_STREQ(basic.ptr, "pong");

    const std::string long_path = "/p" + std::string(100000 - server.url("/p").size(), 'p');
    ASSERT_EQ(ex(long_path, "", long_url), 0);
    EXPECT_EQ(long_url.str(), "pong");
    EXPECT_TRUE(last(server).target() == long_path);

    // The same question to a cached path within ten seconds reaches the
    // server once; another body is another question.
    const size_t before = server.requests().size();
    ASSERT_EQ(ex(tree, "{\"org\":1}", one), 0);
    ASSERT_EQ(ex(tree, "{\"org\":1}", again), 0);
    ASSERT_EQ(ex(tree, "{}", two), 0);
    EXPECT_EQ(one.str() + again.str() + two.str(), "tree1tree1tree2");
    EXPECT_EQ(server.requests().size(), before + 2);

    const Lines log = logged();
    EXPECT_EQ(grep(log, "ret_buf == NULL"), Lines{"25 ret_buf == NULL"});
    EXPECT_EQ(grep(log, "] perform ret:0 spantime:").size(), 7u);
    EXPECT_EQ(grep(log, "by catch"), Lines{"25 by catch == Req:{\"org\":1} Rep:tree1"});

    // A 500 with a body, 300000 bytes (written in pieces of 16384),
    // megabytes, nothing: all answers, whole and terminated. (Last: the
    // dump of the megabytes rotates the log file.)
    const std::pair<const char*, const std::string*> answers[] = {
        {"/fail", &fail}, {"/large", &large}, {"/huge", &huge}, {"/e", &empty}};
    for (const auto& [path, want] : answers) {
        SCOPED_TRACE(path);
        Body b;
        ASSERT_EQ(ex(path, "", b), 0);
        ASSERT_EQ(b.len, static_cast<int>(want->size()));
        EXPECT_EQ(b.ptr[b.len], '\0');
        EXPECT_TRUE(b.str() == *want);
    }
}

TEST_F(Submit, TransferFailures) {
    RawHttpServer server([](RawConnection& c) {
        if (c.request().target() != "/drop") return c.hold_until_stopped();
        // Closed 250000 bytes short when the handler returns.
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 300000\r\n\r\n" + std::string(50000, 'z'));
    });
    server.start();
    const std::string drop = server.url("/drop");
    const std::string silent = server.url("/silent");
    char sentinel[] = "untouched";
    char* ret = sentinel;
    int len = -1;
    EXPECT_EQ(quillnet_submit_ex(drop.c_str(), 10, "body-text", 0, &ret, &len), -1);
    EXPECT_EQ(ret, sentinel);
    EXPECT_EQ(len, 50000);
    Body timed_out;
    EXPECT_EQ(quillnet_submit_ex(silent.c_str(), 1, "", 0, &timed_out.ptr, &timed_out.len), -1);
    EXPECT_EQ(timed_out.ptr, nullptr);
    EXPECT_EQ(timed_out.len, 0);

    // Nobody listens any more: refused, and each family logs it its own way.
    server.stop();
    EXPECT_EQ(quillnet_submit_ex4(silent.c_str(), 10, "text", 0, 2, 1, nullptr, nullptr, &len), -1);
    EXPECT_EQ(len, 0);
    Form form;
    Body refused;
    EXPECT_EQ(quillnet_submit_multipart(silent.c_str(), 10, form.add(1, "k", "v").get(), 0,
                                        &refused.ptr, &refused.len),
              -1);
    EXPECT_EQ(refused.ptr, nullptr);
    EXPECT_EQ(refused.len, 0);

    const Lines log = logged();
    EXPECT_EQ(grep(log, "ret_buf == NULL"), Lines{"30 ret_buf == NULL"});
    EXPECT_EQ(grep(log, "param_ex != NULL"), Lines{});  // the multipart submit without a document
    const std::string code = "35 " + kFailed + std::to_string(CURLE_COULDNT_CONNECT);
    EXPECT_EQ(grep(log, "!= CURLE_OK"),
              (Lines{"35 " + kFailed + std::to_string(CURLE_PARTIAL_FILE) + "] != CURLE_OK, url:" +
                         drop + " content:body-text",
                     "35 " + kFailed + std::to_string(CURLE_OPERATION_TIMEDOUT) +
                         "] != CURLE_OK, url:" + silent + " content:",
                     code + "] != CURLE_OK," + silent + ",text",
                     code + "] != CURLE_OK, url:" + silent}));
}

TEST_F(Submit, ArgumentChecksOfEveryExport) {
    const char* const url = "http://127.0.0.1:1/";
    Body body;
    int len = 7;
    char** buf = &body.ptr;
    EXPECT_EQ(quillnet_submit_ex(nullptr, 10, "x", 0, buf, &len), -1);
    EXPECT_EQ(quillnet_submit_ex(url, -1, "x", 0, buf, &len), -1);
    EXPECT_EQ(quillnet_submit(nullptr, 10, "x", 0, buf), -1);
    EXPECT_EQ(quillnet_submit_ex7(nullptr, 10, "", 0, 2, 1, nullptr, buf, &len, nullptr, nullptr, 0,
                                  nullptr, nullptr, nullptr, nullptr),
              -1);
    EXPECT_EQ(quillnet_submit_ex4(url, -3, "", 0, 2, 1, nullptr, buf, &len), -1);
    EXPECT_EQ(quillnet_submit_ex6(url, 10, "", 0, 1, 1, nullptr, buf, &len, nullptr, nullptr, 1,
                                  nullptr, &len),
              -1);
    Form form;
    web_data no_header{};
    EXPECT_EQ(quillnet_submit_multipart(nullptr, 10, form.get(), 0, buf, &len), -1);
    EXPECT_EQ(quillnet_submit_multipart(url, -1, form.get(), 0, buf, &len), -1);
    EXPECT_EQ(quillnet_submit_multipart(url, 10, nullptr, 0, buf, &len), -1);
    EXPECT_EQ(quillnet_submit_multipart_ex(url, 10, &no_header, 0, nullptr, buf, &len), -1);

    // The versioned records, each pair valid but for one field.
    using P = QuillnetSubmitParam;
    using E = QuillnetSubmitParamEx;
    param_.url = url;
    param_ex_.ret_buf = buf;
    param_ex_.ret_buf_len = &len;
    auto common = [&](auto change) {
        P p = param_;
        E e = param_ex_;
        change(p, e);
        return quillnet_submit_common(&p, &e);
    };
    EXPECT_EQ(quillnet_submit_common(nullptr, &param_ex_), -1);
    EXPECT_EQ(quillnet_submit_common(&param_, nullptr), -1);
    EXPECT_EQ(common([](P& p, E&) { p.url = nullptr; }), -1);
    EXPECT_EQ(common([](P& p, E&) { p.timeout = -1; }), -1);
    EXPECT_EQ(common([](P&, E& e) { e.need_get_cookie = 1; }), -1);
    EXPECT_EQ(common([](P& p, E&) { p.version = 1; }), -1);
    EXPECT_EQ(common([](P& p, E&) { p.version = -2; }), -1);
    EXPECT_EQ(common([](P& p, E&) { p.size = sizeof(E); }), -1);
    EXPECT_EQ(common([](P&, E& e) { e.size = sizeof(P); }), -1);
    EXPECT_EQ(body.ptr, nullptr);
    EXPECT_EQ(len, 7);  // nothing was attempted

    // Content type 2 without a document is abandoned before any traffic.
    EXPECT_EQ(common([](P& p, E&) { p.conten_type = 2; }), -1);
    EXPECT_EQ(len, 0);

    const std::string no_form = "25 web_data == NULL || web_data->header == NULL";
    const std::string cookie = "30 cookie_buf == NULL || cookie_buf_len == NULL";
    EXPECT_EQ(logged(),
              (Lines{"25 url == NULL", "25 timeout < 0", "25 url == NULL", "30 url == NULL",
                     "30 timeout < 0", cookie, "25 url == NULL", "25 timeout < 0", no_form,
                     no_form, "30 param == NULL", "30 param_ex == NULL", "30 param->url == NULL",
                     "30 timeout < 0", cookie, "35 not support version:1 cur support version :0",
                     "30 param->version < 0", "30 param->size != sizeof(QuillnetSubmitParam)",
                     "30 param_ex->size != sizeof(QuillnetSubmitParamEx)",
                     "30 param_ex->param_ex == NULL"}));
}

TEST_F(Submit, MethodAndContentTypeCodes) {
    RawHttpServer server([](RawConnection& c) { c.send(RawHttpServer::response(200, "ok")); });
    server.start();
    const std::string url = server.url("/codes");
    const std::string form = "application/x-www-form-urlencoded";
    const std::tuple<int, int, const char*, std::string> cases[] = {
        {1, 1, nullptr, "GET application/json "},
        {2, 1, nullptr, "POST application/json payload"},
        {4, 1, nullptr, "PUT application/json payload"},
        {5, 1, nullptr, "DELETE application/json payload"},
        // Unknown methods set nothing: libcurl's GET, and the body stays home.
        {3, 1, nullptr, "GET application/json "},
        {77, 1, nullptr, "GET application/json "},
        {2, 0, nullptr, "POST " + form + " payload"},
        {2, 9, nullptr, "POST text/plain payload"},
        // The document's lines instead of a content type: libcurl's default stays.
        {2, 2, R"({"headers":["X-Trace: 7"]})", "POST " + form + " payload"},
    };
    for (const auto& [submit_type, conten_type, doc, want] : cases) {
        Body b;
        ASSERT_EQ(quillnet_submit_ex4(url.c_str(), 10, "payload", 0, submit_type, conten_type, doc,
                                      &b.ptr, &b.len),
                  0);
        EXPECT_EQ(said(server), want) << submit_type << "/" << conten_type;
    }
    EXPECT_EQ(last(server).header("X-Trace"), "7");

    // ex2 fills in the form type; ex3 takes the content type before the
    // method (and cannot pass the document content type 2 asks for).
    Body a, b, none;
    ASSERT_EQ(quillnet_submit_ex2(url.c_str(), 10, "k=v", 0, 4, &a.ptr, &a.len), 0);
    EXPECT_EQ(said(server), "PUT " + form + " k=v");
    ASSERT_EQ(quillnet_submit_ex3(url.c_str(), 10, "{}", 0, 1, 2, &b.ptr, &b.len), 0);
    EXPECT_EQ(said(server), "POST application/json {}");
    EXPECT_EQ(quillnet_submit_ex3(url.c_str(), 10, "{}", 0, 2, 1, &none.ptr, &none.len), -1);

    // The versioned submit: NULL content replaced in the caller's record;
    // 0 is an unknown content type there (no line of the library's own), 6
    // an unknown method.
    Body c;
    param_.url = url.c_str();
    param_.content = nullptr;
    param_ex_.ret_buf = &c.ptr;
    param_ex_.ret_buf_len = &c.len;
    ASSERT_EQ(quillnet_submit_common(&param_, &param_ex_), 0);
    EXPECT_STREQ(param_.content, "");
    EXPECT_EQ(c.str(), "ok");
    EXPECT_EQ(own_lines(server, 3), (Lines{kCharset, kEncoding, "Content-Type: application/json"}));
    param_.conten_type = 0;
    param_ex_.ret_buf = nullptr;
    ASSERT_EQ(quillnet_submit_common(&param_, &param_ex_), 0);
    EXPECT_EQ(own_lines(server),
              (Lines{kCharset, kEncoding, "Content-Length: 0", "Content-Type: " + form}));
    param_.conten_type = 2;
    param_.submit_type = 6;
    param_ex_.param_ex = R"({"headers":["X-Doc: yes"]})";
    ASSERT_EQ(quillnet_submit_common(&param_, &param_ex_), 0);
    EXPECT_EQ(said(server), "GET  ");
    EXPECT_EQ(own_lines(server), (Lines{kCharset, kEncoding, "X-Doc: yes"}));

    const Lines log = logged();
    EXPECT_EQ(grep(log, "submit_type = "),
              (Lines{"25 submit_type = 3", "25 submit_type = 77", "25 submit_type = 6"}));
    EXPECT_EQ(grep(log, "conten_type:"),
              (Lines{"25 CONTENT_APP_STANDARD conten_type:0", "25 unknown conten_type:9",
                     "25 CONTENT_APP_STANDARD conten_type:0", "35 unknown param->conten_type:0"}));
    EXPECT_EQ(grep(log, "ret_buf == NULL"), Lines(2, "30 param_ex->ret_buf == NULL"));
    EXPECT_EQ(grep(log, "param_ex == NULL"), Lines{"30 param_ex == NULL"});
}

TEST_F(Submit, OptionDocumentAndMultipartOnTheWire) {
    RawHttpServer server([](RawConnection& c) { c.send(RawHttpServer::response(200, "ok")); });
    server.start();
    const std::string url = server.url("/doc");
    auto ex4 = [&](int submit_type, const char* doc, Body&& body = Body()) {
        return quillnet_submit_ex4(url.c_str(), 10, "x", 0, submit_type, 2, doc, &body.ptr,
                                   &body.len);
    };
    // Array order after the default lines; null skipped, "auth_digest" an
    // ordinary line, other members ignored.
    ASSERT_EQ(ex4(1, R"({"headers":["X-1: a", null, "auth_digest:user:pw"], "time_out": 3})"), 0);
    EXPECT_EQ(own_lines(server), (Lines{kCharset, kEncoding, "X-1: a", "auth_digest:user:pw"}));
    // Elements that are not strings go out as their JSON text (a bare
    // number is no header line to libcurl).
    ASSERT_EQ(ex4(1, R"({"headers":[42, {"X-Obj":1}, "X-2: b"]})"), 0);
    EXPECT_EQ(own_lines(server), (Lines{kCharset, kEncoding, "{ \"X-Obj\": 1 }", "X-2: b"}));
    ASSERT_EQ(ex4(1, R"({"headers":[]})"), 0);
    EXPECT_EQ(own_lines(server), (Lines{kCharset, kEncoding}));

    // The multipart submit reads the same document; its parts go out in
    // order, unknown kinds skipped.
    Form form;
    form.add(4, "first.txt", "abc").add(2, "skip", "x").add(1, "middle", "m").add(0, "last", "z");
    int len = -1;
    const char* const doc = R"({"headers":["X-Token: t1", null, "auth_digest:u:p"]})";
    ASSERT_EQ(quillnet_submit_multipart_ex(url.c_str(), 10, form.get(), 0, doc, nullptr, &len), 0);
    EXPECT_EQ(len, 2);
    EXPECT_EQ(own_lines(server, 4), (Lines{kCharset, kEncoding, "X-Token: t1", "auth_digest:u:p"}));
    const std::string sent = last(server).body;
    Lines parts;
    const std::string key = "Content-Disposition: form-data; ";
    for (size_t at = sent.find(key); at != std::string::npos; at = sent.find(key, at + 1)) {
        parts.push_back(sent.substr(at + key.size(), sent.find("\r\n", at) - at - key.size()));
    }
    EXPECT_EQ(parts, (Lines{"name=\"file\"; filename=\"first.txt\"", "name=\"middle\"",
                            "name=\"last\""}));

    // No "headers" array: both abandon the request before any traffic.
    const size_t requests = server.requests().size();
    for (const char* bad : {"{not json", "{}", R"({"headers":"X-A: 1"})", R"({"headers":{"a":1}})",
                            R"(["X-A: 1"])", R"({"Headers":["X-A: 1"]})"}) {
        SCOPED_TRACE(bad);
        Body a, b;
        EXPECT_EQ(quillnet_submit_ex4(url.c_str(), 10, "x", 0, 2, 2, bad, &a.ptr, &a.len), -1);
        EXPECT_EQ(quillnet_submit_multipart_ex(url.c_str(), 10, form.get(), 0, bad, &b.ptr,
                                               &b.len),
                  -1);
        EXPECT_EQ(a.str() + b.str() + std::to_string(a.len) + std::to_string(b.len), "00");
    }
    EXPECT_EQ(server.requests().size(), requests);

    const Lines log = logged();
    const std::string unparsable = "30 is_error(jso)", no_array = "30 is_error(jso_headers)";
    EXPECT_EQ(grep(log, "is_error("),
              (Lines{"30 is_error(jso_header)", "30 is_error(jso_header)", unparsable, unparsable,
                     no_array, no_array, no_array, no_array, no_array, no_array, no_array, no_array,
                     no_array, no_array}));
    EXPECT_EQ(grep(log, "param_ex != NULL").size(), 7u);
    EXPECT_EQ(grep(log, "ret_buf == NULL"), Lines{"25 ret_buf == NULL"});
    // The multipart answer is never taken from the request cache: no dump line.
    EXPECT_EQ(grep(log, " == Req:").size(), 3u);
}

TEST_F(Submit, StatusRedirectAndCookies) {
    RawHttpServer server([](RawConnection& c) {
        const std::string t = c.request().target();
        const Lines cookies = {"Set-Cookie: sid=abc123; Path=/", "Set-Cookie: theme=dark; Path=/"};
        c.send(t == "/moved"  ? RawHttpServer::response(302, "see", {"Location: /new/place?x=1"})
               : t == "/bare" ? RawHttpServer::response(301, "")
               : t == "/login" ? RawHttpServer::response(200, "welcome", cookies)
                               : RawHttpServer::response(200, "plain"));
    });
    server.start();
    const std::string moved = server.url("/moved");
    const std::string target = server.url("/new/place?x=1");
    // ex5's body, then the status and target it wrote ("-" for untouched).
    auto ex5 = [&](const char* path, bool want_code, bool want_target) {
        long code = -5;
        char* url = nullptr;
        Body b;
        EXPECT_EQ(quillnet_submit_ex5(server.url(path).c_str(), 10, "", 0, 1, 1, nullptr, &b.ptr,
                                      &b.len, want_code ? &code : nullptr,
                                      want_target ? &url : nullptr),
                  0);
        const std::string out = b.str() + " " + std::to_string(code) + " " + (url ? url : "-");
        quillnet_release_redirect_url(url);
        return out;
    };
    EXPECT_EQ(ex5("/moved", true, true), "see 302 " + target);  // not followed
    EXPECT_EQ(ex5("/moved", true, false), "see -5 -");
    EXPECT_EQ(ex5("/moved", false, true), "see -5 -");
    EXPECT_EQ(ex5("/plain", true, true), "plain 200 -");
    EXPECT_EQ(ex5("/bare", true, true), " 301 -");

    long code = 0;
    char* url = nullptr;
    Body versioned;
    param_.url = moved.c_str();
    param_ex_.ret_buf = &versioned.ptr;
    param_ex_.http_code = &code;
    param_ex_.redirect_url = &url;
    ASSERT_EQ(quillnet_submit_common(&param_, &param_ex_), 0);
    EXPECT_EQ(code, 302);
    EXPECT_STREQ(url, target.c_str());
    quillnet_release_redirect_url(url);

    // Two cookies: libcurl's lines, each followed by a tab; the length
    // counts the terminator. The block goes round again: grown, not leaked.
    auto ex6 = [&](const char* path, char** buf, int* buf_len, Body&& b = Body()) {
        const int r = quillnet_submit_ex6(server.url(path).c_str(), 10, "", 0, 1, 1, nullptr,
                                          &b.ptr, &b.len, nullptr, nullptr, 1, buf, buf_len);
        return std::to_string(r) + " " + b.str() + " " + std::to_string(b.len);
    };
    char* cookies = nullptr;
    int cookies_len = 0;
    ASSERT_EQ(ex6("/login", &cookies, &cookies_len), "0 welcome 7");
    ASSERT_NE(cookies, nullptr);
    const std::string sid = "127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\tabc123\t";
    const std::string theme = "127.0.0.1\tFALSE\t/\tFALSE\t0\ttheme\tdark\t";
    const std::string got(cookies);
    EXPECT_TRUE(got == sid + theme || got == theme + sid) << got;
    EXPECT_EQ(cookies_len, static_cast<int>(sid.size() + theme.size() + 1));
    ASSERT_EQ(ex6("/login", &cookies, &cookies_len), "0 welcome 7");
    EXPECT_EQ(std::string(cookies), got);
    quillnet_release(&cookies);
    // None set: -1, the body dropped (its length reported), the block untouched.
    cookies_len = 0;
    EXPECT_EQ(ex6("/anon", &cookies, &cookies_len), "-1  5");
    EXPECT_EQ(cookies, nullptr);
    EXPECT_EQ(cookies_len, 0);

    Body sent;
    ASSERT_EQ(quillnet_submit_ex7(server.url("/c").c_str(), 10, "", 0, 1, 1, nullptr, &sent.ptr,
                                  &sent.len, nullptr, nullptr, 0, nullptr, nullptr, "sid=abc; l=en",
                                  nullptr),
              0);
    EXPECT_EQ(last(server).header("Cookie"), "sid=abc; l=en");

    const Lines log = logged();
    EXPECT_EQ(grep(log, "redirect_url "),
              (Lines{"25 redirect_url :" + target,
                     "30 param_ex->redirect_url " + target + " pcUrl:" + target}));
    EXPECT_EQ(grep(log, "cookie_buf_len <= 0"), Lines{"30 *cookie_buf_len <= 0"});
    EXPECT_EQ(grep(log, "need_set_cookie"),
              Lines{"25 ---------------need_set_cookie:---------------sid=abc; l=en"});
}

TEST_F(Submit, OverHttps) {
    qntest::HttpsServer tls(config_.path());
    tls.server().Post("/t", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("tls:" + req.body, "text/plain");
    });
    tls.start();
    const std::string port = std::to_string(tls.port());
    const std::string https_url = tls.url("/t");
    const std::string http_url = "http://127.0.0.1:" + port + "/t";
    // The table sends plain-HTTP URLs for this port over HTTPS.
    config_.write("Resource/Protocol.json", "{\"127.0.0.1:" + port + "\": \"https://\"}");

    // The curve list reaches the TLS layer; these submits do not verify
    // the self-signed certificate.
    auto ex7 = [&](const char* curves, Body&& b = Body()) {
        const int r = quillnet_submit_ex7(https_url.c_str(), 10, "hello", 0, 2, 1, nullptr,
                                          &b.ptr, &b.len, nullptr, nullptr, 0, nullptr, nullptr,
                                          nullptr, curves);
        return std::to_string(r) + " " + b.str();
    };
    EXPECT_EQ(ex7("P-256"), "0 tls:hello");
    EXPECT_EQ(ex7("no-such-curve"), "-1 ");

    // ex5 rewrites the plain URL by the table; the versioned submit uses it
    // as given and speaks plain HTTP to the TLS port.
    Body rewritten, plain, multipart;
    ASSERT_EQ(quillnet_submit_ex5(http_url.c_str(), 10, "body", 0, 2, 1, nullptr, &rewritten.ptr,
                                  &rewritten.len, nullptr, nullptr),
              0);
    EXPECT_EQ(rewritten.str(), "tls:body");
    param_.url = http_url.c_str();
    param_ex_.ret_buf = &plain.ptr;
    EXPECT_EQ(quillnet_submit_common(&param_, &param_ex_), -1);

    // The multipart submit leaves the certificate checks on.
    Form form;
    EXPECT_EQ(quillnet_submit_multipart(https_url.c_str(), 10, form.add(1, "k", "v").get(), 0,
                                        &multipart.ptr, &multipart.len),
              -1);
    EXPECT_EQ(tls.requests().size(), 2u);

    const Lines log = logged();
    const std::string curves = "25 ---------------need_ssl_ec_curves:---------------";
    EXPECT_EQ(grep(log, "need_ssl_ec_curves"), (Lines{curves + "P-256", curves + "no-such-curve"}));
    EXPECT_EQ(grep(log, "] != CURLE_OK," + https_url + ",hello").size(), 1u);
    EXPECT_EQ(grep(log, "] != CURLE_OK, url:" + http_url + " content:body").size(), 1u);
    EXPECT_EQ(grep(log, "] != CURLE_OK, url:" + https_url).size(), 1u);
}

TEST_F(Submit, NameOnlyFtpListing) {
    qntest::TempDir root;
    root.write("alpha.txt", "a");
    root.write("sub/inner.txt", "c");
    qntest::FtpServer ftp(root.path());
    ASSERT_TRUE(ftp.start());
    Body body;
    ASSERT_EQ(quillnet_submit_ex2(ftp.url("/").c_str(), 20, nullptr, 0, 6, &body.ptr, &body.len),
              0);
    Lines names;
    std::istringstream listing(body.str());
    for (std::string name; std::getline(listing, name, '\n');) {
        names.push_back(name.substr(0, name.find('\r')));
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Lines{"alpha.txt", "sub"})) << body.str();
    EXPECT_EQ(grep(logged(), "submit_type = "), Lines{});
}

TEST_F(Submit, MultipartPartsAsTheServerParsesThem) {
    qntest::HttpServer server;
    httplib::MultipartFormDataMap parts;
    server.server().Post("/up", [&](const httplib::Request& req, httplib::Response& res) {
        parts = req.files;
        res.set_content("stored", "text/plain");
    });
    server.start();
    // Unknown kinds are skipped; the file kinds carry zero bytes.
    const std::string binary("\x00\x01zero\x00inside\xff\x00", 14);
    const std::string zeros("\x00\x00\x00", 3);
    Form form;
    form.add(WEB_PART_FIELD_TYPED, "title", "hello world").add(2, "two", "x");
    form.add(WEB_PART_FIELD, "plain", "just text").add(3, "three", "y");
    form.add(WEB_PART_FILE, "a.bin", binary).add(99, "99", "w");
    form.add(WEB_PART_SENDFILE, "b.dat", zeros);
    Body body;
    ASSERT_EQ(quillnet_submit_multipart(server.url("/up").c_str(), 10, form.get(), 0, &body.ptr,
                                        &body.len),
              0);
    EXPECT_EQ(body.str(), "stored");
    using Part = std::tuple<std::string, std::string, std::string, std::string>;
    std::vector<Part> got;  // name, file name, content type, content
    for (const auto& [name, p] : parts) {
        got.emplace_back(name, p.filename, p.content_type, p.content);
    }
    const std::string type = "multipart/form-data";
    EXPECT_EQ(got, (std::vector<Part>{{"file", "a.bin", type, binary},
                                      {"plain", "", "", "just text"},
                                      {"sendfile", "b.dat", type, zeros},
                                      {"title", "", type, "hello world"}}));

    // No parts at all: still performed.
    Form none;
    Body empty;
    ASSERT_EQ(quillnet_submit_multipart(server.url("/up").c_str(), 10, none.get(), 0, &empty.ptr,
                                        &empty.len),
              0);
    EXPECT_EQ(server.requests().size(), 2u);
}
