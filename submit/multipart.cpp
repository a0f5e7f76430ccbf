// The synchronous multipart submit: a form built from the host's in-memory
// description, posted on the caller's thread.
#include <string>

#include "Public/Helper/UrlDealwith.h"
#include "api/export_guard.h"
#include "cache/timed_perform.h"
#include "curl/libcurl_wrapper.h"
#include "curl/transfer.h"
#include "log/log_record.h"
#include "quillnet.h"
#include "submit/multipart_form.h"
#include "submit/param_doc.h"
#include "submit/recv_data.h"
#include "submit/submit_internal.h"

// Runs inside the guard of quillnet_submit_multipart_ex.
extern "C" QUILLNET_API int quillnet_submit_multipart(const char* url, int timeout, web_data* data,
                                                      int nosignal, char** ret_buf,
                                                      int* ret_buf_len) {
    return quillnet_submit_multipart_ex(url, timeout, data, nosignal, nullptr, ret_buf,
                                        ret_buf_len);
}

extern "C" QUILLNET_API int quillnet_submit_multipart_ex(const char* url, int timeout,
                                                         web_data* data, int nosignal,
                                                         const char* param_ex, char** ret_buf,
                                                         int* ret_buf_len) {
    return qn::api::guarded("quillnet_submit_multipart_ex", -1, [&]() -> int {
        if (!qn::submit::check_url_and_timeout(url, timeout, qn::log::kLevelInfo)) return -1;
        if (data == nullptr || data->header == nullptr) {
            qn::log::Info() << "web_data == NULL || web_data->header == NULL" << "\n";
            return -1;
        }
        if (ret_buf == nullptr) qn::log::Info() << "ret_buf == NULL" << "\n";

        qn::submit::ReceiveBuffer recv;
        if (!recv.create()) return -1;
        qn::curl::Transfer transfer;
        CURL* curl = transfer.easy();
        if (curl == nullptr) return -1;

        if (!qn::submit::add_web_parts(transfer.form(), data)) {
            recv.finish(-1, ret_buf, ret_buf_len);
            return -1;
        }
        const std::string new_url = UrlFormat::HttpHeadDealwith::GetNewUrl(url);
        // No certificate options: libcurl verifies peer and host.
        qn::submit::setup_submit(curl, new_url, timeout, nosignal, recv.get(),
                                 qn::curl::TlsVerify::kEngineDefault);
        CLibcurlWrapper::instance().curl_easy_setopt(curl, CURLOPT_HTTPPOST, transfer.form().get());

        qn::submit::start_headers(transfer);
        int result = -1;
        bool ready = true;
        if (param_ex != nullptr) {
            qn::log::Warn() << "param_ex != NULL" << "\n";
            ready = qn::submit::add_param_ex_headers(param_ex, transfer.headers(),
                                                     qn::submit::AuthDigestMode::kSendAsHeader,
                                                     curl) == qn::submit::ParamDocOutcome::kOk;
        }
        if (ready) {
            transfer.use_headers();
            // No request text and no buffer: never answered from the request
            // cache, and no request/response dump line.
            const int code = timed_easy_perform(curl, new_url, nullptr, nullptr);
            if (code != CURLE_OK) {
                qn::log::Error() << qn::submit::kPerformFailed << code
                                 << "] != CURLE_OK, url:" << url << "\n";
            } else {
                result = 0;
            }
        }
        recv.finish(result, ret_buf, ret_buf_len);
        return result;
    });
}
