#include "ftp_server.h"

#include <gtest/gtest.h>

#if defined(_WIN32)

#include <cstdlib>
#include <strings.h>

namespace qntest {

// A test under Wine cannot start the Linux Python that runs pyftpdlib, so
// scripts/test-windows.sh starts two servers for the whole run, serving the
// folder where the tests make their temporary folders: one to anonymous
// users, named in $QN_TEST_FTP_SERVER (host:port), and one only to the user
// and password in $QN_TEST_FTP_LOGIN (user:password), named in
// $QN_TEST_FTP_LOGIN_SERVER. The served folder, as Windows sees it, is in
// $QN_TEST_FTP_ROOT. A test's root folder must lie inside it.

namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Forward slashes, one at the end.
std::string folder(std::string path) {
    for (char& c : path) c = c == '\\' ? '/' : c;
    if (!path.empty() && path.back() != '/') path += '/';
    return path;
}

}  // namespace

FtpServer::FtpServer(std::string root_dir, std::string user, std::string password)
    : root_(std::move(root_dir)), user_(std::move(user)), password_(std::move(password)) {}

FtpServer::~FtpServer() {
    stop();
}

bool FtpServer::start() {
    if (!user_.empty() && env("QN_TEST_FTP_LOGIN") != user_ + ":" + password_) {
        ADD_FAILURE() << "the FTP server under Wine serves " << env("QN_TEST_FTP_LOGIN") << ", not " << user_;
        return false;
    }
    const std::string server = env(user_.empty() ? "QN_TEST_FTP_SERVER" : "QN_TEST_FTP_LOGIN_SERVER");
    const std::string served = folder(env("QN_TEST_FTP_ROOT"));
    const std::string root = folder(root_);
    const size_t colon = server.rfind(':');
    if (colon == std::string::npos || served.size() <= 1 || root.size() < served.size() ||
        ::strncasecmp(root.c_str(), served.c_str(), served.size()) != 0) {
        ADD_FAILURE() << "no FTP server for " << root_ << ": run the tests through scripts/test-windows.sh";
        return false;
    }
    port_ = std::atoi(server.c_str() + colon + 1);
    prefix_ = "/" + root.substr(served.size(), root.size() - served.size() - 1);
    return true;
}

void FtpServer::stop() {}

std::string FtpServer::url(const std::string& path) const {
    return "ftp://127.0.0.1:" + std::to_string(port_) + prefix_ + path;
}

}  // namespace qntest

#else  // a server of the test's own, as a child process

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

extern char** environ;

namespace qntest {

namespace {

// The distribution's interpreter, which has the pyftpdlib package; another
// Python on the PATH may not.
constexpr const char kPython[] = "/usr/bin/python3";

// With `port` 0: binds a free port and returns it. Otherwise: whether
// something accepts connections on `port`.
int probe(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t len = sizeof(addr);
    auto* a = reinterpret_cast<sockaddr*>(&addr);
    int result = 0;
    if (port != 0) {
        result = ::connect(fd, a, len) == 0 ? 1 : 0;
    } else if (::bind(fd, a, len) == 0 && ::getsockname(fd, a, &len) == 0) {
        result = ntohs(addr.sin_port);
    }
    ::close(fd);
    return result;
}

}  // namespace

FtpServer::FtpServer(std::string root_dir, std::string user, std::string password)
    : root_(std::move(root_dir)), user_(std::move(user)), password_(std::move(password)) {}

FtpServer::~FtpServer() {
    stop();
}

bool FtpServer::start() {
    port_ = probe(0);
    std::string port = std::to_string(port_);
    std::string args[] = {kPython, "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", port, "-d", root_};
    std::string login[] = {"-u", user_, "-P", password_};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    for (std::string& a : login) {
        if (!user_.empty()) argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    // The server's own chatter would only clutter the test output.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const int rc =
        port_ == 0 ? -1 : ::posix_spawn(&pid_, kPython, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        ADD_FAILURE() << "no free port, or cannot run " << kPython;
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (probe(port_) == 1) return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;  // ended before accepting connections
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "pyftpdlib did not accept connections on port " << port_;
    stop();
    return false;
}

void FtpServer::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

std::string FtpServer::url(const std::string& path) const {
    return "ftp://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace qntest

#endif
