#include "loopback.h"

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

namespace qn {
namespace platform {

namespace {

// The distribution's interpreter has the pyftpdlib package; another Python
// on the PATH may not.
constexpr char kPython[] = "/usr/bin/python3";

// With `port` 0: binds a free port and returns it. Otherwise: 1 when
// something accepts connections on `port`, else 0.
int probe(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
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

int free_loopback_port() {
    return probe(0);
}

bool loopback_listening(int port) {
    return port > 0 && probe(port) == 1;
}

pid_t start_ftp_server(const std::string& root, int port, const std::string& user, const std::string& password,
                       int wait_seconds, std::string* problem) {
    std::vector<std::string> args = {kPython, "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", std::to_string(port),
                                     "-d", root};
    if (!user.empty()) args.insert(args.end(), {"-u", user, "-P", password});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = port <= 0 ? -1 : ::posix_spawn(&pid, kPython, &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (rc != 0) {
        *problem = port <= 0 ? "no free port" : std::string("cannot start ") + kPython;
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(wait_seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (loopback_listening(port)) return pid;
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            *problem = "pyftpdlib ended at once (is python3-pyftpdlib installed?)";
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    *problem = "pyftpdlib did not accept connections on port " + std::to_string(port);
    stop_child(pid);
    return -1;
}

void stop_child(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace platform
}  // namespace qn
