// The synchronous downloads (HTTP, FTP), and the protocol table of every transfer export.
#include <cstdio>
#include <tuple>

#include "fixture.h"
#include "ftp_server.h"
#include "submit_helpers.h"

using qntest::file_exists;

namespace {

constexpr const char* kOld = "old content";
constexpr const char* kNoFile = "(no file)";

std::string file_or_none(const std::string& path) {
    return file_exists(path) ? read_file(path) : kNoFile;
}

class Download : public FilesTest {};

}  // namespace

// Every outcome through the plain export; ex2 differs only in its failure lines.
TEST_F(Download, HttpOutcomes) {
    // existing: a file already at the target.
    struct Case { int (*download)(const char*, const char*); std::string path; bool existing; int result;
                  std::string file; } cases[] = {
        {quillnet_download_urlfile, "/file/300000", true, 1, pattern(300000)},
        {quillnet_download_urlfile, "/chunked/70000", false, 1, pattern(70000)},
        {quillnet_download_urlfile, "/say?s=404&b=gone", true, 0, "gone"},
        {quillnet_download_urlfile, "/say?b=<html>oops", true, 0, kOld},
        {quillnet_download_urlfile, "/say?b=<html>oops&s=500", false, 0, kNoFile},
        {quillnet_download_urlfile, "/html-later", false, 0, pattern(4096)},
        {quillnet_download_urlfile, "/say?b=", true, 1, kOld},
        {quillnet_download_urlfile, "/say?b=<!DOCTYPE html><html>", false, 1, "<!DOCTYPE html><html>"},
        {quillnet_download_urlfile, "/say?b=<HTML>", false, 1, "<HTML>"},
        {quillnet_download_urlfile_ex2, "/say?s=404&b=gone", false, 0, "gone"},
        {quillnet_download_urlfile_ex2, "/html-later", false, 0, pattern(4096)},
        {quillnet_download_urlfile, "/say?b=<html>", true, 0, kOld},  // the mark alone
    };
    const auto file = [&](size_t i) { return out_.file("f" + std::to_string(i)); };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(std::to_string(i) + " " + c.path);
        if (c.existing) out_.write("f" + std::to_string(i), kOld);
        EXPECT_EQ(c.download(server_.url(c.path).c_str(), file(i).c_str()), c.result);
        EXPECT_TRUE(file_or_none(file(i)) == c.file);
    }
    // Nobody listening: no response at all, code 0.
    const std::string refused = server_.url("/file/1"), r = out_.file("r");
    server_.stop();
    EXPECT_EQ(quillnet_download_urlfile(refused.c_str(), r.c_str()), 0);
    EXPECT_EQ(quillnet_download_urlfile_ex2(refused.c_str(), r.c_str()), 0);
    EXPECT_FALSE(file_exists(r));

    const auto url = [&](size_t i) { return server_.url(cases[i].path); };
    const std::string perform = "CLibcurlWrapper::instance().curl_easy_perform(curl)";
    const Lines log = log_.notes();  // no span line, whose time may read "35 "
    EXPECT_EQ(grep(log, "35 "),
              (Lines{"35 error: HTTP url:" + url(2) + " path:[" + file(2) + "] request failed with code:404",
                     "35 error: " + perform + "[23] != CURLE_OK, url:" + url(3),
                     "35 error: HTTP url:" + url(4) + " path:[" + file(4) + "] request failed with code:500",
                     "35 error: " + perform + "[23] != CURLE_OK, url:" + url(5),
                     "35 HTTP url:" + url(9) + " path:" + file(9) + " request failed with code404",
                     "35 " + perform + " != CURLE_OK, " + url(10) + " curl_ret=23",
                     "35 error: " + perform + "[23] != CURLE_OK, url:" + url(11),
                     "35 error: HTTP url:" + refused + " path:[" + r + "] request failed with code:0",
                     "35 HTTP url:" + refused + " path:" + r + " request failed with code0"}));
}

TEST_F(Download, Ex3DocumentAndCookie) {
    if (!qntest::libcurl_answers_digest()) GTEST_SKIP() << "Digest through SSPI: not in Wine";
    // Lines named exactly "auth_digest" (leading colons skipped) set the
    // credentials, the last winning, and are not sent.
    const char* const digest = R"({"headers":["X-One: 1", "auth_digest:alice:wrong", "Auth_digest: c",
                                   "auth_digestX: 2", "::auth_digest:alice:secret", null, 7]})";
    // headers: the X- and Auth lines the server saw.
    struct Case { const char *doc, *cookie, *path; int result; std::string file; Lines headers; } cases[] = {
        {digest, "a=1; b=2", "/digest/5000", 1, pattern(5000), {"Auth_digest: c", "auth_digestX: 2", "X-One: 1"}},
        {R"({"headers":["auth_digest:alice:wrong"]})", nullptr, "/digest/10", 0, "denied", {}},
        {"not json", nullptr, "/file/10", 1, pattern(10), {}},
        {nullptr, nullptr, "/file/10", 1, pattern(10), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.doc != nullptr ? c.doc : "(null)");
        const std::string target = out_.file("f");
        std::remove(target.c_str());
        ASSERT_EQ(quillnet_download_urlfile_ex3(server_.url(c.path).c_str(), target.c_str(), c.doc, c.cookie),
                  c.result);
        EXPECT_TRUE(file_or_none(target) == c.file);  // a refusal's own body is written like any other
        const qntest::ReceivedRequest r = server_.requests().back();
        Lines headers;
        for (const auto& [name, value] : r.headers) {
            if (name.rfind("X-", 0) == 0 || name.rfind("auth", 0) == 0 || name.rfind("Auth_", 0) == 0) {
                headers.push_back(name + ": " + value);
            }
        }
        EXPECT_EQ(headers, c.headers);
        EXPECT_EQ(r.header("Cookie"), c.cookie != nullptr ? c.cookie : "");
        EXPECT_EQ(r.header("Accept-Charset") + r.header("Accept-Encoding"), "utf-8utf-8");
    }
    // A line break in the cookie would start a header of the caller's making.
    const size_t seen = server_.requests().size();
    EXPECT_EQ(quillnet_download_urlfile_ex3(server_.url("/file/1").c_str(), out_.file("g").c_str(), nullptr,
                                            "a=1\r\nX-Injected: 1"),
              0);
    EXPECT_EQ(server_.requests().size(), seen);
    EXPECT_EQ(grep(logged(), "CR or LF"), Lines{"35 cookie with CR or LF, request not sent"});
}

TEST_F(Download, FtpWithAndWithoutCredentials) {
    qntest::TempDir root;
    root.write("dir with space/\xC3\xA9.bin", pattern(250000));
    qntest::FtpServer locked(root.path(), "alice", "secret"), open(root.path());
    ASSERT_TRUE(locked.start());
    ASSERT_TRUE(open.start());
    const std::string file = "/dir with space/\xC3\xA9.bin";
    const std::string long_user(200, 'u'), long_password(59, 'p');  // one more than fits
    struct Case { qntest::FtpServer* server; std::string path; const char *user, *password; int result; } cases[] = {
        {&locked, file, "alice", "secret", 1},
        {&locked, file, "alice", "wrong", 0},
        {&locked, file, "alice", nullptr, 0},  // anonymous, refused
        {&locked, "/missing", "alice", "secret", 0},
        {&locked, file, long_user.c_str(), long_password.c_str(), 0},  // refused, not cut
        {&open, file, "alice", nullptr, 1},  // sent as anonymous
        {&open, file, nullptr, nullptr, 1},
        {&open, file, "alice", "se\r\nDELE x", 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(i);
        const std::string target = out_.file("ftp" + std::to_string(i));
        EXPECT_EQ(quillnet_download_ftpfile(c.server->url(c.path).c_str(), target.c_str(), c.user, c.password),
                  c.result);
        EXPECT_TRUE(file_or_none(target) == (c.result == 1 ? pattern(250000) : kNoFile));
    }
    const Lines log = logged();  // refused before any traffic
    EXPECT_EQ(grep(log, "35 password with CR or LF, request not sent").size(), 1u);
    EXPECT_EQ(grep(log, "25 strlen(user) + strlen(password) + 1 > 259").size(), 1u);
}

// The table turns https:// of this plain HTTP port into http:// and gives the FTP port's bare URLs ftp://.
TEST_F(Download, ProtocolTableChoosesTheSchemeOfEveryExport) {
    qntest::HttpServer server;
    server.server().Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_content("/", "text/plain"); });
    server.serve_files().serve_uploads().start();
    qntest::TempDir root;
    root.write("f.bin", "ftp");
    qntest::FtpServer ftp(root.path());
    ASSERT_TRUE(ftp.start());
    const auto host = [](int port) { return "127.0.0.1:" + std::to_string(port); };
    config_.write("Resource/Protocol.json",
                  "{\"" + host(server.port()) + "\": \"http://\", \"" + host(ftp.port()) + "\": \"ftp://\"}");
    const std::string base = "https://" + host(server.port()), file = base + "/file/4";
    const std::string target = out_.file("t"), other = out_.file("o"), source = out_.write("s", "sent");
    const char *const get = file.c_str(), *const to = get, *const path = target.c_str(), *const src = source.c_str();
    qntest::Form form;
    form.add(WEB_PART_FIELD, "k", "v");
    Seen s[4];
    qntest::Body b[4];
    QuillnetSubmitParam param{0, static_cast<int>(sizeof(param)), get, 10, "q", 0, 2, 1};
    QuillnetSubmitParamEx param_ex{};
    param_ex.size = static_cast<int>(sizeof(param_ex));
    param_ex.ret_buf = &b[3].ptr;
    const auto reached = [](int64_t fd, int (*getpos)(int64_t)) { return eventually([&] { return getpos(fd) == 100; }); };
    const int64_t threaded = quillnet_download_urlfile_ex(get, other.c_str(), nullptr, nullptr);
    const int64_t upload = quillnet_upload_urlfile_ex(to, src, nullptr, nullptr);
    const std::tuple<const char*, int, int> results[] = {  // export, result, success
        {"download", quillnet_download_urlfile(get, path), 1},
        {"ftp download", quillnet_download_ftpfile(ftp.url("/f.bin").substr(6).c_str(), path, nullptr, nullptr), 1},
        {"threaded download", reached(threaded, quillnet_getpos_download_urlfile) && quillnet_stop_download_urlfile(threaded), 1},
        {"threaded upload", reached(upload, quillnet_getpos_upload_urlfile), 1},
        {"asynchronous download",
         finish(quillnet_download_asyn_urlfile(get, path, nullptr, 0, 1, 1, nullptr, 0, &s[0], &record),
                quillnet_stop_download_asyn_urlfile, s[0]), 0},
        {"asynchronous download without a path",
         finish(quillnet_download_asyn_urlfile(base.c_str(), path, nullptr, 0, 1, 1, nullptr, 0, &s[1], &record),
                quillnet_stop_download_asyn_urlfile, s[1]), 0},
        {"asynchronous upload",
         finish(quillnet_upload_asyn_urlfile(to, src, nullptr, 0, 2, 0, nullptr, 0, &s[2], &record),
                quillnet_stop_upload_asyn_urlfile, s[2]), 0},
        {"asynchronous multipart",
         finish(quillnet_submit_multipart_asyn(to, form.get(), 0, 2, 1, nullptr, 0, &s[3], &record),
                quillnet_stop_multipart_asyn, s[3]), 0},
        {"submit", quillnet_submit_ex(to, 10, "q", 0, &b[0].ptr, &b[0].len), 0},
        {"submit ex5", quillnet_submit_ex5(to, 10, "q", 0, 2, 1, nullptr, &b[1].ptr, &b[1].len, nullptr, nullptr), 0},
        {"multipart submit", quillnet_submit_multipart(to, 10, form.get(), 0, &b[2].ptr, &b[2].len), 0},
        {"versioned submit, which takes the URL as given", quillnet_submit_common(&param, &param_ex), -1},
    };
    for (const auto& [name, result, success] : results) EXPECT_EQ(result, success) << name;
    EXPECT_EQ(s[1].data, "/");
    EXPECT_EQ(server.uploads().size(), 6u);
}
