#include "http_server.h"

#include <gtest/gtest.h>

#include "tls_cert.h"

namespace qntest {

HttpServer::HttpServer() : server_(new httplib::Server()) {
    drop_idle_connections();
    record_requests();
}

#if defined(CPPHTTPLIB_OPENSSL_SUPPORT)
HttpServer::HttpServer(const std::string& tls_dir) : scheme_("https") {
    const TlsFiles files = make_self_signed_cert(tls_dir);
    server_.reset(new httplib::SSLServer(files.cert.c_str(), files.key.c_str()));
    drop_idle_connections();
    record_requests();
}
#else
// cpp-httplib built without OpenSSL (the Windows test build) has no TLS
// server; tests that need one skip before they get here.
HttpServer::HttpServer(const std::string&) : HttpServer() {
    ADD_FAILURE() << "no TLS server in this build";
}
#endif

HttpServer::~HttpServer() {
    stop();
}

// The library keeps connections open between calls (until
// quillnet_cleanup); the server closes one left idle for a second, so that
// stop() waits at most that long. Small answers go out at once too: without
// it, an answer written in two pieces waits for the client's delayed
// acknowledgement on a reused connection.
void HttpServer::drop_idle_connections() {
    server_->set_keep_alive_timeout(1);
    server_->set_tcp_nodelay(true);
}

// Recorded once the body has been read and before the answer goes out, so
// that a client that has its answer also finds its request counted.
void HttpServer::record_requests() {
    server_->set_post_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back({req.method, req.path, req.body, req.headers, req.remote_port});
    });
}

void HttpServer::start() {
    ASSERT_TRUE(server_->is_valid()) << "the server could not be set up (certificate?)";
    port_ = server_->bind_to_any_port("127.0.0.1");
    ASSERT_GT(port_, 0);
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // The socket listens from the bind on; waiting for the accept loop only
    // makes stop() right after start() well defined.
    while (!server_->is_running()) std::this_thread::yield();
}

void HttpServer::stop() {
    if (thread_.joinable()) {
        server_->stop();
        thread_.join();
    }
}

std::string HttpServer::url(const std::string& path) const {
    return scheme_ + "://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<ReceivedRequest> HttpServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

}  // namespace qntest
