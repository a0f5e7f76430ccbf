// The basic submit: a POST of a text body, the whole answer handed back.
#include <cstring>
#include <string>

#include "Public/Helper/UrlDealwith.h"
#include "cache/timed_perform.h"
#include "curl/libcurl_wrapper.h"
#include "log/log_record.h"
#include "quillnet.h"
#include "submit/recv_data.h"
#include "submit/submit_internal.h"

using qn::submit::EasyHandle;
using qn::submit::HeaderList;
using qn::submit::ReceiveBuffer;

extern "C" QUILLNET_API int quillnet_submit(const char* url, int timeout, const char* content,
                                            int nosignal, char** ret_buf) {
    return quillnet_submit_ex(url, timeout, content, nosignal, ret_buf, nullptr);
}

extern "C" QUILLNET_API int quillnet_submit_ex(const char* url, int timeout, const char* content,
                                               int nosignal, char** ret_buf, int* ret_buf_len) {
    if (!qn::submit::check_url_and_timeout(url, timeout, qn::log::kLevelInfo)) return -1;
    if (content == nullptr) content = "";
    if (ret_buf == nullptr) qn::log::Info() << "ret_buf == NULL" << "\n";

    return qn::submit::fail_on_bad_alloc([&]() -> int {
        ReceiveBuffer recv;
        if (!recv.create()) return -1;
        EasyHandle easy;
        CURL* curl = easy.get();
        if (curl == nullptr) return -1;

        const std::string new_url = UrlFormat::HttpHeadDealwith::GetNewUrl(url);
        CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
        curl_api.curl_easy_setopt(curl, CURLOPT_URL, new_url.c_str());
        curl_api.curl_easy_setopt(curl, CURLOPT_POSTFIELDS, content);
        curl_api.curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(std::strlen(content)));
        curl_api.curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(timeout));
        curl_api.curl_easy_setopt(curl, CURLOPT_NOSIGNAL, static_cast<long>(nosignal));
        curl_api.curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 20L);
        curl_api.curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &on_curl_recv_data);
        curl_api.curl_easy_setopt(curl, CURLOPT_WRITEDATA, recv.get());
        curl_api.curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_api.curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
        HeaderList headers;
        headers.append(qn::submit::kAcceptCharset);
        headers.append(qn::submit::kAcceptEncoding);
        curl_api.curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());

        const int code = timed_easy_perform(curl, new_url, content, recv.get());
        int result = 0;
        if (code != CURLE_OK) {
            qn::log::Error() << "error: CLibcurlWrapper::instance().curl_easy_perform(curl)[" << code
                             << "] != CURLE_OK, url:" << url << " content:" << content << "\n";
            result = -1;
        }

        headers.reset();
        easy.reset();
        recv.finish(result, ret_buf, ret_buf_len);
        return result;
    });
}
