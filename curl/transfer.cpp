#include "curl/transfer.h"

#include "curl/libcurl_wrapper.h"

namespace qn {
namespace curl {

bool StringList::append(const char* line) {
    curl_slist* grown = CLibcurlWrapper::instance().curl_slist_append(list_, line);
    if (grown == nullptr) return false;
    list_ = grown;
    return true;
}

void StringList::reset() {
    if (list_ != nullptr) CLibcurlWrapper::instance().curl_slist_free_all(list_);
    list_ = nullptr;
}

void Form::reset() {
    if (first_ != nullptr) CLibcurlWrapper::instance().curl_formfree(first_);
    first_ = nullptr;
    last_ = nullptr;
}

Transfer::Transfer() : easy_(CLibcurlWrapper::instance().curl_easy_init()) {}

Transfer::~Transfer() {
    CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
    if (attached_) curl_api.curl_multi_remove_handle(multi_, easy_);
    headers_.reset();
    form_.reset();
    if (easy_ != nullptr) curl_api.curl_easy_cleanup(easy_);
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
    if (options.tls == TlsVerify::kOff) {
        curl_api.curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_api.curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    }
}

}  // namespace curl
}  // namespace qn
