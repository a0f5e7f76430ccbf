// The synchronous downloads through the library's exports against real
// loopback servers (HTTP, HTTPS, FTP): the file each leaves, its result, and
// its log lines.
#include <gtest/gtest.h>

#include <string>

#include "file_server.h"
#include "fixture.h"
#include "ftp_server.h"

using qntest::file_exists;
using qntest::pattern;
using qntest::read_file;

namespace {

using Export = int (*)(const char*, const char*);
int ex3(const char* url, const char* path) {
    return quillnet_download_urlfile_ex3(url, path, nullptr, nullptr);
}

constexpr const char* kOld = "old content";
constexpr const char* kNoFile = "(no file)";

std::string header(const qntest::ReceivedRequest& r, const char* name) {
    const auto it = r.headers.find(name);
    return it == r.headers.end() ? "" : it->second;
}

std::string file_or_none(const std::string& path) {
    return file_exists(path) ? read_file(path) : kNoFile;
}

class Download : public TransferTest {
protected:
    qntest::FileServer server_;
};

}  // namespace

TEST_F(Download, HttpOutcomesOfEveryVariant) {
    const std::string late = pattern(4096);
    struct Case {
        std::string path;
        bool existing;  // a file already at the target
        int result;
        std::string file;
    } cases[] = {
        {"/file/300000", true, 1, pattern(300000)},
        {"/chunked/70000", false, 1, pattern(70000)},
        {"/say?s=404&b=gone", true, 0, "gone"},
        {"/say?b=<html>oops", true, 0, kOld},
        {"/say?b=<html>oops&s=500", false, 0, kNoFile},
        {"/html-later", false, 0, late},
        {"/say?b=", true, 1, kOld},
        {"/say?b=<!DOCTYPE html><html>", false, 1, "<!DOCTYPE html><html>"},
        {"/say?b=<HTML>", false, 1, "<HTML>"},
    };
    const Export exports[] = {quillnet_download_urlfile, quillnet_download_urlfile_ex2, ex3};
    int n = 0;
    for (const Export download : exports) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(n) + " " + c.path);
            const std::string target = out_.file("f" + std::to_string(n++));
            if (c.existing) out_.write("f" + std::to_string(n - 1), kOld);
            EXPECT_EQ(download(server_.url(c.path).c_str(), target.c_str()), c.result);
            EXPECT_TRUE(file_or_none(target) == c.file);
        }
    }
    // Nobody listening: no response at all, code 0.
    const std::string refused = server_.url("/file/1");
    server_.stop();
    EXPECT_EQ(quillnet_download_urlfile(refused.c_str(), out_.file("r").c_str()), 0);
    EXPECT_EQ(quillnet_download_urlfile_ex2(refused.c_str(), out_.file("r").c_str()), 0);
    EXPECT_FALSE(file_exists(out_.file("r")));

    const Lines log = logged();
    EXPECT_EQ(grep(log, "25 Received HTML content, probably an error page").size(), 9u);
    EXPECT_EQ(grep(log, "30 HTTP Response Code:").size(), 10u);
    EXPECT_EQ(grep(log, "25 HTTP Response Code: ").size(), 19u);
    EXPECT_EQ(grep(log, "30 HTTP Response Code:0").size() + grep(log, "25 HTTP Response Code: 0").size(), 2u);
    // Per variant: the 404, the HTML at 200 and at 500, the late HTML.
    const auto url = [&](int i) { return server_.url(cases[i].path); };
    const auto file = [&](int i) { return out_.file("f" + std::to_string(i)); };
    Lines want = {
        "35 error: HTTP url:" + url(2) + " path:[" + file(2) + "] request failed with code:404",
        "35 error: CLibcurlWrapper::instance().curl_easy_perform(curl)[23] != CURLE_OK, url:" + url(3),
        "35 error: HTTP url:" + url(4) + " path:[" + file(4) + "] request failed with code:500",
        "35 error: CLibcurlWrapper::instance().curl_easy_perform(curl)[23] != CURLE_OK, url:" + url(5)};
    const std::string failed = "35 CLibcurlWrapper::instance().curl_easy_perform(curl) != CURLE_OK, ";
    for (int v = 1; v <= 2; ++v) {
        want.push_back("35 HTTP url:" + url(2) + " path:" + file(9 * v + 2) + " request failed with code404");
        want.push_back(failed + url(3) + " curl_ret=23");
        want.push_back("35 HTTP url:" + url(4) + " path:" + file(9 * v + 4) + " request failed with code500");
        want.push_back(failed + url(5) + " curl_ret=23");
    }
    want.push_back("35 error: HTTP url:" + refused + " path:[" + out_.file("r") + "] request failed with code:0");
    want.push_back("35 HTTP url:" + refused + " path:" + out_.file("r") + " request failed with code0");
    EXPECT_EQ(grep(log, "35 "), want);
}

TEST_F(Download, OptionDocumentDigestAndCookie) {
    if (!qntest::libcurl_answers_digest()) GTEST_SKIP() << "Digest through SSPI: not in Wine";
    struct Case {
        const char* doc;
        const char* cookie;
        const char* path;
        int result;
        Lines extra_headers;  // X- lines the server saw
    } cases[] = {
        {R"({"headers":["X-One: 1","auth_digest:alice:secret","::","X-Two: 2"]})", "a=1; b=2",
         "/digest/5000", 1, {"X-One: 1", "X-Two: 2"}},
        {R"({"headers":["::auth_digest:alice:secret"]})", nullptr, "/digest/10", 1, {}},
        {R"({"headers":["auth_digest:alice:wrong"]})", nullptr, "/digest/10", 0, {}},
        {R"({"headers":["X-Only: 1"]})", nullptr, "/digest/10", 0, {"X-Only: 1"}},
        {"not json", nullptr, "/file/10", 1, {}},
        {R"({"headers":"X-Not: array"})", nullptr, "/file/10", 1, {}},
        {R"({"headers":[null,"X-Kept: 1",7]})", nullptr, "/file/10", 1, {"X-Kept: 1"}},
        {nullptr, nullptr, "/file/10", 1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + std::string(" ") + (c.doc ? c.doc : "(null)"));
        const std::string target = out_.file("f");
        std::remove(target.c_str());
        ASSERT_EQ(quillnet_download_urlfile_ex3(server_.url(c.path).c_str(), target.c_str(), c.doc, c.cookie),
                  c.result);
        const qntest::ReceivedRequest r = server_.requests().back();
        Lines extra;
        for (const auto& [name, value] : r.headers) {
            if (name.rfind("X-", 0) == 0) extra.push_back(name + ": " + value);
        }
        EXPECT_EQ(extra, c.extra_headers);
        EXPECT_EQ(header(r, "Cookie"), c.cookie ? c.cookie : "");
        EXPECT_EQ(header(r, "Accept-Charset") + header(r, "Accept-Encoding"), "utf-8utf-8");
        EXPECT_EQ(r.headers.count("auth_digest"), 0u);
        const size_t size = std::stoul(std::string(c.path).substr(c.path[1] == 'd' ? 8 : 6));
        // A refusal's own body is written like any other that is not HTML.
        EXPECT_TRUE(file_or_none(target) == (c.result == 1 ? pattern(size) : "denied"));
    }
    // A line break in the cookie would start a header of the caller's making.
    const size_t seen = server_.requests().size();
    EXPECT_EQ(quillnet_download_urlfile_ex3(server_.url("/file/1").c_str(), out_.file("g").c_str(), nullptr,
                                            "a=1\r\nX-Injected: 1"),
              0);
    EXPECT_EQ(server_.requests().size(), seen);

    const Lines log = logged();
    EXPECT_EQ(grep(log, "30 is_"), (Lines{"30 is_error(jso)", "30 is_error(jso_headers)", "30 is_error(jso_header)"}));
    EXPECT_EQ(grep(log, "request failed"),
              Lines(2, "35 HTTP url:" + server_.url("/digest/10") + " path:" + out_.file("f") +
                           " request failed with code401"));
    EXPECT_EQ(grep(log, "CR or LF"), Lines{"35 cookie with CR or LF, request not sent"});
}

TEST_F(Download, OverHttps) {
#if !defined(CPPHTTPLIB_OPENSSL_SUPPORT)
    GTEST_SKIP() << "no TLS test server in this build (cpp-httplib without OpenSSL)";
#endif
    qntest::TempDir tls;
    qntest::FileServer https(tls.path());
    const std::string target = out_.file("tls");
    EXPECT_EQ(quillnet_download_urlfile(https.url("/file/200000").c_str(), target.c_str()), 1);
    EXPECT_TRUE(read_file(target) == pattern(200000));
}

TEST_F(Download, FtpWithAndWithoutCredentials) {
    qntest::TempDir root;
    root.write("data.bin", pattern(250000));
    root.write("dir with space/é.txt", "accented");
    qntest::FtpServer locked(root.path(), "alice", "secret"), open(root.path());
    ASSERT_TRUE(locked.start());
    ASSERT_TRUE(open.start());
    const std::string long_user(200, 'u'), long_password(59, 'p');  // one more than fits
    struct Case {
        qntest::FtpServer* server;
        const char* path;
        const char* user;
        const char* password;
        int result;
        std::string file;
    } cases[] = {
        {&locked, "/data.bin", "alice", "secret", 1, pattern(250000)},
        {&locked, "/dir with space/é.txt", "alice", "secret", 1, "accented"},
        {&locked, "/data.bin", "alice", "wrong", 0, kNoFile},
        {&locked, "/data.bin", "alice", nullptr, 0, kNoFile},  // anonymous, refused
        {&locked, "/missing", "alice", "secret", 0, kNoFile},
        {&open, "/data.bin", "alice", nullptr, 1, pattern(250000)},  // sent as anonymous
        {&open, "/data.bin", nullptr, nullptr, 1, pattern(250000)},
        {&open, "/data.bin", "alice", "se\r\nDELE data.bin", 0, kNoFile},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n);
        const std::string target = out_.file("ftp" + std::to_string(n++));
        EXPECT_EQ(quillnet_download_ftpfile(c.server->url(c.path).c_str(), target.c_str(), c.user, c.password),
                  c.result);
        EXPECT_TRUE(file_or_none(target) == c.file);
    }
    const std::string url = locked.url("/data.bin");
    EXPECT_EQ(quillnet_download_ftpfile(url.c_str(), out_.file("x").c_str(), long_user.c_str(),
                                        long_password.c_str()),
              0);
    const Lines log = logged();
    EXPECT_EQ(grep(log, "35 CLib"),
              (Lines{"35 CLibcurlWrapper::instance().curl_easy_perform(curl) != CURLE_OK," + url,
                     "35 CLibcurlWrapper::instance().curl_easy_perform(curl) != CURLE_OK," + url,
                     "35 CLibcurlWrapper::instance().curl_easy_perform(curl) != CURLE_OK," + locked.url("/missing")}));
    EXPECT_EQ(grep(log, "35 password with CR or LF, request not sent").size(), 1u);
    EXPECT_EQ(grep(log, "25 strlen(user) + strlen(password) + 1 > 259").size(), 1u);
}

TEST_F(Download, ArgumentChecks) {
    const char* const url = "http://127.0.0.1:1/";
    const char* const path = "/nowhere";
    EXPECT_EQ(quillnet_download_urlfile(nullptr, path) + quillnet_download_urlfile(url, nullptr) +
                  quillnet_download_urlfile_ex2(nullptr, path) + quillnet_download_urlfile_ex3(url, nullptr, "{}", "") +
                  quillnet_download_ftpfile(nullptr, path, "u", "p") +
                  quillnet_download_ftpfile(url, nullptr, "u", "p"),
              0);
    const Lines log = logged();
    EXPECT_EQ(grep(log, "== NULL"),
              (Lines{"25 url == NULL || path == NULL", "25 url == NULL || path == NULL",
                     "25 url == NULL || path == NULL", "25 url == NULL || path == NULL",
                     "25 ftp == NULL || path == NULL", "25 ftp == NULL || path == NULL"}));
}
