// pyftpdlib on 127.0.0.1 serving a folder to anyone, or to one user (under Wine: scripts/test-windows.sh's).
#ifndef QN_TEST_FTP_SERVER_H
#define QN_TEST_FTP_SERVER_H

#include <string>

namespace qntest {

class FtpServer {
public:
    explicit FtpServer(std::string root_dir, std::string user = "", std::string password = "")
        : root_(std::move(root_dir)), user_(std::move(user)), password_(std::move(password)) {}
    ~FtpServer() { stop(); }
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    // False, with a test failure, when it does not come up.
    bool start();
    void stop();

    int port() const { return port_; }
    std::string url(const std::string& path) const {
        return "ftp://127.0.0.1:" + std::to_string(port_) + prefix_ + path;
    }

private:
    std::string root_, user_, password_;
    long pid_ = -1;
    int port_ = 0;
    std::string prefix_;  // the root on a shared server (Windows)
};

}  // namespace qntest

#endif
