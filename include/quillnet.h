/**
 * \file quillnet.h
 * \brief The whole interface of quillnet: 35 plain C functions, the records
 * they take, and the task callback.
 *
 * The library is `libquillnet.so` on Linux and `win32_quillnet.dll` on
 * Windows; it exports the `quillnet_` functions below by name, undecorated,
 * with the C calling convention, and nothing else. A host either loads it
 * at run time (dlopen / LoadLibrary, then dlsym / GetProcAddress of each
 * name) or links it.
 *
 * Strings are narrow, NUL-terminated UTF-8. The library never keeps a
 * string the caller passes in beyond the call; the task exports copy what
 * their worker needs. Memory the library hands out (response bodies,
 * cookie buffers, redirect URLs) must be given back through
 * quillnet_release() or quillnet_release_redirect_url(), never through the
 * caller's own allocator.
 *
 * Result conventions, by family:
 *
 * | Family                                              | Success          | Failure |
 * |-----------------------------------------------------|------------------|---------|
 * | submits                                             | 0                | -1      |
 * | synchronous downloads, stop, control, quillnet_release | 1             | 0       |
 * | task starts                                         | task handle      | -1      |
 * | position queries                                    | percent 0..100   | -1      |
 *
 * Every failed argument check writes the failed condition as a record of
 * the library's log, in the words of the check ("url == NULL",
 * "timeout < 0", "fd == -1"), at level 25 (info), 30 (warning) or 35
 * (error), and returns the family's failure value; only a missing output
 * buffer lets the request run on. A failed transfer returns the failure
 * value and logs libcurl's result code. The log goes to the host's log
 * sink (MJBase), configured by `mjlog.dat`; with the stand-in modules it is
 * `config/log/quillnet.log` beside the host's executable. No exception
 * leaves an export, except the engine's load failure (see
 * quillnet_startup()).
 *
 * `long` is the platform's own long (32-bit on Windows, 64-bit on LP64
 * Linux), the type libcurl itself writes HTTP status codes into.
 *
 * Each export allows only the protocols it exists for: `http` and `https`
 * for the submits, the HTTP downloads, the uploads and the multipart
 * submits; `ftp` for quillnet_download_ftpfile() and the name-only listing
 * of the submits (`submit_type` 6). No redirect is followed. Nothing with
 * a CR or LF reaches the wire: a cookie, user, password or multipart name
 * holding one fails the request before anything is sent.
 */
#ifndef QUILLNET_H
#define QUILLNET_H

#include <stdint.h>

/** \cond INTERNAL */
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
/** \endcond */

/* ---- Tasks ------------------------------------------------------------ */

/**
 * \defgroup tasks Tasks
 * \brief Handles, the task callback and its events, and the task records.
 *
 * The threaded and asynchronous exports start one worker thread each and
 * return at once with a task handle: the address of the task's record as
 * an `int64_t`, or -1 when nothing was started. The caller then polls the
 * position, may pause and resume an asynchronous download, and calls the
 * stop export of the task's kind exactly once, also after the task has
 * ended by itself: only the stop joins the worker, closes the local file
 * and frees the record. No export may be given a handle after its stop.
 * The threaded upload has no stop export: the library keeps it until it is
 * unloaded.
 *
 * The callback runs on the task's worker thread, from inside libcurl's
 * callbacks or at the worker's end, never on the caller's thread. It must
 * not stop its own task (the stop would wait for the calling thread
 * itself) and must not wait for a thread that is blocked in a stop.
 *
 * A task record is one block from `malloc`, zeroed, whose first two fields
 * are always `callback` and `user_data`. Hosts may read the records in
 * place through the handle or the callback's `handle` argument; their
 * fields, in order, with the platform's natural alignment:
 *
 * - `download_info` (quillnet_download_urlfile_ex()): `TaskCallback
 *   callback`, `void* user_data`, `char url[260]`, `int32_t pos`,
 *   `uint32_t status` (1 once a stop was asked), `void* thread`,
 *   `char path[260]`, `FILE* fp`, `uint32_t finished` (1 once the transfer
 *   has ended), `double total_size` (body size as first reported, else 0).
 * - `asyn_download_info` (quillnet_download_asyn_urlfile()): `callback`,
 *   `user_data`, `char url[1024]`, `int32_t pos`, `void* thread`,
 *   `char path[1024]`, `FILE* fp`, `uint32_t finished`,
 *   `int32_t submit_type`, `char* body`, `int32_t body_len`,
 *   `int32_t conten_type`, `char* param_ex`, `int32_t param_ex_len`,
 *   `uint32_t exit_thr` (1 once a stop was asked), `int32_t control`
 *   (pause mask waiting for the worker, -1 when none),
 *   `double total_size`.
 * - `upload_info` (quillnet_upload_urlfile_ex()): `callback`, `user_data`,
 *   `int32_t pos`, `char url[260]`, `char path[260]`, `void* thread`.
 * - `asyn_upload_info` (quillnet_upload_asyn_urlfile()): `callback`,
 *   `user_data`, `int32_t pos`, `char url[1024]`, `char path[260]`,
 *   `void* thread`, `uint32_t finished`, `int32_t nosignal`,
 *   `int32_t submit_type`, `char* body`, `int32_t body_len`,
 *   `int32_t conten_type`, `char* param_ex`, `int32_t param_ex_len`,
 *   `uint32_t exit_thr`.
 * - `multipart_asyn_info` (quillnet_submit_multipart_asyn()): an
 *   `asyn_upload_info` named `upload_info`, then `char* web_data` (the
 *   task's copy of the description) and `char* parts[1024]`.
 *
 * URL and path are cut to the array's size less one. The worker writes
 * `pos`, `finished`, `fp` and `total_size`; read them as whole values, and
 * never write a record: stop and control exports are the only way in.
 * These layouts are part of the binary interface and change only with the
 * SONAME.
 * @{
 */

/** Threaded download: a chunk of the body (`data`, `length` bytes).
 * Threaded upload: `data` is no pointer but the count of bytes sent so far
 * (an unsigned 64-bit value), `length` the total to send, cut to 32 bits. */
#define TASK_EVENT_THREAD_DATA 0
/** Asynchronous transfers: `data` points to the int percent just reached,
 * `length` is 4. */
#define TASK_EVENT_PROGRESS    1
/** Asynchronous transfers, once at the end (also after a stop): `data`
 * points to an int result, 0 success or 1 failure; `length` is 4. */
#define TASK_EVENT_DONE        2
/** Asynchronous transfers: a chunk of the response (`data`, `length`
 * bytes); valid only during the call. */
#define TASK_EVENT_ASYNC_DATA  3

/**
 * The task callback, called on the task's worker thread.
 *
 * \param handle    the task's record (the handle as a pointer)
 * \param event     one of the `TASK_EVENT_` codes
 * \param data      what the event carries (see each code)
 * \param length    its length
 * \param user_data the pointer given to the start export, unchanged
 *
 * The result of the call is not used. The callback must not stop its own
 * task.
 */
typedef void (*TaskCallback)(void* handle, int event, void* data,
                             unsigned int length, void* user_data);

/** @} */

/* ---- Versioned submit records (version 0) ----------------------------- */

/**
 * \defgroup records Versioned submit records
 * \brief The inputs and outputs of quillnet_submit_common(), version 0.
 * @{
 */

/** Inputs of quillnet_submit_common(), filled by the caller. */
typedef struct QuillnetSubmitParam {
    int version;          /**< record version: 0, the only one there is */
    int size;             /**< sizeof(QuillnetSubmitParam), so that caller and library agree */
    const char* url;      /**< required; used as given, no scheme rewriting */
    int timeout;          /**< transfer time-out in seconds, not negative (0: none) */
    const char* content;  /**< request body; NULL is replaced by "" in place */
    int nosignal;         /**< value for libcurl's CURLOPT_NOSIGNAL */
    int submit_type;      /**< method: 1 GET, 2 POST, 4 PUT, 5 DELETE; others leave libcurl's GET */
    int conten_type;      /**< 1 JSON content type, 2 the header lines of param_ex; others add none */
} QuillnetSubmitParam;

/** Options and outputs of quillnet_submit_common(). */
typedef struct QuillnetSubmitParamEx {
    int size;             /**< sizeof(QuillnetSubmitParamEx) */
    const char* param_ex; /**< option document, read with conten_type 2: {"headers": ["Name: value", ...]} */
    char** ret_buf;       /**< out: response body, NUL-terminated; free with quillnet_release() */
    int* ret_buf_len;     /**< out, may be NULL: body length, also on failure */
    long* http_code;      /**< out, may be NULL: HTTP status; written only together with redirect_url */
    char** redirect_url;  /**< out, may be NULL: target of a 3xx answer; free with quillnet_release_redirect_url() */
    int need_get_cookie;  /**< non-zero: return the cookies the server set in cookie_buf */
    char** cookie_buf;    /**< in/out: NULL or a block from this library; free with quillnet_release() */
    int* cookie_buf_len;  /**< out: bytes in cookie_buf, NUL included */
} QuillnetSubmitParamEx;

/** @} */

/* ---- Multipart description -------------------------------------------- */

/**
 * \defgroup multipart Multipart submits
 * \brief Forms described in memory by the host, posted on the caller's
 * thread or on a worker thread.
 *
 * A description is a web_data: a pointer to its web_data_header, then
 * `count` pointers to parts. Each web_part is allocated by the host with
 * room for its data after the 280-byte head. The synchronous submits read
 * the description in place during the call; the asynchronous one copies
 * it before it returns, so the host may free it at once. A description
 * with a NULL header, a part count below 0 or above 1024, a negative part
 * length, or a name with a CR or LF or without a terminator within its 260
 * characters is refused.
 * @{
 */

/** Head of a multipart description. */
typedef struct web_data_header {
    int reserved;         /**< not read by the library */
    int count;            /**< number of parts; <= 0 means none */
} web_data_header;

/** Part kind: a text field with the content type multipart/form-data. */
#define WEB_PART_FIELD_TYPED 0
/** Part kind: a plain text field. */
#define WEB_PART_FIELD       1
/** Part kind: an in-memory file under the field name "file". */
#define WEB_PART_FILE        4
/** Part kind: an in-memory file under the field name "sendfile". */
#define WEB_PART_SENDFILE    5

/** One part: 280 bytes of head with `data` at offset 276. Text kinds carry
 * zero-terminated text in `data`; file kinds carry `data_len` bytes. Parts
 * are allocated by the host with room for their data after the record.
 * A part of any other kind is skipped. */
typedef struct web_part {
    int type;             /**< one of the `WEB_PART_` kinds */
    int64_t data_len;     /**< bytes in data (file kinds), at most 2^31 - 1 */
    char name[260];       /**< field name (kinds 0, 1) or file name (4, 5), NUL-terminated */
    char data[1];         /**< the text or the file's bytes, continuing past the record */
} web_part;

/** A multipart description: its head, then one pointer per part. */
typedef struct web_data {
    web_data_header* header; /**< required */
    web_part* parts[1];   /**< header->count pointers, in posting order */
} web_data;

/** @} */

/* ---- Library frame ---------------------------------------------------- */

/**
 * \defgroup frame Start-up, clean-up and release
 * @{
 */

/**
 * Loads libcurl (`libcurl.so.4` / `libcurl.dll`, beside the executable
 * first) on the first call and initialises it. Call once before the first
 * request; further calls while started do nothing. Not safe to call
 * concurrently with quillnet_cleanup() or any transfer.
 *
 * \return 1 when started (also when already started); 0 only when start-up
 * itself failed for want of memory (logged at level 35). When libcurl
 * cannot be loaded or lacks an entry point the library needs, a C++
 * std::runtime_error leaves this call ("Failed to load libcurl", "Failed
 * to resolve symbols from libcurl."), the library stays not started, and a
 * later call tries again.
 */
QUILLNET_API int quillnet_startup(void);
/**
 * Closes the connections the library keeps and cleans libcurl's global
 * state up; libcurl itself stays loaded. Call after the last request.
 * \return 1, or 0 with the log line "!s_is_startup" (level 25) when not
 * started.
 */
QUILLNET_API int quillnet_cleanup(void);
/**
 * Frees a response body or cookie buffer handed out by this library and
 * sets `*ret_buf` to NULL. A `*ret_buf` that is already NULL is fine.
 * \param ret_buf address of the caller's pointer
 * \return 1, or 0 with "ret_buf == NULL" (level 25) when `ret_buf` is NULL.
 */
QUILLNET_API int quillnet_release(char** ret_buf);
/**
 * Frees a redirect URL handed out by the submits; NULL does nothing. The
 * caller's own pointer is not cleared: do not use it afterwards.
 * \param redirect_url the block from `*redirect_url`
 */
QUILLNET_API void quillnet_release_redirect_url(char* redirect_url);

/** @} */

/* ---- Synchronous submits ---------------------------------------------- */

/**
 * \defgroup submit Synchronous submits
 * \brief One HTTP(S) request on the caller's thread; the whole response
 * body comes back in a buffer the library allocates.
 *
 * Common to all of them:
 * - `url` is required; the host's protocol table (`Resource/Protocol.json`)
 *   may rewrite its scheme. `timeout` is the transfer time-out in seconds,
 *   not negative (0: none). `content` is the body; NULL sends an empty one.
 *   `nosignal` is passed to libcurl's CURLOPT_NOSIGNAL.
 * - `*ret_buf` receives the body, always NUL-terminated (so text can be
 *   used as a string), at most 1677721599 bytes; free it with
 *   quillnet_release(). With `ret_buf` NULL the request still runs and the
 *   body is dropped ("ret_buf == NULL"). `*ret_buf_len`, when given,
 *   receives the length, on failure too (the bytes received before it).
 * - Success means libcurl completed the transfer, whatever the HTTP status:
 *   a 404 or 500 answer returns 0 with its body.
 * - A failed transfer logs, at level 35, "error:
 *   CLibcurlWrapper::instance().curl_easy_perform(curl)[" code "] !=
 *   CURLE_OK" with the URL and the body; `*ret_buf` is left as it was.
 * - TLS certificates are not verified unless the host sets
 *   `QUILLNET_TLS_VERIFY=1`.
 * - Answers to the host's six tree-data queries are cached for ten seconds
 *   by (URL, body), and identical queries in flight are merged; see
 *   quillnet_clear_cache().
 *
 * Method codes (`submit_type`): 1 GET, 2 POST, 4 PUT, 5 DELETE, 6 name-only
 * FTP listing; any other code logs "submit_type = " and leaves libcurl's
 * GET. Content-type codes (`conten_type`): 0 form
 * (application/x-www-form-urlencoded), 1 application/json, 2 the header
 * lines of the option document `param_ex`, any other text/plain.
 * @{
 */

/**
 * POSTs `content` to `url` and returns the response body in `*ret_buf`;
 * quillnet_submit_ex() without the length.
 * \return 0 or -1. Checks (level 25): "url == NULL", "timeout < 0".
 */
QUILLNET_API int quillnet_submit(const char* url, int timeout, const char* content,
                                 int nosignal, char** ret_buf);
/**
 * POSTs `content` (libcurl's form content type) to `url`; the body goes to
 * `*ret_buf` and its length to `*ret_buf_len` (may be NULL).
 * \return 0 or -1. Checks (level 25): "url == NULL", "timeout < 0".
 */
QUILLNET_API int quillnet_submit_ex(const char* url, int timeout, const char* content,
                                    int nosignal, char** ret_buf, int* ret_buf_len);
/**
 * quillnet_submit_ex7() with the method `submit_type`, content type 0
 * (form) and nothing else.
 * \return 0 or -1. Checks (level 30): "url == NULL", "timeout < 0".
 */
QUILLNET_API int quillnet_submit_ex2(const char* url, int timeout, const char* content,
                                     int nosignal, int submit_type, char** ret_buf,
                                     int* ret_buf_len);
/**
 * quillnet_submit_ex7() with a content type and a method. Note the order:
 * content type (5th) before method (6th), unlike every later variant. No
 * option document is passed, so `conten_type` 2 always fails with
 * "param_ex == NULL".
 * \return 0 or -1.
 */
QUILLNET_API int quillnet_submit_ex3(const char* url, int timeout, const char* content,
                                     int nosignal, int conten_type, int submit_type,
                                     char** ret_buf, int* ret_buf_len);
/**
 * quillnet_submit_ex7() with method, content type and option document
 * `param_ex` (read with `conten_type` 2).
 * \return 0 or -1.
 */
QUILLNET_API int quillnet_submit_ex4(const char* url, int timeout, const char* content,
                                     int nosignal, int submit_type, int conten_type,
                                     const char* param_ex, char** ret_buf, int* ret_buf_len);
/**
 * quillnet_submit_ex4() that also reports the HTTP status and the target
 * of a 3xx answer (`http_code` and `redirect_url` must both be given, or
 * neither is written).
 * \return 0 or -1.
 */
QUILLNET_API int quillnet_submit_ex5(const char* url, int timeout, const char* content,
                                     int nosignal, int submit_type, int conten_type,
                                     const char* param_ex, char** ret_buf, int* ret_buf_len,
                                     long* http_code, char** redirect_url);
/**
 * quillnet_submit_ex5() that also returns the cookies the server set.
 * \return 0 or -1.
 */
QUILLNET_API int quillnet_submit_ex6(const char* url, int timeout, const char* content,
                                     int nosignal, int submit_type, int conten_type,
                                     const char* param_ex, char** ret_buf, int* ret_buf_len,
                                     long* http_code, char** redirect_url,
                                     int need_get_cookie, char** cookie_buf,
                                     int* cookie_buf_len);
/**
 * The full submit; every shorter variant is this one with defaults.
 *
 * \param url                required
 * \param timeout            seconds, not negative
 * \param content            body, or NULL for none
 * \param nosignal           CURLOPT_NOSIGNAL
 * \param submit_type        method code (see the group)
 * \param conten_type        content-type code (see the group)
 * \param param_ex           option document, read with `conten_type` 2:
 *                           `{"headers": ["Name: value", ...]}`; an element
 *                           with a CR or LF is dropped and logged
 * \param ret_buf            out: the body, free with quillnet_release()
 * \param ret_buf_len        out, may be NULL: the body's length
 * \param http_code          out, may be NULL: the HTTP status
 * \param redirect_url       out, may be NULL: a fresh copy of a 3xx answer's
 *                           target, free with quillnet_release_redirect_url();
 *                           both are written only when both are given
 * \param need_get_cookie    non-zero: collect the cookies the server set
 * \param cookie_buf         in/out, required with `need_get_cookie`: NULL or
 *                           a block from this library, grown with realloc;
 *                           receives every cookie line (cookie-file format)
 *                           followed by a tab, NUL-terminated; free with
 *                           quillnet_release()
 * \param cookie_buf_len     out, required with `need_get_cookie`: bytes in
 *                           the buffer, NUL included; start it at 0
 * \param need_set_cookie    may be NULL: the Cookie header to send
 * \param need_ssl_ec_curves may be NULL: CURLOPT_SSL_EC_CURVES
 *
 * \return 0 or -1. Checks (level 30): "url == NULL", "timeout < 0",
 * "cookie_buf == NULL || cookie_buf_len == NULL" (cookies asked for
 * without both), "ret_buf == NULL" (runs on). With `conten_type` 2, a NULL
 * or unparsable document, or one without a "headers" array, fails before
 * anything is sent ("param_ex == NULL", "is_error(jso)",
 * "is_error(jso_headers)"). Cookies asked for when the server set none:
 * -1 with "*cookie_buf_len <= 0". A `need_set_cookie` with a CR or LF
 * fails before anything is sent.
 */
QUILLNET_API int quillnet_submit_ex7(const char* url, int timeout, const char* content,
                                     int nosignal, int submit_type, int conten_type,
                                     const char* param_ex, char** ret_buf, int* ret_buf_len,
                                     long* http_code, char** redirect_url,
                                     int need_get_cookie, char** cookie_buf,
                                     int* cookie_buf_len, const char* need_set_cookie,
                                     const char* need_ssl_ec_curves);
/**
 * The submit of quillnet_submit_ex6() with its inputs and outputs in two
 * versioned records, so the interface can grow without new exports. The
 * URL is used as given (no scheme rewriting); `conten_type` 0 adds no
 * content type, `submit_type` 6 is not supported.
 *
 * \param param    inputs; a NULL `content` is set to "" in place
 * \param param_ex options and outputs
 * \return 0 or -1. Checks (level 30): "param == NULL", "param_ex == NULL",
 * "param->url == NULL", "timeout < 0",
 * "cookie_buf == NULL || cookie_buf_len == NULL",
 * "param->size != sizeof(QuillnetSubmitParam)",
 * "param_ex->size != sizeof(QuillnetSubmitParamEx)", "param->version < 0";
 * a version above 0 logs "not support version:" at level 35.
 */
QUILLNET_API int quillnet_submit_common(QuillnetSubmitParam* param,
                                        QuillnetSubmitParamEx* param_ex);

/** @} */

/* ---- Multipart -------------------------------------------------------- */

/** \addtogroup multipart
 * @{
 */

/**
 * quillnet_submit_multipart_ex() without an option document.
 * \return 0 or -1.
 */
QUILLNET_API int quillnet_submit_multipart(const char* url, int timeout, web_data* data,
                                           int nosignal, char** ret_buf, int* ret_buf_len);
/**
 * POSTs the form described by `data` to `url` on the caller's thread and
 * returns the response body in `*ret_buf` (free with quillnet_release()),
 * its length in `*ret_buf_len` (may be NULL). The description is read in
 * place during the call. `param_ex`, when not NULL, adds the "headers"
 * lines of an option document; one that cannot be used fails the request.
 * Success means libcurl completed the transfer, whatever the HTTP status.
 * TLS certificates are verified.
 *
 * \return 0 or -1. Checks (level 25): "url == NULL", "timeout < 0",
 * "web_data == NULL || web_data->header == NULL", "ret_buf == NULL" (runs
 * on). A part name with a CR or LF logs "web_part name with CR or LF,
 * request not sent".
 */
QUILLNET_API int quillnet_submit_multipart_ex(const char* url, int timeout, web_data* data,
                                              int nosignal, const char* param_ex,
                                              char** ret_buf, int* ret_buf_len);
/**
 * Starts posting the form described by `data` to `url` on a worker thread
 * and returns at once. The description is copied before the call returns.
 * The request is a multipart POST whatever `submit_type` says;
 * `conten_type` is kept and not used; the "headers" of `param_ex`
 * (`param_ex_len` bytes, copied) are added whenever it is given.
 *
 * Events on `callback` (worker thread): ::TASK_EVENT_PROGRESS with the
 * percent sent, ::TASK_EVENT_ASYNC_DATA with each chunk of the answer, and
 * one ::TASK_EVENT_DONE. Poll with quillnet_getpos_multipart_asyn(); end
 * with quillnet_stop_multipart_asyn().
 *
 * \return the task handle, or -1. Checks (level 30): "url == NULL",
 * "web_data == NULL", "info == NULL" (no memory), "!os_thread_create"; a
 * description that would be refused (see the group) also gives -1.
 */
QUILLNET_API int64_t quillnet_submit_multipart_asyn(const char* url, web_data* data,
                                                    int nosignal, int submit_type,
                                                    int conten_type, const char* param_ex,
                                                    int param_ex_len, void* user_data,
                                                    TaskCallback callback);
/**
 * Stops the task (a running transfer ends, and its ::TASK_EVENT_DONE
 * reports failure), joins the worker and frees the record and its copies.
 * Needed also after the task has ended by itself; exactly once per handle.
 * \param fd handle from quillnet_submit_multipart_asyn()
 * \return 1, or 0 with "fd == -1" or "info == NULL" (level 25).
 */
QUILLNET_API int quillnet_stop_multipart_asyn(int64_t fd);
/**
 * \param fd handle from quillnet_submit_multipart_asyn()
 * \return the percent of the form sent, 0 to 100, or -1 with "fd == -1" or
 * "info == NULL" (level 25).
 */
QUILLNET_API int quillnet_getpos_multipart_asyn(int64_t fd);

/** @} */

/* ---- Downloads -------------------------------------------------------- */

/**
 * \defgroup downloads Downloads
 * \brief A URL into a local file: synchronously on the caller's thread, or
 * on a worker thread (threaded, or asynchronous with pause and resume).
 *
 * The synchronous HTTP(S) downloads succeed only with the status 200,
 * time out after 30 seconds, refuse a body that begins with "<html>" (an
 * error page) and do not verify TLS certificates unless the host sets
 * `QUILLNET_TLS_VERIFY=1`. The local file is made at the first chunk that
 * is written (an existing file is replaced only then) and keeps what was
 * written when the download fails. `path` is UTF-8.
 * @{
 */

/**
 * Downloads `url` into the file `path`.
 * \return 1 on success, 0 on failure. Logs "url == NULL || path == NULL"
 * (level 25), "HTTP Response Code:" with the status (level 30), and on
 * failure "error: HTTP url:" ... "request failed with code:" or the
 * perform failure with libcurl's code (level 35).
 */
QUILLNET_API int quillnet_download_urlfile(const char* url, const char* path);
/**
 * As quillnet_download_urlfile(), with the log texts of
 * quillnet_download_urlfile_ex3() ("HTTP Response Code: " at level 25).
 * \return 1 or 0.
 */
QUILLNET_API int quillnet_download_urlfile_ex2(const char* url, const char* path);
/**
 * As quillnet_download_urlfile_ex2(), with extra headers and a cookie.
 * `param_ex` is an option document whose "headers" lines are sent before
 * the library's own; an element "auth_digest:user:password" is not sent
 * but makes the download answer HTTP Digest authentication. A document
 * that cannot be used is logged at level 30 and the download goes on.
 * `cookie` (may be NULL) is sent as the Cookie header; one with a CR or LF
 * fails the download before anything is sent.
 * \return 1 or 0.
 */
QUILLNET_API int quillnet_download_urlfile_ex3(const char* url, const char* path,
                                               const char* param_ex, const char* cookie);
/**
 * Downloads the `ftp://` URL `ftp` into the file `path`, logging in with
 * `user` and `password` when both are given (anonymously otherwise);
 * 10-second time-out.
 * \return 1 when libcurl completed the transfer, 0 otherwise. Logs "ftp ==
 * NULL || path == NULL" (level 25) and, on failure,
 * "CLibcurlWrapper::instance().curl_easy_perform(curl) != CURLE_OK," with
 * the URL (level 35).
 */
QUILLNET_API int quillnet_download_ftpfile(const char* ftp, const char* path,
                                           const char* user, const char* password);
/**
 * Starts downloading `url` into the file `path` (cut to 259 characters
 * each) on a worker thread and returns at once. Every chunk is written to
 * the file and sent to `callback` (may be NULL) as
 * ::TASK_EVENT_THREAD_DATA; there is no progress or end event, and the
 * HTTP status is not looked at. The file is complete only once
 * quillnet_stop_download_urlfile() has returned.
 * \return the task handle, or -1 with "url == NULL", "path == NULL"
 * (level 25), "download_info == NULL" (no memory, level 35) or
 * "!os_thread_create".
 */
QUILLNET_API int64_t quillnet_download_urlfile_ex(const char* url, const char* path,
                                                  void* user_data, TaskCallback callback);
/**
 * Stops a threaded download (a running transfer is aborted), joins its
 * worker, closes the file and frees the record. Needed also after the
 * download has ended by itself; exactly once per handle.
 * \param fd handle from quillnet_download_urlfile_ex()
 * \return 1, or 0 with "fd == -1" or "download_info == NULL" (level 25).
 */
QUILLNET_API int quillnet_stop_download_urlfile(int64_t fd);
/**
 * \param fd handle from quillnet_download_urlfile_ex()
 * \return the percent of the body received, 0 until the size is known,
 * or -1 with "fd == -1" or "download_info == NULL" (level 25). A finished
 * task keeps its last value.
 */
QUILLNET_API int quillnet_getpos_download_urlfile(int64_t fd);
/**
 * Starts downloading `url` into the file `path` (cut to 1023 characters
 * each) on a worker thread, through libcurl's multi interface, and
 * returns at once.
 *
 * \param url          the URL
 * \param path         the local file
 * \param body         request body (`body_len` bytes, copied) or NULL
 * \param body_len     its length; below 1 copies nothing
 * \param submit_type  2: POST `body` as JSON; anything else: GET
 * \param conten_type  1: JSON content type; 2: the "headers" of `param_ex`,
 *                     where "auth_digest:user:password" answers HTTP Digest
 * \param param_ex     option document (`param_ex_len` bytes, copied) or
 *                     NULL; its "time_out" sets the transfer time-out in
 *                     seconds (default 20000)
 * \param param_ex_len its length
 * \param user_data    handed back to every callback
 * \param callback     may be NULL; called on the worker thread with
 *                     ::TASK_EVENT_ASYNC_DATA for each chunk,
 *                     ::TASK_EVENT_PROGRESS and one ::TASK_EVENT_DONE
 * \return the task handle, or -1 with "url == NULL", "path == NULL"
 * (level 25), "info == NULL" (no memory, level 35) or "!os_thread_create".
 * A failed transfer logs "curl_msg->data.result != CURLE_OK" with the URL
 * and libcurl's code (level 35).
 */
QUILLNET_API int64_t quillnet_download_asyn_urlfile(const char* url, const char* path,
                                                    const char* body, int body_len,
                                                    int submit_type, int conten_type,
                                                    const char* param_ex, int param_ex_len,
                                                    void* user_data, TaskCallback callback);
/**
 * Pauses or resumes an asynchronous download: the mask is handed to
 * libcurl's curl_easy_pause on the worker's next loop turn (a second call
 * before that turn replaces the first).
 * \param fd      handle from quillnet_download_asyn_urlfile()
 * \param control CURLPAUSE_CONT 0 (resume), CURLPAUSE_RECV 1,
 *                CURLPAUSE_SEND 4, CURLPAUSE_ALL 5
 * \return 1 when stored, 0 with "download_info == NULL" (level 25) for a
 * NULL or -1 handle.
 */
QUILLNET_API int quillnet_control_download_asyn_urlfile(int64_t fd, int control);
/**
 * Stops an asynchronous download (a running transfer ends), joins its
 * worker, closes the file and frees the record and its copies. Needed also
 * after the download has ended by itself; exactly once per handle.
 * \param fd handle from quillnet_download_asyn_urlfile()
 * \return 1, or 0 with "fd == -1" or "info == NULL" (level 25).
 */
QUILLNET_API int quillnet_stop_download_asyn_urlfile(int64_t fd);
/**
 * \param fd handle from quillnet_download_asyn_urlfile()
 * \return the percent of the body received, 0 until the size is known,
 * or -1 with "fd == -1" or "info == NULL" (level 25).
 */
QUILLNET_API int quillnet_getpos_download_asyn_urlfile(int64_t fd);

/** @} */

/* ---- Uploads ---------------------------------------------------------- */

/**
 * \defgroup uploads Uploads
 * \brief A local file posted as a multipart form on a worker thread.
 *
 * The form has three parts: the file under "sendfile" (streamed from disk
 * by libcurl, never held in memory whole), the text of `path` under
 * "filename" (threaded) or "fileName" (asynchronous), and "submit" with
 * "send". TLS certificates are verified.
 * @{
 */

/**
 * Starts posting the file `path` to `url` (cut to 259 characters each) on
 * a worker thread and returns at once. `callback` (may be NULL) receives
 * ::TASK_EVENT_THREAD_DATA with the bytes sent so far in `data` and the
 * total in `length`; there is no end event. There is no stop export: the
 * library keeps the task, its handle stays valid for
 * quillnet_getpos_upload_urlfile() until the library is unloaded, and the
 * unload aborts a transfer still running and frees the record.
 * \return the task handle, or -1 with "url == NULL", "path == NULL",
 * "upload_info == NULL" (no memory) or "!os_thread_create" (level 30).
 */
QUILLNET_API int64_t quillnet_upload_urlfile_ex(const char* url, const char* path,
                                                void* user_data, TaskCallback callback);
/**
 * \param fd handle from quillnet_upload_urlfile_ex()
 * \return the percent of the form sent, or -1 with "fd == -1" or
 * "upload_info == NULL" (level 30).
 */
QUILLNET_API int quillnet_getpos_upload_urlfile(int64_t fd);
/**
 * Starts posting the file `path` to `url` (cut to 1023 and 259 characters)
 * on a worker thread, through libcurl's multi interface, and returns at
 * once. `body` and `param_ex` are copied when given with a length of at
 * least 1; `body` is kept but not sent; `submit_type` is kept, not used.
 * `conten_type` 1 adds the JSON content type, 2 the "headers" of
 * `param_ex`. `callback` (may be NULL) receives ::TASK_EVENT_PROGRESS with
 * the percent sent, ::TASK_EVENT_ASYNC_DATA with the server's answer and
 * one ::TASK_EVENT_DONE (none when the file cannot be opened: then the
 * log shows "ptr == NULL").
 * \return the task handle, or -1 with "url == NULL", "path == NULL",
 * "info == NULL" (no memory) or "!os_thread_create" (level 30).
 */
QUILLNET_API int64_t quillnet_upload_asyn_urlfile(const char* url, const char* path,
                                                  const char* body, int body_len,
                                                  int submit_type, int conten_type,
                                                  const char* param_ex, int param_ex_len,
                                                  void* user_data, TaskCallback callback);
/**
 * Stops an asynchronous upload (a running transfer ends and its
 * ::TASK_EVENT_DONE reports failure), joins its worker and frees the record
 * and its copies. Needed also after the upload has ended by itself;
 * exactly once per handle.
 * \param fd handle from quillnet_upload_asyn_urlfile()
 * \return 1, or 0 with "fd == -1" or "info == NULL" (level 25).
 */
QUILLNET_API int quillnet_stop_upload_asyn_urlfile(int64_t fd);
/**
 * \param fd handle from quillnet_upload_asyn_urlfile()
 * \return the percent of the form sent, or -1 with "fd == -1" or
 * "info == NULL" (level 25).
 */
QUILLNET_API int quillnet_getpos_upload_asyn_urlfile(int64_t fd);

/** @} */

/* ---- Request cache ---------------------------------------------------- */

/**
 * \defgroup cache Request cache
 * @{
 */

/**
 * Empties the process-wide cache of the six tree-data queries, so that the
 * next such query goes to the network. Works whether or not the library
 * is started; a fetch in flight still stores its answer.
 * \param reserved must be NULL
 * \return 0 after emptying the cache, or -1 (nothing done, nothing logged)
 * when `reserved` is not NULL.
 */
QUILLNET_API int quillnet_clear_cache(void* reserved);

/** @} */

/** \cond INTERNAL */
#ifdef __cplusplus
} /* extern "C" */
#endif
/** \endcond */

#endif /* QUILLNET_H */
