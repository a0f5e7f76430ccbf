/* An engine without curl_easy_strerror (never called by the library); with QN_STUB_TWENTY all twenty
 * entry points but no share interface. Also stands in for an MJBase without its factory. */
#if defined(_WIN32)
#define STUB(name) __declspec(dllexport) int name(void) { return 0; }
#else
#define STUB(name) __attribute__((visibility("default"))) int name(void) { return 0; }
#endif
STUB(curl_global_init) STUB(curl_global_cleanup) STUB(curl_easy_init) STUB(curl_easy_setopt)
STUB(curl_easy_perform) STUB(curl_easy_cleanup) STUB(curl_slist_append) STUB(curl_slist_free_all)
STUB(curl_easy_getinfo) STUB(curl_formadd) STUB(curl_formfree) STUB(curl_multi_add_handle)
STUB(curl_multi_perform) STUB(curl_easy_pause) STUB(curl_multi_init) STUB(curl_multi_wait)
STUB(curl_multi_info_read) STUB(curl_multi_remove_handle) STUB(curl_multi_cleanup)
#ifdef QN_STUB_TWENTY
STUB(curl_easy_strerror)
#endif
