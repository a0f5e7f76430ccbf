// The one road through which every transfer is performed: timed, logged,
// marked when made on the host's user-interface thread, and, for the cached
// tree-data paths, answered from the request cache.
#ifndef QN_CACHE_TIMED_PERFORM_H
#define QN_CACHE_TIMED_PERFORM_H

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

struct recv_data;

// Performs the prepared easy handle. `url` is the text used in the span line
// and as half of the cache key; `request` (the posted body) and `recv`
// (the buffer the write callback fills) may be null. Only a call with both
// can be answered from the request cache. Returns the libcurl code.
//
// A call that waited for an identical request in flight on another thread,
// and that request failed, returns the libcurl code of the failed transfer
// (never 0), with its receive buffer untouched. Should no code be known,
// CURLE_RECV_ERROR is returned: "no answer was received" is what happened to
// this caller.
//
// `timeout_seconds` is the caller's own transfer time-out (CURLOPT_TIMEOUT;
// 0 for none). It also bounds the wait for another caller's identical
// request: once it has passed the call returns CURLE_OPERATION_TIMEDOUT,
// the receive buffer untouched, exactly as its own transfer would have.
int timed_easy_perform(CURL* curl, const std::string& url, const char* request, recv_data* recv,
                       int timeout_seconds = 0);

// One turn of an asynchronous transfer loop: curl_multi_perform, timed and
// logged under `label`. Returns the CURLMcode.
int timed_multi_perform(CURLM* multi, int* running_handles, const std::string& label);

// Times a scope on the monotonic clock and reports the whole milliseconds
// (truncated) to its callback when the scope ends, however it ends.
class SpanTimer {
public:
    using Callback = std::function<void(int64_t)>;

    explicit SpanTimer(Callback callback)
        : callback_(std::move(callback)), start_(std::chrono::steady_clock::now()) {}
    ~SpanTimer();

    SpanTimer(const SpanTimer&) = delete;
    SpanTimer& operator=(const SpanTimer&) = delete;

private:
    Callback callback_;
    std::chrono::steady_clock::time_point start_;
};

namespace qn {
namespace cache {

// True when the calling thread is the one the host names as its
// user-interface thread (host function "UIThreadId"). A host that cannot
// answer makes every thread an ordinary one.
bool on_ui_thread();

}  // namespace cache
}  // namespace qn

#endif  // QN_CACHE_TIMED_PERFORM_H
