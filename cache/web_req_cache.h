// The process-wide cache of the tree-data queries: answers kept for ten
// seconds (renewed on every read), at most 1000 of them, and identical
// requests in flight merged into one transfer.
#ifndef QN_CACHE_WEB_REQ_CACHE_H
#define QN_CACHE_WEB_REQ_CACHE_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <future>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/platform.h"
#include "platform/thread_safety.h"

// True when `url` ends with one of the six cached REST paths. Case-sensitive;
// a query string or a trailing slash after the path makes it false.
bool is_cached_path(const std::string& url);

// One answer: the response body. The text is made once and never changed
// afterwards; every copy of the value shares it, so that handing an answer
// out of the cache (under its lock) copies a pointer, not the body.
struct WebReqCacheValue {
    std::shared_ptr<const std::string> body;

    WebReqCacheValue() = default;
    explicit WebReqCacheValue(std::string text) : body(std::make_shared<const std::string>(std::move(text))) {}
    // The body, empty when there is none.
    const std::string& text() const;
};

// (URL, request body), compared byte for byte.
using WebReqCacheKey = std::pair<std::string, std::string>;

struct WebReqCacheKeyHash {
    size_t operator()(const WebReqCacheKey& key) const {
        const std::hash<std::string> h;
        return h(key.first) ^ h(key.second);
    }
};

class WebReqCache {
public:
    using Clock = std::chrono::steady_clock;
    // Where the cache reads "now". Tests substitute a clock they advance.
    using NowFunction = Clock::time_point (*)();
    // Runs the transfer: (success, answer).
    using FetchFunction = std::function<std::pair<bool, WebReqCacheValue>()>;

    // Starts the clean-up thread, whose first purge runs at once. Throws
    // std::system_error when the thread cannot be started.
    //
    // The clean-up thread does not run for the life of the process: it ends
    // at the first purge (after its first round) that leaves the cache
    // empty, and the next store of an answer starts another. Answers older
    // than ten seconds are purged as before, but an idle library keeps no
    // thread of its own, and on Windows, where every thread of the library
    // keeps its module loaded (platform/platform.h), a host's FreeLibrary
    // after cached requests unloads the module once their answers are gone.
    WebReqCache(size_t capacity, std::chrono::seconds max_age, NowFunction now = &Clock::now);
    // Stops the clean-up thread. The process-wide instance is never destroyed.
    ~WebReqCache();

    WebReqCache(const WebReqCache&) = delete;
    WebReqCache& operator=(const WebReqCache&) = delete;

    // The process-wide cache (1000 answers, 10 seconds), made on first use.
    static WebReqCache& instance();

    // True with `value` set when there is an answer: fresh in the cache, or
    // the result of an identical request in flight on another thread (waited
    // for without a time limit), or of `fetch`, run on this thread when
    // neither exists. A successful fetch is stored.
    //
    // `result` is the caller's slot for the libcurl code: `fetch` leaves its
    // code there. When this call's fetch fails, that code is handed to every
    // caller waiting on it; when this call waited on a fetch that failed, the
    // failed fetch's code is written there. Either way the answer is false.
    // An exception from `fetch` (or from storing its answer) leaves the call,
    // after the key has left pending and the waiters have been woken with it.
    //
    // A caller that finds the request in flight waits at most `wait_limit`
    // (zero: as long as the fetch takes). When the limit passes first it
    // gets no answer and CURLE_OPERATION_TIMEDOUT in `result`, as its own
    // transfer would have; the fetch goes on for the others.
    bool GetOrFetch(const WebReqCacheKey& key, WebReqCacheValue& value, const FetchFunction& fetch,
                    int* result = nullptr, std::chrono::milliseconds wait_limit = std::chrono::milliseconds(0))
        QN_EXCLUDES(lock_);

    // Stores (or replaces, in place) the answer, gives it to `promise` when
    // set, ends the key's pending fetch, and evicts the least recently used
    // answers beyond capacity.
    void Store(const WebReqCacheKey& key, const WebReqCacheValue& value,
               const std::shared_ptr<std::promise<WebReqCacheValue>>& promise) QN_EXCLUDES(lock_);

    // Forgets every answer and every pending fetch. Fetches in flight go on:
    // their callers and waiters keep their own promise and future, and the
    // answer is stored afterwards as a new entry.
    void Clear() QN_EXCLUDES(lock_);

    // Sets stop and joins the clean-up thread; it wakes at once. Idempotent.
    // No store starts another one afterwards. `at_unload`: the library is
    // being unloaded (qn::platform::end_thread_at_unload).
    void StopCleaner(bool at_unload = false);

private:
    friend class WebReqCacheTestPeer;  // tests: clock, counts, a purge on demand

    struct Entry {
        WebReqCacheKey key;
        WebReqCacheValue value;
        Clock::time_point stamp;
    };
    using EntryList = std::list<Entry>;

    // The fetcher that owns a pending key, so that a fetch overtaken by a
    // Clear and a newer fetch of the same key does not end the newer one.
    struct Pending {
        std::shared_future<WebReqCacheValue> future;
        const void* owner;
    };

    // Store's table work, under the lock.
    void StoreLocked(const WebReqCacheKey& key, const WebReqCacheValue& value,
                     const std::shared_ptr<std::promise<WebReqCacheValue>>& promise) QN_REQUIRES(lock_);
    // True with `value` set for a fresh entry, whose age restarts now. A
    // stale entry stays where it is.
    bool Lookup(const WebReqCacheKey& key, WebReqCacheValue& value) QN_REQUIRES(lock_);
    // Removes the entries older than the maximum age, writing one log line
    // each.
    void PurgeStale() QN_REQUIRES(lock_);
    // The clean-up thread's body: a purge every interval (when the lock is
    // free) until stop is set, or until a purge after the first leaves the
    // cache empty.
    void CleanerLoop() QN_EXCLUDES(lock_);
    // Starts a clean-up thread, once the one before (which ended its loop)
    // is joined. Throws std::system_error when it cannot be started.
    void StartCleaner() QN_EXCLUDES(lock_);

    bool Wait(const std::shared_future<WebReqCacheValue>& future, WebReqCacheValue& value, int* result,
              std::chrono::milliseconds limit);
    void ErasePending(const WebReqCacheKey& key, const void* owner) QN_EXCLUDES(lock_);
    bool IsStale(const Entry& entry, Clock::time_point now) const {
        return now - entry.stamp > max_age_;
    }

    qn::platform::Mutex lock_;
    EntryList entries_ QN_GUARDED_BY(lock_);
    std::unordered_map<WebReqCacheKey, EntryList::iterator, WebReqCacheKeyHash> index_
        QN_GUARDED_BY(lock_);
    std::unordered_map<WebReqCacheKey, Pending, WebReqCacheKeyHash> pending_ QN_GUARDED_BY(lock_);
    NowFunction now_ QN_GUARDED_BY(lock_);
    const size_t capacity_;
    const std::chrono::seconds max_age_;
    const std::chrono::seconds cleanup_interval_;
    std::atomic<size_t> waiting_{0};  // callers blocked on another caller's fetch
    // True from a clean-up thread's start until it leaves its loop for want
    // of answers; a store that finds it false starts another.
    bool cleaner_running_ QN_GUARDED_BY(lock_) = true;

    // The clean-up thread sleeps on its own mutex and condition, never on
    // lock_, so a stop wakes it without waiting for requests.
    std::atomic<bool> stop_{false};
    std::mutex stop_mutex_;
    std::condition_variable stop_signal_;
    std::mutex join_mutex_;
    qn::platform::Thread* cleaner_ = nullptr;  // under join_mutex_
};

#endif  // QN_CACHE_WEB_REQ_CACHE_H
