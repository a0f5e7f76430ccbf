#include "cache/web_req_cache.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <exception>
#include <system_error>

#include "log/log_record.h"
#include "platform/platform.h"

namespace {

// The tree-data queries of the host's server, in the order a set of texts
// keeps them. A constant table rather than a std::set: it exists from load
// to unload without construction or destruction, so no call made while the
// process starts or ends can find it missing.
constexpr std::array<const char*, 6> kCachedPaths = {
    "/plume/audioVideoAuth/baseGetTreeResourceData",
    "/plume/audioVideoAuth/baseGetTreeStatusWithFilters",
    "/plume/device/queryDeviceOrgTree",
    "/plume/device/queryDeviceOrgTreeGa",
    "/plume/device/totalDeviceOrgTree",
    "/plume/device/totalDeviceOrgTreeGa",
};

// What the waiters of a failed fetch receive instead of an answer: the
// libcurl code of that fetch (0 when the fetcher did not say).
class FetchFailed : public std::exception {
public:
    explicit FetchFailed(int code) : code_(code) {}
    int code() const { return code_; }
    const char* what() const noexcept override { return "request cache: fetch failed"; }

private:
    int code_;
};

}  // namespace

bool is_cached_path(const std::string& url) {
    for (const char* path : kCachedPaths) {
        const std::string::size_type n = std::char_traits<char>::length(path);
        if (url.size() >= n && url.compare(url.size() - n, n, path) == 0) return true;
    }
    return false;
}

WebReqCache::WebReqCache(size_t capacity, std::chrono::seconds max_age, NowFunction now)
    : now_(now != nullptr ? now : &Clock::now),
      capacity_(capacity),
      max_age_(max_age),
      cleanup_interval_(std::chrono::seconds(10)) {
    StartCleaner();
}

WebReqCache::~WebReqCache() {
    StopCleaner();
}

namespace {

// Ends the process-wide cache's clean-up thread when the library is
// unloaded or the process exits, so that no library code runs after that
// and no thread is left behind. The cache itself stays: a host thread that
// still sends a request during exit finds it intact, only without purges.
class CleanerGuard {
public:
    explicit CleanerGuard(WebReqCache* cache) : cache_(cache) {}
    ~CleanerGuard() {
        // Windows has stopped the thread already when the process ends.
        if (!qn::platform::process_ending()) cache_->StopCleaner(/*at_unload=*/true);
    }

private:
    WebReqCache* cache_;
};

}  // namespace

WebReqCache& WebReqCache::instance() {
    static WebReqCache* const cache = [] {
        WebReqCache* made = new WebReqCache(1000, std::chrono::seconds(10));
        // Registered with the cache's creation, so that at exit it runs
        // before the end of everything the library set up before it.
        static CleanerGuard guard(made);
        return made;
    }();
    return *cache;
}

const std::string& WebReqCacheValue::text() const {
    static const std::string empty;
    return body ? *body : empty;
}

bool WebReqCache::Wait(const std::shared_future<WebReqCacheValue>& future, WebReqCacheValue& value,
                       int* result, std::chrono::milliseconds limit) {
    ++waiting_;
    bool answered = false;
    try {
        if (limit.count() > 0 && future.wait_for(limit) != std::future_status::ready) {
            if (result != nullptr) *result = CURLE_OPERATION_TIMEDOUT;
            --waiting_;
            return false;
        }
        value = future.get();
        answered = true;
    } catch (const FetchFailed& failed) {
        if (result != nullptr) *result = failed.code();
    } catch (...) {
        // The fetcher ended without an answer or a code.
    }
    --waiting_;
    return answered;
}

bool WebReqCache::GetOrFetch(const WebReqCacheKey& key, WebReqCacheValue& value,
                             const FetchFunction& fetch, int* result,
                             std::chrono::milliseconds wait_limit) {
    // One look under the lock decides: a fresh answer, a fetch in flight to
    // wait for, or a fetch of our own, registered before the lock is let go.
    // Without a gap between the look and the registration, a caller can never
    // find the key pending on a second look and go away without an answer.
    std::shared_future<WebReqCacheValue> in_flight;
    std::shared_ptr<std::promise<WebReqCacheValue>> promise;
    {
        qn::platform::MutexLock guard(lock_);
        if (Lookup(key, value)) return true;
        auto it = pending_.find(key);
        if (it != pending_.end()) {
            in_flight = it->second.future;
        } else {
            if (!fetch) return false;
            promise = std::make_shared<std::promise<WebReqCacheValue>>();
            pending_.emplace(key, Pending{promise->get_future().share(), promise.get()});
        }
    }
    if (in_flight.valid()) return Wait(in_flight, value, result, wait_limit);

    try {
        std::pair<bool, WebReqCacheValue> fetched = fetch();
        if (fetched.first) {
            Store(key, fetched.second, promise);
            value = std::move(fetched.second);
            return true;
        }
    } catch (...) {
        // Whatever stopped the fetch or the store (running out of memory,
        // above all) must not leave the key pending for good: later callers
        // would wait on a promise nobody keeps.
        ErasePending(key, promise.get());
        try {
            promise->set_exception(std::current_exception());
        } catch (const std::future_error&) {
            // The store got as far as giving the waiters the answer.
        }
        throw;
    }
    // Not stored; the key leaves pending first, so that a caller woken by the
    // failure and asking again goes to the network rather than to this fetch.
    ErasePending(key, promise.get());
    promise->set_exception(std::make_exception_ptr(FetchFailed(result != nullptr ? *result : 0)));
    return false;
}

bool WebReqCache::Lookup(const WebReqCacheKey& key, WebReqCacheValue& value) {
    auto it = index_.find(key);
    if (it == index_.end()) return false;
    const Clock::time_point now = now_();
    Entry& entry = *it->second;
    if (IsStale(entry, now)) return false;
    value = entry.value;
    entry.stamp = now;
    entries_.splice(entries_.end(), entries_, it->second);
    return true;
}

void WebReqCache::Store(const WebReqCacheKey& key, const WebReqCacheValue& value,
                        const std::shared_ptr<std::promise<WebReqCacheValue>>& promise) {
    bool start_cleaner = false;
    {
        qn::platform::MutexLock guard(lock_);
        StoreLocked(key, value, promise);
        if (!cleaner_running_ && !stop_.load()) {
            cleaner_running_ = true;
            start_cleaner = true;
        }
    }
    // The answer is stored whether or not a thread can be had for it now;
    // the next store tries again.
    if (start_cleaner) {
        try {
            StartCleaner();
        } catch (const std::system_error&) {
            qn::platform::MutexLock guard(lock_);
            cleaner_running_ = false;
        }
    }
}

void WebReqCache::StoreLocked(const WebReqCacheKey& key, const WebReqCacheValue& value,
                              const std::shared_ptr<std::promise<WebReqCacheValue>>& promise) {
    const Clock::time_point now = now_();
    auto it = index_.find(key);
    if (it != index_.end()) {
        it->second->value = value;
        it->second->stamp = now;
        entries_.splice(entries_.end(), entries_, it->second);
    } else {
        entries_.push_back(Entry{key, value, now});
        try {
            index_.emplace(key, std::prev(entries_.end()));
        } catch (...) {
            entries_.pop_back();  // every entry stays indexed
            throw;
        }
    }
    if (promise) promise->set_value(value);
    // A store without a promise is an answer from outside any fetch; it
    // makes every pending fetch of the key redundant for new callers.
    auto p = pending_.find(key);
    if (p != pending_.end() && (!promise || p->second.owner == promise.get())) pending_.erase(p);
    while (entries_.size() > capacity_) {
        index_.erase(entries_.front().key);
        entries_.pop_front();
    }
}

void WebReqCache::ErasePending(const WebReqCacheKey& key, const void* owner) {
    qn::platform::MutexLock guard(lock_);
    auto p = pending_.find(key);
    if (p != pending_.end() && p->second.owner == owner) pending_.erase(p);
}

void WebReqCache::Clear() {
    qn::platform::MutexLock guard(lock_);
    entries_.clear();
    index_.clear();
    pending_.clear();
}

void WebReqCache::PurgeStale() {
    const Clock::time_point now = now_();
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (IsStale(*it, now)) {
            qn::log::Info() << "-- net cache clean up:" << it->key.first << "\n";
            index_.erase(it->key);
            it = entries_.erase(it);
        } else {
            ++it;
        }
    }
}

void WebReqCache::CleanerLoop() {
    const std::chrono::seconds interval = std::max(cleanup_interval_, std::chrono::seconds(1));
    for (bool first = true; !stop_.load(); first = false) {
        // Requests never wait for a purge: a busy cache skips this round.
        if (lock_.try_lock()) {
            try {
                PurgeStale();
            } catch (...) {
                // Out of memory for a log line: the rest waits for the next round.
            }
            // Nothing left to purge: this thread ends, and the next store
            // starts another. Not on the first round, so that a thread made
            // for an empty cache (a new one, or one cleared since the store
            // that started it) still gets a round.
            const bool idle = !first && entries_.empty();
            if (idle) cleaner_running_ = false;
            lock_.unlock();
            if (idle) return;
        }
        std::unique_lock<std::mutex> sleeping(stop_mutex_);
        stop_signal_.wait_for(sleeping, interval, [this] { return stop_.load(); });
    }
}

void WebReqCache::StartCleaner() {
    std::lock_guard<std::mutex> joining(join_mutex_);
    // The thread before has cleared cleaner_running_ as its last use of the
    // cache: the join waits only for it to run out.
    qn::platform::join_thread(cleaner_);
    cleaner_ = nullptr;
    if (stop_.load()) return;
    cleaner_ = qn::platform::start_thread(
        [](void* cache) { static_cast<WebReqCache*>(cache)->CleanerLoop(); }, this, "quillnet cache");
    if (cleaner_ == nullptr) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                "request cache: no clean-up thread");
    }
}

void WebReqCache::StopCleaner(bool at_unload) {
    {
        std::lock_guard<std::mutex> sleeping(stop_mutex_);
        stop_.store(true);
    }
    stop_signal_.notify_all();
    std::lock_guard<std::mutex> joining(join_mutex_);
    if (at_unload) {
        qn::platform::end_thread_at_unload(cleaner_);
    } else {
        qn::platform::join_thread(cleaner_);
    }
    cleaner_ = nullptr;
}
