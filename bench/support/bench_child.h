// What the transfer benchmarks share: every measured transfer runs in a
// child process of its own, which gives its wall time and its peak resident
// memory; files of known content on tmpfs; free loopback ports; nginx
// serving a folder.
#ifndef QN_BENCH_SUPPORT_BENCH_CHILD_H
#define QN_BENCH_SUPPORT_BENCH_CHILD_H

#include <arpa/inet.h>
#include <signal.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace qnbench {

struct Run {
    double seconds = 0;
    long peak_kib = 0;
    bool ok = false;
};

// Runs argv to its end with standard output and error thrown away.
inline Run run_child(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    Run run;
    pid_t pid = 0;
    const auto start = std::chrono::steady_clock::now();
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        run.peak_kib = usage.ru_maxrss;
        run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

inline sockaddr_in loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return addr;
}

inline int free_port() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = loopback(0);
    socklen_t len = sizeof(addr);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), len);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

inline bool accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in addr = loopback(port);
    const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0;
    close(fd);
    return ok;
}

// `mib` MiB of bytes that differ from one position to the next, and from
// one `seed` to another.
inline void write_file(const std::string& path, size_t mib, unsigned seed = 0) {
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 131 + seed) % 251);
    std::ofstream out(path, std::ios::binary);
    for (size_t i = 0; i < mib; ++i) out.write(block.data(), static_cast<std::streamsize>(block.size()));
    chmod(path.c_str(), 0644);
}

// True when the two files hold the same bytes.
inline bool same_file(const std::string& a, const std::string& b) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    if (!fa || !fb) return false;
    std::vector<char> ba(1 << 20), bb(1 << 20);
    for (;;) {
        fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
        fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
        if (fa.gcount() != fb.gcount()) return false;
        if (fa.gcount() == 0) return true;
        if (std::memcmp(ba.data(), bb.data(), static_cast<size_t>(fa.gcount())) != 0) return false;
    }
}

// nginx on 127.0.0.1, serving `www`, everything it writes kept in `dir`
// (both end in "/").
class Nginx {
public:
    Nginx(const std::string& dir, const std::string& www, int connections = 64) : port_(free_port()) {
        const std::string conf = dir + "nginx.conf";
        std::ofstream(conf) << "daemon off;\nworker_processes 1;\npid " << dir << "nginx.pid;\n"
                            << "error_log " << dir << "error.log;\n"
                            << "events { worker_connections " << connections << "; }\n"
                            << "http {\n  access_log off;\n  sendfile on;\n  tcp_nopush on;\n"
                            << "  client_body_temp_path " << dir << "body;\n"
                            << "  server {\n    listen 127.0.0.1:" << port_ << " backlog=4096;\n    root " << www
                            << ";\n  }\n}\n";
        std::string args[] = {"nginx", "-p", dir, "-e", dir + "error.log", "-c", conf};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, "nginx", nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
        for (int i = 0; i < 500 && pid_ > 0 && !accepts(port_); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~Nginx() {
        if (pid_ <= 0) return;
        kill(pid_, SIGQUIT);
        waitpid(pid_, nullptr, 0);
    }
    Nginx(const Nginx&) = delete;
    Nginx& operator=(const Nginx&) = delete;
    bool running() const { return pid_ > 0 && accepts(port_); }
    std::string url(const std::string& file) const {
        return "http://127.0.0.1:" + std::to_string(port_) + "/" + file;
    }

private:
    int port_;
    pid_t pid_ = -1;
};

}  // namespace qnbench

#endif
