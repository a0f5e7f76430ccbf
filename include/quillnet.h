/*
 * quillnet: network client library for desktop hosts.
 *
 * The whole interface is this flat set of C functions. Strings are narrow,
 * NUL-terminated UTF-8. Memory the library hands out (response bodies,
 * cookie buffers, redirect URLs) must be given back through
 * quillnet_release() or quillnet_release_redirect_url(), never through the
 * caller's own allocator.
 *
 * Result conventions, by family:
 *   submits                          0 success, -1 failure
 *   synchronous downloads, stop,     1 success, 0 failure
 *   control, quillnet_release
 *   task starts                      task handle, or -1
 *   position queries                 percent 0..100, or -1
 *
 * `long` is the platform's own long (32-bit on Windows, 64-bit on LP64
 * Linux), the type libcurl itself writes HTTP status codes into.
 */
#ifndef QUILLNET_H
#define QUILLNET_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(BUILDING_QUILLNET)
#    define QUILLNET_API __declspec(dllexport)
#  else
#    define QUILLNET_API __declspec(dllimport)
#  endif
#elif defined(BUILDING_QUILLNET) && defined(__GNUC__)
#  define QUILLNET_API __attribute__((visibility("default")))
#else
#  define QUILLNET_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Tasks ------------------------------------------------------------ */

/* Events a task worker reports through its TaskCallback. */
#define TASK_EVENT_THREAD_DATA 0 /* threaded transfer: data chunk / bytes sent */
#define TASK_EVENT_PROGRESS    1 /* data: int* percent, length 4 */
#define TASK_EVENT_DONE        2 /* data: int* result (0 success, 1 failure), length 4 */
#define TASK_EVENT_ASYNC_DATA  3 /* asynchronous transfer: response bytes */

/* Called on the task's worker thread. `handle` is the task record; the
 * callback must not stop its own task. */
typedef void (*TaskCallback)(void* handle, int event, void* data,
                             unsigned int length, void* user_data);

/* ---- Versioned submit records (version 0) ----------------------------- */

typedef struct QuillnetSubmitParam {
    int version;          /* 0 */
    int size;             /* sizeof(QuillnetSubmitParam) */
    const char* url;      /* used as given, no scheme rewriting */
    int timeout;          /* seconds, not negative */
    const char* content;  /* request body; NULL is replaced by "" in place */
    int nosignal;
    int submit_type;      /* 1 GET, 2 POST, 4 PUT, 5 DELETE */
    int conten_type;      /* 1 JSON, 2 headers of param_ex */
} QuillnetSubmitParam;

typedef struct QuillnetSubmitParamEx {
    int size;             /* sizeof(QuillnetSubmitParamEx) */
    const char* param_ex; /* option document, read with conten_type 2 */
    char** ret_buf;       /* out: response body */
    int* ret_buf_len;     /* out, may be NULL */
    long* http_code;      /* out, may be NULL; written only with redirect_url */
    char** redirect_url;  /* out, may be NULL */
    int need_get_cookie;
    char** cookie_buf;    /* in/out: NULL or a block from this library */
    int* cookie_buf_len;  /* out */
} QuillnetSubmitParamEx;

/* ---- Multipart description -------------------------------------------- */

typedef struct web_data_header {
    int reserved;         /* not read by the library */
    int count;            /* number of parts; <= 0 means none */
} web_data_header;

/* Part kinds. */
#define WEB_PART_FIELD_TYPED 0 /* text field with content type multipart/form-data */
#define WEB_PART_FIELD       1 /* plain text field */
#define WEB_PART_FILE        4 /* in-memory file under the field name "file" */
#define WEB_PART_SENDFILE    5 /* in-memory file under the field name "sendfile" */

/* One part: 280 bytes of header with `data` at offset 276. Text kinds carry
 * zero-terminated text in `data`; file kinds carry `data_len` bytes. Parts
 * are allocated by the host with room for their data after the record. */
typedef struct web_part {
    int type;
    int64_t data_len;
    char name[260];       /* field name (kinds 0, 1) or file name (4, 5) */
    char data[1];
} web_part;

typedef struct web_data {
    web_data_header* header;
    web_part* parts[1];   /* header->count pointers */
} web_data;

/* ---- Library frame ---------------------------------------------------- */

/* 1 when started (also when already started); 0 only when start-up itself
 * failed for want of memory. When libcurl cannot be loaded, a C++
 * std::runtime_error leaves this call (and any other that loads it first). */
QUILLNET_API int quillnet_startup(void);
QUILLNET_API int quillnet_cleanup(void);
QUILLNET_API int quillnet_release(char** ret_buf);
QUILLNET_API void quillnet_release_redirect_url(char* redirect_url);

/* ---- Synchronous submits ---------------------------------------------- */

QUILLNET_API int quillnet_submit(const char* url, int timeout, const char* content,
                                 int nosignal, char** ret_buf);
QUILLNET_API int quillnet_submit_ex(const char* url, int timeout, const char* content,
                                    int nosignal, char** ret_buf, int* ret_buf_len);
QUILLNET_API int quillnet_submit_ex2(const char* url, int timeout, const char* content,
                                     int nosignal, int submit_type, char** ret_buf,
                                     int* ret_buf_len);
/* Note the order: content type before method. */
QUILLNET_API int quillnet_submit_ex3(const char* url, int timeout, const char* content,
                                     int nosignal, int conten_type, int submit_type,
                                     char** ret_buf, int* ret_buf_len);
QUILLNET_API int quillnet_submit_ex4(const char* url, int timeout, const char* content,
                                     int nosignal, int submit_type, int conten_type,
                                     const char* param_ex, char** ret_buf, int* ret_buf_len);
QUILLNET_API int quillnet_submit_ex5(const char* url, int timeout, const char* content,
                                     int nosignal, int submit_type, int conten_type,
                                     const char* param_ex, char** ret_buf, int* ret_buf_len,
                                     long* http_code, char** redirect_url);
QUILLNET_API int quillnet_submit_ex6(const char* url, int timeout, const char* content,
                                     int nosignal, int submit_type, int conten_type,
                                     const char* param_ex, char** ret_buf, int* ret_buf_len,
                                     long* http_code, char** redirect_url,
                                     int need_get_cookie, char** cookie_buf,
                                     int* cookie_buf_len);
QUILLNET_API int quillnet_submit_ex7(const char* url, int timeout, const char* content,
                                     int nosignal, int submit_type, int conten_type,
                                     const char* param_ex, char** ret_buf, int* ret_buf_len,
                                     long* http_code, char** redirect_url,
                                     int need_get_cookie, char** cookie_buf,
                                     int* cookie_buf_len, const char* need_set_cookie,
                                     const char* need_ssl_ec_curves);
QUILLNET_API int quillnet_submit_common(QuillnetSubmitParam* param,
                                        QuillnetSubmitParamEx* param_ex);

/* ---- Multipart -------------------------------------------------------- */

QUILLNET_API int quillnet_submit_multipart(const char* url, int timeout, web_data* data,
                                           int nosignal, char** ret_buf, int* ret_buf_len);
QUILLNET_API int quillnet_submit_multipart_ex(const char* url, int timeout, web_data* data,
                                              int nosignal, const char* param_ex,
                                              char** ret_buf, int* ret_buf_len);
QUILLNET_API int64_t quillnet_submit_multipart_asyn(const char* url, web_data* data,
                                                    int nosignal, int submit_type,
                                                    int conten_type, const char* param_ex,
                                                    int param_ex_len, void* user_data,
                                                    TaskCallback callback);
QUILLNET_API int quillnet_stop_multipart_asyn(int64_t fd);
QUILLNET_API int quillnet_getpos_multipart_asyn(int64_t fd);

/* ---- Downloads -------------------------------------------------------- */

QUILLNET_API int quillnet_download_urlfile(const char* url, const char* path);
QUILLNET_API int quillnet_download_urlfile_ex2(const char* url, const char* path);
QUILLNET_API int quillnet_download_urlfile_ex3(const char* url, const char* path,
                                               const char* param_ex, const char* cookie);
QUILLNET_API int quillnet_download_ftpfile(const char* ftp, const char* path,
                                           const char* user, const char* password);
QUILLNET_API int64_t quillnet_download_urlfile_ex(const char* url, const char* path,
                                                  void* user_data, TaskCallback callback);
QUILLNET_API int quillnet_stop_download_urlfile(int64_t fd);
QUILLNET_API int quillnet_getpos_download_urlfile(int64_t fd);
QUILLNET_API int64_t quillnet_download_asyn_urlfile(const char* url, const char* path,
                                                    const char* body, int body_len,
                                                    int submit_type, int conten_type,
                                                    const char* param_ex, int param_ex_len,
                                                    void* user_data, TaskCallback callback);
QUILLNET_API int quillnet_control_download_asyn_urlfile(int64_t fd, int control);
QUILLNET_API int quillnet_stop_download_asyn_urlfile(int64_t fd);
QUILLNET_API int quillnet_getpos_download_asyn_urlfile(int64_t fd);

/* ---- Uploads ---------------------------------------------------------- */

QUILLNET_API int64_t quillnet_upload_urlfile_ex(const char* url, const char* path,
                                                void* user_data, TaskCallback callback);
QUILLNET_API int quillnet_getpos_upload_urlfile(int64_t fd);
QUILLNET_API int64_t quillnet_upload_asyn_urlfile(const char* url, const char* path,
                                                  const char* body, int body_len,
                                                  int submit_type, int conten_type,
                                                  const char* param_ex, int param_ex_len,
                                                  void* user_data, TaskCallback callback);
QUILLNET_API int quillnet_stop_upload_asyn_urlfile(int64_t fd);
QUILLNET_API int quillnet_getpos_upload_asyn_urlfile(int64_t fd);

/* ---- Request cache ---------------------------------------------------- */

/* `reserved` must be NULL: returns 0 after emptying the cache, else -1. */
QUILLNET_API int quillnet_clear_cache(void* reserved);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* QUILLNET_H */
