// The threaded download: one URL into one local file on a worker thread,
// every chunk also handed to the caller's callback; position and stop.
#include <cstdio>
#include <string>

#include "Public/Helper/UrlDealwith.h"
#include "Public/Helper/url_encode.h"
#include "api/export_guard.h"
#include "cache/timed_perform.h"
#include "curl/libcurl_wrapper.h"
#include "curl/transfer.h"
#include "log/log_record.h"
#include "quillnet.h"
#include "transfer/download_task.h"

namespace qn {
namespace transfer {

namespace {

constexpr long kTimeoutSeconds = 300;
// Any non-zero value switches signals off.
constexpr long kNoSignal = 4;
// What a write callback returns to make libcurl end the transfer.
constexpr size_t kWriteFailure = 0xFFFFFFFF;

}  // namespace

void download_urlfile_worker(download_info* info) {
    if (info == nullptr) {
        qn::log::Info() << "download_info == NULL" << "\n";
        return;
    }
    guard_worker("download_urlfile_worker", [&] {
        qn::curl::Transfer transfer;
        CURL* curl = transfer.easy();
        if (curl == nullptr) {
            qn::log::Info() << "curl == NULL" << "\n";
            return;
        }
        const std::string new_url = UrlFormat::HttpHeadDealwith::GetNewUrl(info->url);
        char url_buffer[1024] = {};
        url_encode(new_url.c_str(), static_cast<int>(new_url.size()), url_buffer,
                   static_cast<int>(sizeof(url_buffer)));
        transfer.append_header("Expect:");
        transfer.append_header("Connection: Keep-Alive");

        qn::curl::RequestOptions options;
        options.url = url_buffer;
        options.timeout = kTimeoutSeconds;
        options.nosignal = kNoSignal;
        options.write_function = &on_download_write;
        options.write_data = info;
        qn::curl::setup_request(curl, options);
        CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
        curl_api.curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
        curl_api.curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_api.curl_easy_setopt(curl, CURLOPT_PROGRESSFUNCTION, &on_download_progress);
        curl_api.curl_easy_setopt(curl, CURLOPT_PROGRESSDATA, info);
        curl_api.curl_easy_setopt(curl, CURLOPT_HTTPHEADER, transfer.headers().get());

        const int result = timed_easy_perform(curl, url_buffer, nullptr, nullptr);
        if (result != CURLE_OK) {
            qn::log::Error() << "error: CLibcurlWrapper::instance().curl_easy_perform(curl)[" << result
                             << "] != CURLE_OK, url:" << url_buffer << "\n";
        }
        info->finished.store(1, kRelaxed);
    });
}

// Every chunk counts as accepted, written or not: a full disk or a path that
// cannot be opened does not end the transfer, and the callback still gets
// every byte. Only a stop does.
size_t on_download_write(char* data, size_t size, size_t count, void* info_ptr) {
    return guard_callback(kWriteFailure, [&]() -> size_t {
        if (data == nullptr) {
            qn::log::Info() << "buffer == NULL" << "\n";
            return kWriteFailure;
        }
        auto* info = static_cast<download_info*>(info_ptr);
        if (info == nullptr) {
            qn::log::Info() << "download_info == NULL" << "\n";
            return kWriteFailure;
        }
        const size_t length = size * count;
        if (info->status.load(kRelaxed) == STATUS_STOP_DOWNLOAD) {
            qn::log::Warn() << "download_info->status = STATUS_STOP_DOWNLOAD----size * nmemb=" << length
                            << "\n";
            return kWriteFailure;
        }
        if (info->fp == nullptr) info->fp = std::fopen(info->path, "wb");
        size_t written = 0;
        if (info->fp != nullptr) written = std::fwrite(data, size, count, info->fp);
        notify(info, TASK_EVENT_THREAD_DATA, data, chunk_length(size, count));
        if (written != length && info->fp != nullptr) {
            qn::log::Warn() << "recv_size=" << written << " !=" << length << "\n";
        }
        return length;
    });
}

int on_download_progress(void* info_ptr, double total, double now, double, double) {
    return guard_callback(-1, [&] {
        auto* info = static_cast<download_info*>(info_ptr);
        if (info == nullptr) {
            qn::log::Info() << "download_info == NULL" << "\n";
            return -1;
        }
        if (info->status.load(kRelaxed) == STATUS_STOP_DOWNLOAD) {
            qn::log::Info() << "download_info->status = STATUS_STOP_DOWNLOAD" << "\n";
            return -1;
        }
        if (total <= 0) return 0;
        if (info->total_size.load(kRelaxed) == 0) info->total_size.store(total, kRelaxed);
        info->pos.store(percent_of(now, total), kRelaxed);
        return 0;
    });
}

}  // namespace transfer
}  // namespace qn

using qn::transfer::download_info;

extern "C" QUILLNET_API int64_t quillnet_download_urlfile_ex(const char* url, const char* path,
                                                             void* user_data,
                                                             TaskCallback callback) {
    return qn::api::guarded("quillnet_download_urlfile_ex", int64_t{-1}, [&]() -> int64_t {
        if (!qn::transfer::check_url_and_path(url, path, qn::log::kLevelInfo)) return -1;
        download_info* info =
            qn::transfer::new_task_record<download_info>("download_info == NULL", qn::log::kLevelError);
        if (info == nullptr) return -1;
        info->callback = callback;
        info->user_data = user_data;
        qn::transfer::copy_text(info->url, url);
        qn::transfer::copy_text(info->path, path);
        return qn::transfer::start_task<download_info, &qn::transfer::download_urlfile_worker>(
            info, qn::log::kLevelInfo);
    });
}

extern "C" QUILLNET_API int quillnet_stop_download_urlfile(int64_t fd) {
    return qn::api::guarded("quillnet_stop_download_urlfile", 0, [&] {
        return qn::transfer::stop_task<download_info>(fd, "download_info == NULL");
    });
}

extern "C" QUILLNET_API int quillnet_getpos_download_urlfile(int64_t fd) {
    return qn::api::guarded("quillnet_getpos_download_urlfile", -1, [&] {
        return qn::transfer::task_position<download_info>(fd, "download_info == NULL",
                                                          qn::log::kLevelInfo);
    });
}
