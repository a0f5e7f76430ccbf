#include "https_server.h"

#include <gtest/gtest.h>

#include "tls_cert.h"

namespace qntest {

HttpsServer::HttpsServer(const std::string& dir) {
    const TlsFiles files = make_self_signed_cert(dir);
    server_ = std::make_unique<httplib::SSLServer>(files.cert.c_str(), files.key.c_str());
    // Recorded before the answer goes out (a logger runs after it), so a
    // client that has its answer always finds its request here.
    server_->set_post_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        ReceivedRequest r;
        r.method = req.method;
        r.path = req.path;
        r.body = req.body;
        r.headers = req.headers;
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(std::move(r));
    });
}

HttpsServer::~HttpsServer() {
    stop();
}

void HttpsServer::start() {
    ASSERT_TRUE(server_->is_valid()) << "the TLS server could not load its certificate";
    port_ = server_->bind_to_any_port("127.0.0.1");
    ASSERT_GT(port_, 0);
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running()) std::this_thread::yield();
}

void HttpsServer::stop() {
    if (thread_.joinable()) {
        server_->stop();
        thread_.join();
    }
}

std::string HttpsServer::url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<ReceivedRequest> HttpsServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

}  // namespace qntest
