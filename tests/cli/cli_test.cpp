// The quillnet program against real servers on 127.0.0.1, one row for each
// way a user meets it: the exit status, standard output exactly, and the
// line standard error holds (the only line when the program fails).
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <mutex>
#include <thread>
#include <utility>

#include "cli_run.h"
#include "file_server.h"
#include "ftp_server.h"
#include "http_server.h"
#include "platform.h"
#include "raw_http_server.h"
#include "temp_dir.h"

namespace {

using qntest::Cli;
using qntest::CliIo;
using qntest::CliResult;
using Args = std::vector<std::string>;

std::string show(const Args& args, const CliResult& r) {
    std::string line;
    for (const std::string& a : args) line += a + " ";
    return line + "\nexit " + std::to_string(r.code) + "\nstdout: " + r.out.substr(0, 300) + "\nstderr: " + r.err;
}

struct Row {
    Args args;
    int code;
    std::string out;  // exactly
    std::string err;  // the start of a line of standard error; of its only line when code != 0
    CliIo io = {};
};

void expect_rows(Cli& cli, const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        const CliResult r = cli.run(row.args, row.io);
        SCOPED_TRACE(show(row.args, r));
        EXPECT_EQ(r.code, row.code);
        EXPECT_TRUE(r.out == row.out);
        if (row.code != 0) {
            EXPECT_EQ(r.err.rfind(row.err, 0), 0u);
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1);
        } else {
            EXPECT_TRUE(r.err.rfind(row.err, 0) == 0 || r.err.find("\n" + row.err) != std::string::npos);
        }
    }
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto& s = server_.server();
        s.Get("/hello", [](const httplib::Request&, httplib::Response& res) { res.set_content("hello", "text/plain"); });
        const auto echo = [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(req.method + " " + req.body + " [" + req.get_header_value("Content-Type") + "] [" +
                                req.get_header_value("X-Tag") + "] [" + req.get_header_value("Cookie") + "] [" +
                                req.get_header_value("Authorization") + "]",
                            "text/plain");
        };
        s.Post("/echo", echo);
        s.Put("/echo", echo);
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
        s.Post("/up", [this](const httplib::Request& req, httplib::Response& res) {
            std::string content = req.get_file_value("sendfile").content;
            res.set_content("stored " + std::to_string(content.size()), "text/plain");
            const std::lock_guard<std::mutex> hold(upload_lock_);
            uploaded_ = std::move(content);
        });
        s.Post("/broken", [](const httplib::Request&, httplib::Response& res) {
            res.status = 500;
            res.set_content("broken", "text/plain");
        });
        server_.start();
        form_.start();
    }

    // What the server's thread stored for "/up".
    std::string uploaded() {
        const std::lock_guard<std::mutex> hold(upload_lock_);
        return std::exchange(uploaded_, std::string());
    }

    std::string url(const std::string& path) const { return server_.url(path); }

    qntest::TempDir dir_;
    Cli cli_{dir_.path()};
    std::mutex upload_lock_;
    std::string uploaded_;
    qntest::HttpServer server_;
    // The form's parts, name(file name)=content, in the order they arrived,
    // and the X-Tag header.
    qntest::RawHttpServer form_{[](qntest::RawConnection& c) {
        const std::string& body = c.request().body;
        std::string parts = "[" + c.request().header("X-Tag") + "]";
        for (size_t at = 0; (at = body.find("; name=\"", at)) != std::string::npos; at += 8) {
            const size_t content = body.find("\r\n\r\n", at) + 4;
            const size_t file = body.find("filename=\"", at);
            parts += " " + body.substr(at + 8, body.find('"', at + 8) - at - 8);
            if (file < content) parts += "(" + body.substr(file + 10, body.find('"', file + 10) - file - 10) + ")";
            parts += "=" + body.substr(content, body.find("\r\n--", content) - content);
        }
        c.send(qntest::RawHttpServer::response(200, parts));
    }};
};

TEST_F(CliTest, SubmitsPrintOnlyTheAnswerAndTakeCurlsOptions) {
    const std::string echo = url("/echo");
    const std::string jar = dir_.write("jar.txt", "# Netscape HTTP Cookie File\n127.0.0.1\tFALSE\t/\tFALSE\t0\tjar\tyes\n"
                                                  "other.example\tFALSE\t/\tFALSE\t0\tno\tno\n");
    const CliIo stdin_body{dir_.write("in.txt", "x=1"), ""};
    expect_rows(cli_, {
        {{"get", url("/hello")}, 0, "hello", "HTTP 200"},
        {{"post", echo, "-d", "a=1"}, 0, "POST a=1 [application/x-www-form-urlencoded] [] [] []", "HTTP 200"},
        {{"post", echo, "-d", "@" + dir_.write("body.txt", "a=1\r\nb=2\n")}, 0,
         "POST a=1b=2 [application/x-www-form-urlencoded] [] [] []", ""},
        {{"post", echo, "-d", "@-", "-d", "y=2", "-t", "text"}, 0, "POST x=1&y=2 [text/plain] [] [] []", "", stdin_body},
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
        {{"get", url("/hello"), "-s"}, 0, "hello", ""},
        {{"get", url("/hello"), "-O"}, 0, "", "saved 5 bytes to hello"},
        {{"get", url("/hello"), "-o", "/dev/full"}, 1, "", "quillnet: cannot write '/dev/full': No space left"},
        {{"get", url("/hello")}, 1, "", "quillnet: cannot write standard output: No space left", {"/dev/null", "/dev/full"}},
        {{"multipart", form_.url("/form"), "--file", dir_.write("a.csv", "x,y"), "-F", "title=report", "-F", "sendfile=@" +
          dir_.file("a.csv")}, 0, "[] file(a.csv)=x,y title=report sendfile(a.csv)=x,y", ""},
        {{"multipart", form_.url("/form"), "-F", "title=report", "-H", "X-Tag: a", "--async"}, 0, "[a] title=report", ""},
        {{"multipart", form_.url("/form"), "-F", "t=1", "-o", "/dev/full"}, 1, "", "quillnet: cannot write '/dev/full'"},
        {{"clear-cache"}, 0, "", "request cache cleared"},
    });
    EXPECT_EQ(qntest::read_file(dir_.file("hello")), "hello");
    EXPECT_NE(qntest::read_file(dir_.file("new-jar.txt")).find("\tsession\tabc123"), std::string::npos);
    EXPECT_EQ(cli_.run({"get", url("/hello"), "-s"}).err, "");
}

TEST_F(CliTest, BadArgumentsGetOneLineAndStatusTwo) {
    const std::string h = "http://127.0.0.1:9/x";
    struct Case {
        Args args;
        std::string reason;
    } bad[] = {
        {{"get"}, "url is required"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"get", h, "--nope"}, "unknown option '--nope' (see quillnet get --help)"},
        {{"get", h, "-L"}, "curl's -L is not an option here: redirects are not followed"},
        {{"download", h, "-p", "pw"}, "curl's -p is not an option here"},
        {{"get", "ftp://127.0.0.1/x"}, "unsupported URL scheme 'ftp'"},
        {{"get", "http://a b/"}, "malformed URL"},
        {{"get", "http://h:70000/"}, "bad port '70000'"},
        {{"get", h, "-H", "No colon"}, "expected 'Name: value'"},
        {{"get", h, "-H", "X-A: 1\r\nX-B: 2"}, "line breaks"},
        {{"get", h, "-b", "a=1\nb"}, "bad cookie"},
        {{"download", h, "-b", "a=1\rb"}, "bad cookie"},
        {{"get", h, "-b", "nosuchjar"}, "-b 'nosuchjar': neither name=value nor a cookie file"},
        {{"get", h, "-u", "nocolon"}, "-u takes USER:PASSWORD"},
        {{"get", h, "-d", "x"}, "get sends no body"},
        {{"get", h, "-o", "/no/such/dir/x"}, "-o '/no/such/dir/x': no folder '/no/such/dir'"},
        {{"get", "http://127.0.0.1:9/", "-O"}, "-O: the URL names no file"},
        {{"post", h, "--data-file", "/no/such/file"}, "cannot read '/no/such/file'"},
        {{"post", h, "--data-file", "/tmp"}, "'/tmp' is a folder, not a file"},
        {{"post", h, "-d", "@/tmp"}, "'/tmp' is a folder, not a file"},
        {{"put", h, "-u", "a:b", "--digest"}, "unknown option '--digest'"},
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
    for (const Case& c : bad) {
        const CliResult r = cli_.run(c.args);
        SCOPED_TRACE(show(c.args, r));
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.err.find("quillnet: "), 0u);
        EXPECT_NE(r.err.find(c.reason), std::string::npos);
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1);  // one line
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(qntest::file_exists("/nonexistent"));
    const CliResult help = cli_.run({"download", "--help"});
    EXPECT_NE(help.out.find("stops at 30 s (FTP: 10 s)"), std::string::npos) << help.out;
}

TEST_F(CliTest, DownloadsSayWhatHappened) {
    const size_t n = 300000;
    const std::string data = qntest::pattern(n);
    qntest::FileServer files;
    qntest::FileServer tls_files(dir_.path());
    qntest::TempDir ftp_root;
    ftp_root.write("f.bin", data);
    qntest::FtpServer ftp(ftp_root.path(), "bob", "pw");
    ASSERT_TRUE(ftp.start());
    // A chunked answer whose connection closes before its last chunk.
    qntest::RawHttpServer cut([](qntest::RawConnection& c) {
        c.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n");
    });
    cut.start();
    const std::string out = dir_.file("out.bin");
    const std::string file = files.url("/file/300000"), digest = files.url("/digest/300000");
    const std::string saved = "downloaded " + out + ": 300000 bytes";
    struct Case {
        Row row;
        bool writes;  // the file holds the pattern afterwards
    } cases[] = {
        {{{file, "--mode", "sync"}, 0, "", saved}, true},
        {{{file, "--mode", "threaded"}, 0, "", saved}, true},
        {{{file}, 0, "", "HTTP 200"}, true},
        {{{files.url("/chunked/300000"), "--mode", "threaded"}, 0, "", saved}, true},
        {{{file, "-H", "X-Any: 1"}, 0, "", saved}, true},
        {{{tls_files.url("/file/300000"), "--mode", "sync"}, 0, "", saved}, true},
        {{{tls_files.url("/file/300000")}, 0, "", saved}, true},
        {{{digest, "--mode", "sync", "-u", "alice:secret", "--digest"}, 0, "", saved}, true},
        {{{digest, "-u", "alice:secret", "--digest"}, 0, "", saved}, true},
        {{{ftp.url("/f.bin"), "-u", "bob:pw"}, 0, "", saved}, true},
        {{{files.url("/say?s=404&b=gone"), "--mode", "sync"}, 1, "", "quillnet: download failed: HTTP 404"}, false},
        {{{files.url("/say?s=404&b=gone")}, 1, "", "quillnet: download failed: HTTP 404 (libcurl 22, HTTP_RETURNED_ERROR)"},
         false},
        {{{files.url("/digest/10"), "--mode", "sync", "-u", "alice:wrong", "--digest"}, 1, "",
          "quillnet: download failed: HTTP 401"}, false},
        {{{"http://127.0.0.1:1/x", "--mode", "threaded"}, 1, "",
          "quillnet: download failed: connection refused (libcurl 7, COULDNT_CONNECT)"}, false},
        {{{cut.url("/x"), "--mode", "threaded"}, 1, "", "quillnet: download failed: the transfer was cut short (libcurl 18"},
         false},
        {{{files.url("/slow/20000000"), "-m", "1"}, 1, "", "quillnet: download failed: timed out after 1 s (--max-time)"},
         false},
        {{{ftp.url("/f.bin"), "-u", "bob:nope"}, 1, "", "quillnet: download failed: login denied (libcurl 67, LOGIN_DENIED)"},
         false},
    };
    for (Case& c : cases) {
        std::filesystem::remove(out);
        c.row.args.insert(c.row.args.begin(), "download");
        c.row.args.insert(c.row.args.end(), {"-o", out});
        expect_rows(cli_, {c.row});
        if (c.writes) {
            EXPECT_TRUE(qntest::read_file(out) == data) << c.row.args[1];
        }
    }
    expect_rows(cli_, {
        {{"download", file, "--mode", "threaded", "-o", "-"}, 0, data, "downloaded standard output: 300000 bytes"},
        {{"download", file, "--mode", "threaded", "-o", "/dev/full"}, 1, "", "quillnet: cannot write '/dev/full'"},
        {{"get", digest, "-u", "alice:secret", "--digest"}, 0, data, "HTTP 200"},
        {{"download", url("/echo"), "-d", "{}", "-H", "X-Tag: t", "-b", "k=v", "-o", "-"}, 0,
         "POST {} [application/json;charset=UTF-8] [t] [k=v] []", ""},
    });
    const CliResult verbose = cli_.run({"-v", "download", file, "-o", out});
    EXPECT_NE(verbose.err.find("< HTTP/1.1 200 OK"), std::string::npos) << verbose.err;
    EXPECT_NE(verbose.err.find("curl_multi_perform ret:0"), std::string::npos) << verbose.err;
}

TEST_F(CliTest, UploadsHonourTheStatus) {
    const std::string file = dir_.write("u.bin", qntest::pattern(500000));
    const std::string sent = "uploaded " + file + ": 500000 bytes";
    expect_rows(cli_, {
        {{"upload", url("/up"), file, "--mode", "threaded"}, 0, "stored 500000", sent},
        {{"upload", url("/up"), file}, 0, "stored 500000", sent},
        {{"upload", url("/broken"), file}, 0, "broken", "HTTP 500"},
        {{"upload", url("/broken"), file, "--fail"}, 1, "", "quillnet: upload failed: HTTP 500"},
        {{"upload", "http://127.0.0.1:1/x", file, "--mode", "threaded"}, 1, "",
         "quillnet: upload failed: connection refused (libcurl 7, COULDNT_CONNECT)"},
    });
    EXPECT_TRUE(uploaded() == qntest::pattern(500000));
}

TEST_F(CliTest, VersionsAndMissingHostModules) {
    const CliResult v = cli_.run({"--version"});
    EXPECT_EQ(v.code, 0);
    EXPECT_EQ(v.out.rfind("quillnet ", 0), 0u) << v.out;
    EXPECT_NE(v.out.find("\nlibrary "), std::string::npos) << v.out;
    EXPECT_NE(v.out.find("\nlibcurl " ), std::string::npos) << v.out;
    // Only the program and the library: the host modules are missing.
    qntest::TempDir alone;
    for (const char* f : {"quillnet", "libquillnet.so"}) {
        std::filesystem::copy_file(qn::platform::executable_dir() + f, alone.file(f));
    }
    Cli lonely(dir_.path(), alone.file("quillnet"));
    expect_rows(lonely, {{{"get", url("/hello")}, 3, "", "quillnet: cannot load the host module libMJBase.so from " +
                                                             alone.path()}});
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
    SCOPED_TRACE(show({}, r));
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

TEST(CliDemo, RunsEndToEndWithinAMinuteAndLeavesNoServer) {
    qntest::TempDir dir;
    Cli cli(dir.path());
    const CliResult r = cli.run({"demo", "--dir", dir.path() + "demo"});
    SCOPED_TRACE(show({}, r));
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
