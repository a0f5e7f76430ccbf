// Start-up, clean-up and the release functions.
#include <cstdlib>

#include "curl/libcurl_wrapper.h"
#include "log/log_record.h"
#include "quillnet.h"

namespace {

// Read and written only by quillnet_startup and quillnet_cleanup, which the
// host must not call concurrently (neither may curl_global_init/cleanup).
int s_is_startup = 0;

}  // namespace

// The engine's load failures ("Failed to load libcurl", "Failed to resolve
// symbols from libcurl.") leave quillnet_startup as std::runtime_error, and
// leave the library not started so that a later call tries again.
extern "C" QUILLNET_API int quillnet_startup(void) {
    if (s_is_startup != 0) return 1;
    CLibcurlWrapper::instance().curl_global_init(CURL_GLOBAL_ALL);
    s_is_startup = 1;
    return 1;
}

extern "C" QUILLNET_API int quillnet_cleanup(void) {
    if (s_is_startup == 0) {
        qn::log::Info() << "!s_is_startup" << "\n";
        return 0;
    }
    CLibcurlWrapper::instance().curl_global_cleanup();
    s_is_startup = 0;
    return 1;
}

extern "C" QUILLNET_API int quillnet_release(char** ret_buf) {
    if (ret_buf == nullptr) {
        qn::log::Info() << "ret_buf == NULL" << "\n";
        return 0;
    }
    if (*ret_buf != nullptr) {
        std::free(*ret_buf);
        *ret_buf = nullptr;
    }
    return 1;
}

extern "C" QUILLNET_API void quillnet_release_redirect_url(char* redirect_url) {
    if (redirect_url != nullptr) std::free(redirect_url);
}
