/* An engine that exports every entry point the binding looks for but one
 * (curl_easy_strerror, which the library never calls); built with
 * QN_STUB_TWENTY, it has all twenty but none of the optional share
 * interface. */
#if defined(_WIN32)
#define STUB_EXPORT __declspec(dllexport)
#else
#define STUB_EXPORT __attribute__((visibility("default")))
#endif
#define STUB(name) STUB_EXPORT int name(void) { return 0; }
STUB(curl_global_init)
STUB(curl_global_cleanup)
STUB(curl_easy_init)
STUB(curl_easy_setopt)
STUB(curl_easy_perform)
STUB(curl_easy_cleanup)
STUB(curl_slist_append)
STUB(curl_slist_free_all)
STUB(curl_easy_getinfo)
STUB(curl_formadd)
STUB(curl_formfree)
STUB(curl_multi_add_handle)
STUB(curl_multi_perform)
STUB(curl_easy_pause)
STUB(curl_multi_init)
STUB(curl_multi_wait)
STUB(curl_multi_info_read)
STUB(curl_multi_remove_handle)
STUB(curl_multi_cleanup)
#ifdef QN_STUB_TWENTY
STUB(curl_easy_strerror)
#endif
