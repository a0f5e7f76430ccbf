// The run-time binding to libcurl. The library never links libcurl: the
// engine is loaded on first use and every libcurl call in the library goes
// through CLibcurlWrapper::instance(), e.g.
//     CLibcurlWrapper::instance().curl_easy_perform(curl);
#ifndef QN_CURL_LIBCURL_WRAPPER_H
#define QN_CURL_LIBCURL_WRAPPER_H

#include <curl/curl.h>

#include <stdexcept>

#include "platform/platform.h"

// The two load failures of the binding. They are the only exceptions meant
// to leave an export (the one that made the first load), so the export
// boundary lets this type through and stops every other.
class CLibcurlLoadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class CLibcurlWrapper {
public:
    // The process-wide binding, loaded on the first call. Throws
    // CLibcurlLoadError (a std::runtime_error) "Failed to load libcurl" when the engine cannot be
    // loaded and "Failed to resolve symbols from libcurl." when it lacks an
    // entry point; a later call tries the whole load again.
    static CLibcurlWrapper& instance();

    CLibcurlWrapper(const CLibcurlWrapper&) = delete;
    CLibcurlWrapper& operator=(const CLibcurlWrapper&) = delete;

    // Bound in this order; none is null in a created instance.
    decltype(&::curl_global_init) curl_global_init = nullptr;
    decltype(&::curl_global_cleanup) curl_global_cleanup = nullptr;
    decltype(&::curl_easy_init) curl_easy_init = nullptr;
    decltype(&::curl_easy_setopt) curl_easy_setopt = nullptr;
    decltype(&::curl_easy_perform) curl_easy_perform = nullptr;
    decltype(&::curl_easy_cleanup) curl_easy_cleanup = nullptr;
    decltype(&::curl_slist_append) curl_slist_append = nullptr;
    decltype(&::curl_slist_free_all) curl_slist_free_all = nullptr;
    decltype(&::curl_easy_strerror) curl_easy_strerror = nullptr;
    decltype(&::curl_easy_getinfo) curl_easy_getinfo = nullptr;
    decltype(&::curl_formadd) curl_formadd = nullptr;
    decltype(&::curl_formfree) curl_formfree = nullptr;
    decltype(&::curl_multi_add_handle) curl_multi_add_handle = nullptr;
    decltype(&::curl_multi_perform) curl_multi_perform = nullptr;
    decltype(&::curl_easy_pause) curl_easy_pause = nullptr;
    decltype(&::curl_multi_init) curl_multi_init = nullptr;
    decltype(&::curl_multi_wait) curl_multi_wait = nullptr;
    decltype(&::curl_multi_info_read) curl_multi_info_read = nullptr;
    decltype(&::curl_multi_remove_handle) curl_multi_remove_handle = nullptr;
    decltype(&::curl_multi_cleanup) curl_multi_cleanup = nullptr;

    // Optional: the share interface, through which transfers share
    // connections, DNS answers and TLS sessions (curl/share.h). Bound when
    // the engine has all three and null otherwise; a missing one never
    // fails the load, transfers then simply run unshared.
    decltype(&::curl_share_init) curl_share_init = nullptr;
    decltype(&::curl_share_setopt) curl_share_setopt = nullptr;
    decltype(&::curl_share_cleanup) curl_share_cleanup = nullptr;
    // Optional, for curl/perform.cpp: curl_multi_poll (libcurl 7.66 on)
    // waits even when no socket has anything to say yet; curl_multi_setopt
    // sizes a kept multi handle's connection cache.
    decltype(&::curl_multi_poll) curl_multi_poll = nullptr;
    decltype(&::curl_multi_setopt) curl_multi_setopt = nullptr;

private:
    CLibcurlWrapper();

    qn::platform::ModuleHandle module_ = nullptr;
};

#endif  // QN_CURL_LIBCURL_WRAPPER_H
