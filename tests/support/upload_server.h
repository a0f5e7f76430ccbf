// An HTTP server on 127.0.0.1 that takes multipart form posts, for the
// upload tests. Every POST is recorded with its headers and each part of
// its form, as "name|file name|content type|bytes"; other methods are not
// served.
//   /slow...    the body is read slowly (2 ms for every 4 KiB), so that a
//               stop lands mid-upload
//   ?answer=N   the answer is N bytes of pattern(N); otherwise "parts:" and
//               the number of parts received
// The destructor stops the server, slow readers too.
#ifndef QN_TEST_UPLOAD_SERVER_H
#define QN_TEST_UPLOAD_SERVER_H

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "http_server.h"

namespace qntest {

struct Upload {
    httplib::Headers headers;
    std::vector<std::string> parts;
    bool complete = false;  // the whole body was read
};

class UploadServer {
public:
    UploadServer();
    ~UploadServer();

    std::string url(const std::string& path) const { return server_.url(path); }
    // Requests whose body has been read to its end or abandoned.
    std::vector<Upload> uploads() const;
    size_t bytes_read() const { return bytes_read_.load(); }  // over all requests

private:
    HttpServer server_;
    std::atomic<bool> stopping_{false};
    std::atomic<size_t> bytes_read_{0};
    mutable std::mutex mutex_;
    std::vector<Upload> uploads_;
};

}  // namespace qntest

#endif
