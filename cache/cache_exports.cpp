#include "quillnet.h"

#include "cache/web_req_cache.h"

QUILLNET_API int quillnet_clear_cache(void* reserved) {
    if (reserved != nullptr) return -1;
    WebReqCache::instance().Clear();
    return 0;
}
