// Start-up, clean-up and the release functions.
#include <atomic>
#include <cstdlib>

#include "api/export_guard.h"
#include "curl/libcurl_wrapper.h"
#include "curl/perform.h"
#include "curl/share.h"
#include "log/log_record.h"
#include "quillnet.h"

namespace {

// 1 while started. Atomic, so that a host calling start-up and clean-up
// from several threads at once causes no data race on it.
std::atomic<int> s_is_startup{0};

}  // namespace

// The engine's load failures ("Failed to load libcurl", "Failed to resolve
// symbols from libcurl.") leave quillnet_startup as std::runtime_error, and
// leave the library not started so that a later call tries again.
extern "C" QUILLNET_API int quillnet_startup(void) {
    // 0 only when start-up itself failed (out of memory), with a log line.
    return qn::api::guarded("quillnet_startup", 0, [] {
        if (s_is_startup.load() != 0) return 1;
        CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
        curl_api.curl_global_init(CURL_GLOBAL_ALL);
        // Of two first calls at once, the one that loses the race takes its
        // initialisation back: libcurl counts them.
        int not_started = 0;
        if (!s_is_startup.compare_exchange_strong(not_started, 1)) curl_api.curl_global_cleanup();
        return 1;
    });
}

extern "C" QUILLNET_API int quillnet_cleanup(void) {
    return qn::api::guarded("quillnet_cleanup", 0, [] {
        int started = 1;
        if (!s_is_startup.compare_exchange_strong(started, 0)) {
            qn::log::Info() << "!s_is_startup" << "\n";
            return 0;
        }
        qn::curl::renew_share();
        qn::curl::release_kept_multis();
        CLibcurlWrapper::instance().curl_global_cleanup();
        return 1;
    });
}

extern "C" QUILLNET_API int quillnet_release(char** ret_buf) {
    return qn::api::guarded("quillnet_release", 0, [&] {
        if (ret_buf == nullptr) {
            qn::log::Info() << "ret_buf == NULL" << "\n";
            return 0;
        }
        if (*ret_buf != nullptr) {
            std::free(*ret_buf);
            *ret_buf = nullptr;
        }
        return 1;
    });
}

extern "C" QUILLNET_API void quillnet_release_redirect_url(char* redirect_url) {
    // Nothing here can throw; the guard keeps it so.
    qn::api::guarded_void("quillnet_release_redirect_url", [&] {
        if (redirect_url != nullptr) std::free(redirect_url);
    });
}
