// An HTTPS server on 127.0.0.1 for tests, on a free port, with a
// self-signed certificate made for the occasion; records what it receives
// like HttpServer.
#ifndef QN_TEST_HTTPS_SERVER_H
#define QN_TEST_HTTPS_SERVER_H

#include <httplib.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http_server.h"

namespace qntest {

class HttpsServer {
public:
    // Writes its certificate and key under `dir` (which ends in "/").
    explicit HttpsServer(const std::string& dir);
    ~HttpsServer();
    HttpsServer(const HttpsServer&) = delete;
    HttpsServer& operator=(const HttpsServer&) = delete;

    httplib::Server& server() { return *server_; }

    void start();
    void stop();

    int port() const { return port_; }
    std::string url(const std::string& path) const;
    std::vector<ReceivedRequest> requests() const;

private:
    std::unique_ptr<httplib::SSLServer> server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::vector<ReceivedRequest> requests_;
};

}  // namespace qntest

#endif
