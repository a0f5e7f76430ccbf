// What a hostile URL, answer or input can make the submits do, through the
// exports against loopback servers: other protocols, line breaks on the
// wire, forged log records, answers too large for the interface, long
// header lists, and the host's TLS verification switch.
#include <curl/curl.h>

#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

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

const std::string kPerformFailed = "error: CLibcurlWrapper::instance().curl_easy_perform(curl)[";

class Security : public qntest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        server_.start();
    }
    // Every request head the server saw, joined.
    std::string heads() const {
        std::string all;
        for (const auto& r : server_.requests()) all += r.head;
        return all;
    }

    RawHttpServer server_{[](RawConnection& c) { c.send(RawHttpServer::response(200, "ok")); }};
};

// One export of each family, to `url`: whether it succeeded, and the body
// it handed out (submits) or the file it wrote (downloads).
struct Family {
    const char* name;
    bool ftp;  // the FTP name listing and download; the others are HTTP(S)
    // On a redirect: 1 the export succeeds with the 3xx answer's empty body
    // (submits, and the asynchronous download), 0 it fails (the synchronous
    // downloads want a 200), -1 not tried (the threaded download reports
    // success only by its silence).
    int on_redirect;
    std::function<bool(const std::string& url, std::string* got)> call;
};

std::string read_or_none(const std::string& path) {
    return qntest::file_exists(path) ? qntest::read_file(path) : std::string();
}

// One export for each way a request is set up; the exports that share a
// way (ex7 and submit_common with submit_ex, the other uploads with the
// asynchronous one) set the protocols in the same place.
std::vector<Family> families(const std::string& file, const std::string& log) {
    const std::string source = file + ".sent";  // what the uploads send
    std::ofstream(source) << "sent";
    auto submit = [](std::function<int(const char*, Body&)> call) {
        return [call](const std::string& u, std::string* got) {
            Body b;
            const bool ok = call(u.c_str(), b) == 0;
            *got = b.str();
            return ok;
        };
    };
    auto download = [file](std::function<int(const char*, const char*)> call) {
        return [call, file](const std::string& u, std::string* got) {
            const bool ok = call(u.c_str(), file.c_str()) == 1;
            *got = read_or_none(file);
            return ok;
        };
    };
    auto task = [](std::function<int64_t(const char*, qntest::Seen*)> start, int (*stop)(int64_t), std::string out) {
        return [=](const std::string& u, std::string* got) {
            qntest::Seen seen;
            const bool ok = qntest::finish(start(u.c_str(), &seen), stop, seen) == 0;
            *got = read_or_none(out);
            return ok;
        };
    };
    return {
        {"ex", false, 1, submit([](const char* u, Body& b) { return quillnet_submit_ex(u, 10, "q", 0, &b.ptr, &b.len); })},
        {"multipart", false, 1, submit([](const char* u, Body& b) {
             Form form;
             return quillnet_submit_multipart(u, 10, form.add(WEB_PART_FIELD, "k", "v").get(), 0, &b.ptr, &b.len);
         })},
        {"ftp listing", true, -1,
         submit([](const char* u, Body& b) { return quillnet_submit_ex2(u, 10, "", 0, 6, &b.ptr, &b.len); })},
        {"download", false, 0, download(quillnet_download_urlfile)},
        {"ftp download", true, -1,
         download([](const char* u, const char* path) { return quillnet_download_ftpfile(u, path, "u", "p"); })},
        {"threaded download", false, -1,
         [file, log](const std::string& u, std::string* got) {
             const int64_t fd = quillnet_download_urlfile_ex(u.c_str(), file.c_str(), nullptr, nullptr);
             // Its worker ends with its failure line; the stop then only joins.
             const bool failed = !qntest::wait_for_log_line(log, "] != CURLE_OK, url:" + u.substr(0, 4)).empty();
             quillnet_stop_download_urlfile(fd);
             *got = read_or_none(file);
             return !failed;
         }},
        {"asynchronous download", false, 1,
         task([file](const char* u, qntest::Seen* seen) {
             return quillnet_download_asyn_urlfile(u, file.c_str(), nullptr, 0, 1, 1, nullptr, 0, seen, &qntest::record);
         }, quillnet_stop_download_asyn_urlfile, file)},
        // The upload sends a file of its own; nothing comes back to check.
        {"asynchronous upload", false, 1,
         task([source](const char* u, qntest::Seen* seen) {
             return quillnet_upload_asyn_urlfile(u, source.c_str(), nullptr, 0, 2, 0, nullptr, 0, seen, &qntest::record);
         }, quillnet_stop_upload_asyn_urlfile, file + ".none")},
    };
}

}  // namespace

TEST_F(Security, EachExportSpeaksOnlyTheProtocolsItExistsFor) {
    const std::string here = "127.0.0.1:" + std::to_string(server_.port());
    // Redirected to another protocol: never followed, by any export.
    RawHttpServer mover([](RawConnection& c) {
        c.send(RawHttpServer::response(302, "", {"Location: file:///etc/passwd"}));
    });
    mover.start();
    const Lines refused_by_all = {"file:///etc/passwd", "gopher://" + here + "/_X-Injected:%20yes",
                                  "dict://" + here + "/d:word", "telnet://" + here + "/", "smtp://" + here + "/"};
    qntest::TempDir out;
    for (const Family& f : families(out.file("got"), qntest::log_path(config_.path()))) {
        Lines urls = refused_by_all;
        urls.push_back(f.ftp ? "http://" + here + "/" : "ftp://" + here + "/");
        if (f.on_redirect >= 0) urls.push_back(mover.url("/moved"));
        for (const std::string& url : urls) {
            SCOPED_TRACE(std::string(f.name) + " " + url);
            std::string got = "-";
            EXPECT_EQ(f.call(url, &got), url == mover.url("/moved") && f.on_redirect == 1);
            EXPECT_TRUE(got.empty()) << got.substr(0, 100);
        }
    }
    EXPECT_EQ(server_.accepted(), 0);
    EXPECT_FALSE(log_.records(std::to_string(CURLE_UNSUPPORTED_PROTOCOL) + "] != CURLE_OK").empty());
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
    Form plain, field, file, unterminated, negative, huge;
    plain.add(WEB_PART_FIELD, "k", "line one\r\nline two");  // a value may hold line breaks
    field.add(WEB_PART_FIELD, "k", "v").add(WEB_PART_FIELD, "f\r\nX-Injected: yes", "v");
    file.add(WEB_PART_FILE, "a.txt\nX-Injected: yes", "data");
    unterminated.add(WEB_PART_FIELD_TYPED, std::string(260, 'n'), "v");
    negative.add(WEB_PART_FILE, "a.bin", "data").length(-1);
    huge.add(WEB_PART_SENDFILE, "a.bin", "data").length(int64_t{1} << 32);  // 0 as 32 bits
    const std::string name_refused = "35 web_part name with CR or LF, request not sent";
    const std::string length_refused = "35 web_part data_len out of range, request not sent";
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
        {"field name, asynchronous",
         [&](Body& b) {
             b.len = 0;  // nothing is handed back
             return static_cast<int>(quillnet_submit_multipart_asyn(u.c_str(), field.get(), 0, 2, 1, nullptr, 0, nullptr, nullptr));
         },
         -1, {name_refused}, 0},
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
        EXPECT_EQ(call(body), result);
        EXPECT_EQ(body.len, result == 0 ? 2 : 0);
        EXPECT_EQ(server_.requests().size() - before, static_cast<size_t>(requests));
        Lines notes = log_.notes();
        if (name == std::string("url")) notes.erase(notes.begin());  // the failed transfer's line
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

// As many lines as libcurl sends (it refuses a request head above 1 MB),
// in order; bench/ times the list for more.
TEST_F(Security, FiftyThousandHeaderLinesGoOutInOrder) {
    std::string doc = R"({"headers":["X-0: v")", want = "X-0: v";
    for (int i = 1; i < 50000; ++i) doc += ",\"X-" + std::to_string(i) + ": v\"", want += "|X-" + std::to_string(i) + ": v";
    Body body;
    ASSERT_EQ(quillnet_submit_ex4(server_.url("/many").c_str(), 30, "q", 0, 2, 2, (doc + "]}").c_str(), &body.ptr, &body.len), 0);
    std::string own;
    for (const std::string& line : server_.requests().back().header_lines()) {
        if (line.rfind("X-", 0) == 0) own += (own.empty() ? "" : "|") + line;
    }
    EXPECT_TRUE(own == want);
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
