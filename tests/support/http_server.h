// An HTTP(S) server on 127.0.0.1 for tests, on a free port, that records what
// it receives. Handlers are added before start(); the destructor stops it.
#ifndef QN_TEST_HTTP_SERVER_H
#define QN_TEST_HTTP_SERVER_H

#include <httplib.h>

#include <memory>
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
};

class HttpServer {
public:
    HttpServer();
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    httplib::Server& server() { return *server_; }

    // Keeps an idle connection open this long (the default is a second);
    // stop() then waits up to that long for open connections. It also
    // serves any number of requests on one connection.
    void keep_alive(int seconds) {
        server_->set_keep_alive_timeout(seconds);
        server_->set_keep_alive_max_count(1000000);
    }

    // Binds a free port on 127.0.0.1 and serves on a thread of its own.
    void start();
    void stop();

    int port() const { return port_; }
    std::string url(const std::string& path) const;

    std::vector<ReceivedRequest> requests() const;

protected:
    // TLS with a self-signed certificate written under `tls_dir`.
    explicit HttpServer(const std::string& tls_dir);

private:
    void drop_idle_connections();
    void record_requests();

    std::unique_ptr<httplib::Server> server_;
    std::string scheme_ = "http";
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::vector<ReceivedRequest> requests_;
};

// The same over TLS; its certificate and key are written under `dir`
// (which ends in "/").
class HttpsServer : public HttpServer {
public:
    explicit HttpsServer(const std::string& dir) : HttpServer(dir) {}
};

}  // namespace qntest

#endif
