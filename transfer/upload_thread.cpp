// The threaded upload: a worker posts one local file as a form on one easy
// handle; the bytes sent reach the caller's callback and the percent its
// position query. It has no stop export: the library keeps each such task
// until it is unloaded (a kept task, transfer/task.h).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Public/Helper/UrlDealwith.h"
#include "Public/Helper/url_encode.h"
#include "api/export_guard.h"
#include "cache/timed_perform.h"
#include "curl/libcurl_wrapper.h"
#include "curl/transfer.h"
#include "log/log_record.h"
#include "quillnet.h"
#include "transfer/upload_task.h"

namespace qn {
namespace transfer {

namespace {

// Any non-zero value switches signals off.
constexpr long kNoSignal = 4;
// What a read callback returns to make libcurl fail the read: more than it
// asked for.
constexpr size_t kReadFailure = static_cast<size_t>(-1);

// libcurl reads a form's file part itself, so a form post never calls
// this; it reads the open file for any other kind of body.
size_t on_upload_read(char* buffer, size_t size, size_t count, void* stream) {
    return guard_callback(kReadFailure, [&] {
        if (buffer == nullptr) {
            qn::log::Warn() << "ptr == NULL" << "\n";
            return kReadFailure;
        }
        if (stream == nullptr) {
            qn::log::Warn() << "save_file == NULL" << "\n";
            return kReadFailure;
        }
        return std::fread(buffer, size, count, static_cast<std::FILE*>(stream));
    });
}

// The bytes sent so far travel in the callback's data argument, not as a
// pointer; the total in its length, cut to 32 bits. A null callback is
// skipped: the caller polls the position only.
int on_upload_progress(void* info_ptr, double, double, double ultotal, double ulnow) {
    return guard_callback(0, [&] {
        auto* info = static_cast<upload_info*>(info_ptr);
        if (info == nullptr) {
            qn::log::Warn() << "upload_info == NULL" << "\n";
            return -1;
        }
        // The library is going away: the unload waits for this worker.
        if (tasks_unloading()) return 1;
        if (ultotal == 0) {
            qn::log::Warn() << "ultotal == 0" << "\n";
            return 0;
        }
        info->pos.store(percent_of(ulnow, ultotal), kRelaxed);
        const auto sent = static_cast<uintptr_t>(static_cast<uint64_t>(ulnow));
        notify(info, TASK_EVENT_THREAD_DATA, reinterpret_cast<void*>(sent),
               static_cast<uint32_t>(static_cast<uint64_t>(ultotal)));
        return 0;
    });
}

}  // namespace

void upload_urlfile_worker(upload_info* info) {
    if (info == nullptr) {
        qn::log::Warn() << "upload_info == NULL" << "\n";
        return;
    }
    guard_worker("upload_urlfile_worker", [&] {
        const ReadFile file(std::fopen(info->path, "rb"));
        if (file == nullptr) {
            qn::log::Warn() << "ptr == NULL" << "\n";
            return;
        }
        qn::curl::Transfer transfer;
        CURL* curl = transfer.easy();
        if (curl == nullptr) {
            qn::log::Warn() << "curl == NULL" << "\n";
            return;
        }
        char encoded[1024] = {};
        url_encode(info->url, static_cast<int>(std::strlen(info->url)), encoded, static_cast<int>(sizeof(encoded)));
        const std::string new_url = UrlFormat::HttpHeadDealwith::GetNewUrl(encoded);
        transfer.append_header("Expect:");
        transfer.append_header("Connection: Keep-Alive");
        add_upload_form(transfer.form(), info->path, "filename");

        // No write callback: the answer goes to libcurl's default handling.
        // No certificate options: libcurl verifies peer and host.
        qn::curl::RequestOptions options;
        options.url = new_url.c_str();
        options.nosignal = kNoSignal;
        qn::curl::setup_request(curl, options);
        CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
        transfer.use_headers();
        curl_api.curl_easy_setopt(curl, CURLOPT_HTTPPOST, transfer.form().get());
        curl_api.curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferSize);
        curl_api.curl_easy_setopt(curl, CURLOPT_READFUNCTION, &on_upload_read);
        curl_api.curl_easy_setopt(curl, CURLOPT_READDATA, file.get());
        curl_api.curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_api.curl_easy_setopt(curl, CURLOPT_PROGRESSFUNCTION, &on_upload_progress);
        curl_api.curl_easy_setopt(curl, CURLOPT_PROGRESSDATA, info);

        const int result = timed_easy_perform(curl, new_url, nullptr, nullptr);
        if (result != CURLE_OK) {
            qn::log::Error() << "CLibcurlWrapper::instance().curl_easy_perform(curl) != CURLE_OK," << encoded
                             << " curlcode:" << result << "\n";
        }
    });
}

}  // namespace transfer
}  // namespace qn

using qn::transfer::upload_info;

extern "C" QUILLNET_API int64_t quillnet_upload_urlfile_ex(const char* url, const char* path, void* user_data,
                                                           TaskCallback callback) {
    return qn::api::guarded("quillnet_upload_urlfile_ex", int64_t{-1}, [&]() -> int64_t {
        if (!qn::transfer::check_url_and_path(url, path, qn::log::kLevelWarn)) return -1;
        upload_info* info = qn::transfer::new_task_record<upload_info>("upload_info == NULL", qn::log::kLevelWarn);
        if (info == nullptr) return -1;
        try {
            qn::log::Info() << "url is:" << url << "\n";
            qn::log::Info() << "path is:" << path << "\n";
        } catch (...) {  // no memory for a line: the record goes with the call
            std::free(info);
            throw;
        }
        info->callback = callback;
        qn::transfer::copy_text(info->url, url);
        qn::transfer::copy_text(info->path, path);
        info->user_data = user_data;
        return qn::transfer::start_task<upload_info, &qn::transfer::upload_urlfile_worker>(
            info, qn::log::kLevelWarn, /*kept=*/true);
    });
}

extern "C" QUILLNET_API int quillnet_getpos_upload_urlfile(int64_t fd) {
    return qn::api::guarded("quillnet_getpos_upload_urlfile", -1, [&] {
        return qn::transfer::task_position<upload_info>(fd, "upload_info == NULL", qn::log::kLevelWarn);
    });
}
