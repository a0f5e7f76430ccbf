// Pieces shared by the synchronous submits: the argument checks, the common
// request setup, the method codes, and the cookie collection.
#ifndef QN_SUBMIT_SUBMIT_INTERNAL_H
#define QN_SUBMIT_SUBMIT_INTERNAL_H

#include <curl/curl.h>

#include <cstdint>
#include <string>

#include "curl/transfer.h"

struct recv_data;

namespace qn {
namespace submit {

// How every submit's failed transfer line begins; the code, "] != CURLE_OK"
// and the request follow.
constexpr const char kPerformFailed[] = "error: CLibcurlWrapper::instance().curl_easy_perform(curl)[";

// The first two checks of every submit: "url == NULL" and "timeout < 0",
// logged at the level of the export's family. False when one failed.
bool check_url_and_timeout(const char* url, int timeout, uint32_t level);

// The options every synchronous submit sets alike: URL, time-out, signals,
// the connect time-out, the receive buffer's write callback, the
// certificate handling and the protocols (http and https, but for the
// name-only FTP listing).
void setup_submit(CURL* curl, const std::string& url, int timeout, int nosignal, recv_data* recv,
                  qn::curl::TlsVerify tls, qn::curl::Protocols protocols = qn::curl::Protocols::kHttp);

// Starts the header list with the two lines every synchronous submit sends
// first.
void start_headers(qn::curl::Transfer& transfer);

// Applies the method code of the synchronous submits. `content` is never
// null. Code 6 (name-only FTP listing) is known only where `allow_dir_list`
// is set; unknown codes set nothing and log "submit_type = " + code at 25.
void apply_submit_type(CURL* curl, int submit_type, const char* content, bool allow_dir_list);

}  // namespace submit
}  // namespace qn

// After a successful transfer with `need_get_cookie` non-zero: every line of
// the handle's cookie engine, each followed by a tab, NUL-terminated, in
// `*cookie_buf` (grown with realloc from the caller's block, which is NULL or
// one this library handed out), and the byte count including the NUL in
// `*cookie_buf_len`. Returns 0, or -1 when no cookie line was collected
// ("*cookie_buf_len <= 0", 30) or the buffer could not be enlarged
// ("*cookie_buf == NULL", 35; collection stops, the caller keeps the block
// as it was before that line).
int collect_cookies(int need_get_cookie, CURL* curl, char** cookie_buf, int* cookie_buf_len);

#endif  // QN_SUBMIT_SUBMIT_INTERNAL_H
