// The basic submit: a POST of a text body, the whole answer handed back.
#include <string>

#include "Public/Helper/UrlDealwith.h"
#include "api/export_guard.h"
#include "cache/timed_perform.h"
#include "curl/transfer.h"
#include "log/log_record.h"
#include "quillnet.h"
#include "submit/param_doc.h"
#include "submit/recv_data.h"
#include "submit/submit_internal.h"

// The exports that only fill in defaults run inside the guard of the one
// they call.
extern "C" QUILLNET_API int quillnet_submit(const char* url, int timeout, const char* content,
                                            int nosignal, char** ret_buf) {
    return quillnet_submit_ex(url, timeout, content, nosignal, ret_buf, nullptr);
}

extern "C" QUILLNET_API int quillnet_submit_ex(const char* url, int timeout, const char* content,
                                               int nosignal, char** ret_buf, int* ret_buf_len) {
    return qn::api::guarded("quillnet_submit_ex", -1, [&]() -> int {
        if (!qn::submit::check_url_and_timeout(url, timeout, qn::log::kLevelInfo)) return -1;
        if (content == nullptr) content = "";
        if (ret_buf == nullptr) qn::log::Info() << "ret_buf == NULL" << "\n";

        qn::submit::ReceiveBuffer recv;
        if (!recv.create()) return -1;
        qn::curl::Transfer transfer;
        CURL* curl = transfer.easy();
        if (curl == nullptr) return -1;

        const std::string new_url = UrlFormat::HttpHeadDealwith::GetNewUrl(url);
        qn::submit::setup_submit(curl, new_url, timeout, nosignal, recv.get(),
                                 qn::curl::TlsVerify::kOff);
        // Always a POST, an empty one when there is no content, with
        // libcurl's default form content type.
        qn::submit::apply_submit_type(curl, qn::submit::kSubmitPost, content, false);
        qn::submit::start_headers(transfer);
        transfer.use_headers();

        const int code = timed_easy_perform(curl, new_url, content, recv.get(), timeout);
        int result = 0;
        if (code != CURLE_OK) {
            qn::log::Error() << qn::submit::kPerformFailed << code << "] != CURLE_OK, url:" << url
                             << " content:" << content << "\n";
            result = -1;
        }
        recv.finish(result, ret_buf, ret_buf_len);
        return result;
    });
}
