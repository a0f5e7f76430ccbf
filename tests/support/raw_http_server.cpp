#include "raw_http_server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace qntest {

namespace {

// Sockets are polled in short turns so that stop() never waits on a peer.
constexpr int kPollMs = 50;

std::string trim_left(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    return s.substr(i);
}

}  // namespace

// ---- RawRequest --------------------------------------------------------

std::string RawRequest::request_line() const {
    const size_t end = head.find("\r\n");
    return end == std::string::npos ? head : head.substr(0, end);
}

std::string RawRequest::method() const {
    const std::string line = request_line();
    return line.substr(0, line.find(' '));
}

std::string RawRequest::target() const {
    const std::string line = request_line();
    const size_t first = line.find(' ');
    if (first == std::string::npos) return std::string();
    const size_t second = line.rfind(' ');
    return line.substr(first + 1, second > first ? second - first - 1 : std::string::npos);
}

std::vector<std::string> RawRequest::header_lines() const {
    std::vector<std::string> lines;
    size_t pos = head.find("\r\n");
    while (pos != std::string::npos) {
        pos += 2;
        const size_t end = head.find("\r\n", pos);
        if (end == std::string::npos || end == pos) break;
        lines.push_back(head.substr(pos, end - pos));
        pos = end;
    }
    return lines;
}

std::string RawRequest::header(const std::string& name) const {
    for (const std::string& line : header_lines()) {
        const size_t colon = line.find(':');
        if (colon == name.size() && ::strncasecmp(line.c_str(), name.c_str(), colon) == 0) {
            return trim_left(line.substr(colon + 1));
        }
    }
    return std::string();
}

bool RawRequest::has_header(const std::string& name) const {
    for (const std::string& line : header_lines()) {
        const size_t colon = line.find(':');
        if (colon == name.size() && ::strncasecmp(line.c_str(), name.c_str(), colon) == 0) return true;
    }
    return false;
}

// ---- RawConnection -----------------------------------------------------

bool RawConnection::send(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        if (server_.stopping_) return false;
        pollfd p{fd_, POLLOUT, 0};
        const int ready = ::poll(&p, 1, kPollMs);
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool RawConnection::send_in_pieces(const std::string& bytes, size_t piece) {
    for (size_t pos = 0; pos < bytes.size(); pos += piece) {
        if (!send(bytes.substr(pos, piece))) return false;
    }
    return true;
}

void RawConnection::hold_until_stopped() {
    std::unique_lock<std::mutex> lock(server_.mutex_);
    server_.stopped_cv_.wait(lock, [this] { return server_.stopping_.load(); });
}

// ---- RawHttpServer -----------------------------------------------------

RawHttpServer::RawHttpServer(Handler handler) : handler_(std::move(handler)) {}

RawHttpServer::~RawHttpServer() {
    stop();
}

void RawHttpServer::start() {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listen_fd_, 0);
    int one = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ASSERT_EQ(::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(::listen(listen_fd_, 16), 0);
    socklen_t len = sizeof(addr);
    ASSERT_EQ(::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve(); });
}

void RawHttpServer::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    stopped_cv_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (listen_fd_ >= 0) ::close(listen_fd_);
    listen_fd_ = -1;
}

std::string RawHttpServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<RawRequest> RawHttpServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::string RawHttpServer::response(int status, const std::string& body,
                                    const std::vector<std::string>& extra) {
    std::ostringstream out;
    out << "HTTP/1.1 " << status << " Status\r\n";
    for (const std::string& line : extra) out << line << "\r\n";
    out << "Content-Length: " << body.size() << "\r\n"
        << "Connection: close\r\n\r\n"
        << body;
    return out.str();
}

void RawHttpServer::serve() {
    while (!stopping_) {
        pollfd p{listen_fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, kPollMs);
        if (ready <= 0) continue;
        const int fd = ::accept(listen_fd_, nullptr, nullptr);
        if (fd < 0) continue;
        RawConnection connection(*this, fd);
        if (read_request(fd, connection.request_)) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(connection.request_);
            }
            handler_(connection);
        }
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
    }
}

bool RawHttpServer::read_request(int fd, RawRequest& out) {
    std::string data;
    size_t head_end = std::string::npos;
    size_t body_len = 0;
    bool continued = false;
    char chunk[16384];
    for (;;) {
        if (head_end == std::string::npos) {
            head_end = data.find("\r\n\r\n");
            if (head_end != std::string::npos) {
                out.head = data.substr(0, head_end + 4);
                const std::string length = out.header("Content-Length");
                body_len = length.empty() ? 0 : std::strtoul(length.c_str(), nullptr, 10);
            }
        }
        if (head_end != std::string::npos) {
            if (data.size() >= head_end + 4 + body_len) {
                out.body = data.substr(head_end + 4, body_len);
                return true;
            }
            if (!continued && ::strcasecmp(out.header("Expect").c_str(), "100-continue") == 0) {
                continued = true;
                RawConnection c(*this, fd);
                if (!c.send("HTTP/1.1 100 Continue\r\n\r\n")) return false;
            }
        }
        if (stopping_) return false;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, kPollMs);
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        const ssize_t n = ::recv(fd, chunk, sizeof(chunk), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.append(chunk, static_cast<size_t>(n));
    }
}

}  // namespace qntest
