#include "http_server.h"

#include <gtest/gtest.h>

namespace qntest {

HttpServer::HttpServer() {
    // Recorded before the handler runs, so that a client that has its answer
    // also finds its request counted.
    server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        ReceivedRequest r;
        r.method = req.method;
        r.path = req.path;
        r.body = req.body;
        r.headers = req.headers;
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(std::move(r));
        return httplib::Server::HandlerResponse::Unhandled;
    });
}

HttpServer::~HttpServer() {
    stop();
}

void HttpServer::start() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port_, 0);
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // The socket listens from the bind on; waiting for the accept loop only
    // makes stop() right after start() well defined.
    while (!server_.is_running()) std::this_thread::yield();
}

void HttpServer::stop() {
    if (thread_.joinable()) {
        server_.stop();
        thread_.join();
    }
}

std::string HttpServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<ReceivedRequest> HttpServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

size_t HttpServer::count(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const auto& r : requests_) n += r.path == path ? 1 : 0;
    return n;
}

size_t HttpServer::count(const std::string& path, const std::string& body) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const auto& r : requests_) n += (r.path == path && r.body == body) ? 1 : 0;
    return n;
}

}  // namespace qntest
