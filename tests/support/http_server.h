// An HTTP(S) server on 127.0.0.1 for tests, on a free port, recording what
// it receives. Routes are added before start(); the destructor stops it,
// slow answers and slow readers too. Two route sets serve the transfers:
//
// serve_files(): files of known content, pattern(N)
//   /file/N      N bytes, with a Content-Length
//   /chunked/N   the same, chunked
//   /slow/N      the same, 4096 bytes every 20 ms: a transfer caught mid-way
//   /digest/N    the same behind HTTP Digest (MD5, qop=auth), checked here,
//                for user "alice" with password "secret"
//   /html-later  a chunk of pattern, then one beginning with "<html>"
//   /say?b=T&s=C the text T with status C (default 200)
// serve_uploads(): every POST, its form parsed into uploads()
//   /slow...     the body read 2 ms for every 4 KiB: a stop lands mid-way
//   ?answer=N    answered with pattern(N), else with "parts:" and their count
#ifndef QN_TEST_HTTP_SERVER_H
#define QN_TEST_HTTP_SERVER_H

#include <httplib.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qntest {

struct ReceivedRequest {
    std::string method;
    std::string path;
    std::string body;
    httplib::Headers headers;  // by name; raw order is not kept
    int remote_port = 0;       // the client's end: one per connection

    std::string header(const char* name) const {
        const auto it = headers.find(name);
        return it == headers.end() ? "" : it->second;
    }
};

// A form post to serve_uploads(): each part as "name|file name|type|bytes".
struct Upload {
    httplib::Headers headers;
    std::vector<std::string> parts;
    bool complete = false;  // the whole body was read
};

// N bytes that differ from one position to the next and from one size to
// another; or `count` of them from `from` on.
std::string pattern(size_t n, size_t from = 0, size_t count = std::string::npos);

// False under Wine: a Windows libcurl built with Schannel answers Digest
// through SSPI, which has no Digest package in Wine.
bool libcurl_answers_digest();

class HttpServer {
public:
    // Over TLS, with a self-signed certificate for 127.0.0.1 written there
    // as cert.pem, when `tls_dir` (ending in "/") is given.
    explicit HttpServer(const std::string& tls_dir = "");
    ~HttpServer() { stop(); }
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    httplib::Server& server() { return *server_; }
    HttpServer& serve_files();
    HttpServer& serve_uploads();
    // Keeps an idle connection open this long (the default is a second)
    // for any number of requests; stop() then waits up to that long.
    void keep_alive(int seconds);

    // Binds a free port on 127.0.0.1 and serves on a thread of its own.
    void start();
    void stop();

    int port() const { return port_; }
    std::string url(const std::string& path) const;
    std::vector<ReceivedRequest> requests() const;
    // Posts whose body has been read to its end or abandoned.
    std::vector<Upload> uploads() const;
    size_t bytes_read() const { return bytes_read_.load(); }  // over all posts

private:
    std::unique_ptr<httplib::Server> server_;
    std::string scheme_ = "http";
    std::thread thread_;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<size_t> bytes_read_{0};
    mutable std::mutex mutex_;
    std::vector<ReceivedRequest> requests_;
    std::vector<Upload> uploads_;
};

// The route sets, started at once (as the host program's tests use them).
struct FileServer : HttpServer {
    explicit FileServer(const std::string& tls_dir = "") : HttpServer(tls_dir) {
        serve_files();
        start();
    }
};
struct UploadServer : HttpServer {
    UploadServer() {
        serve_uploads();
        start();
    }
};

}  // namespace qntest

#endif
