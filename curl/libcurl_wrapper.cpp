#include "curl/libcurl_wrapper.h"

#include <stdexcept>
#include <string>

// Tests build a variant of the binding that looks for another engine file.
#ifndef QN_CURL_MODULE_NAME
#define QN_CURL_MODULE_NAME qn::platform::module_file_name("libcurl.dll")
#endif

namespace {

template <class Fn>
bool bind(qn::platform::ModuleHandle module, const char* name, Fn& slot) {
    slot = reinterpret_cast<Fn>(qn::platform::find_symbol(module, name));
    return slot != nullptr;
}

}  // namespace

CLibcurlWrapper::CLibcurlWrapper() {
    module_ = nullptr;
    const std::string file = QN_CURL_MODULE_NAME;
    module_ = qn::platform::load_module(file.c_str());
    if (module_ == nullptr) {
        throw CLibcurlLoadError("Failed to load libcurl");
    }

    // Look every name up, in table order, before judging: a build that
    // lacks any one of them is rejected, even one the library never calls.
    bool ok = true;
#define QN_BIND(fn) ok = bind(module_, #fn, fn) && ok
    QN_BIND(curl_global_init);
    QN_BIND(curl_global_cleanup);
    QN_BIND(curl_easy_init);
    QN_BIND(curl_easy_setopt);
    QN_BIND(curl_easy_perform);
    QN_BIND(curl_easy_cleanup);
    QN_BIND(curl_slist_append);
    QN_BIND(curl_slist_free_all);
    QN_BIND(curl_easy_strerror);
    QN_BIND(curl_easy_getinfo);
    QN_BIND(curl_formadd);
    QN_BIND(curl_formfree);
    QN_BIND(curl_multi_add_handle);
    QN_BIND(curl_multi_perform);
    QN_BIND(curl_easy_pause);
    QN_BIND(curl_multi_init);
    QN_BIND(curl_multi_wait);
    QN_BIND(curl_multi_info_read);
    QN_BIND(curl_multi_remove_handle);
    QN_BIND(curl_multi_cleanup);
#undef QN_BIND

    if (!ok) {
        qn::platform::free_module(module_);
        module_ = nullptr;
        throw CLibcurlLoadError("Failed to resolve symbols from libcurl.");
    }

    // All three or none, so that users test one of them.
    if (!bind(module_, "curl_share_init", curl_share_init) ||
        !bind(module_, "curl_share_setopt", curl_share_setopt) ||
        !bind(module_, "curl_share_cleanup", curl_share_cleanup)) {
        curl_share_init = nullptr;
        curl_share_setopt = nullptr;
        curl_share_cleanup = nullptr;
    }
    bind(module_, "curl_multi_poll", curl_multi_poll);
    bind(module_, "curl_multi_setopt", curl_multi_setopt);
}

CLibcurlWrapper& CLibcurlWrapper::instance() {
    // A construction that throws leaves the static unset (and frees what it
    // took), so the next caller loads again.
    static CLibcurlWrapper* const wrapper = new CLibcurlWrapper();
    return *wrapper;
}
