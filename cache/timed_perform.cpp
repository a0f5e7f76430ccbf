#include "cache/timed_perform.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "cache/web_req_cache.h"
#include "curl/libcurl_wrapper.h"
#include "curl/perform.h"
#include "curl/transfer.h"
#include "host/host_objects.h"
#include "log/log_record.h"
#include "platform/platform.h"
#include "submit/recv_data.h"

namespace {

constexpr const char kUIThreadSuffix[] = " ** by UIThread.";

// Puts a cached answer into the caller's buffer as if the write callback had
// received it. A buffer too small grows to exactly the answer plus its
// terminator. False when that growth fails; the buffer is then untouched.
bool copy_answer(const WebReqCacheValue& value, recv_data* recv) {
    const std::string& body = value.text();
    const size_t length = body.size();
    if (length >= static_cast<size_t>(INT32_MAX)) return false;
    if (static_cast<int64_t>(length) >= recv->capacity) {
        char* grown = static_cast<char*>(std::realloc(recv->buf, length + 1));
        if (grown == nullptr) return false;
        recv->buf = grown;
        recv->capacity = static_cast<int32_t>(length + 1);
    }
    std::memcpy(recv->buf, body.data(), length);
    recv->buf[length] = '\0';
    recv->length = static_cast<int32_t>(length);
    return true;
}

// A handle answered without a transfer never holds a connection, so its
// clean-up writes nothing to any socket and needs no SIGPIPE guard; libcurl
// would otherwise take and restore the signal's disposition around it
// (three sigaction calls) for a handle that asked for signals.
void spare_cleanup_signals(CURL* curl) {
    CLibcurlWrapper::instance().curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
}

}  // namespace

SpanTimer::~SpanTimer() {
    if (!callback_) return;
    const auto elapsed = std::chrono::steady_clock::now() - start_;
    const int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
    // A report that cannot be made (no memory for its line) is dropped: a
    // destructor must not throw, least of all while a failure unwinds.
    try {
        callback_(ns / 1000000);
    } catch (...) {
    }
}

namespace qn {
namespace cache {

bool on_ui_thread() {
    // A thread's id never changes: asked of the system once per thread, not
    // on every perform. (A plain value: a thread-local object with a
    // destructor would keep the library loaded until its thread ends.)
    thread_local uint32_t this_thread = 0;
    if (this_thread == 0) this_thread = qn::platform::current_thread_id();
    std::string ui_thread;
    if (qn::host::HostFunctionCall("UIThreadId", "ui_tid", &ui_thread) != 0) return false;
    return ui_thread == std::to_string(this_thread);
}

}  // namespace cache
}  // namespace qn

int timed_easy_perform(CURL* curl, const std::string& url, const char* request, recv_data* recv,
                       int timeout_seconds) {
    // Asked before the clock starts: the span is the transfer's alone.
    const bool on_ui_thread = qn::cache::on_ui_thread();

    int result = CURLE_OK;
    bool by_network = false;
    SpanTimer timer([&](int64_t span) {
        qn::log::Warn() << "[" << url << "] perform ret:" << result
                        << " spantime:" << static_cast<int32_t>(span)
                        << (on_ui_thread ? kUIThreadSuffix : "") << "\n";
        // The request and the answer are lent to the record, not copied:
        // both outlive it, and either may be large.
        if (request != nullptr && recv != nullptr) {
            qn::log::Info() << (by_network ? "by net" : "by catch") << " == Req:" << qn::log::Borrowed{request}
                            << " Rep:" << qn::log::Borrowed{recv->buf} << "\n";
        }
    });

    // Only the cached road keeps what the fetch returns; the direct road
    // drops it, so there the body is not copied out of the buffer.
    bool keep_answer = false;
    auto fetch = [&]() {
        CLibcurlWrapper& lib = CLibcurlWrapper::instance();
        lib.curl_easy_setopt(curl, CURLOPT_TCP_NODELAY, 1L);
        // Every easy transfer connects within this time, whatever the caller
        // set before.
        lib.curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, qn::curl::kPerformConnectTimeoutSeconds);
        result = qn::curl::perform(curl);
        WebReqCacheValue value;
        if (keep_answer && result == CURLE_OK && recv->buf != nullptr) {
            value = WebReqCacheValue(std::string(recv->buf));
        }
        by_network = true;
        return std::make_pair(result == CURLE_OK, std::move(value));
    };

    if (request != nullptr && recv != nullptr && is_cached_path(url)) {
        keep_answer = true;
        const WebReqCacheKey key(url, request);
        WebReqCacheValue value;
        const std::chrono::milliseconds wait_limit(int64_t{timeout_seconds > 0 ? timeout_seconds : 0} * 1000);
        if (WebReqCache::instance().GetOrFetch(key, value, fetch, &result, wait_limit)) {
            // An answer fetched here is already in the buffer, written there
            // by the write callback.
            if (!by_network && !copy_answer(value, recv)) result = CURLE_OUT_OF_MEMORY;
            if (!by_network) spare_cleanup_signals(curl);
            return result;
        }
        if (!by_network) spare_cleanup_signals(curl);
        // Without an answer the call must not look like a success: a caller
        // that only waited reports the code of the transfer it waited for.
        if (result == CURLE_OK) result = CURLE_RECV_ERROR;
        return result;
    }

    fetch();
    return result;
}

int timed_multi_perform(CURLM* multi, int* running_handles, const std::string& label) {
    const bool on_ui_thread = qn::cache::on_ui_thread();

    int result = CURLM_OK;
    SpanTimer timer([&](int64_t span) {
        qn::log::Warn() << "[" << label << "] curl_multi_perform ret:" << result
                        << " spantime:" << static_cast<int32_t>(span)
                        << (on_ui_thread ? kUIThreadSuffix : "") << "\n";
    });
    result = CLibcurlWrapper::instance().curl_multi_perform(multi, running_handles);
    return result;
}
