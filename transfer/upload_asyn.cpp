// The asynchronous upload: a worker posts one local file as a form through
// libcurl's multi interface; the server's answer, progress and one end event
// reach the caller's callback. The transfer loop and the callbacks here
// serve the asynchronous multipart submit as well.
#include <cstdio>
#include <string>

#include "Public/Helper/UrlDealwith.h"
#include "api/export_guard.h"
#include "cache/timed_perform.h"
#include "curl/libcurl_wrapper.h"
#include "curl/transfer.h"
#include "log/log_record.h"
#include "quillnet.h"
#include "submit/param_doc.h"
#include "transfer/upload_task.h"

namespace qn {
namespace transfer {

namespace {

// At most this long between two looks at the stop flag.
constexpr int kWaitMilliseconds = 1000;

constexpr char kUploadStopLine[] = "info->exit_thr == TRUE";
constexpr char kMultipartStopLine[] = "info->upload_info.exit_thr == TRUE";

// The record is the upload's, or the head of the multipart submit's.
template <const char* StopLine>
size_t on_asyn_upload_write(char* data, size_t size, size_t count, void* info_ptr) {
    return guard_callback(size_t{0}, [&]() -> size_t {
        auto* info = static_cast<asyn_upload_info*>(info_ptr);
        if (info == nullptr) {
            qn::log::Error() << "info == NULL" << "\n";
            return 0;
        }
        if (info->exit_thr.load(kRelaxed) != 0) {
            qn::log::Error() << StopLine << "\n";
            return 0;
        }
        notify(info, TASK_EVENT_ASYNC_DATA, data, chunk_length(size, count));
        return size * count;
    });
}

// Never aborts: a stop acts through the write callback and the loop test.
template <const char* StopLine>
int on_asyn_upload_progress(void* info_ptr, double, double, double ultotal, double ulnow) {
    return guard_callback(0, [&] {
        auto* info = static_cast<asyn_upload_info*>(info_ptr);
        if (info == nullptr) {
            qn::log::Error() << "info == NULL " << "\n";
            return 0;
        }
        if (info->exit_thr.load(kRelaxed) != 0) {
            qn::log::Error() << StopLine << "\n";
            return 0;
        }
        if (ultotal <= 0) {
            qn::log::Error() << "ultotal <= 0" << "\n";
            return 0;
        }
        int32_t percent = percent_of(ulnow, ultotal);
        info->pos.store(percent, kRelaxed);
        notify(info, TASK_EVENT_PROGRESS, &percent, sizeof(percent));
        return 0;
    });
}

// The content-type header lines. The document's lines go as they are:
// "auth_digest" is an ordinary header here.
void add_content_headers(asyn_upload_info* info, qn::curl::Transfer& transfer) {
    if (info->conten_type == qn::submit::kContentJson) {
        transfer.append_header(qn::submit::kJsonContentLine);
    } else if (info->conten_type == qn::submit::kContentFromDocument && info->param_ex != nullptr) {
        qn::submit::add_param_ex_headers(info->param_ex, transfer.headers(),
                                         qn::submit::AuthDigestMode::kSendAsHeader, nullptr);
    } else {
        qn::log::Error() << "unknown conten_type:" << info->conten_type << "\n";
    }
}

// 1 when the transfer failed or was stopped before its end, else 0.
int32_t read_outcome(qn::curl::Transfer& transfer, const char* result_line) {
    int queued = 0;
    const CURLMsg* msg = CLibcurlWrapper::instance().curl_multi_info_read(transfer.multi(), &queued);
    if (msg == nullptr) {
        qn::log::Error() << "NULL == curl_multi_info_read" << "\n";
        return 1;
    }
    if (msg->data.result == CURLE_OK) return 0;
    qn::log::Error() << result_line << msg->data.result << "\n";
    return 1;
}

}  // namespace

const AsynUploadKind kAsynUpload = {
    &on_asyn_upload_write<kUploadStopLine>,
    &on_asyn_upload_progress<kUploadStopLine>,
    "curl_msg->data.result != CURLE_OK curl_msg->data.result:",
};

const AsynUploadKind kAsynMultipart = {
    &on_asyn_upload_write<kMultipartStopLine>,
    &on_asyn_upload_progress<kMultipartStopLine>,
    "curl_msg->data.result != CURLE_OK curl_msg->data.result = ",
};

void add_upload_form(qn::curl::Form& form, const char* path, const char* path_field) {
    CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
    curl_api.curl_formadd(form.first(), form.last(), CURLFORM_COPYNAME, "sendfile", CURLFORM_FILE, path,
                          CURLFORM_END);
    curl_api.curl_formadd(form.first(), form.last(), CURLFORM_COPYNAME, path_field, CURLFORM_COPYCONTENTS,
                          path, CURLFORM_END);
    curl_api.curl_formadd(form.first(), form.last(), CURLFORM_COPYNAME, "submit", CURLFORM_COPYCONTENTS,
                          "send", CURLFORM_END);
}

void run_asyn_upload(asyn_upload_info* info, qn::curl::Transfer& transfer, const std::string& url,
                     const AsynUploadKind& kind) {
    CURL* curl = transfer.easy();
    CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
    qn::curl::RequestOptions options;
    options.url = url.c_str();
    options.write_function = kind.write;
    options.write_data = info;
    // No certificate options: libcurl verifies peer and host.
    qn::curl::setup_request(curl, options);
    // As the host gave it, a negative value too (libcurl takes any value
    // but 0 as "no signals"); the upload's own is 0.
    curl_api.curl_easy_setopt(curl, CURLOPT_NOSIGNAL, static_cast<long>(info->nosignal));
    curl_api.curl_easy_setopt(curl, CURLOPT_HTTPPOST, transfer.form().get());
    curl_api.curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferSize);
    transfer.use_headers();
    curl_api.curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_api.curl_easy_setopt(curl, CURLOPT_PROGRESSDATA, info);
    curl_api.curl_easy_setopt(curl, CURLOPT_PROGRESSFUNCTION, kind.progress);

    transfer.attach();
    // The perform closes each turn, so the loop's test follows it directly:
    // a perform that leaves no transfer running ends the loop at once,
    // without another wait, and the end event follows the last byte of the
    // answer. This loop drives the multipart submit too.
    int running = 0;
    timed_multi_perform(transfer.multi(), &running, url);
    while (running != 0 && info->exit_thr.load(kRelaxed) == 0) {
        if (curl_api.curl_multi_wait(transfer.multi(), nullptr, 0, kWaitMilliseconds, nullptr) != CURLM_OK) {
            qn::log::Error() << "curl_multi_wait!= CURLM_OK" << "\n";
            break;
        }
        timed_multi_perform(transfer.multi(), &running, url);
    }
    int32_t failed = read_outcome(transfer, kind.result_line);
    info->finished.store(1, kRelaxed);
    notify(info, TASK_EVENT_DONE, &failed, sizeof(failed));
}

void upload_asyn_worker(asyn_upload_info* info) {
    if (info == nullptr) {
        qn::log::Warn() << "info == NULL" << "\n";
        return;
    }
    guard_worker("upload_asyn_worker", [&] {
        const ReadFile file(std::fopen(info->path, "rb"));
        if (file == nullptr) {
            qn::log::Warn() << "ptr == NULL" << "\n";
            return;
        }
        qn::curl::Transfer transfer;
        if (transfer.easy() == nullptr || !transfer.create_multi()) {
            qn::log::Info() << "curl == NULL || multi_curl == NULL" << "\n";
            return;
        }
        transfer.append_header("Expect:");
        transfer.append_header("Connection: Keep-Alive");
        add_upload_form(transfer.form(), info->path, "fileName");
        qn::log::Info() << "url is " << info->url << "\n";
        add_content_headers(info, transfer);
        const std::string new_url = UrlFormat::HttpHeadDealwith::GetNewUrl(info->url);
        CLibcurlWrapper::instance().curl_easy_setopt(transfer.easy(), CURLOPT_VERBOSE, 1L);
        run_asyn_upload(info, transfer, new_url, kAsynUpload);
    });
}

}  // namespace transfer
}  // namespace qn

using qn::transfer::asyn_upload_info;

extern "C" QUILLNET_API int64_t quillnet_upload_asyn_urlfile(const char* url, const char* path, const char* body,
                                                             int body_len, int submit_type, int conten_type,
                                                             const char* param_ex, int param_ex_len,
                                                             void* user_data, TaskCallback callback) {
    return qn::api::guarded("quillnet_upload_asyn_urlfile", int64_t{-1}, [&]() -> int64_t {
        if (!qn::transfer::check_url_and_path(url, path, qn::log::kLevelWarn)) return -1;
        asyn_upload_info* info = qn::transfer::new_task_record<asyn_upload_info>("info == NULL", qn::log::kLevelWarn);
        if (info == nullptr) return -1;
        // A copy that cannot be allocated fails the start like the record.
        if (!qn::transfer::copy_bytes(body, body_len, &info->body, &info->body_len) ||
            !qn::transfer::copy_bytes(param_ex, param_ex_len, &info->param_ex, &info->param_ex_len)) {
            qn::transfer::TaskKind<asyn_upload_info>::release(*info);
            std::free(info);
            qn::log::Warn() << "info == NULL" << "\n";
            return -1;
        }
        info->conten_type = conten_type;
        info->submit_type = submit_type;
        info->callback = callback;
        qn::transfer::copy_text(info->url, url);
        qn::transfer::copy_text(info->path, path);
        info->user_data = user_data;
        return qn::transfer::start_task<asyn_upload_info, &qn::transfer::upload_asyn_worker>(info,
                                                                                              qn::log::kLevelWarn);
    });
}

extern "C" QUILLNET_API int quillnet_stop_upload_asyn_urlfile(int64_t fd) {
    return qn::api::guarded("quillnet_stop_upload_asyn_urlfile", 0,
                            [&] { return qn::transfer::stop_task<asyn_upload_info>(fd, "info == NULL"); });
}

extern "C" QUILLNET_API int quillnet_getpos_upload_asyn_urlfile(int64_t fd) {
    return qn::api::guarded("quillnet_getpos_upload_asyn_urlfile", -1, [&] {
        return qn::transfer::task_position<asyn_upload_info>(fd, "info == NULL", qn::log::kLevelInfo);
    });
}
