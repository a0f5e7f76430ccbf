#include "submit/submit_internal.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "curl/libcurl_wrapper.h"
#include "log/log_record.h"
#include "submit/param_doc.h"
#include "submit/recv_data.h"

namespace qn {
namespace submit {

void setup_submit(CURL* curl, const std::string& url, int timeout, int nosignal, recv_data* recv,
                  qn::curl::TlsVerify tls, qn::curl::Protocols protocols) {
    qn::curl::RequestOptions options;
    options.url = url.c_str();
    options.timeout = timeout;
    options.nosignal = nosignal;
    options.write_function = &on_curl_recv_data;
    options.write_data = recv;
    options.tls = tls;
    options.protocols = protocols;
    qn::curl::setup_request(curl, options);
    // An answer announced longer than the buffer can hold is refused from
    // its head on (CURLE_FILESIZE_EXCEEDED), before a byte of it is stored;
    // one without a length fails in the write callback once it passes.
    CLibcurlWrapper::instance().curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t{kRecvDataMaxBody});
}

void start_headers(qn::curl::Transfer& transfer) {
    transfer.append_header(kAcceptCharset);
    transfer.append_header(kAcceptEncoding);
}

void apply_submit_type(CURL* curl, int submit_type, const char* content, bool allow_dir_list) {
    CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
    const long content_size = static_cast<long>(std::strlen(content));
    switch (submit_type) {
    case kSubmitGet:
        curl_api.curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
        return;
    case kSubmitPost:
        curl_api.curl_easy_setopt(curl, CURLOPT_POSTFIELDS, content);
        curl_api.curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, content_size);
        return;
    case kSubmitPut:
    case kSubmitDelete:
        curl_api.curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST,
                                  submit_type == kSubmitPut ? "PUT" : "DELETE");
        curl_api.curl_easy_setopt(curl, CURLOPT_POSTFIELDS, content);
        curl_api.curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, content_size);
        return;
    case kSubmitDirList:
        if (allow_dir_list) {
            curl_api.curl_easy_setopt(curl, CURLOPT_DIRLISTONLY, 1L);
            return;
        }
        break;
    default:
        break;
    }
    qn::log::Info() << "submit_type = " << submit_type << "\n";
}

bool check_url_and_timeout(const char* url, int timeout, uint32_t level) {
    if (url == nullptr) {
        qn::log::Record(level) << "url == NULL" << "\n";
        return false;
    }
    if (timeout < 0) {
        qn::log::Record(level) << "timeout < 0" << "\n";
        return false;
    }
    return true;
}

}  // namespace submit
}  // namespace qn

int collect_cookies(int need_get_cookie, CURL* curl, char** cookie_buf, int* cookie_buf_len) {
    if (need_get_cookie == 0) return 0;
    // The engine's list is ours to free, whatever happens while it is read.
    qn::curl::StringList cookies;
    CLibcurlWrapper::instance().curl_easy_getinfo(curl, CURLINFO_COOKIELIST, cookies.out());
    if (cookies.get() != nullptr) {
        *cookie_buf_len = 0;
        for (const curl_slist* item = cookies.get(); item != nullptr; item = item->next) {
            const size_t line_len = item->data == nullptr ? 0 : std::strlen(item->data);
            if (line_len == 0) continue;
            // The first line starts the block afresh; later ones go after
            // what the block holds as text.
            const size_t used = *cookie_buf_len == 0 ? 0 : std::strlen(*cookie_buf);
            const size_t size = used + line_len + 2;
            char* grown = size > static_cast<size_t>(INT_MAX)
                              ? nullptr
                              : static_cast<char*>(std::realloc(*cookie_buf, size));
            if (grown == nullptr) {
                qn::log::Error() << "*cookie_buf == NULL" << "\n";
                return -1;
            }
            *cookie_buf = grown;
            std::memcpy(grown + used, item->data, line_len);
            grown[used + line_len] = '\t';
            grown[used + line_len + 1] = '\0';
            *cookie_buf_len = static_cast<int>(size);
        }
    }
    if (*cookie_buf_len <= 0) {
        qn::log::Warn() << "*cookie_buf_len <= 0" << "\n";
        return -1;
    }
    return 0;
}
