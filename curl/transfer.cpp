#include "curl/transfer.h"

#include <cstring>

#include "curl/host_settings.h"
#include "curl/libcurl_wrapper.h"
#include "curl/share.h"
#include "log/log_record.h"

namespace qn {
namespace curl {

bool has_line_break(const char* text) {
    return text != nullptr && std::strpbrk(text, "\r\n") != nullptr;
}

bool StringList::append(const char* line) {
    if (line == nullptr || has_line_break(line)) return false;
    // A list of one made by libcurl (so that its free_all releases it like
    // any other node), linked after the tail; curl_slist's layout is public.
    curl_slist* node = CLibcurlWrapper::instance().curl_slist_append(nullptr, line);
    if (node == nullptr) return false;
    if (list_ == nullptr) {
        list_ = node;
    } else {
        if (tail_ == nullptr) {
            tail_ = list_;
            while (tail_->next != nullptr) tail_ = tail_->next;
        }
        tail_->next = node;
    }
    tail_ = node;
    return true;
}

void StringList::reset() {
    if (list_ != nullptr) CLibcurlWrapper::instance().curl_slist_free_all(list_);
    list_ = nullptr;
    tail_ = nullptr;
}

void Form::reset() {
    if (first_ != nullptr) CLibcurlWrapper::instance().curl_formfree(first_);
    first_ = nullptr;
    last_ = nullptr;
}

Transfer::Transfer() : easy_(CLibcurlWrapper::instance().curl_easy_init()) {
    if (easy_ == nullptr) return;
    shared_ = attach_share(easy_);
    // Unshared, a connection is the call's own: closed when its transfer
    // ends rather than kept where the transfer ran (qn::curl::perform).
    if (!shared_) CLibcurlWrapper::instance().curl_easy_setopt(easy_, CURLOPT_FORBID_REUSE, 1L);
}

Transfer::~Transfer() {
    CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
    if (attached_) curl_api.curl_multi_remove_handle(multi_, easy_);
    headers_.reset();
    form_.reset();
    if (easy_ != nullptr) curl_api.curl_easy_cleanup(easy_);
    if (shared_) release_share();
    if (multi_ != nullptr) curl_api.curl_multi_cleanup(multi_);
}

void Transfer::use_headers() {
    CLibcurlWrapper::instance().curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_.get());
}

bool Transfer::create_multi() {
    if (multi_ == nullptr) multi_ = CLibcurlWrapper::instance().curl_multi_init();
    return multi_ != nullptr;
}

int Transfer::attach() {
    const CURLMcode code = CLibcurlWrapper::instance().curl_multi_add_handle(multi_, easy_);
    attached_ = code == CURLM_OK;
    return code;
}

namespace {

// The same list for the request and for any redirect it is told about, so
// that nothing can move a request to another protocol. Engines before
// 7.85 only know the bit masks.
bool restrict_protocols(CURL* curl, Protocols protocols) {
    CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
    const bool http = protocols == Protocols::kHttp;
#if LIBCURL_VERSION_NUM >= 0x075500
    const char* names = http ? "http,https" : "ftp";
    if (curl_api.curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, names) == CURLE_OK &&
        curl_api.curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, names) == CURLE_OK) {
        return true;
    }
#endif
    const long mask = http ? long{CURLPROTO_HTTP | CURLPROTO_HTTPS} : long{CURLPROTO_FTP};
    return curl_api.curl_easy_setopt(curl, CURLOPT_PROTOCOLS, mask) == CURLE_OK &&
           curl_api.curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS, mask) == CURLE_OK;
}

}  // namespace

void setup_request(CURL* curl, const RequestOptions& options) {
    CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
    curl_api.curl_easy_setopt(curl, CURLOPT_URL, options.url);
    if (options.timeout >= 0) curl_api.curl_easy_setopt(curl, CURLOPT_TIMEOUT, options.timeout);
    if (options.nosignal >= 0) curl_api.curl_easy_setopt(curl, CURLOPT_NOSIGNAL, options.nosignal);
    if (options.connect_timeout >= 0) {
        curl_api.curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, options.connect_timeout);
    }
    if (options.write_function != nullptr) {
        curl_api.curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, options.write_function);
        curl_api.curl_easy_setopt(curl, CURLOPT_WRITEDATA, options.write_data);
    }
    const HostSettings& host = host_settings();
    if (options.tls == TlsVerify::kOff && !host.tls_verify) {
        curl_api.curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_api.curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    if (!host.tls_ca_file.empty()) curl_api.curl_easy_setopt(curl, CURLOPT_CAINFO, host.tls_ca_file.c_str());
    if (!restrict_protocols(curl, options.protocols)) {
        qn::log::Error() << "protocols cannot be restricted, request not sent" << "\n";
        curl_api.curl_easy_setopt(curl, CURLOPT_URL, static_cast<const char*>(nullptr));
    }
}

bool refuse_line_break(const char* text, const char* what) {
    if (!has_line_break(text)) return false;
    qn::log::Error() << what << " with CR or LF, request not sent" << "\n";
    return true;
}

bool set_cookie(CURL* curl, const char* cookie, const char* what) {
    if (refuse_line_break(cookie, what)) return false;
    CLibcurlWrapper::instance().curl_easy_setopt(curl, CURLOPT_COOKIE, cookie);
    return true;
}

}  // namespace curl
}  // namespace qn
