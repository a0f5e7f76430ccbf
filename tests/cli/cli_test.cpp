// The quillnet program as a child process against real servers on 127.0.0.1, a row per way a user meets it (exit
// status, standard output exactly, a line of standard error: its only one on failure); `quillnet report`'s page.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "ftp_server.h"
#include "http_server.h"
#include "platform.h"
#include "raw_http_server.h"
#include "temp_dir.h"

extern char** environ;

namespace {

using Args = std::vector<std::string>;

struct CliResult {
    int code = -1;  // exit status; 128 + signal when it was killed
    std::string out, err;
    std::string shown() const {
        return "exit " + std::to_string(code) + "\nstdout: " + out.substr(0, 300) + "\nstderr: " + err;
    }
};

struct Row {
    Args args;
    int code;
    std::string out;  // exactly
    std::string err;  // starts a line of standard error; on failure, within its only line, after "quillnet: "
    std::string in = "/dev/null", stdout_to = "";  // the child's standard input; its standard output if not `out`
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        qntest::use_config_dir(dir_.file("config/"));  // the children's, empty
        std::filesystem::create_directories(dir_.file("config/"));
        const auto answer = [](const httplib::Request& req, httplib::Response& res) {
            const auto header = [&](const char* name) { return "[" + req.get_header_value(name) + "]"; };
            if (req.path == "/echo") {
                res.set_content(req.method + " " + req.body + " " + header("Content-Type") + " " + header("X-Tag") +
                                    " " + header("Cookie") + " " + header("Authorization"), "text/plain");
            } else if (req.path == "/old") {
                res.status = 302;
                res.set_header("Location", "/new");
            } else if (req.path == "/login") {
                res.set_header("Set-Cookie", "session=abc123; Path=/");
                res.set_content("welcome", "text/plain");
            } else if (req.path == "/up") {
                const std::string got = req.get_file_value("sendfile").content;
                res.set_content("stored " + std::to_string(got.size()) + (got == qntest::pattern(got.size()) ? "" : " wrong"),
                                "text/plain");
            } else {
                res.status = req.path == "/missing" ? 404 : req.path == "/broken" ? 500 : 200;
                res.set_content(res.status == 404 ? "no such thing" : res.status == 500 ? "broken" : "hello", "text/plain");
            }
        };
        server_.serve_files().server().Get(".*", answer).Post(".*", answer).Put(".*", answer);
        server_.start();
        raw_.start();
    }

    std::string url(const std::string& path) const { return server_.url(path); }

    // Starts `program_` in the test's folder.
    pid_t start(const Args& args, const std::string& in = "/dev/null", const std::string& out = "") {
        std::vector<char*> argv = {program_.data()};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const std::string out_file = out.empty() ? dir_.file("stdout.txt") : out, err_file = dir_.file("stderr.txt");
        std::remove(dir_.file("stdout.txt").c_str());  // read back as empty when `out` takes the output
        posix_spawn_file_actions_t io;
        posix_spawn_file_actions_init(&io);
        posix_spawn_file_actions_addopen(&io, STDIN_FILENO, in.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&io, STDOUT_FILENO, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&io, STDERR_FILENO, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addchdir_np(&io, dir_.path().c_str());
        pid_t pid = -1;
        if (::posix_spawn(&pid, argv[0], &io, nullptr, argv.data(), environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&io);
        return pid;
    }

    // Waits for the child, killing it after `timeout_s` (status 128 + 9).
    CliResult finish(pid_t pid, int timeout_s = 90) {
        int status = 0;
        for (int i = 0; pid > 0 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) {
            if (i == timeout_s * 100) ::kill(pid, SIGKILL);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
                qntest::read_file(dir_.file("stdout.txt")), qntest::read_file(dir_.file("stderr.txt"))};
    }

    CliResult run(const Args& args, const std::string& in = "/dev/null", const std::string& out = "") {
        return finish(start(args, in, out));
    }

    void expect_rows(const std::vector<Row>& rows) {
        for (const Row& row : rows) {
            const CliResult r = run(row.args, row.in, row.stdout_to);
            SCOPED_TRACE(::testing::PrintToString(row.args) + "\n" + r.shown());
            EXPECT_EQ(r.code, row.code);
            EXPECT_TRUE(r.out == row.out);
            const bool one_line = r.err.find('\n') == r.err.size() - 1, has = r.err.find(row.err) != std::string::npos;
            EXPECT_TRUE(row.code == 0 ? r.err.rfind(row.err, 0) == 0 || r.err.find("\n" + row.err) != std::string::npos
                                      : r.err.rfind("quillnet: ", 0) == 0 && one_line && has);
        }
    }

    qntest::TempDir dir_;
    std::string program_ = qn::platform::executable_dir() + "quillnet";
    qntest::HttpServer server_;  // the file routes too
    // /cut: a chunked answer whose connection closes before its last chunk. Else the X-Tag header, then the
    // form's parts as they came: name(file name)=content.
    qntest::RawHttpServer raw_{[](qntest::RawConnection& c) {
        const std::string& body = c.request().body;
        std::string parts = "[" + c.request().header("X-Tag") + "]";
        for (size_t at = 0; (at = body.find("; name=\"", at)) != std::string::npos; at += 8) {
            const size_t content = body.find("\r\n\r\n", at) + 4;
            const size_t file = body.find("filename=\"", at);
            parts += " " + body.substr(at + 8, body.find('"', at + 8) - at - 8);
            if (file < content) parts += "(" + body.substr(file + 10, body.find('"', file + 10) - file - 10) + ")";
            parts += "=" + body.substr(content, body.find("\r\n--", content) - content);
        }
        c.send(c.request().target() == "/cut" ? "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n"
                                              : qntest::RawHttpServer::response(200, parts));
    }};
};

TEST_F(CliTest, SubmitsPrintOnlyTheAnswerAndTakeCurlsOptions) {
    const std::string echo = url("/echo");
    const std::string jar = dir_.write("jar.txt", "# Netscape HTTP Cookie File\n127.0.0.1\tFALSE\t/\tFALSE\t0\tjar\tyes\n"
                                                  "other.example\tFALSE\t/\tFALSE\t0\tno\tno\n");
    const std::string upload = dir_.write("u.bin", qntest::pattern(500000));
    const std::string sent = "uploaded " + upload + ": 500000 bytes";
    expect_rows({
        {{"get", url("/hello")}, 0, "hello", "HTTP 200"},
        {{"post", echo, "-d", "a=1"}, 0, "POST a=1 [application/x-www-form-urlencoded] [] [] []", "HTTP 200"},
        {{"post", echo, "-d", "@" + dir_.write("body.txt", "a=1\r\nb=2\n")}, 0,
         "POST a=1b=2 [application/x-www-form-urlencoded] [] [] []", ""},
        {{"post", echo, "-d", "@-", "-d", "y=2", "-t", "text"}, 0, "POST x=1&y=2 [text/plain] [] [] []", "",
         dir_.write("in.txt", "x=1")},
        {{"put", echo, "-t", "json", "-H", "X-Tag: t1", "--data-file", dir_.file("body.txt")}, 0,
         "PUT a=1\r\nb=2\n [application/json] [t1] [] []", ""},
        {{"get", echo, "-b", "k=v; k2=v2", "-u", "ann:secret"}, 0, "GET  [] [] [k=v; k2=v2] [Basic YW5uOnNlY3JldA==]", ""},
        {{"get", echo, "-b", jar}, 0, "GET  [] [] [jar=yes] []", ""},
        {{"get", url("/old")}, 0, "", "redirect: " + url("/new")},
        {{"post", url("/login"), "--cookies", "-c", dir_.file("new-jar.txt")}, 0, "welcome",
         "cookie: session=abc123 (domain 127.0.0.1, path /)"},
        {{"get", url("/missing")}, 0, "no such thing", "HTTP 404"},
        {{"get", url("/missing"), "-f"}, 1, "", "quillnet: get failed: HTTP 404"},
        {{"get", "http://127.0.0.1:1/"}, 1, "", "quillnet: get failed: connection refused (libcurl 7, COULDNT_CONNECT)"},
        {{"get", url("/hello"), "-O"}, 0, "", "saved 5 bytes to hello"},
        {{"get", url("/hello"), "-o", "/dev/full"}, 1, "", "quillnet: cannot write '/dev/full': No space left"},
        {{"get", url("/hello")}, 1, "", "quillnet: cannot write standard output: No space left", "/dev/null", "/dev/full"},
        {{"multipart", raw_.url("/form"), "--file", dir_.write("a.csv", "x,y"), "-F", "title=report", "-F", "sendfile=@" +
          dir_.file("a.csv")}, 0, "[] file(a.csv)=x,y title=report sendfile(a.csv)=x,y", ""},
        {{"multipart", raw_.url("/form"), "-F", "title=report", "-H", "X-Tag: a", "--async"}, 0, "[a] title=report", ""},
        {{"multipart", raw_.url("/form"), "-F", "t=1", "-o", "/dev/full"}, 1, "", "quillnet: cannot write '/dev/full'"},
        {{"clear-cache"}, 0, "", "request cache cleared"},
        {{"upload", url("/up"), upload, "--mode", "threaded"}, 0, "stored 500000", sent},
        {{"upload", url("/up"), upload}, 0, "stored 500000", sent},
        {{"upload", url("/broken"), upload}, 0, "broken", "HTTP 500"},
        {{"upload", url("/broken"), upload, "--fail"}, 1, "", "upload failed: HTTP 500"},
        {{"upload", "http://127.0.0.1:1/x", upload, "--mode", "threaded"}, 1, "",
         "upload failed: connection refused (libcurl 7, COULDNT_CONNECT)"},
    });
    EXPECT_EQ(qntest::read_file(dir_.file("hello")), "hello");
    EXPECT_NE(qntest::read_file(dir_.file("new-jar.txt")).find("\tsession\tabc123"), std::string::npos);
    EXPECT_EQ(run({"get", url("/hello"), "-s"}).err, "");
}

TEST_F(CliTest, BadArgumentsHelpVersionAndMissingModules) {
    const std::string h = "http://127.0.0.1:9/x";
    const std::vector<std::pair<Args, std::string>> bad = {
        {{"get"}, "url is required"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"get", h, "--nope"}, "unknown option '--nope' (see quillnet get --help)"},
        {{"get", h, "-L"}, "curl's -L is not an option here: redirects are not followed"},
        {{"get", "ftp://127.0.0.1/x"}, "unsupported URL scheme 'ftp'"},
        {{"get", "http://a b/"}, "malformed URL"},
        {{"get", "http://h:70000/"}, "bad port '70000'"},
        {{"get", h, "-H", "No colon"}, "expected 'Name: value'"},
        {{"get", h, "-H", "X-A: 1\r\nX-B: 2"}, "line breaks"},
        {{"get", h, "-b", "a=1\nb"}, "bad cookie"},
        {{"get", h, "-b", "nosuchjar"}, "-b 'nosuchjar': neither name=value nor a cookie file"},
        {{"get", h, "-u", "nocolon"}, "-u takes USER:PASSWORD"},
        {{"get", h, "-d", "x"}, "get sends no body"},
        {{"get", "http://127.0.0.1:9/", "-O"}, "-O: the URL names no file"},
        {{"post", h, "--data-file", "/no/such/file"}, "cannot read '/no/such/file'"},
        {{"post", h, "--data-file", "/tmp"}, "'/tmp' is a folder, not a file"},
        {{"multipart", h}, "nothing to post"},
        {{"multipart", h, "-F", "photo=@/etc/hostname"}, "-F 'photo=@/etc/hostname': the library posts files only"},
        {{"multipart", h, "-F", "a=1", "-f"}, "--fail: the multipart submits do not report the HTTP status"},
        {{"download", h, "--mode", "fast"}, "fast"},
        {{"download", "ftp://127.0.0.1/x", "--mode", "async"}, "FTP downloads run synchronously"},
        {{"download", h, "--mode", "threaded", "-H", "X: 1"}, "the threaded download takes no headers"},
        {{"download", h, "--mode", "threaded", "-f"}, "--fail: the threaded download does not see the HTTP status"},
        {{"download", h, "--mode", "sync", "-m", "5"}, "--max-time needs --mode async"},
        {{"download", h, "-o", "/missing/dir/x.bin"}, "-o '/missing/dir/x.bin': no folder '/missing/dir'"},
        {{"download", "http://127.0.0.1:9/"}, "the URL names no file"},
        {{"upload", h, "/tmp"}, "'/tmp' is a folder, not a file"},
        {{"upload", h, "/etc/hostname", "--mode", "threaded", "-f"}, "--fail: the threaded upload does not see"},
        {{"--config", "/nonexistent", "get", h}, "--config: no such folder '/nonexistent'"},
        {{"report", "/no/such.log"}, "/no/such.log"},
    };
    for (const auto& [args, reason] : bad) expect_rows({{args, 2, "", reason}});
    EXPECT_FALSE(qntest::file_exists("/nonexistent"));
    EXPECT_NE(run({"download", "--help"}).out.find("stops at 30 s (FTP: 10 s)"), std::string::npos);
    const CliResult v = run({"--version"});
    EXPECT_TRUE(v.code == 0 && std::regex_search(v.out, std::regex("^quillnet .*\nlibrary .*\nlibcurl "))) << v.out;
    // Only the program and the library: the host modules are missing.
    qntest::TempDir alone;
    const std::string bin = qn::platform::executable_dir();
    for (const char* f : {"quillnet", "libquillnet.so"}) std::filesystem::copy_file(bin + f, alone.file(f));
    program_ = alone.file("quillnet");
    expect_rows({{{"get", url("/hello")}, 3, "", "cannot load the host module libMJBase.so from " + alone.path()}});
}

TEST_F(CliTest, DownloadsSayWhatHappened) {
    const std::string data = qntest::pattern(300000);
    qntest::FileServer tls_files(dir_.path());
    qntest::FtpServer ftp(dir_.path(), "bob", "pw");
    dir_.write("f.bin", data);
    ASSERT_TRUE(ftp.start());
    const std::string out = dir_.file("out.bin");
    const std::string file = url("/file/300000"), digest = url("/digest/300000");
    const std::string saved = "downloaded " + out + ": 300000 bytes", failed = "download failed: ";
    std::vector<Row> rows = {
        {{file, "--mode", "sync"}, 0, "", saved},
        {{file, "--mode", "threaded"}, 0, "", saved},
        {{file}, 0, "", "HTTP 200"},
        {{url("/chunked/300000"), "--mode", "threaded"}, 0, "", saved},
        {{tls_files.url("/file/300000")}, 0, "", saved},
        {{digest, "--mode", "sync", "-u", "alice:secret", "--digest"}, 0, "", saved},
        {{digest, "-u", "alice:secret", "--digest"}, 0, "", saved},
        {{ftp.url("/f.bin"), "-u", "bob:pw"}, 0, "", saved},
        {{url("/say?s=404&b=gone"), "--mode", "sync"}, 1, "", failed + "HTTP 404"},
        {{url("/say?s=404&b=gone")}, 1, "", failed + "HTTP 404 (libcurl 22, HTTP_RETURNED_ERROR)"},
        {{url("/digest/10"), "--mode", "sync", "-u", "alice:wrong", "--digest"}, 1, "", failed + "HTTP 401"},
        {{"http://127.0.0.1:1/x", "--mode", "threaded"}, 1, "",
         failed + "connection refused (libcurl 7, COULDNT_CONNECT)"},
        {{raw_.url("/cut"), "--mode", "threaded"}, 1, "", failed + "the transfer was cut short (libcurl 18"},
        {{url("/slow/20000000"), "-m", "1"}, 1, "", failed + "timed out after 1 s (--max-time)"},
        {{ftp.url("/f.bin"), "-u", "bob:nope"}, 1, "", failed + "login denied (libcurl 67, LOGIN_DENIED)"},
    };
    for (Row& row : rows) {
        std::remove(out.c_str());
        row.args.insert(row.args.begin(), "download");
        row.args.insert(row.args.end(), {"-o", out});
        expect_rows({row});
        EXPECT_TRUE(row.code != 0 || qntest::read_file(out) == data) << row.args[1];
    }
    expect_rows({
        {{"download", file, "--mode", "threaded", "-o", "-"}, 0, data, "downloaded standard output: 300000 bytes"},
        {{"download", file, "--mode", "threaded", "-o", "/dev/full"}, 1, "", "quillnet: cannot write '/dev/full'"},
        {{"get", digest, "-u", "alice:secret", "--digest"}, 0, data, "HTTP 200"},
        {{"download", url("/echo"), "-d", "{}", "-H", "X-Tag: t", "-b", "k=v", "-o", "-"}, 0,
         "POST {} [application/json;charset=UTF-8] [t] [k=v] []", ""},
    });
    const CliResult verbose = run({"-v", "download", file, "-o", out});
    EXPECT_NE(verbose.err.find("< HTTP/1.1 200 OK"), std::string::npos) << verbose.err;
    EXPECT_NE(verbose.err.find("curl_multi_perform ret:0"), std::string::npos) << verbose.err;
}

TEST_F(CliTest, CtrlCStopsAnAsynchronousDownloadThroughTheLibrary) {
    const std::string target = dir_.file("slow.bin");
    const pid_t pid = start({"download", url("/slow/20000000"), "-o", target});  // 4096 bytes every 20 ms
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 1000 && qntest::read_file(target).size() < 20000; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(::kill(pid, SIGINT), 0);
    const auto sent = std::chrono::steady_clock::now();
    const CliResult r = finish(pid, 30);
    SCOPED_TRACE(r.shown());
    EXPECT_EQ(r.code, 130);
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(5));
    const std::string data = qntest::read_file(target);
    EXPECT_NE(r.err.find("stopped by Ctrl-C: download " + std::to_string(data.size()) + " bytes in " + target +
                         "; file closed, no task running"), std::string::npos);
    EXPECT_TRUE(data.size() >= 20000u && data.size() < 20000000u && data == qntest::pattern(20000000, 0, data.size()));
}

TEST_F(CliTest, DemoRunsEndToEndAndLeavesNoServer) {
    const std::string demo = dir_.path() + "demo/";
    const CliResult r = run({"demo", "--dir", demo});
    SCOPED_TRACE(r.shown());
    EXPECT_EQ(r.code, 0);
    for (const char* expected : {"from the request cache (by catch)", "redirect to http://127.0.0.1:",
                                 "cookie session=demo42", "paused at", "FTP as user demo", "demo complete"}) {
        EXPECT_NE(r.out.find(expected), std::string::npos) << expected;
    }
    EXPECT_EQ(r.out.find("FAILED"), std::string::npos);
    EXPECT_TRUE(qntest::file_exists(demo + "report.html") && qntest::file_exists(demo + "config/log/quillnet.log") &&
                !qntest::file_exists(demo + "files"));
    std::smatch m;  // the servers are gone: the FTP process and the HTTP port
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex("servers stopping: HTTP port (\\d+), FTP process (\\d+)")));
    EXPECT_NE(::kill(std::stoi(m[2].str()), 0), 0);
    EXPECT_FALSE(httplib::Client("127.0.0.1", std::stoi(m[1].str())).Get("/echo"));
}

// `quillnet report` on logs of known lines: the bars its script drew in Chromium, the failures, the tables.
// A record `ms` after 10:00.
std::string line(int ms, int thread, int level, const std::string& text) {
    char head[128];
    std::snprintf(head, sizeof(head), "2026-12-05 %02d:%02d:%02d.%03d [%d] [%d] ", 10 + ms / 3600000, ms / 60000 % 60,
                  ms / 1000 % 60, ms % 1000, thread, level);
    return head + text + "\n";
}

// The DOM of `page` after its script ran in headless Chromium.
std::string browse(const qntest::TempDir& dir, const std::string& page) {
    const std::string command = "/usr/bin/chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
                                " --disable-background-networking --disable-component-update --disable-sync"
                                " --window-size=1300,900 --user-data-dir=" + dir.file("profile") + " --dump-dom file://" +
                                page + " > " + dir.file("browser.out") + " 2>/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return qntest::read_file(dir.file("browser.out"));
}

// An attribute the page's script set on the timeline.
std::string timeline(const std::string& dom, const std::string& attribute) {
    std::smatch m;
    const std::regex pattern("id=\"timeline\"[^>]*" + attribute + "=\"([^\"]*)\"");
    return std::regex_search(dom, m, pattern) ? m[1].str() : "(none)";
}

TEST_F(CliTest, ReportPageHasOneBarPerTransferAndTaskWithTheirOutcomes) {
    if (!qntest::file_exists("/usr/bin/chromium")) GTEST_SKIP() << "no chromium (scripts/deps.sh installs it)";
    const std::string tree = "http://10.0.0.1:8080/plume/device/queryDeviceOrgTree";
    const std::string log =
        line(10, 7, 30, "[" + tree + "] perform ret:0 spantime:10 ** by UIThread.") +
        line(10, 7, 25, "by net == Req:{\\\"a\\\":1} Rep:{}\\n<script>") +
        line(30, 7, 30, "[" + tree + "] perform ret:0 spantime:20 ** by UIThread.") +
        line(30, 7, 25, "by catch == Req:{} Rep:{}") +
        line(100, 7, 30, "[" + tree + "] perform ret:0 spantime:30") +
        line(200, 7, 30, "[" + tree + "?x=1] perform ret:0 spantime:40") +
        line(300, 9, 30, "[http://h/files/a.bin] perform ret:0 spantime:90") +
        line(300, 9, 30, "HTTP Response Code:404") +
        line(301, 9, 35, "error: HTTP url:http://h/files/a.bin path:[a] request failed with code:404") +
        line(400, 11, 30, "[http://h] curl_multi_perform ret:0 spantime:1") +
        line(401, 11, 35, "dltotal <= 0") +
        line(900, 11, 30, "[http://h] curl_multi_perform ret:0 spantime:0") +
        line(950, 7, 30, "quillnet host: download http://h/b.bin -> b.bin: 4096 bytes in 0.55 s") +
        line(1600, 12, 30, "[http://127.0.0.1:1/x] perform ret:7 spantime:0") +
        line(1600, 12, 35, "error: CLibcurlWrapper::instance().curl_easy_perform(curl)[7] != CURLE_OK,x") +
        line(1700, 7, 35, "common/public/include/Public/Helper/UrlDealwithUrlFormat::HttpHeadDealwith::"
                                    "GetNewUrl275ftp://h/ais not http/https format url!") +
        "not a record line\n";
    const std::string page = dir_.file("page.html");
    const CliResult r = run({"report", dir_.write("q.log", log), "-o", page});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "report: 6 transfers and 1 tasks (1 from the cache, 2 failed, 2 on the UI thread) -> " + page + "\n");
    const std::string html = qntest::read_file(page);
    EXPECT_EQ(html.find("<script>\""), std::string::npos);  // record text cannot end the data element
    EXPECT_FALSE(std::regex_search(html, std::regex(R"(src=|href=|url\()")));  // nothing fetched at view time

    const std::string dom = browse(dir_, page);
    EXPECT_EQ(timeline(dom, "data-total"), "7") << dom.substr(0, 3000);
    EXPECT_EQ(timeline(dom, "data-bars"), "7");
    EXPECT_EQ(timeline(dom, "data-drawn"), "3,1,1,2,0");  // by outcome: network, cache, task, failed, failed task
    EXPECT_GE(std::atof(timeline(dom, "data-narrowest").c_str()), 4.0);
    EXPECT_EQ(timeline(dom, "data-lanes"), "2");  // the UI thread alone; the three workers one after another
    for (const char* shown : {">connection refused (libcurl 7, COULDNT_CONNECT)<", "<td class=\"n\">404</td>",
                              "ftp://h/a is not http/https format url! <span class=\"muted\">(UrlFormat::HttpHeadDealwith"
                              "::GetNewUrl, line 275,",
                              "queryDeviceOrgTree</code></td><td>transfer</td><td class=\"n\">4</td>"
                              "<td class=\"n\">25</td><td class=\"n\">38.5</td>",
                              // The task: its two turns folded, the program's record giving its bytes.
                              "<code>http://h</code></td><td>asynchronous task</td><td class=\"n\">1</td><td class=\"n\">"
                              "501</td><td class=\"n\">501</td><td class=\"n\">4.0 KiB</td>"}) {
        EXPECT_NE(dom.find(shown), std::string::npos) << shown;
    }
}

// Ten megabytes as a day of use logs them: tree queries with their answers, asynchronous downloads of a
// hundred turns, threaded downloads on workers of their own, now and then a refused connection.
TEST_F(CliTest, ReportOfATenMegabyteLogIsASmallPageThatDrawsEveryBar) {
    if (!qntest::file_exists("/usr/bin/chromium")) GTEST_SKIP() << "no chromium (scripts/deps.sh installs it)";
    std::string log;
    size_t bars = 0;
    int ms = 0;
    for (int i = 0; log.size() < 10u * 1024 * 1024; ++i, ++bars) {
        const std::string query = "http://10.0.0.1:8080/plume/device/query" + std::to_string(i % 6);
        log += line(ms += 40, 1000, 30, "[" + query + "] perform ret:0 spantime:35 ** by UIThread.");
        log += line(ms, 1000, 25, "by net == Req:{\\\"id\\\":" + std::to_string(i) + "} Rep:" + std::string(1500, 'x'));
        for (int turn = 0; i % 10 == 0 && turn < 100; ++turn) {
            log += line(ms += 6, 20000 + i, 30, "[http://10.0.0.2:8080] curl_multi_perform ret:0 spantime:1");
            if (turn < 3) log += line(ms, 20000 + i, 35, "dltotal <= 0");
        }
        if (i % 10 == 0) ++bars;
        if (i % 25 != 0) continue;
        ++bars;
        const std::string rc = i % 100 == 0 ? "7" : "0";  // now and then a refused connection
        log += line(ms += 5, 30000 + i, 30, "[http://10.0.0.3/files/f.bin] perform ret:" + rc + " spantime:300");
        if (rc == "7") log += line(ms, 30000 + i, 35, "error: CLibcurlWrapper::instance().curl_easy_perform(curl)[7]"
                                                      " != CURLE_OK, url:x");
    }
    const std::string page = dir_.file("big.html");
    const CliResult r = run({"report", dir_.write("big.log", log), "-o", page});
    ASSERT_EQ(r.code, 0) << r.err;
    const size_t page_size = qntest::read_file(page).size();
    EXPECT_LT(page_size, 2u * 1024 * 1024);
    const auto started = std::chrono::steady_clock::now();
    const std::string dom = browse(dir_, page);
    EXPECT_EQ(timeline(dom, "data-total"), std::to_string(bars));
    EXPECT_EQ(timeline(dom, "data-bars"), std::to_string(bars));
    const double whole = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("report of a %zu-byte log: %zu bars, page %zu bytes; in Chromium the page loaded and drew in %s ms "
                "(its script %s ms), the browser's whole run %.2f s\n", log.size(), bars, page_size,
                timeline(dom, "data-page-ms").c_str(), timeline(dom, "data-render-ms").c_str(), whole);
}

}  // namespace
