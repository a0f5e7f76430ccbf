#include "upload_server.h"

#include <chrono>
#include <thread>

#include "file_server.h"

namespace qntest {

UploadServer::UploadServer() {
    server_.server().Post(".*", [this](const httplib::Request& req, httplib::Response& res,
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
    server_.start();
}

UploadServer::~UploadServer() {
    stopping_ = true;
    server_.stop();
}

std::vector<Upload> UploadServer::uploads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return uploads_;
}

}  // namespace qntest
