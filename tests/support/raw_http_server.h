// A bare HTTP/1.1 test server: the request head as it arrived, answers in pieces, dropped connections, silent
// peers. One request per connection, closed when the handler returns.
#ifndef QN_TEST_RAW_HTTP_SERVER_H
#define QN_TEST_RAW_HTTP_SERVER_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qntest {

struct RawRequest {
    std::string head;  // request and header lines with their CRLFs and the blank line
    std::string body;

    std::string method() const { return head.substr(0, head.find(' ')); }
    std::string target() const;
    std::vector<std::string> header_lines() const;  // in order, without line ends
    std::string header(const std::string& name) const;  // the first, any case
};

class RawHttpServer;

class RawConnection {
public:
    const RawRequest& request() const { return request_; }
    // In writes of at most `piece` bytes; false once the peer or server has gone.
    bool send(const std::string& bytes, size_t piece = std::string::npos);
    void hold_until_stopped();  // a peer that never answers

private:
    friend class RawHttpServer;
    RawConnection(RawHttpServer& server, intptr_t fd) : server_(server), fd_(fd) {}
    RawHttpServer& server_;
    intptr_t fd_;
    RawRequest request_;
};

class RawHttpServer {
public:
    using Handler = std::function<void(RawConnection&)>;

    explicit RawHttpServer(Handler handler) : handler_(std::move(handler)) {}
    ~RawHttpServer() { stop(); }
    RawHttpServer(const RawHttpServer&) = delete;
    RawHttpServer& operator=(const RawHttpServer&) = delete;

    void start();
    void stop();

    int port() const { return port_; }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    // Recorded before the handler runs.
    std::vector<RawRequest> requests() const { std::lock_guard<std::mutex> lock(mutex_); return requests_; }
    int accepted() const { return accepted_.load(); }

    // With Content-Length and "Connection: close"; `extra` header lines first.
    static std::string response(int status, const std::string& body, const std::vector<std::string>& extra = {});

private:
    friend class RawConnection;
    void serve();
    bool read_request(RawConnection& c);

    Handler handler_;
    intptr_t listen_fd_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    mutable std::mutex mutex_;
    std::condition_variable stopped_cv_;
    std::vector<RawRequest> requests_;
};

}  // namespace qntest

#endif
