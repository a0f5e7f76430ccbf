// An HTTP(S) test server on 127.0.0.1 recording what it receives; routes are added before start().
// serve_files(): pattern(N) at /file/N, /chunked/N, /slow/N (4 KiB every 20 ms), /digest/N (Digest,
// alice:secret), /html-later (a chunk, then "<html>"), /say?b=TEXT&s=STATUS. serve_uploads(): every POST
// parsed into uploads(); /slow... reads 2 ms per 4 KiB; ?answer=N answers pattern(N), else "parts:<count>".
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
    std::string method, path, body;
    httplib::Headers headers;
    int remote_port = 0;  // one per connection

    std::string header(const char* name) const { return headers.count(name) != 0 ? headers.find(name)->second : ""; }
};

// A form post to serve_uploads(): each part as "name|file name|type|bytes"; a header it lacks reads "-".
struct Upload {
    httplib::Headers headers;
    std::vector<std::string> parts;
    bool complete = false;  // the whole body was read

    std::string header(const char* name) const { return headers.count(name) != 0 ? headers.find(name)->second : "-"; }
};

// N bytes differing by position and by N; or `count` of them from `from` on.
std::string pattern(size_t n, size_t from = 0, size_t count = std::string::npos);

// False under Wine, whose SSPI has no Digest package for Schannel's libcurl.
bool libcurl_answers_digest();

class HttpServer {
public:
    // Over TLS with a self-signed cert.pem written to `tls_dir`, when given.
    explicit HttpServer(const std::string& tls_dir = "");
    ~HttpServer() { stop(); }
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    httplib::Server& server() { return *server_; }
    HttpServer& serve_files();
    HttpServer& serve_uploads();
    // Idle connections kept this long (default 1 s); stop() may wait as long.
    void keep_alive(int seconds);
    void start();
    void stop();

    int port() const { return port_; }
    std::string url(const std::string& path) const { return scheme_ + "://127.0.0.1:" + std::to_string(port_) + path; }
    std::vector<ReceivedRequest> requests() const { std::lock_guard<std::mutex> lock(mutex_); return requests_; }
    // Posts whose body has been read to its end or abandoned.
    std::vector<Upload> uploads() const { std::lock_guard<std::mutex> lock(mutex_); return uploads_; }
    size_t bytes_read() const { return bytes_read_.load(); }

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

// The file routes, started at once.
struct FileServer : HttpServer {
    explicit FileServer(const std::string& tls_dir = "") : HttpServer(tls_dir) {
        serve_files();
        start();
    }
};

}  // namespace qntest

#endif
