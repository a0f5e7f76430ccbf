#include "submit/submit_internal.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "curl/libcurl_wrapper.h"
#include "log/log_record.h"
#include "submit/param_doc.h"

namespace qn {
namespace submit {

bool ReceiveBuffer::create() {
    RecvDataStatus status = RecvDataStatus::kOk;
    data_ = recv_data_create(&status);
    if (data_ != nullptr) return true;
    if (status == RecvDataStatus::kNoRecord) {
        qn::log::Error() << "recv_data == NULL" << "\n";
    } else {
        qn::log::Error() << "recv_data->buf == NULL" << "\n";
    }
    return false;
}

void ReceiveBuffer::finish(int result, char** ret_buf, int* ret_buf_len) {
    if (data_ == nullptr) return;
    const bool hand_out = result == 0 && ret_buf != nullptr;
    if (hand_out) *ret_buf = data_->buf;
    if (ret_buf_len != nullptr) *ret_buf_len = data_->length;
    recv_data_free(data_, hand_out);
    data_ = nullptr;
}

EasyHandle::EasyHandle() : curl_(CLibcurlWrapper::instance().curl_easy_init()) {}

void EasyHandle::reset() {
    if (curl_ != nullptr) CLibcurlWrapper::instance().curl_easy_cleanup(curl_);
    curl_ = nullptr;
}

void HeaderList::append(const char* line) {
    append_header_line(&list_, line);
}

void HeaderList::reset() {
    if (list_ != nullptr) CLibcurlWrapper::instance().curl_slist_free_all(list_);
    list_ = nullptr;
}

void apply_submit_type(CURL* curl, int submit_type, const char* content, bool allow_dir_list) {
    CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
    const long content_size = static_cast<long>(std::strlen(content));
    switch (submit_type) {
    case 1:
        curl_api.curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
        return;
    case 2:
        curl_api.curl_easy_setopt(curl, CURLOPT_POSTFIELDS, content);
        curl_api.curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, content_size);
        return;
    case 4:
    case 5:
        curl_api.curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, submit_type == 4 ? "PUT" : "DELETE");
        curl_api.curl_easy_setopt(curl, CURLOPT_POSTFIELDS, content);
        curl_api.curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, content_size);
        return;
    case 6:
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
    CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
    curl_slist* cookies = nullptr;
    curl_api.curl_easy_getinfo(curl, CURLINFO_COOKIELIST, &cookies);
    if (cookies != nullptr) {
        *cookie_buf_len = 0;
        bool enlarged = true;
        for (const curl_slist* item = cookies; item != nullptr; item = item->next) {
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
                enlarged = false;
                break;
            }
            *cookie_buf = grown;
            std::memcpy(grown + used, item->data, line_len);
            grown[used + line_len] = '\t';
            grown[used + line_len + 1] = '\0';
            *cookie_buf_len = static_cast<int>(size);
        }
        curl_api.curl_slist_free_all(cookies);
        if (!enlarged) return -1;
    }
    if (*cookie_buf_len <= 0) {
        qn::log::Warn() << "*cookie_buf_len <= 0" << "\n";
        return -1;
    }
    return 0;
}
