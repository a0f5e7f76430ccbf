#include "curl/share.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <new>

#include "curl/host_settings.h"
#include "curl/libcurl_wrapper.h"

namespace qn {
namespace curl {

namespace {

// The users of the share and, in the top bit, whether the library is going
// away. Whoever brings the count to zero with that bit set releases it.
constexpr uint64_t kClosing = uint64_t{1} << 63;


struct Share {
    CURLSH* handle = nullptr;
    // libcurl locks one kind of data at a time; each kind has its own mutex
    // so that a DNS lookup never waits for the connection cache.
    std::mutex locks[CURL_LOCK_DATA_LAST];
    std::atomic<uint64_t> state{0};
};

void lock_data(CURL*, curl_lock_data data, curl_lock_access, void* share) {
    static_cast<Share*>(share)->locks[data].lock();
}

void unlock_data(CURL*, curl_lock_data data, void* share) {
    static_cast<Share*>(share)->locks[data].unlock();
}

void release_handle(Share* share) {
    if (share->handle != nullptr) CLibcurlWrapper::instance().curl_share_cleanup(share->handle);
    share->handle = nullptr;
}

// A libcurl share with the locks of `share`, sharing DNS answers and TLS
// sessions (not connections, see share.h, nor cookies); null when it cannot
// be made safe for threads.
CURLSH* make_handle(Share* share) {
    CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
    CURLSH* handle = curl_api.curl_share_init();
    if (handle == nullptr) return nullptr;
    if (curl_api.curl_share_setopt(handle, CURLSHOPT_USERDATA, share) != CURLSHE_OK ||
        curl_api.curl_share_setopt(handle, CURLSHOPT_LOCKFUNC, &lock_data) != CURLSHE_OK ||
        curl_api.curl_share_setopt(handle, CURLSHOPT_UNLOCKFUNC, &unlock_data) != CURLSHE_OK) {
        curl_api.curl_share_cleanup(handle);
        return nullptr;
    }
    for (curl_lock_data data : {CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_SSL_SESSION}) {
        curl_api.curl_share_setopt(handle, CURLSHOPT_SHARE, data);
    }
    return handle;
}

// Releases the share when the library is unloaded or the process ends, or
// leaves that to the last transfer still running then. The Share record
// itself is never freed: a thread still inside a transfer at process exit
// may look at it.
class CloseAtUnload {
public:
    explicit CloseAtUnload(Share* share) : share_(share) {}
    ~CloseAtUnload() {
        const uint64_t users = share_->state.fetch_or(kClosing) & ~kClosing;
        if (users == 0) release_handle(share_);
    }
    CloseAtUnload(const CloseAtUnload&) = delete;
    CloseAtUnload& operator=(const CloseAtUnload&) = delete;

private:
    Share* share_;
};

std::atomic<Share*> g_made{nullptr};

Share* make_share() {
    if (!host_settings().share_connections) return nullptr;
    if (CLibcurlWrapper::instance().curl_share_init == nullptr) return nullptr;
    Share* share = new (std::nothrow) Share;
    if (share == nullptr) return nullptr;
    share->handle = make_handle(share);
    if (share->handle == nullptr) {
        delete share;
        return nullptr;
    }
    static CloseAtUnload closer(share);
    g_made.store(share);
    return share;
}

Share* the_share() {
    static Share* const share = make_share();
    return share;
}

}  // namespace

bool attach_share(CURL* easy) {
    Share* share = the_share();
    if (share == nullptr) return false;
    uint64_t state = share->state.load();
    do {
        if ((state & kClosing) != 0) return false;
    } while (!share->state.compare_exchange_weak(state, state + 1));
    CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
    if (curl_api.curl_easy_setopt(easy, CURLOPT_SHARE, share->handle) != CURLE_OK) {
        release_share();
        return false;
    }
    // A handle driven alone (curl_easy_perform, the fallback) keeps as many
    // idle connections as a kept multi handle.
    curl_api.curl_easy_setopt(easy, CURLOPT_MAXCONNECTS, kKeptConnections);
    return true;
}

void release_share() {
    Share* share = the_share();
    if (share->state.fetch_sub(1) == (kClosing | 1)) release_handle(share);
}

void renew_share() {
    Share* share = g_made.load();
    if (share == nullptr) return;
    // Only while no transfer uses the share; new ones run unshared meanwhile.
    uint64_t idle = 0;
    if (!share->state.compare_exchange_strong(idle, kClosing)) return;
    release_handle(share);
    share->handle = make_handle(share);
    // Without a new share, every later transfer runs unshared.
    if (share->handle != nullptr) share->state.store(0);
}

}  // namespace curl
}  // namespace qn
