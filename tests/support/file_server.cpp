#include "file_server.h"

#if defined(_WIN32)
#include <windows.h>
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

namespace qntest {

namespace {

constexpr size_t kPiece = 4096;
const std::string kRealm = "quillnet", kNonce = "5f1e0c9d", kUser = "alice", kPassword = "secret";

// MD5 of `text` in lower-case hex: OpenSSL's on Linux, the system's own
// (CNG) on Windows, which has no OpenSSL.
std::string md5_hex(const std::string& text) {
    unsigned char digest[16] = {};
#if defined(_WIN32)
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    const bool ok = BCryptOpenAlgorithmProvider(&alg, BCRYPT_MD5_ALGORITHM, nullptr, 0) >= 0 &&
                    BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0) >= 0 &&
                    BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(text.data())),
                                   static_cast<ULONG>(text.size()), 0) >= 0 &&
                    BCryptFinishHash(hash, digest, sizeof digest, 0) >= 0;
    if (hash != nullptr) BCryptDestroyHash(hash);
    if (alg != nullptr) BCryptCloseAlgorithmProvider(alg, 0);
    if (!ok) ADD_FAILURE() << "no MD5 from BCrypt";
#else
    unsigned int len = 0;
    EVP_Digest(text.data(), text.size(), digest, &len, EVP_md5(), nullptr);
#endif
    std::string hex;
    char two[3];
    for (unsigned char byte : digest) {
        std::snprintf(two, sizeof(two), "%02x", byte);
        hex += two;
    }
    return hex;
}

// The name="value" (or name=value) pairs of a Digest Authorization header.
std::map<std::string, std::string> digest_fields(std::string header) {
    std::map<std::string, std::string> fields;
    if (header.rfind("Digest ", 0) != 0) return fields;
    header.erase(0, 7);
    size_t pos = 0;
    while (pos < header.size()) {
        const size_t eq = header.find('=', pos);
        if (eq == std::string::npos) break;
        std::string name = header.substr(pos, eq - pos);
        name.erase(0, name.find_first_not_of(" ,"));
        size_t end;
        std::string value;
        if (header[eq + 1] == '"') {
            end = header.find('"', eq + 2);
            value = header.substr(eq + 2, end - eq - 2);
            ++end;
        } else {
            end = header.find(',', eq);
            value = header.substr(eq + 1, end == std::string::npos ? end : end - eq - 1);
        }
        fields[name] = value;
        pos = end == std::string::npos ? header.size() : end + 1;
    }
    return fields;
}

// RFC 2617 with qop=auth, against the one account this server knows.
bool digest_ok(const httplib::Request& req) {
    auto f = digest_fields(req.get_header_value("Authorization"));
    if (f["username"] != kUser || f["realm"] != kRealm || f["nonce"] != kNonce) return false;
    const std::string ha1 = md5_hex(kUser + ":" + kRealm + ":" + kPassword);
    const std::string ha2 = md5_hex(req.method + ":" + f["uri"]);
    return f["response"] ==
           md5_hex(ha1 + ":" + kNonce + ":" + f["nc"] + ":" + f["cnonce"] + ":" + f["qop"] + ":" + ha2);
}

size_t size_of(const httplib::Request& req) {
    return std::stoul(req.matches[1].str());
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

FileServer::FileServer(const std::string& tls_dir)
    : server_(tls_dir.empty() ? new HttpServer() : new HttpsServer(tls_dir)) {
    httplib::Server& s = server_->server();
    s.Get(R"(/file/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(pattern(size_of(req)), "application/octet-stream");
    });
    s.Get(R"(/chunked/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        auto body = std::make_shared<std::string>(pattern(size_of(req)));
        res.set_chunked_content_provider("application/octet-stream",
                                         [body](size_t offset, httplib::DataSink& sink) {
                                             const size_t n = std::min(kPiece, body->size() - offset);
                                             sink.write(body->data() + offset, n);
                                             if (offset + n == body->size()) sink.done();
                                             return true;
                                         });
    });
    s.Get(R"(/slow/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
        serve_slowly(size_of(req), res);
    });
    s.Get(R"(/digest/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        if (!digest_ok(req)) {
            res.status = 401;
            res.set_header("WWW-Authenticate", "Digest realm=\"" + kRealm + "\", nonce=\"" + kNonce +
                                                   "\", qop=\"auth\", algorithm=MD5");
            res.set_content("denied", "text/plain");
            return;
        }
        res.set_content(pattern(size_of(req)), "application/octet-stream");
    });
    s.Get("/html-later", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
            if (offset == 0) {
                const std::string first = pattern(kPiece);
                sink.write(first.data(), first.size());
            } else {
                // Late enough to reach the client in a read of its own.
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                sink.write("<html>late</html>", 17);
                sink.done();
            }
            return true;
        });
    });
    s.Get("/say", [](const httplib::Request& req, httplib::Response& res) {
        if (req.has_param("s")) res.status = std::stoi(req.get_param_value("s"));
        res.set_content(req.get_param_value("b"), "text/plain");
    });
    server_->start();
}

void FileServer::serve_slowly(size_t n, httplib::Response& res) {
    res.set_content_provider(n, "application/octet-stream",
                             [this, n](size_t offset, size_t length, httplib::DataSink& sink) {
                                 if (stopping_) return false;
                                 std::this_thread::sleep_for(std::chrono::milliseconds(20));
                                 const std::string piece = pattern(n, offset, std::min(kPiece, length));
                                 // A client that has gone ends the answer.
                                 return sink.write(piece.data(), piece.size());
                             });
}

void FileServer::stop() {
    stopping_ = true;
    server_->stop();
}

}  // namespace qntest
