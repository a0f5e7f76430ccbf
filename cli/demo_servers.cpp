#include "demo_servers.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <vector>

#if !defined(_WIN32)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace qn {
namespace cli {

namespace {

using namespace std::chrono_literals;

// Downloads and uploads move about 3 MB a second, so that their progress can
// be watched on a loopback connection.
constexpr size_t kPiece = 64 * 1024;
constexpr auto kPieceTime = 20ms;

}  // namespace

std::string demo_bytes(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 131 % 251);
    return data;
}

DemoHttpServer::DemoHttpServer() : file_(demo_bytes(kFileSize)) {
    using httplib::Request;
    using httplib::Response;
    server_.Post("/echo", [](const Request& req, Response& res) { res.set_content("echo: " + req.body, "text/plain"); });
    server_.Post("/plume/device/queryDeviceOrgTree", [this](const Request&, Response& res) {
        ++tree_hits_;
        std::this_thread::sleep_for(30ms);  // a server that has to think about it
        res.set_content(R"({"org":"root","children":[{"org":"east"},{"org":"west"}]})", "application/json");
    });
    server_.Get("/old", [](const Request&, Response& res) {
        res.status = 302;
        res.set_header("Location", "/new");
    });
    server_.Post("/login", [](const Request&, Response& res) {
        res.set_header("Set-Cookie", "session=demo42; Path=/");
        res.set_content("welcome", "text/plain");
    });
    server_.Get("/whoami", [](const Request& req, Response& res) {
        res.set_content("you sent: " + req.get_header_value("Cookie"), "text/plain");
    });
    server_.Get("/files/demo.bin", [this](const Request&, Response& res) {
        res.set_content_provider(file_.size(), "application/octet-stream",
                                 [this](size_t offset, size_t length, httplib::DataSink& sink) {
                                     if (stopping_) return false;
                                     sink.write(file_.data() + offset, std::min(length, kPiece));
                                     std::this_thread::sleep_for(kPieceTime);
                                     return true;
                                 });
    });
    // Multipart posts: the parts and their sizes, read at the demo's pace.
    server_.Post("/upload", [this](const Request& req, Response& res, const httplib::ContentReader& reader) {
        std::vector<httplib::MultipartFormData> parts;
        size_t unpaced = 0;
        const auto pace = [&](size_t len) {
            for (unpaced += len; unpaced >= kPiece && !stopping_; unpaced -= kPiece) std::this_thread::sleep_for(kPieceTime);
        };
        if (req.is_multipart_form_data()) {
            reader([&](const httplib::MultipartFormData& part) { parts.push_back(part); return true; },
                   [&](const char* data, size_t len) {
                       parts.back().content.append(data, len);
                       pace(len);
                       return !stopping_;
                   });
        }
        std::string listing;
        for (const auto& p : parts) {
            listing += (listing.empty() ? "" : ", ") + p.name + (p.filename.empty() ? "" : "(" + p.filename + ")") + "=" +
                       (p.filename.empty() && p.content.size() < 40 ? p.content : std::to_string(p.content.size()) + " bytes");
        }
        res.set_content("received " + listing, "text/plain");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(1ms);
}

DemoHttpServer::~DemoHttpServer() {
    stopping_ = true;
    server_.stop();
    thread_.join();
}

std::string DemoHttpServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

#if defined(_WIN32)

bool DemoHttpServer::listening(int port) {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(1);
    return static_cast<bool>(client.Get("/"));
}

DemoFtpServer::DemoFtpServer(const std::string&) : problem_("needs a POSIX system to start pyftpdlib") {}
DemoFtpServer::~DemoFtpServer() = default;

#else

namespace {

// With `port` 0: a port free right now. Otherwise: whether something
// accepts connections on it.
int probe(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
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

// The distribution's interpreter has the pyftpdlib package; another Python
// on the PATH may not.
constexpr char kPython[] = "/usr/bin/python3";

}  // namespace

bool DemoHttpServer::listening(int port) {
    return probe(port) == 1;
}

DemoFtpServer::DemoFtpServer(const std::string& root) {
    port_ = probe(0);
    std::string args[] = {kPython, "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", std::to_string(port_),
                          "-d", root, "-u", "demo", "-P", "demo"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = port_ == 0 ? -1 : ::posix_spawn(&pid, kPython, &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (rc != 0) {
        problem_ = std::string("cannot start ") + kPython;
        return;
    }
    pid_ = pid;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (probe(port_) == 1) return;
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            pid_ = -1;
            problem_ = "pyftpdlib ended at once (is python3-pyftpdlib installed?)";
            return;
        }
        std::this_thread::sleep_for(50ms);
    }
    problem_ = "pyftpdlib did not accept connections";
}

DemoFtpServer::~DemoFtpServer() {
    if (pid_ <= 0) return;
    const auto pid = static_cast<pid_t>(pid_);
    ::kill(pid, SIGTERM);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

#endif

std::string DemoFtpServer::url(const std::string& path) const {
    return "ftp://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace cli
}  // namespace qn
