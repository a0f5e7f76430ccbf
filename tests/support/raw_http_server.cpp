#include "raw_http_server.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#include <strings.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace qntest {

namespace {

// The few socket calls this server makes, on int handles as the header
// keeps them (a Winsock handle is a small kernel handle value that fits).
#if defined(_WIN32)
SOCKET as_socket(int fd) { return static_cast<SOCKET>(static_cast<unsigned>(fd)); }
int as_int(SOCKET s) { return s == INVALID_SOCKET ? -1 : static_cast<int>(s); }
int poll(pollfd* fds, ULONG count, int timeout) { return ::WSAPoll(fds, count, timeout); }
long send_some(int fd, const char* data, size_t size) {
    return ::send(as_socket(fd), data, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
}
long receive_some(int fd, char* data, size_t size) {
    return ::recv(as_socket(fd), data, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
}
int accept_one(int fd) { return as_int(::accept(as_socket(fd), nullptr, nullptr)); }
void shutdown_write(int fd) { ::shutdown(as_socket(fd), SD_SEND); }
void close_socket(int fd) { ::closesocket(as_socket(fd)); }
int open_socket() {
    static const int started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data);
    }();
    return started == 0 ? as_int(::socket(AF_INET, SOCK_STREAM, 0)) : -1;
}
int bind_socket(int fd, const sockaddr_in& addr) {
    return ::bind(as_socket(fd), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
}
int listen_socket(int fd) { return ::listen(as_socket(fd), 16); }
int socket_name(int fd, sockaddr_in* addr) {
    socklen_t len = sizeof(*addr);
    return ::getsockname(as_socket(fd), reinterpret_cast<sockaddr*>(addr), &len);
}
#else
long send_some(int fd, const char* data, size_t size) { return ::send(fd, data, size, MSG_NOSIGNAL); }
long receive_some(int fd, char* data, size_t size) { return ::recv(fd, data, size, 0); }
int accept_one(int fd) { return ::accept(fd, nullptr, nullptr); }
void shutdown_write(int fd) { ::shutdown(fd, SHUT_WR); }
void close_socket(int fd) { ::close(fd); }
int open_socket() { return ::socket(AF_INET, SOCK_STREAM, 0); }
int bind_socket(int fd, const sockaddr_in& addr) {
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
}
int listen_socket(int fd) { return ::listen(fd, 16); }
int socket_name(int fd, sockaddr_in* addr) {
    socklen_t len = sizeof(*addr);
    return ::getsockname(fd, reinterpret_cast<sockaddr*>(addr), &len);
}
#endif

// Sockets are polled in short turns so that stop() never waits on a peer;
// `ok` turns false on an error other than an interruption.
bool ready(int fd, short events, bool& ok) {
    pollfd p{};
#if defined(_WIN32)
    p.fd = as_socket(fd);
#else
    p.fd = fd;
#endif
    p.events = events;
    const int n = poll(&p, 1, 50);
    ok = n >= 0 || errno == EINTR;
    return n > 0;
}

}  // namespace

std::string RawRequest::method() const {
    return head.substr(0, head.find(' '));
}

std::string RawRequest::target() const {
    const std::string line = head.substr(0, head.find("\r\n"));
    const size_t first = line.find(' ');
    const size_t second = line.rfind(' ');
    if (first == std::string::npos || second <= first) return std::string();
    return line.substr(first + 1, second - first - 1);
}

std::vector<std::string> RawRequest::header_lines() const {
    std::vector<std::string> lines;
    for (size_t pos = head.find("\r\n"); pos != std::string::npos;) {
        const size_t end = head.find("\r\n", pos + 2);
        if (end == std::string::npos || end == pos + 2) break;
        lines.push_back(head.substr(pos + 2, end - pos - 2));
        pos = end;
    }
    return lines;
}

std::string RawRequest::header(const std::string& name) const {
    for (const std::string& line : header_lines()) {
        if (line.find(':') != name.size() ||
            ::strncasecmp(line.c_str(), name.c_str(), name.size()) != 0) {
            continue;
        }
        const size_t start = line.find_first_not_of(" \t", name.size() + 1);
        return start == std::string::npos ? std::string() : line.substr(start);
    }
    return std::string();
}

bool RawConnection::send(const std::string& bytes, size_t piece) {
    bool ok = true;
    for (size_t sent = 0; sent < bytes.size();) {
        if (server_.stopping_ || !ok) return false;
        if (!ready(fd_, POLLOUT, ok)) continue;
        const long n = send_some(fd_, bytes.data() + sent, std::min(piece, bytes.size() - sent));
        if (n < 0 && errno != EINTR && errno != EAGAIN) return false;
        sent += n > 0 ? static_cast<size_t>(n) : 0;
    }
    return true;
}

void RawConnection::hold_until_stopped() {
    std::unique_lock<std::mutex> lock(server_.mutex_);
    server_.stopped_cv_.wait(lock, [this] { return server_.stopping_.load(); });
}

void RawHttpServer::start() {
    listen_fd_ = open_socket();
    ASSERT_GE(listen_fd_, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind_socket(listen_fd_, addr), 0);
    ASSERT_EQ(listen_socket(listen_fd_), 0);
    ASSERT_EQ(socket_name(listen_fd_, &addr), 0);
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
    if (listen_fd_ >= 0) close_socket(listen_fd_);
    listen_fd_ = -1;
}

std::vector<RawRequest> RawHttpServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::string RawHttpServer::response(int status, const std::string& body,
                                    const std::vector<std::string>& extra) {
    std::string out = "HTTP/1.1 " + std::to_string(status) + " Status\r\n";
    for (const std::string& line : extra) out += line + "\r\n";
    out += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    return out + body;
}

void RawHttpServer::serve() {
    bool ok = true;
    while (!stopping_) {
        if (!ready(listen_fd_, POLLIN, ok)) continue;
        const int fd = accept_one(listen_fd_);
        if (fd < 0) continue;
        ++accepted_;
        RawConnection connection(*this, fd);
        if (read_request(connection)) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(connection.request_);
            }
            handler_(connection);
        }
        shutdown_write(fd);
        close_socket(fd);
    }
}

bool RawHttpServer::read_request(RawConnection& c) {
    RawRequest& out = c.request_;
    std::string data;
    size_t body_start = std::string::npos;
    size_t body_len = 0;
    bool ok = true;
    char chunk[16384];
    for (;;) {
        if (body_start == std::string::npos && data.find("\r\n\r\n") != std::string::npos) {
            body_start = data.find("\r\n\r\n") + 4;
            out.head = data.substr(0, body_start);
            body_len = std::strtoul(out.header("Content-Length").c_str(), nullptr, 10);
            // Bodies libcurl holds back until it is told to go on.
            if (::strcasecmp(out.header("Expect").c_str(), "100-continue") == 0 &&
                !c.send("HTTP/1.1 100 Continue\r\n\r\n")) {
                return false;
            }
        }
        if (body_start != std::string::npos && data.size() >= body_start + body_len) {
            out.body = data.substr(body_start, body_len);
            return true;
        }
        if (stopping_ || !ok) return false;
        if (!ready(c.fd_, POLLIN, ok)) continue;
        const long n = receive_some(c.fd_, chunk, sizeof(chunk));
        if (n == 0 || (n < 0 && errno != EINTR)) return false;
        if (n > 0) data.append(chunk, static_cast<size_t>(n));
    }
}

}  // namespace qntest
