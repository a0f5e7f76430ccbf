// The quillnet program against real servers on 127.0.0.1: what it prints,
// the files it writes, its exit status, and its refusals of bad arguments.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <mutex>
#include <thread>
#include <utility>

#include "cli_run.h"
#include "file_server.h"
#include "ftp_server.h"
#include "http_server.h"
#include "platform.h"
#include "temp_dir.h"

namespace {

using qntest::Cli;
using qntest::CliResult;
using Args = std::vector<std::string>;

std::string show(const CliResult& r) {
    return "exit " + std::to_string(r.code) + "\nstdout: " + r.out + "\nstderr: " + r.err;
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto& s = server_.server();
        s.Get("/hello", [](const httplib::Request&, httplib::Response& res) { res.set_content("hello", "text/plain"); });
        const auto echo = [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(req.method + " " + req.body + " [" + req.get_header_value("Content-Type") + "] [" +
                                req.get_header_value("X-Tag") + "] [" + req.get_header_value("Cookie") + "]",
                            "text/plain");
        };
        s.Post("/echo", echo);
        s.Put("/echo", echo);
        s.Delete("/echo", echo);
        s.Get("/echo", echo);
        s.Get("/old", [](const httplib::Request&, httplib::Response& res) {
            res.status = 302;
            res.set_header("Location", "/new");
        });
        s.Post("/login", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Set-Cookie", "session=abc123; Path=/");
            res.set_content("welcome", "text/plain");
        });
        s.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
            res.status = 404;
            res.set_content("no such thing", "text/plain");
        });
        s.Post("/form", [](const httplib::Request& req, httplib::Response& res) {
            std::string parts;
            for (const auto& f : req.files) parts += f.first + "(" + f.second.filename + ")=" + f.second.content + ";";
            res.set_content(parts, "text/plain");
        });
        s.Post("/up", [this](const httplib::Request& req, httplib::Response& res) {
            std::string content = req.get_file_value("sendfile").content;
            res.set_content("stored " + std::to_string(content.size()), "text/plain");
            const std::lock_guard<std::mutex> hold(upload_lock_);
            uploaded_ = std::move(content);
        });
        server_.start();
    }

    // What the server's thread stored for "/up".
    std::string uploaded() {
        const std::lock_guard<std::mutex> hold(upload_lock_);
        return std::exchange(uploaded_, std::string());
    }

    CliResult run(const Args& args) { return cli_.run(args); }
    std::string url(const std::string& path) const { return server_.url(path); }

    qntest::TempDir dir_;
    Cli cli_{dir_.path()};
    std::mutex upload_lock_;
    std::string uploaded_;
    qntest::HttpServer server_;
};

TEST_F(CliTest, SubmitCommandsShowStatusRedirectCookiesAndBody) {
    struct Case {
        Args args;
        int code;
        std::string out, err;
    } cases[] = {
        {{"get", url("/hello")}, 0, "hello", "HTTP 200"},
        {{"post", url("/echo"), "-d", "a=1"}, 0, "POST a=1 [application/x-www-form-urlencoded] [] []", ""},
        {{"post", url("/echo"), "-t", "json", "-d", "{}"}, 0, "POST {} [application/json]", ""},
        {{"put", url("/echo"), "-t", "text", "-H", "X-Tag: t1", "-d", "b"}, 0, "PUT b [text/plain] [t1]", ""},
        {{"delete", url("/echo"), "-H", "X-Tag: gone"}, 0, "DELETE  [] [gone]", ""},
        {{"get", url("/echo"), "-b", "k=v; k2=v2"}, 0, "[k=v; k2=v2]", ""},
        {{"get", url("/old")}, 0, "", "HTTP 302\nredirect: " + url("/new")},
        {{"post", url("/login"), "--cookies"}, 0, "welcome", "cookie: session=abc123 (domain 127.0.0.1, path /)"},
        {{"get", url("/hello"), "--cookies"}, 0, "hello", "cookie: none set"},
        {{"get", url("/missing")}, 0, "no such thing", "HTTP 404"},
        {{"get", url("/missing"), "--fail"}, 1, "", "quillnet: HTTP status 404"},
        {{"get", "http://127.0.0.1:1/"}, 1, "", "quillnet: get failed: error: CLibcurlWrapper"},
        {{"multipart", url("/form"), "-F", "title=report", "--file", dir_.write("a.csv", "x,y")}, 0,
         "title()=report;", ""},
        {{"multipart", url("/form"), "--sendfile", dir_.write("b.bin", "BIN")}, 0, "sendfile(b.bin)=BIN;", ""},
        {{"clear-cache"}, 0, "request cache cleared", ""},
    };
    for (const Case& c : cases) {
        const CliResult r = run(c.args);
        SCOPED_TRACE(c.args.front() + " " + c.args.back() + "\n" + show(r));
        EXPECT_EQ(r.code, c.code);
        EXPECT_NE(r.out.find(c.out), std::string::npos);
        EXPECT_NE(r.err.find(c.err), std::string::npos);
    }
    EXPECT_NE(run({"multipart", url("/form"), "--file", dir_.file("a.csv")}).out.find("file(a.csv)=x,y;"),
              std::string::npos);
}

TEST_F(CliTest, BadArgumentsGetOneLineAndStatusTwo) {
    const std::string h = "http://127.0.0.1:9/x";
    struct Case {
        Args args;
        std::string reason;
    } bad[] = {
        {{"get"}, "url is required"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"get", h, "--nope"}, "--nope"},
        {{"get", "ftp://127.0.0.1/x"}, "unsupported URL scheme 'ftp'"},
        {{"get", "http://a b/"}, "malformed URL"},
        {{"get", "127.0.0.1/x"}, "malformed URL"},
        {{"get", "http://:80/"}, "no host"},
        {{"get", "http://h:70000/"}, "bad port '70000'"},
        {{"get", h, "-H", "No colon"}, "expected 'Name: value'"},
        {{"get", h, "-H", "Bad Name: v"}, "may not contain ' '"},
        {{"get", h, "-H", "X-A: 1\r\nX-B: 2"}, "line breaks"},
        {{"get", h, "-b", "a=1\nb"}, "bad cookie"},
        {{"get", h, "-t", "xml"}, "xml"},
        {{"post", h, "--data-file", "/no/such/file"}, "cannot read '/no/such/file'"},
        {{"post", h, "-d", "x", "--data-file", "/etc/hostname"}, "not both"},
        {{"multipart", h}, "nothing to post"},
        {{"multipart", h, "-F", "novalue"}, "expected name=value"},
        {{"download", h, "-m", "fast"}, "fast"},
        {{"download", "ftp://127.0.0.1/x", "-m", "async"}, "run synchronously"},
        {{"download", h, "-m", "threaded", "-H", "X: 1"}, "threaded download takes no headers"},
        {{"download", h, "-u", "me"}, "for ftp:// URLs"},
        {{"download", h, "--digest", "nocolon"}, "USER:PASSWORD"},
        {{"download", "http://127.0.0.1:9/"}, "give -o FILE"},
        {{"upload", h, "/no/such/file"}, "cannot read '/no/such/file'"},
        {{"report", "/no/such.log"}, "/no/such.log"},
    };
    for (const Case& c : bad) {
        const CliResult r = run(c.args);
        SCOPED_TRACE(show(r));
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.err.find("quillnet: "), 0u);
        EXPECT_NE(r.err.find(c.reason), std::string::npos);
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1);  // one line
    }
    for (const char* cmd : {"get", "post", "put", "delete", "multipart", "download", "upload", "clear-cache", "demo",
                            "report"}) {
        const CliResult r = run({cmd, "--help"});
        EXPECT_EQ(r.code, 0) << cmd;
        EXPECT_NE(r.out.find(std::string("Usage: quillnet ") + cmd), std::string::npos) << show(r);
    }
}

TEST_F(CliTest, DownloadsEveryWayIntoFiles) {
    const size_t n = 300000;
    qntest::FileServer files;
    qntest::FileServer tls_files(dir_.path());
    qntest::TempDir ftp_root;
    ftp_root.write("f.bin", qntest::pattern(n));
    qntest::FtpServer ftp(ftp_root.path(), "bob", "pw");
    ASSERT_TRUE(ftp.start());
    struct Case {
        Args args;
        std::string expect;  // the file's content
    } cases[] = {
        {{files.url("/file/300000"), "-m", "sync"}, qntest::pattern(n)},
        {{files.url("/file/300000"), "-m", "threaded"}, qntest::pattern(n)},
        {{files.url("/file/300000"), "-m", "async"}, qntest::pattern(n)},
        {{files.url("/chunked/300000"), "-m", "threaded", "--stall", "0.5"}, qntest::pattern(n)},
        {{files.url("/file/300000"), "-H", "X-Any: 1"}, qntest::pattern(n)},
        {{tls_files.url("/file/300000"), "-m", "sync"}, qntest::pattern(n)},
        {{tls_files.url("/file/300000")}, qntest::pattern(n)},
        {{files.url("/digest/300000"), "-m", "sync", "--digest", "alice:secret"}, qntest::pattern(n)},
        {{files.url("/digest/300000"), "--digest", "alice:secret"}, qntest::pattern(n)},
        {{ftp.url("/f.bin"), "-u", "bob", "-p", "pw"}, qntest::pattern(n)},
    };
    int i = 0;
    for (const Case& c : cases) {
        Args args = {"download"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const std::string target = dir_.file("out" + std::to_string(i++) + ".bin");
        args.insert(args.end(), {"-o", target});
        const CliResult r = run(args);
        SCOPED_TRACE(c.args[0] + "\n" + show(r));
        EXPECT_EQ(r.code, 0);
        EXPECT_NE(r.out.find("downloaded " + target + ": 300000 bytes"), std::string::npos);
        EXPECT_TRUE(qntest::read_file(target) == c.expect);
    }
    // The asynchronous POST with option headers and a cookie.
    const CliResult post = run({"download", url("/echo"), "--post", "{}", "-H", "X-Tag: t", "-b", "k=v", "-o",
                                dir_.file("post.txt")});
    EXPECT_EQ(post.code, 0) << show(post);
    EXPECT_EQ(qntest::read_file(dir_.file("post.txt")), "POST {} [application/json;charset=UTF-8] [t] [k=v]");
    struct Failing {
        Args args;
        std::string reason;
    } failing[] = {
        {{files.url("/say?s=404&b=gone"), "-m", "sync"}, "request failed with code:404"},
        {{files.url("/say?s=404&b=gone"), "-m", "async"}, "curl_msg->data.result != CURLE_OK"},
        {{files.url("/digest/10"), "-m", "sync", "--digest", "alice:wrong"}, "request failed with code401"},
        {{"http://127.0.0.1:1/x", "-m", "threaded", "--stall", "0.3"}, "no data for"},
        {{ftp.url("/f.bin"), "-u", "bob", "-p", "nope"}, "curl_easy_perform(curl) != CURLE_OK"},
    };
    for (const Failing& f : failing) {
        Args args = {"download"};
        args.insert(args.end(), f.args.begin(), f.args.end());
        args.insert(args.end(), {"-o", dir_.file("failed.bin")});
        const CliResult r = run(args);
        SCOPED_TRACE(show(r));
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find(f.reason), std::string::npos);
    }
}

TEST_F(CliTest, CtrlCStopsAnAsynchronousDownloadThroughTheLibrary) {
    qntest::FileServer files;  // /slow/N: 4096 bytes every 20 ms
    const std::string target = dir_.file("slow.bin");
    const pid_t pid = cli_.start({"download", files.url("/slow/20000000"), "-o", target});
    ASSERT_GT(pid, 0);
    const double deadline = qntest::now_seconds() + 20;
    while (qntest::read_file(target).size() < 20000 && qntest::now_seconds() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(::kill(pid, SIGINT), 0);
    const double sent = qntest::now_seconds();
    const CliResult r = cli_.finish(pid, 30);
    SCOPED_TRACE(show(r));
    EXPECT_EQ(r.code, 130);
    EXPECT_LT(qntest::now_seconds() - sent, 5.0);
    const std::string data = qntest::read_file(target);
    EXPECT_NE(r.err.find("stopped by Ctrl-C: download " + std::to_string(data.size()) + " bytes in " + target +
                         "; file closed, no task running"),
              std::string::npos);
    EXPECT_GE(data.size(), 20000u);
    EXPECT_LT(data.size(), 20000000u);
    EXPECT_TRUE(data == qntest::pattern(20000000, 0, data.size()));
}

TEST_F(CliTest, UploadsThreadedAndAsynchronous) {
    const std::string file = dir_.write("u.bin", qntest::pattern(500000));
    for (const char* mode : {"threaded", "async"}) {
        const CliResult r = run({"upload", url("/up"), file, "-m", mode});
        SCOPED_TRACE(show(r));
        EXPECT_EQ(r.code, 0);
        EXPECT_NE(r.out.find("stored 500000"), std::string::npos);
        EXPECT_TRUE(uploaded() == qntest::pattern(500000));
    }
}

TEST(CliDemo, RunsEndToEndWithinAMinuteAndLeavesNoServer) {
    qntest::TempDir dir;
    Cli cli(dir.path());
    const CliResult r = cli.run({"demo", "--dir", dir.path() + "demo"});
    SCOPED_TRACE(show(r));
    EXPECT_EQ(r.code, 0);
    EXPECT_LT(r.seconds, 60.0);
    for (const char* expected : {"from the request cache (by catch)", "redirect to http://127.0.0.1:",
                                 "cookie session=demo42", "paused at", "FTP as user demo", "demo complete"}) {
        EXPECT_NE(r.out.find(expected), std::string::npos) << expected;
    }
    EXPECT_EQ(r.out.find("FAILED"), std::string::npos);
    EXPECT_TRUE(qntest::file_exists(dir.path() + "demo/report.html"));
    EXPECT_TRUE(qntest::file_exists(dir.path() + "demo/config/log/quillnet.log"));
    EXPECT_FALSE(qntest::file_exists(dir.path() + "demo/files"));
    int http_port = 0;
    long ftp_pid = 0;
    ASSERT_EQ(std::sscanf(r.out.substr(r.out.find("servers stopping")).c_str(),
                          "servers stopping: HTTP port %d, FTP process %ld", &http_port, &ftp_pid),
              2);
    EXPECT_NE(::kill(static_cast<pid_t>(ftp_pid), 0), 0);
    httplib::Client client("127.0.0.1", http_port);
    EXPECT_FALSE(client.Get("/echo"));
}

}  // namespace
