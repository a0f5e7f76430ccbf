// The asynchronous download: a worker drives one GET or JSON POST through
// libcurl's multi interface, so that the caller can pause and resume it;
// data, progress and one end event reach the caller's callback.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "Public/Helper/UrlDealwith.h"
#include "Public/Helper/url_encode.h"
#include "api/export_guard.h"
#include "cache/timed_perform.h"
#include "curl/libcurl_wrapper.h"
#include "curl/transfer.h"
#include "log/log_record.h"
#include "quillnet.h"
#include "submit/param_doc.h"
#include "transfer/download_task.h"

namespace qn {
namespace transfer {

namespace {

constexpr size_t kUrlBufferSize = 1024;
constexpr long kConnectTimeoutSeconds = 20;
constexpr int kWaitMilliseconds = 500;
constexpr auto kIdleSleep = std::chrono::milliseconds(100);
constexpr int kSubmitPost = 2;
constexpr size_t kWriteFailure = 0xFFFFFFFF;

// Sets the URL of the request and fills `url_buffer` when the URL has a
// path: the rewritten base followed by the percent-encoded path. Returns the
// label (the rewritten base, or the whole rewritten URL when there is no
// path), or false in `*fits` when base and encoded path together do not fit
// the buffer. Such a URL is not cut: a cut URL names another resource, so
// the task fails instead.
std::string build_url(asyn_download_info* info, char (&url_buffer)[kUrlBufferSize], bool* fits) {
    std::string base;
    std::string path;
    *fits = true;
    if (!split_url(info->url, &base, &path)) {
        return UrlFormat::HttpHeadDealwith::GetNewUrl(info->url);
    }
    std::string label = UrlFormat::HttpHeadDealwith::GetNewUrl(base.c_str());
    char encoded[kUrlBufferSize] = {};
    const int encoded_len = url_encode(path.c_str(), static_cast<int>(path.size()), encoded,
                                       static_cast<int>(sizeof(encoded)));
    const size_t total = label.size() + static_cast<size_t>(encoded_len);
    if (total >= kUrlBufferSize) {
        *fits = false;
        return label;
    }
    std::memcpy(url_buffer, label.data(), label.size());
    std::memcpy(url_buffer + label.size(), encoded, static_cast<size_t>(encoded_len));
    return label;
}

// The content-type header lines, and the document's lines in Digest mode.
void add_content_headers(asyn_download_info* info, qn::curl::Transfer& transfer) {
    if (info->conten_type == qn::submit::kContentJson) {
        transfer.append_header(qn::submit::kJsonContentLine);
    } else if (info->conten_type == qn::submit::kContentFromDocument && info->param_ex != nullptr) {
        qn::submit::add_param_ex_headers(info->param_ex, transfer.headers(),
                                         qn::submit::AuthDigestMode::kDigestCredentials,
                                         transfer.easy());
    } else {
        qn::log::Warn() << "unknown conten_type:" << info->conten_type << "\n";
    }
}

// A POST sends the body as JSON. Without a body it sends an empty one: left
// unset, libcurl would read the request body from standard input.
void set_post(asyn_download_info* info, qn::curl::Transfer& transfer) {
    CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
    curl_api.curl_easy_setopt(transfer.easy(), CURLOPT_POST, 1L);
    transfer.append_header("Content-Type:application/json;charset=UTF-8");
    const char* body = info->body != nullptr ? info->body : "";
    if (curl_api.curl_easy_setopt(transfer.easy(), CURLOPT_COPYPOSTFIELDS, body) != CURLE_OK) {
        qn::log::Error() << "curlRet != CURLE_OK" << "\n";
    }
}

// Runs the transfer loop until the transfer ends, a stop is asked or a multi
// call fails. A pause mask waiting in `control` is taken (and the field
// reset) in one exchange, so a mask stored meanwhile is never lost.
// A perform that leaves no transfer running ends the loop at once, without
// the wait and the idle sleep of its turn: with no socket left, the wait
// would report nothing ready and the sleep would hold the end event 100 ms
// after the last byte, for nothing. Every other turn keeps its wait and
// sleep, a paused transfer's included, so a stop is still seen within one
// turn.
void run_loop(asyn_download_info* info, qn::curl::Transfer& transfer, const std::string& label) {
    CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
    int running = 0;
    timed_multi_perform(transfer.multi(), &running, label);
    while (running != 0 && info->exit_thr.load(kRelaxed) == 0) {
        const int32_t control = info->control.exchange(-1, kRelaxed);
        if (control != -1) curl_api.curl_easy_pause(transfer.easy(), control);
        int ready = 0;
        int code = timed_multi_perform(transfer.multi(), &running, label);
        if (code == CURLM_OK && running == 0) break;
        if (code == CURLM_OK) {
            code = curl_api.curl_multi_wait(transfer.multi(), nullptr, 0, kWaitMilliseconds, &ready);
        }
        if (code != CURLM_OK) {
            qn::log::Error() << "curl_multi_wait!= CURLM_OK" << "\n";
            break;
        }
        if (ready == 0) std::this_thread::sleep_for(kIdleSleep);
    }
}

// The task's result from the multi handle's message: 0 on success, -1 else.
int read_result(asyn_download_info* info, qn::curl::Transfer& transfer, const char* url_buffer) {
    int queued = 0;
    const CURLMsg* msg = CLibcurlWrapper::instance().curl_multi_info_read(transfer.multi(), &queued);
    if (msg == nullptr) {
        qn::log::Error() << "NULL == curl_multi_info_read" << "\n";
        return -1;
    }
    if (msg->data.result == CURLE_OK) return 0;
    qn::log::Error() << "curl_msg->data.result != CURLE_OK info->url =" << info->url
                     << ",url_encode=" << url_buffer << ",curl_msg->data.result ="
                     << msg->data.result << "\n";
    return -1;
}

}  // namespace

bool split_url(char* url, std::string* base, std::string* path) {
    char* colon = std::strchr(url, ':');
    if (colon == nullptr) return false;
    // Past the "//", but never past the terminator.
    char* from = colon + 1;
    for (int i = 0; i < 2 && *from != 0; ++i) ++from;
    char* slash = std::strchr(from, '/');
    if (slash == nullptr) return false;
    *path = slash;
    *slash = 0;
    *base = url;
    return true;
}

void download_asyn_worker(asyn_download_info* info) {
    if (info == nullptr) {
        qn::log::Info() << "info == NULL" << "\n";
        return;
    }
    guard_worker("download_asyn_worker", [&] {
        qn::curl::Transfer transfer;
        CURL* curl = transfer.easy();
        if (curl == nullptr || !transfer.create_multi()) {
            qn::log::Info() << "curl == NULL || multi_curl == NULL" << "\n";
            return;
        }
        CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
        curl_api.curl_easy_setopt(curl, CURLOPT_IPRESOLVE, static_cast<long>(CURL_IPRESOLVE_WHATEVER));
        curl_api.curl_easy_setopt(curl, CURLOPT_HEADER, 0L);

        char url_buffer[kUrlBufferSize] = {};
        bool url_fits = true;
        const std::string label = build_url(info, url_buffer, &url_fits);
        if (url_buffer[0] != 0) qn::log::Warn() << "url_encode=" << url_buffer << "\n";
        const int time_out = qn::submit::param_ex_time_out(info->param_ex);

        transfer.append_header("Expect:");
        transfer.append_header("Connection: Keep-Alive");
        add_content_headers(info, transfer);
        if (info->submit_type == kSubmitPost) set_post(info, transfer);

        qn::curl::RequestOptions options;
        options.url = url_buffer[0] != 0 ? url_buffer : label.c_str();
        options.timeout = time_out;
        options.connect_timeout = kConnectTimeoutSeconds;
        options.write_function = &on_asyn_download_write;
        options.write_data = info;
        options.tls = qn::curl::TlsVerify::kOff;
        qn::curl::setup_request(curl, options);
        curl_api.curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
        curl_api.curl_easy_setopt(curl, CURLOPT_HTTPHEADER, transfer.headers().get());
        curl_api.curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
        curl_api.curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
        curl_api.curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_api.curl_easy_setopt(curl, CURLOPT_PROGRESSFUNCTION, &on_asyn_download_progress);
        curl_api.curl_easy_setopt(curl, CURLOPT_PROGRESSDATA, info);
        curl_api.curl_easy_setopt(curl, CURLOPT_SSL_EC_CURVES, "X25519:P-256:P-384");

        int result = -1;
        if (!url_fits) {
            qn::log::Error() << "url_encode too long, info->url =" << info->url << "\n";
        } else {
            transfer.attach();
            run_loop(info, transfer, label);
            result = read_result(info, transfer, url_buffer);
        }
        info->finished.store(1, kRelaxed);
        int32_t failed = result < 0 ? 1 : 0;
        notify(info, TASK_EVENT_DONE, &failed, sizeof(failed));
    });
}

size_t on_asyn_download_write(char* data, size_t size, size_t count, void* info_ptr) {
    return guard_callback(kWriteFailure, [&]() -> size_t {
        if (data == nullptr) {
            qn::log::Info() << "buffer == NULL" << "\n";
            return kWriteFailure;
        }
        auto* info = static_cast<asyn_download_info*>(info_ptr);
        if (info == nullptr) {
            qn::log::Info() << "info == NULL" << "\n";
            return kWriteFailure;
        }
        if (info->exit_thr.load(kRelaxed) != 0) {
            qn::log::Info() << "info->exit_thr==TRUE" << "\n";
            return kWriteFailure;
        }
        const size_t length = size * count;
        // A file that cannot be opened is tried again with every chunk; the
        // chunks meanwhile count as accepted and still reach the callback.
        if (info->fp == nullptr) info->fp = std::fopen(info->path, "wb");
        size_t written = length;
        if (info->fp != nullptr) {
            written = std::fwrite(data, size, count, info->fp) * size;
            std::fflush(info->fp);
        }
        notify(info, TASK_EVENT_ASYNC_DATA, data, chunk_length(size, count));
        if (written != length) qn::log::Warn() << "recv_size=" << written << " !=" << length << "\n";
        return written;
    });
}

// Never aborts: a stop acts through the write callback and the loop test.
int on_asyn_download_progress(void* info_ptr, double total, double now, double, double) {
    return guard_callback(0, [&] {
        auto* info = static_cast<asyn_download_info*>(info_ptr);
        if (info == nullptr) {
            qn::log::Error() << "info == NULL " << "\n";
            return 0;
        }
        if (info->exit_thr.load(kRelaxed) != 0) {
            qn::log::Error() << "info->exit_thr == TRUE" << "\n";
            return 0;
        }
        if (total <= 0) {
            qn::log::Error() << "dltotal <= 0" << "\n";
            return 0;
        }
        if (info->total_size.load(kRelaxed) == 0) info->total_size.store(total, kRelaxed);
        int32_t percent = percent_of(now, total);
        info->pos.store(percent, kRelaxed);
        notify(info, TASK_EVENT_PROGRESS, &percent, sizeof(percent));
        return 0;
    });
}

}  // namespace transfer
}  // namespace qn

using qn::transfer::asyn_download_info;

extern "C" QUILLNET_API int64_t quillnet_download_asyn_urlfile(
    const char* url, const char* path, const char* body, int body_len, int submit_type,
    int conten_type, const char* param_ex, int param_ex_len, void* user_data, TaskCallback callback) {
    return qn::api::guarded("quillnet_download_asyn_urlfile", int64_t{-1}, [&]() -> int64_t {
        qn::log::Info() << "quillnet_download_asyn_urlfile -- 1: url:" << url << " path:" << path
                        << "\n";
        if (!qn::transfer::check_url_and_path(url, path, qn::log::kLevelInfo)) return -1;
        asyn_download_info* info =
            qn::transfer::new_task_record<asyn_download_info>("info == NULL", qn::log::kLevelError);
        if (info == nullptr) return -1;
        // A copy that cannot be allocated fails the start like the record
        // itself: the task could not send what it was asked to.
        if (!qn::transfer::copy_bytes(body, body_len, &info->body, &info->body_len) ||
            !qn::transfer::copy_bytes(param_ex, param_ex_len, &info->param_ex, &info->param_ex_len)) {
            qn::log::Error() << "info == NULL" << "\n";
            qn::transfer::TaskKind<asyn_download_info>::release(*info);
            std::free(info);
            return -1;
        }
        info->conten_type = conten_type;
        info->submit_type = submit_type;
        info->control.store(-1, qn::transfer::kRelaxed);
        info->callback = callback;
        qn::transfer::copy_text(info->url, url);
        qn::transfer::copy_text(info->path, path);
        info->user_data = user_data;
        return qn::transfer::start_task<asyn_download_info, &qn::transfer::download_asyn_worker>(
            info, qn::log::kLevelInfo);
    });
}

extern "C" QUILLNET_API int quillnet_control_download_asyn_urlfile(int64_t fd, int control) {
    return qn::api::guarded("quillnet_control_download_asyn_urlfile", 0, [&] {
        // -1 names no task either: refused like a null handle, never written
        // through.
        const bool stored = qn::transfer::with_live_task<asyn_download_info>(
            fd, "download_info == NULL", qn::log::kLevelInfo,
            [control](asyn_download_info& info) { info.control.store(control, qn::transfer::kRelaxed); });
        return stored ? 1 : 0;
    });
}

extern "C" QUILLNET_API int quillnet_stop_download_asyn_urlfile(int64_t fd) {
    return qn::api::guarded("quillnet_stop_download_asyn_urlfile", 0, [&] {
        return qn::transfer::stop_task<asyn_download_info>(fd, "info == NULL");
    });
}

extern "C" QUILLNET_API int quillnet_getpos_download_asyn_urlfile(int64_t fd) {
    return qn::api::guarded("quillnet_getpos_download_asyn_urlfile", -1, [&] {
        return qn::transfer::task_position<asyn_download_info>(fd, "info == NULL",
                                                               qn::log::kLevelInfo);
    });
}
