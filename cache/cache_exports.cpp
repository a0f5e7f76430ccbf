#include "api/export_guard.h"
#include "cache/web_req_cache.h"
#include "quillnet.h"

extern "C" QUILLNET_API int quillnet_clear_cache(void* reserved) {
    // Making the cache on first use starts its clean-up thread, which can
    // fail like any thread start.
    return qn::api::guarded("quillnet_clear_cache", -1, [&] {
        if (reserved != nullptr) return -1;
        WebReqCache::instance().Clear();
        return 0;
    });
}
