#include "http_server.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <openssl/evp.h>
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>

namespace qntest {

namespace {

constexpr size_t kPiece = 4096;
const std::string kRealm = "quillnet", kNonce = "5f1e0c9d", kUser = "alice", kPassword = "secret";

#if defined(_WIN32)  // no Digest under Wine: those tests skip
bool digest_ok(const httplib::Request&) { return false; }
#else
std::string md5_hex(const std::string& text) {
    unsigned char digest[16] = {};
    EVP_Digest(text.data(), text.size(), digest, nullptr, EVP_md5(), nullptr);
    std::string hex;
    for (unsigned char byte : digest) hex += {"0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 15]};
    return hex;
}

// RFC 2617 with qop=auth, for the one account.
bool digest_ok(const httplib::Request& req) {
    std::string header = req.get_header_value("Authorization");
    if (header.rfind("Digest ", 0) != 0) return false;
    std::map<std::string, std::string> f;
    for (size_t pos = 7; pos < header.size();) {
        const size_t eq = header.find('=', pos);
        if (eq == std::string::npos) break;
        std::string name = header.substr(pos, eq - pos);
        name.erase(0, name.find_first_not_of(" ,"));
        const bool quoted = header[eq + 1] == '"';
        const size_t end = quoted ? header.find('"', eq + 2) : header.find(',', eq);
        f[name] = header.substr(eq + 1 + quoted, end == std::string::npos ? end : end - eq - 1 - quoted);
        pos = end == std::string::npos ? header.size() : end + 1 + quoted;
    }
    if (f["username"] != kUser || f["realm"] != kRealm || f["nonce"] != kNonce) return false;
    const std::string ha1 = md5_hex(kUser + ":" + kRealm + ":" + kPassword);
    const std::string ha2 = md5_hex(req.method + ":" + f["uri"]);
    return f["response"] ==
           md5_hex(ha1 + ":" + kNonce + ":" + f["nc"] + ":" + f["cnonce"] + ":" + f["qop"] + ":" + ha2);
}
#endif

size_t size_of(const httplib::Request& req) {
    return std::stoul(req.matches[1].str());
}

httplib::Server* make_server(const std::string& tls_dir) {
    if (tls_dir.empty()) return new httplib::Server();
#if defined(CPPHTTPLIB_OPENSSL_SUPPORT)
    const std::string cert = tls_dir + "cert.pem", key = tls_dir + "key.pem";
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj /CN=127.0.0.1"
        " -addext subjectAltName=IP:127.0.0.1 -keyout '" + key + "' -out '" + cert + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) ADD_FAILURE() << "openssl could not make a certificate in " << tls_dir;
    return new httplib::SSLServer(cert.c_str(), key.c_str());
#else  // the Windows build: its TLS tests skip
    ADD_FAILURE() << "no TLS server in this build";
    return new httplib::Server();
#endif
}

}  // namespace

bool libcurl_answers_digest() {
#if defined(_WIN32)
    return ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") == nullptr;
#else
    return true;
#endif
}

std::string pattern(size_t n, size_t from, size_t count) {
    count = std::min(count, n - std::min(from, n));
    std::string s(count, '\0');
    for (size_t i = 0; i < count; ++i) {
        const size_t at = from + i;
        s[i] = static_cast<char>((at * 131 + n + at / 977) % 251);
    }
    return s;
}

HttpServer::HttpServer(const std::string& tls_dir)
    : server_(make_server(tls_dir)), scheme_(tls_dir.empty() ? "http" : "https") {
    // Idle kept connections close after a second, bounding stop(); no delayed ACK holds a split answer.
    server_->set_keep_alive_timeout(1);
    server_->set_tcp_nodelay(true);
    // Recorded before the answer goes out: a client with its answer finds it.
    server_->set_post_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back({req.method, req.path, req.body, req.headers, req.remote_port});
    });
}

HttpServer& HttpServer::serve_files() {
    using httplib::Request;
    using httplib::Response;
    auto whole = [](const Request& req, Response& res) {
        res.set_content(pattern(size_of(req)), "application/octet-stream");
    };
    server_->Get(R"(/file/(\d+))", whole);
    server_->Get(R"(/chunked/(\d+))", [](const Request& req, Response& res) {
        auto body = std::make_shared<std::string>(pattern(size_of(req)));
        res.set_chunked_content_provider("application/octet-stream", [body](size_t offset, httplib::DataSink& sink) {
            const size_t n = std::min(kPiece, body->size() - offset);
            sink.write(body->data() + offset, n);
            if (offset + n == body->size()) sink.done();
            return true;
        });
    });
    server_->Get(R"(/slow/(\d+))", [this](const Request& req, Response& res) {
        const size_t n = size_of(req);
        res.set_content_provider(n, "application/octet-stream", [this, n](size_t offset, size_t length,
                                                                          httplib::DataSink& sink) {
            if (stopping_) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const std::string piece = pattern(n, offset, std::min(kPiece, length));
            return sink.write(piece.data(), piece.size());  // a client that has gone ends it
        });
    });
    server_->Get(R"(/digest/(\d+))", [whole](const Request& req, Response& res) {
        if (digest_ok(req)) return whole(req, res);
        res.status = 401;
        res.set_header("WWW-Authenticate",
                       "Digest realm=\"" + kRealm + "\", nonce=\"" + kNonce + "\", qop=\"auth\", algorithm=MD5");
        res.set_content("denied", "text/plain");
    });
    server_->Get("/html-later", [](const Request&, Response& res) {
        res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
            if (offset == 0) {
                const std::string first = pattern(kPiece);
                sink.write(first.data(), first.size());
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            sink.write("<html>late</html>", 17);
            sink.done();
            return true;
        });
    });
    server_->Get("/say", [](const Request& req, Response& res) {
        if (req.has_param("s")) res.status = std::stoi(req.get_param_value("s"));
        res.set_content(req.get_param_value("b"), "text/plain");
    });
    return *this;
}

HttpServer& HttpServer::serve_uploads() {
    server_->Post(".*", [this](const httplib::Request& req, httplib::Response& res,
                               const httplib::ContentReader& reader) {
        Upload upload{req.headers, {}, false};
        const bool slow = req.path.rfind("/slow", 0) == 0;
        const auto take = [&](const char*, size_t length) {
            bytes_read_ += length;
            if (slow) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            return !stopping_;
        };
        if (req.is_multipart_form_data()) {
            const auto part = [&](const httplib::MultipartFormData& p) {
                upload.parts.push_back(p.name + "|" + p.filename + "|" + p.content_type + "|");
                return true;
            };
            upload.complete = reader(part, [&](const char* data, size_t length) {
                upload.parts.back().append(data, length);
                return take(data, length);
            });
        } else {
            upload.complete = reader(take);
        }
        res.set_content(req.has_param("answer") ? pattern(std::stoul(req.get_param_value("answer")))
                                                : "parts:" + std::to_string(upload.parts.size()),
                        "text/plain");
        std::lock_guard<std::mutex> lock(mutex_);
        uploads_.push_back(std::move(upload));
    });
    return *this;
}

void HttpServer::keep_alive(int seconds) {
    server_->set_keep_alive_timeout(seconds);
    server_->set_keep_alive_max_count(1000000);
}

void HttpServer::start() {
    ASSERT_TRUE(server_->is_valid()) << "the server could not be set up (certificate?)";
    port_ = server_->bind_to_any_port("127.0.0.1");
    ASSERT_GT(port_, 0);
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running()) std::this_thread::yield();  // so that a stop() right after is well defined
}

void HttpServer::stop() {
    stopping_ = true;
    if (thread_.joinable()) {
        server_->stop();
        thread_.join();
    }
}

}  // namespace qntest
