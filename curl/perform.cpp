#include "curl/perform.h"

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "curl/libcurl_wrapper.h"
#include "curl/share.h"

namespace qn {
namespace curl {

namespace {

// A multi handle serves one thread at a time; as many are kept as threads
// have transferred at once, up to kKept. Each keeps the connections its
// transfers left (the share does not, see share.h), so a host with more
// threads calling at once than handles kept would close and reopen
// connections all the time; the most recently returned handle is taken
// first, so a host calling from one thread finds its last connection there.
constexpr size_t kKept = 64;

class MultiPool {
public:
    CURLM* Take() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!idle_.empty()) {
                CURLM* multi = idle_.back();
                idle_.pop_back();
                return multi;
            }
        }
        CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
        CURLM* multi = curl_api.curl_multi_init();
        if (multi != nullptr && curl_api.curl_multi_setopt != nullptr) {
            curl_api.curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, kKeptConnections);
        }
        return multi;
    }

    void Give(CURLM* multi) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!closed_ && idle_.size() < kKept) {
                idle_.push_back(multi);
                return;
            }
        }
        CLibcurlWrapper::instance().curl_multi_cleanup(multi);
    }

    // `for_good`: at unload, after which nothing is kept any more.
    void Release(bool for_good) {
        std::vector<CURLM*> idle;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            idle.swap(idle_);
            closed_ = closed_ || for_good;
        }
        for (CURLM* multi : idle) CLibcurlWrapper::instance().curl_multi_cleanup(multi);
    }

private:
    std::mutex mutex_;
    std::vector<CURLM*> idle_;
    bool closed_ = false;
};

// Never destroyed: a thread may still transfer while the process exits.
MultiPool& pool() {
    static MultiPool* const instance = new MultiPool();
    return *instance;
}

struct ReleaseAtUnload {
    ~ReleaseAtUnload() { pool().Release(true); }
} g_release_at_unload;

CURLcode from_multi_code(CURLMcode code) {
    return code == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT;
}

// Steps the transfer until it is done, waiting for its sockets in between.
// curl_multi_poll waits out libcurl's own time-outs too; an engine without
// it gets curl_multi_wait, which returns at once when there is no socket to
// wait on (a state between sockets): such quick returns without progress
// are followed by a growing pause, so that the state is not spun through.
CURLcode drive(CURLM* multi, CURL* easy) {
    CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
    int idle_turns = 0;
    for (;;) {
        int running = 0;
        const CURLMcode stepped = curl_api.curl_multi_perform(multi, &running);
        if (stepped != CURLM_OK) return from_multi_code(stepped);
        int queued = 0;
        while (CURLMsg* msg = curl_api.curl_multi_info_read(multi, &queued)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) return msg->data.result;
        }
        if (running == 0) return CURLE_FAILED_INIT;  // ended without a word: never expected
        if (curl_api.curl_multi_poll != nullptr) {
            const CURLMcode polled = curl_api.curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
            if (polled != CURLM_OK) return from_multi_code(polled);
            continue;
        }
        const auto before = std::chrono::steady_clock::now();
        int ready = 0;
        const CURLMcode waited = curl_api.curl_multi_wait(multi, nullptr, 0, 1000, &ready);
        if (waited != CURLM_OK) return from_multi_code(waited);
        if (ready == 0 && std::chrono::steady_clock::now() - before < std::chrono::milliseconds(10)) {
            if (++idle_turns > 2) {
                std::this_thread::sleep_for(std::chrono::milliseconds(idle_turns < 10 ? 1 << (idle_turns - 1) : 1000));
            }
        } else {
            idle_turns = 0;
        }
    }
}

}  // namespace

CURLcode perform(CURL* easy) {
    CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
    CURLM* multi = pool().Take();
    if (multi == nullptr) return curl_api.curl_easy_perform(easy);
    if (curl_api.curl_multi_add_handle(multi, easy) != CURLM_OK) {
        pool().Give(multi);
        return curl_api.curl_easy_perform(easy);
    }
    const CURLcode result = drive(multi, easy);
    curl_api.curl_multi_remove_handle(multi, easy);
    pool().Give(multi);
    return result;
}

void release_kept_multis() {
    pool().Release(false);
}

}  // namespace curl
}  // namespace qn
