// What a hostile URL, answer or input can make the submits do, through the
// exports against loopback servers: other protocols, line breaks on the
// wire, forged log records, answers too large for the interface, long
// header lists, and the host's TLS verification switch.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "http_server.h"
#include "log_file.h"
#include "quillnet.h"
#include "raw_http_server.h"
#include "submit_helpers.h"
#include "temp_dir.h"

using qntest::Body;
using qntest::Form;
using qntest::RawConnection;
using qntest::RawHttpServer;
using Lines = std::vector<std::string>;

namespace {

const std::string kPerformFailed = "error: CLibcurlWrapper::instance().curl_easy_perform(curl)[";

class Security : public ::testing::Test {
protected:
    void SetUp() override {
        qntest::use_config_dir(config_.path());
        ASSERT_EQ(quillnet_startup(), 1);
        server_.start();
    }
    void TearDown() override {
        server_.stop();
        quillnet_cleanup();
    }
    // Every request head the server saw, joined.
    std::string heads() const {
        std::string all;
        for (const auto& r : server_.requests()) all += r.head;
        return all;
    }

    qntest::TempDir config_;
    qntest::LogReader log_{config_.path()};
    RawHttpServer server_{[](RawConnection& c) { c.send(RawHttpServer::response(200, "ok")); }};
};

// A submit of each family, to `url`, with `doc` as its option document
// where it takes one; the result and the body's length.
using Call = std::function<int(const std::string& url, Body& body)>;
struct Family {
    const char* name;
    Call call;
};

std::vector<Family> families(Form& form, QuillnetSubmitParam& param, QuillnetSubmitParamEx& param_ex) {
    return {
        {"ex", [](const std::string& u, Body& b) { return quillnet_submit_ex(u.c_str(), 10, "q", 0, &b.ptr, &b.len); }},
        {"ex7",
         [](const std::string& u, Body& b) {
             return quillnet_submit_ex7(u.c_str(), 10, "q", 0, 2, 1, nullptr, &b.ptr, &b.len, nullptr, nullptr, 0,
                                        nullptr, nullptr, nullptr, nullptr);
         }},
        {"common",
         [&](const std::string& u, Body& b) {
             param.url = u.c_str();
             param_ex.ret_buf = &b.ptr;
             param_ex.ret_buf_len = &b.len;
             return quillnet_submit_common(&param, &param_ex);
         }},
        {"multipart",
         [&](const std::string& u, Body& b) {
             return quillnet_submit_multipart(u.c_str(), 10, form.get(), 0, &b.ptr, &b.len);
         }},
        {"ftp listing",
         [](const std::string& u, Body& b) { return quillnet_submit_ex2(u.c_str(), 10, "", 0, 6, &b.ptr, &b.len); }},
    };
}

}  // namespace

TEST_F(Security, EachSubmitSpeaksOnlyTheProtocolsItExistsFor) {
    const std::string here = "127.0.0.1:" + std::to_string(server_.port());
    Form form;
    form.add(WEB_PART_FIELD, "k", "v");
    QuillnetSubmitParam param{0, static_cast<int>(sizeof(param)), nullptr, 10, "q", 0, 2, 1};
    QuillnetSubmitParamEx param_ex{};
    param_ex.size = static_cast<int>(sizeof(param_ex));
    // The FTP listing alone takes ftp; nothing else ever reaches the server.
    const Lines refused_by_all = {"file:///etc/passwd", "gopher://" + here + "/_X-Injected:%20yes",
                                  "dict://" + here + "/d:word", "telnet://" + here + "/", "smtp://" + here + "/"};
    size_t calls = 0;
    for (const Family& f : families(form, param, param_ex)) {
        Lines urls = refused_by_all;
        urls.push_back(std::string(f.name) == "ftp listing" ? "http://" + here + "/" : "ftp://" + here + "/");
        for (const std::string& url : urls) {
            SCOPED_TRACE(std::string(f.name) + " " + url);
            Body body;
            EXPECT_EQ(f.call(url, body), -1);
            EXPECT_EQ(body.ptr, nullptr);
            EXPECT_EQ(body.len, 0);
            ++calls;
        }
    }
    EXPECT_EQ(server_.accepted(), 0);
    const std::string code = std::to_string(CURLE_UNSUPPORTED_PROTOCOL) + "] != CURLE_OK";
    EXPECT_EQ(log_.records(kPerformFailed + code).size(), calls);
}

TEST_F(Security, LineBreaksNeverReachTheWire) {
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
    const std::string dropped0 = "30 header with CR or LF dropped, index:0";
    const std::string dropped2 = "30 header with CR or LF dropped, index:2";
    Form plain, field, file, unterminated;
    plain.add(WEB_PART_FIELD, "k", "line one\r\nline two");  // a value may hold line breaks
    field.add(WEB_PART_FIELD, "k", "v").add(WEB_PART_FIELD, "f\r\nX-Injected: yes", "v");
    file.add(WEB_PART_FILE, "a.txt\nX-Injected: yes", "data");
    unterminated.add(WEB_PART_FIELD_TYPED, std::string(260, 'n'), "v");
    // name; the call; result; records besides the transfer's own; requests that reached the server.
    const std::tuple<const char*, std::function<int(Body&)>, int, Lines, int> cases[] = {
        {"document line", [&](Body& b) { return ex7(doc, nullptr, b); }, 0, {dropped0, dropped2}, 1},
        {"document line, LF", [&](Body& b) { return ex7(lf_doc, nullptr, b); }, 0, {dropped0}, 1},
        {"multipart document",
         [&](Body& b) { return multipart(plain, doc, b); },
         0,
         {"30 param_ex != NULL", dropped0, dropped2},
         1},
        {"cookie",
         [&](Body& b) { return ex7(lf_doc, "a=b\r\nX-Injected: yes", b); },
         -1,
         {"25 ---------------need_set_cookie:---------------a=b\\r\\nX-Injected: yes",
          "35 need_set_cookie with CR or LF, request not sent"},
         0},
        {"field name", [&](Body& b) { return multipart(field, nullptr, b); }, -1,
         {"35 web_part name with CR or LF, request not sent"}, 0},
        {"file name", [&](Body& b) { return multipart(file, nullptr, b); }, -1,
         {"35 web_part name with CR or LF, request not sent"}, 0},
        {"name without end", [&](Body& b) { return multipart(unterminated, nullptr, b); }, -1,
         {"35 web_part name without its terminator, request not sent"}, 0},
        {"url",
         [&](Body& b) {
             const std::string bad = u + " HTTP/1.1\r\nX-Injected: yes\r\n";
             return quillnet_submit_ex(bad.c_str(), 10, "q", 0, &b.ptr, &b.len);
         },
         -1, {}, 0},
    };
    for (const auto& [name, call, result, records, requests] : cases) {
        SCOPED_TRACE(name);
        const size_t before = server_.requests().size();
        Body body;
        EXPECT_EQ(call(body), result);
        EXPECT_EQ(body.len, result == 0 ? 2 : 0);
        EXPECT_EQ(server_.requests().size() - before, static_cast<size_t>(requests));
        Lines notes;
        for (const std::string& r : log_.records()) {
            if (r.find("perform") == std::string::npos && r.find(" == Req:") == std::string::npos &&
                r.find("strConfigFilePath") == std::string::npos) {
                notes.push_back(r);
            }
        }
        EXPECT_EQ(notes, records);
    }
    EXPECT_EQ(heads().find("X-Injected"), std::string::npos) << heads();
    EXPECT_NE(heads().find("\r\nX-B: 1\r\n"), std::string::npos);
}

TEST_F(Security, AnAnswerCannotForgeLogRecordsOrCutThem) {
    RawHttpServer forger([](RawConnection& c) {
        c.send(RawHttpServer::response(200, "ok\n2020-01-01 00:00:00.000 [1] [35] FORGED RECORD\xff tail"));
    });
    forger.start();
    Body body;
    ASSERT_EQ(quillnet_submit_ex(forger.url("/f").c_str(), 10, "q", 0, &body.ptr, &body.len), 0);
    // One line: the break escaped, the bad byte replaced, the rest kept.
    EXPECT_EQ(log_.records("FORGED"),
              Lines{"25 by net == Req:q Rep:ok\\n2020-01-01 00:00:00.000 [1] [35] FORGED RECORD\xEF\xBF\xBD tail"});
}

TEST_F(Security, AnAnswerTooLargeForTheInterfaceFailsBeforeItArrives) {
    // Announced larger than a body length the interface can report: refused
    // from the head on, nothing kept.
    RawHttpServer huge([](RawConnection& c) {
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 3000000000\r\n\r\n" + std::string(65536, 'h'));
    });
    huge.start();
    char sentinel[] = "untouched";
    char* ret = sentinel;
    int len = -1;
    EXPECT_EQ(quillnet_submit_ex(huge.url("/h").c_str(), 10, "q", 0, &ret, &len), -1);
    EXPECT_EQ(ret, sentinel);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(log_.records(kPerformFailed + std::to_string(CURLE_FILESIZE_EXCEEDED)).size(), 1u);
}

// As many lines as libcurl sends (it refuses a request head above 1 MB);
// bench/ times the list for 100000 lines and more.
TEST_F(Security, FiftyThousandHeaderLinesGoOutInOrder) {
    constexpr int kLines = 50000;
    std::string doc = R"({"headers":[)";
    for (int i = 0; i < kLines; ++i) doc += (i == 0 ? "\"X-" : ",\"X-") + std::to_string(i) + ": v\"";
    doc += "]}";
    Body body;
    ASSERT_EQ(quillnet_submit_ex4(server_.url("/many").c_str(), 30, "q", 0, 2, 2, doc.c_str(), &body.ptr, &body.len),
              0);
    const Lines lines = server_.requests().back().header_lines();
    Lines own;
    for (const std::string& line : lines) {
        if (line.rfind("X-", 0) == 0) own.push_back(line);
    }
    ASSERT_EQ(own.size(), static_cast<size_t>(kLines));
    for (int i : {0, 1, 4999, kLines - 1}) EXPECT_EQ(own[static_cast<size_t>(i)], "X-" + std::to_string(i) + ": v");
}

// The host's verification switch, read once per process: each case runs in
// a process of its own (gtest_discover_tests) and sets the environment
// before the first transfer.
struct TlsCase {
    const char* name;
    const char* verify;  // QUILLNET_TLS_VERIFY, or null
    bool ca_file;        // QUILLNET_TLS_CA_FILE = the server's own certificate
    const char* host;
    int submit, multipart;  // results
};

void PrintTo(const TlsCase& c, std::ostream* out) { *out << c.name; }

class TlsVerification : public ::testing::TestWithParam<TlsCase> {};

TEST_P(TlsVerification, AsTheHostAsked) {
    const TlsCase& c = GetParam();
    qntest::TempDir config;
    qntest::use_config_dir(config.path());
    qntest::LogReader log(config.path());
    qntest::HttpsServer server(config.path());
    server.server().Post("/t", [](const httplib::Request&, httplib::Response& res) { res.set_content("tls", "text/plain"); });
    server.start();
    if (c.verify != nullptr) ::setenv("QUILLNET_TLS_VERIFY", c.verify, 1);
    if (c.ca_file) ::setenv("QUILLNET_TLS_CA_FILE", config.file("cert.pem").c_str(), 1);
    ASSERT_EQ(quillnet_startup(), 1);
    const std::string url = "https://" + std::string(c.host) + ":" + std::to_string(server.port()) + "/t";
    Body a, b;
    Form form;
    EXPECT_EQ(quillnet_submit_ex(url.c_str(), 10, "q", 0, &a.ptr, &a.len), c.submit);
    EXPECT_EQ(quillnet_submit_multipart(url.c_str(), 10, form.add(1, "k", "v").get(), 0, &b.ptr, &b.len),
              c.multipart);
    EXPECT_EQ(a.str() + b.str(), std::string(c.submit == 0 ? "tls" : "") + (c.multipart == 0 ? "tls" : ""));
    const size_t refusals = (c.submit != 0 ? 1u : 0u) + (c.multipart != 0 ? 1u : 0u);
    EXPECT_EQ(log.records(kPerformFailed + std::to_string(CURLE_PEER_FAILED_VERIFICATION)).size(), refusals);
    server.stop();
    quillnet_cleanup();
}

// The test's certificate is self-signed for 127.0.0.1: unknown to the
// system's store, and not valid for the name localhost.
INSTANTIATE_TEST_SUITE_P(
    Host, TlsVerification,
    ::testing::Values(TlsCase{"off_by_default", nullptr, false, "127.0.0.1", 0, -1},
                      TlsCase{"off", "0", true, "localhost", 0, -1},
                      TlsCase{"on_against_the_system_store", "1", false, "127.0.0.1", -1, -1},
                      TlsCase{"on_any_value_but_0", "yes", false, "127.0.0.1", -1, -1},
                      TlsCase{"on_against_the_hosts_store", "1", true, "127.0.0.1", 0, 0},
                      TlsCase{"on_checks_the_name", "1", true, "localhost", -1, -1}),
    [](const ::testing::TestParamInfo<TlsCase>& p) { return std::string(p.param.name); });
