// The synchronous multipart submit: a form built from the host's in-memory
// description, posted on the caller's thread.
#include <cstdint>
#include <string>

#include "Public/Helper/UrlDealwith.h"
#include "cache/timed_perform.h"
#include "curl/libcurl_wrapper.h"
#include "log/log_record.h"
#include "quillnet.h"
#include "submit/multipart_form.h"
#include "submit/param_doc.h"
#include "submit/recv_data.h"
#include "submit/submit_internal.h"

using qn::submit::EasyHandle;
using qn::submit::HeaderList;
using qn::submit::MultipartForm;
using qn::submit::ReceiveBuffer;

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
    if (!qn::submit::check_url_and_timeout(url, timeout, qn::log::kLevelInfo)) return -1;
    if (data == nullptr || data->header == nullptr) {
        qn::log::Info() << "web_data == NULL || web_data->header == NULL" << "\n";
        return -1;
    }
    if (ret_buf == nullptr) qn::log::Info() << "ret_buf == NULL" << "\n";

    return qn::submit::fail_on_bad_alloc([&]() -> int {
        ReceiveBuffer recv;
        if (!recv.create()) return -1;
        int result = -1;
        EasyHandle easy;
        CURL* curl = easy.get();
        if (curl == nullptr) return -1;

        MultipartForm form;
        form.add_parts(data);
        const std::string new_url = UrlFormat::HttpHeadDealwith::GetNewUrl(url);
        CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
        curl_api.curl_easy_setopt(curl, CURLOPT_URL, new_url.c_str());
        curl_api.curl_easy_setopt(curl, CURLOPT_HTTPPOST, form.get());
        curl_api.curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(timeout));
        curl_api.curl_easy_setopt(curl, CURLOPT_NOSIGNAL, static_cast<long>(nosignal));
        curl_api.curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 20L);
        curl_api.curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &on_curl_recv_data);
        curl_api.curl_easy_setopt(curl, CURLOPT_WRITEDATA, recv.get());

        HeaderList headers;
        headers.append(qn::submit::kAcceptCharset);
        headers.append(qn::submit::kAcceptEncoding);
        bool ready = true;
        if (param_ex != nullptr) {
            qn::log::Warn() << "param_ex != NULL" << "\n";
            ready = qn::submit::add_param_ex_headers(param_ex, headers.out(),
                                                     qn::submit::AuthDigestMode::kSendAsHeader,
                                                     curl) == qn::submit::ParamDocOutcome::kOk;
        }
        if (ready) {
            curl_api.curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
            // No request text and no buffer: never answered from the request
            // cache, and no request/response dump line.
            const int code = timed_easy_perform(curl, new_url, nullptr, nullptr);
            if (code != CURLE_OK) {
                qn::log::Error() << "error: CLibcurlWrapper::instance().curl_easy_perform(curl)["
                                 << code << "] != CURLE_OK, url:" << url << "\n";
            } else {
                result = 0;
            }
        }

        form.reset();
        headers.reset();
        easy.reset();
        recv.finish(result, ret_buf, ret_buf_len);
        return result;
    });
}
