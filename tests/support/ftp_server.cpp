#include "ftp_server.h"

#include <gtest/gtest.h>

#if defined(_WIN32)

#include <strings.h>

#include <cstdlib>

namespace qntest {

// Under Wine, scripts/test-windows.sh runs the servers: $QN_TEST_FTP_SERVER (anonymous) and
// $QN_TEST_FTP_LOGIN_SERVER (for the user:password in $QN_TEST_FTP_LOGIN), both serving $QN_TEST_FTP_ROOT.
bool FtpServer::start() {
    const auto env = [](const char* name) -> std::string {
        const char* value = std::getenv(name);
        return value != nullptr ? value : "";
    };
    const auto folder = [](std::string path) {  // forward slashes, one at the end
        for (char& c : path) c = c == '\\' ? '/' : c;
        return path.empty() || path.back() == '/' ? path : path + "/";
    };
    if (!user_.empty() && env("QN_TEST_FTP_LOGIN") != user_ + ":" + password_) {
        ADD_FAILURE() << "the FTP server under Wine serves " << env("QN_TEST_FTP_LOGIN") << ", not " << user_;
        return false;
    }
    const std::string server = env(user_.empty() ? "QN_TEST_FTP_SERVER" : "QN_TEST_FTP_LOGIN_SERVER");
    const std::string served = folder(env("QN_TEST_FTP_ROOT")), root = folder(root_);
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

}  // namespace qntest

#else

#include "loopback.h"

namespace qntest {

bool FtpServer::start() {
    std::string problem;
    port_ = qn::platform::free_loopback_port();
    pid_ = qn::platform::start_ftp_server(root_, port_, user_, password_, 30, &problem);
    if (pid_ < 0) ADD_FAILURE() << problem;
    return pid_ > 0;
}

void FtpServer::stop() {
    qn::platform::stop_child(static_cast<pid_t>(pid_));
    pid_ = -1;
}

}  // namespace qntest

#endif
