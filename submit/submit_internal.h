// Pieces shared by the synchronous submits: owners of the per-call libcurl
// objects and of the receive buffer, the method codes, and the cookie
// collection.
#ifndef QN_SUBMIT_SUBMIT_INTERNAL_H
#define QN_SUBMIT_SUBMIT_INTERNAL_H

#include <curl/curl.h>

#include <cstdint>
#include <new>

#include "submit/recv_data.h"

namespace qn {
namespace submit {

// The two header lines every synchronous submit starts its list with.
constexpr const char kAcceptCharset[] = "Accept-Charset: utf-8";
constexpr const char kAcceptEncoding[] = "Accept-Encoding: utf-8";

// The receive buffer of one request. Creation logs its own failures
// ("recv_data == NULL", "recv_data->buf == NULL", level 35). The record is
// freed on every way out; the block only moves to the caller in finish().
class ReceiveBuffer {
public:
    ReceiveBuffer() = default;
    ~ReceiveBuffer() { recv_data_free(data_, false); }
    ReceiveBuffer(const ReceiveBuffer&) = delete;
    ReceiveBuffer& operator=(const ReceiveBuffer&) = delete;

    bool create();
    recv_data* get() const { return data_; }

    // The end of every submit: on success with an out-pointer the block
    // goes to `*ret_buf`, otherwise it is freed (the caller's `*ret_buf` is
    // then left as it was); `*ret_buf_len`, when given, gets the bytes
    // received, on failure too. The record is freed.
    void finish(int result, char** ret_buf, int* ret_buf_len);

private:
    recv_data* data_ = nullptr;
};

// An easy handle made through the libcurl binding, cleaned up on every way
// out.
class EasyHandle {
public:
    EasyHandle();
    ~EasyHandle() { reset(); }
    EasyHandle(const EasyHandle&) = delete;
    EasyHandle& operator=(const EasyHandle&) = delete;

    CURL* get() const { return curl_; }
    void reset();

private:
    CURL* curl_ = nullptr;
};

// A libcurl header list, freed on every way out.
class HeaderList {
public:
    HeaderList() = default;
    ~HeaderList() { reset(); }
    HeaderList(const HeaderList&) = delete;
    HeaderList& operator=(const HeaderList&) = delete;

    curl_slist* get() const { return list_; }
    curl_slist** out() { return &list_; }
    void append(const char* line);
    void reset();

private:
    curl_slist* list_ = nullptr;
};

// The first two checks of every submit: "url == NULL" and "timeout < 0",
// logged at the level of the export's family. False when one failed.
bool check_url_and_timeout(const char* url, int timeout, uint32_t level);

// Runs the work of a submit. Running out of memory inside the library (a
// rewritten URL or a cached answer that cannot be copied) becomes the
// submit's failure value: apart from the engine's load failures, no
// exception leaves an export. The per-call owners above free what was
// taken on the way out.
template <class Fn>
int fail_on_bad_alloc(Fn&& work) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

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
