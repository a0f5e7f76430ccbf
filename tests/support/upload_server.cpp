#include "upload_server.h"

#include <chrono>
#include <thread>

#include "file_server.h"

namespace qntest {

UploadServer::UploadServer() {
    const auto handler = [this](const httplib::Request& req, httplib::Response& res,
                                const httplib::ContentReader& reader) { receive(req, res, reader); };
    server_.server().Post(".*", handler).Put(".*", handler);
    server_.server().Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
        receive(req, res, httplib::ContentReader(nullptr, nullptr));
    });
    server_.start();
}

UploadServer::~UploadServer() {
    stopping_ = true;
    server_.stop();
}

void UploadServer::receive(const httplib::Request& req, httplib::Response& res,
                           const httplib::ContentReader& reader) {
    Upload upload{req.method, req.target, req.headers, {}, true};
    const bool slow = req.path.rfind("/slow", 0) == 0;
    const auto take = [&](const char*, size_t length) {
        bytes_read_ += length;
        if (slow) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return !stopping_;
    };
    if (req.is_multipart_form_data()) {
        upload.complete = reader(
            [&](const httplib::MultipartFormData& part) {
                upload.parts.push_back({part.name, part.filename, part.content_type, ""});
                return true;
            },
            [&](const char* data, size_t length) {
                upload.parts.back().bytes.append(data, length);
                return take(data, length);
            });
    } else if (reader.reader_) {
        upload.complete = reader(take);
    }
    const std::string answer = req.has_param("answer") ? pattern(std::stoul(req.get_param_value("answer")))
                                                       : "parts:" + std::to_string(upload.parts.size());
    res.set_content(answer, "text/plain");
    std::lock_guard<std::mutex> lock(mutex_);
    uploads_.push_back(std::move(upload));
}

std::vector<Upload> UploadServer::uploads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return uploads_;
}

}  // namespace qntest
