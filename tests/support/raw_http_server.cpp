#include "raw_http_server.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace qntest {

namespace {

// Socket handles are kept as integers, which a Winsock handle fits.
#if defined(_WIN32)
using Native = SOCKET;
using Length = int;
constexpr int kNoSignal = 0, kShutWrite = SD_SEND;
int close_socket(Native s) { return ::closesocket(s); }
int poll_one(pollfd* p, int ms) { return ::WSAPoll(p, 1, ms); }
bool sockets_ready() {
    static const bool ok = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ok;
}
#else
using Native = int;
using Length = size_t;
constexpr int kNoSignal = MSG_NOSIGNAL, kShutWrite = SHUT_WR;
int close_socket(Native s) { return ::close(s); }
int poll_one(pollfd* p, int ms) { return ::poll(p, 1, ms); }
bool sockets_ready() { return true; }
#endif

Native native(intptr_t fd) { return static_cast<Native>(fd); }
Length piece_of(size_t size) { return static_cast<Length>(std::min<size_t>(size, 1 << 20)); }

// Short polls, so that stop() never waits on a peer; `ok` false on an error.
bool ready(intptr_t fd, short events, bool& ok) {
    pollfd p{};
    p.fd = native(fd);
    p.events = events;
    const int n = poll_one(&p, 50);
    ok = n >= 0 || errno == EINTR;
    return n > 0;
}

}  // namespace

std::string RawRequest::target() const {
    const std::string line = head.substr(0, head.find("\r\n"));
    const size_t first = line.find(' '), second = line.rfind(' ');
    return first == std::string::npos || second <= first ? "" : line.substr(first + 1, second - first - 1);
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
        if (line.find(':') != name.size() || ::strncasecmp(line.c_str(), name.c_str(), name.size()) != 0) continue;
        const size_t start = line.find_first_not_of(" \t", name.size() + 1);
        return start == std::string::npos ? "" : line.substr(start);
    }
    return "";
}

bool RawConnection::send(const std::string& bytes, size_t piece) {
    bool ok = true;
    for (size_t sent = 0; sent < bytes.size();) {
        if (server_.stopping_ || !ok) return false;
        if (!ready(fd_, POLLOUT, ok)) continue;
        const auto n = ::send(native(fd_), bytes.data() + sent, piece_of(std::min(piece, bytes.size() - sent)), kNoSignal);
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
    const Native s = sockets_ready() ? ::socket(AF_INET, SOCK_STREAM, 0) : static_cast<Native>(-1);
    listen_fd_ = static_cast<intptr_t>(s);
    ASSERT_GE(listen_fd_, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    ASSERT_EQ(::bind(s, reinterpret_cast<const sockaddr*>(&addr), len), 0);
    ASSERT_EQ(::listen(s, 16), 0);
    ASSERT_EQ(::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len), 0);
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
    if (listen_fd_ >= 0) close_socket(native(listen_fd_));
    listen_fd_ = -1;
}

std::string RawHttpServer::response(int status, const std::string& body, const std::vector<std::string>& extra) {
    std::string out = "HTTP/1.1 " + std::to_string(status) + " Status\r\n";
    for (const std::string& line : extra) out += line + "\r\n";
    return out + "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

void RawHttpServer::serve() {
    bool ok = true;
    while (!stopping_) {
        if (!ready(listen_fd_, POLLIN, ok)) continue;
        const auto fd = static_cast<intptr_t>(::accept(native(listen_fd_), nullptr, nullptr));
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
        ::shutdown(native(fd), kShutWrite);
        close_socket(native(fd));
    }
}

bool RawHttpServer::read_request(RawConnection& c) {
    RawRequest& out = c.request_;
    std::string data;
    size_t body_start = std::string::npos, body_len = 0;
    bool ok = true;
    char chunk[16384];
    for (;;) {
        if (body_start == std::string::npos && data.find("\r\n\r\n") != std::string::npos) {
            body_start = data.find("\r\n\r\n") + 4;
            out.head = data.substr(0, body_start);
            body_len = std::strtoul(out.header("Content-Length").c_str(), nullptr, 10);
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
        const auto n = ::recv(native(c.fd_), chunk, piece_of(sizeof(chunk)), 0);
        if (n == 0 || (n < 0 && errno != EINTR)) return false;
        if (n > 0) data.append(chunk, static_cast<size_t>(n));
    }
}

}  // namespace qntest
