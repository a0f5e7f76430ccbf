#include "demo_servers.h"

#include <chrono>
#include <cstring>
#include <map>
#include <vector>

#include "loopback.h"

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

bool DemoHttpServer::listening(int port) {
    return qn::platform::loopback_listening(port);
}

DemoFtpServer::DemoFtpServer(const std::string& root) {
    port_ = qn::platform::free_loopback_port();
    pid_ = qn::platform::start_ftp_server(root, port_, "demo", "demo", 20, &problem_);
}

DemoFtpServer::~DemoFtpServer() {
    qn::platform::stop_child(static_cast<pid_t>(pid_));
}

#endif

std::string DemoFtpServer::url(const std::string& path) const {
    return "ftp://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace cli
}  // namespace qn
