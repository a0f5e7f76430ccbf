// An HTTP(S) server on 127.0.0.1 that serves files of known content for the
// download tests:
//   /file/N      N bytes of pattern(N), with a Content-Length
//   /chunked/N   the same, chunked (no length)
//   /slow/N      the same with a length, 4096 bytes every 20 ms, so that a
//                transfer can be caught mid-way
//   /digest/N    the same behind HTTP Digest authentication (MD5, qop=auth)
//                of user "alice", password "secret", checked here
//   /html-later  a first chunk of pattern, then one beginning with "<html>"
//   /say?b=T&s=C the text T with status C (default 200)
// Requests are recorded; the destructor stops the server, slow answers too.
#ifndef QN_TEST_FILE_SERVER_H
#define QN_TEST_FILE_SERVER_H

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "http_server.h"

namespace qntest {

// N bytes that differ from one position to the next and from one file size
// to another; or `count` of them from `from` on.
std::string pattern(size_t n, size_t from = 0, size_t count = std::string::npos);

// False under Wine: a Windows libcurl built with Schannel answers Digest
// through SSPI, which has no Digest package in Wine.
bool libcurl_answers_digest();

class FileServer {
public:
    // Over TLS when `tls_dir` (ending in "/") is given.
    explicit FileServer(const std::string& tls_dir = "");
    ~FileServer() { stop(); }
    FileServer(const FileServer&) = delete;
    FileServer& operator=(const FileServer&) = delete;

    void stop();
    std::string url(const std::string& path) const { return server_->url(path); }
    std::vector<ReceivedRequest> requests() const { return server_->requests(); }

private:
    void serve_slowly(size_t n, httplib::Response& res);

    std::unique_ptr<HttpServer> server_;
    std::atomic<bool> stopping_{false};
};

}  // namespace qntest

#endif
