// A bare HTTP/1.1 server on 127.0.0.1 for tests that need what a library
// server hides or cannot do: the request head exactly as it arrived (header
// order included), answers sent in pieces of a chosen size, connections
// dropped part-way, and peers that never answer. One connection at a time,
// one request per connection, closed when the handler returns.
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
    std::string head;  // request line and header lines, CRLFs and final blank line included
    std::string body;  // Content-Length bytes after the head

    std::string method() const { return head.substr(0, head.find(' ')); }
    std::string target() const;  // as sent: path and query
    // Header lines in the order received, without line ends.
    std::vector<std::string> header_lines() const;
    // The value of the first header named `name` (any case), without the
    // blanks after the colon; empty when there is none.
    std::string header(const std::string& name) const;
};

class RawHttpServer;

// What a handler works with: the request, and the socket to answer on.
class RawConnection {
public:
    const RawRequest& request() const { return request_; }
    // Sends all of `bytes`, in writes of at most `piece` bytes; false when
    // the peer has gone or the server stops.
    bool send(const std::string& bytes, size_t piece = std::string::npos);
    // Blocks until the server is stopped: a peer that never answers.
    void hold_until_stopped();

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

    // Binds a free port on 127.0.0.1 and serves on a thread of its own.
    void start();
    // Wakes a handler that holds its connection, closes everything, joins.
    void stop();

    int port() const { return port_; }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    // Every request read so far (recorded before the handler runs).
    std::vector<RawRequest> requests() const;
    // Connections accepted so far, whether or not a request came on them.
    int accepted() const { return accepted_.load(); }

    // A complete answer with Content-Length and "Connection: close";
    // `extra` lines (without line ends) go between the status line and it.
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
