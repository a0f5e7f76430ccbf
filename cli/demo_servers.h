// The servers of `quillnet demo`, on 127.0.0.1 only: an HTTP server in this
// process, and pyftpdlib as a child process where the system can start one.
#ifndef QN_CLI_DEMO_SERVERS_H
#define QN_CLI_DEMO_SERVERS_H

#include <httplib.h>

#include <atomic>
#include <string>
#include <thread>

namespace qn {
namespace cli {

// The demo's file: a few megabytes of varying bytes.
std::string demo_bytes(size_t size);

class DemoHttpServer {
public:
    DemoHttpServer();
    ~DemoHttpServer();
    DemoHttpServer(const DemoHttpServer&) = delete;
    DemoHttpServer& operator=(const DemoHttpServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path) const;
    int tree_hits() const { return tree_hits_; }
    // True when something still accepts connections on the port.
    static bool listening(int port);

    static constexpr size_t kFileSize = 4 * 1024 * 1024;

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::atomic<int> tree_hits_{0};
    std::atomic<bool> stopping_{false};
    const std::string file_;
};

// pyftpdlib serving `root` to the user "demo" with the password "demo".
class DemoFtpServer {
public:
    explicit DemoFtpServer(const std::string& root);
    ~DemoFtpServer();
    DemoFtpServer(const DemoFtpServer&) = delete;
    DemoFtpServer& operator=(const DemoFtpServer&) = delete;

    // Empty when it runs; otherwise why it does not.
    const std::string& problem() const { return problem_; }
    int port() const { return port_; }
    long pid() const { return pid_; }
    std::string url(const std::string& path) const;

private:
    long pid_ = -1;
    int port_ = 0;
    std::string problem_;
};

}  // namespace cli
}  // namespace qn

#endif
