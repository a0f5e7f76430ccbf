// The records of the two upload tasks and of the asynchronous multipart
// submit, fields in their fixed order, and what the shared task start and
// stop need of them.
#ifndef QN_TRANSFER_UPLOAD_TASK_H
#define QN_TRANSFER_UPLOAD_TASK_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "curl/transfer.h"
#include "quillnet.h"
#include "transfer/task.h"

namespace qn {
namespace transfer {

// A threaded upload (quillnet_upload_urlfile_ex). It has no stop export:
// the library keeps it (a kept task of the registry) until it is unloaded.
struct upload_info {
    TaskCallback callback;
    void* user_data;
    std::atomic<int32_t> pos;         // percent of the form sent; worker writes
    char url[260];
    char path[260];
    TaskThread* thread;               // null once the registry has joined it
};

// An asynchronous upload (quillnet_upload_asyn_urlfile); also the head of
// the asynchronous multipart submit's record, which uses `nosignal` and
// `submit_type`.
struct asyn_upload_info {
    TaskCallback callback;
    void* user_data;
    std::atomic<int32_t> pos;
    char url[1024];
    char path[260];
    TaskThread* thread;
    std::atomic<uint32_t> finished;   // 1 once the transfer loop has ended
    int32_t nosignal;
    int32_t submit_type;
    char* body;                       // heap copy or null; kept, never sent
    int32_t body_len;
    int32_t conten_type;
    char* param_ex;                   // heap copy or null
    int32_t param_ex_len;
    std::atomic<uint32_t> exit_thr;   // 1 once stopped; caller writes
};

// The send buffer every upload asks libcurl for (CURLOPT_UPLOAD_BUFFERSIZE).
// libcurl sends at most one buffer per turn of a multi loop, so with its
// default of 64 KiB an asynchronous upload turns its loop (a wait, a timed
// perform and its log line, a progress event) 16384 times a GiB; with 1 MiB
// it turns 1024 times, and the file still streams through a fixed buffer.
constexpr long kUploadBufferSize = 1024 * 1024;

// The most parts a multipart description may have.
constexpr int kMaxWebParts = 1024;

// An asynchronous multipart submit (quillnet_submit_multipart_asyn).
//
// `web_data` is one block holding the description's header (its two 32-bit
// fields) and then every part as a host lays it out (type, data_len, name,
// data), each part followed by at least four zero bytes, so that its data
// is terminated too. A part starts right where the one before it ended
// (280 + data_len bytes on), so it is not aligned for web_part: its fields
// are read with read_copied_part, never through a web_part pointer.
struct multipart_asyn_info {
    asyn_upload_info upload_info;
    char* web_data;                   // the copy, from malloc
    char* parts[kMaxWebParts];        // where each part's copy starts; null
                                      // for a part the host left null
};

inline asyn_upload_info& task_core(multipart_asyn_info& info) {
    return info.upload_info;
}

// Nothing to stop or free: when the library is unloaded, its worker sees
// tasks_unloading() and aborts; it closes its file itself.
template <>
struct TaskKind<upload_info> {
    static void request_stop(upload_info&) {}
    static void release(upload_info&) {}
};

template <>
struct TaskKind<asyn_upload_info> {
    static void request_stop(asyn_upload_info& info) { info.exit_thr.store(1, kRelaxed); }
    // The worker has closed the file already.
    static void release(asyn_upload_info& info) {
        free_copy(info.param_ex);
        free_copy(info.body);
    }
};

template <>
struct TaskKind<multipart_asyn_info> {
    static void request_stop(multipart_asyn_info& info) {
        TaskKind<asyn_upload_info>::request_stop(info.upload_info);
    }
    static void release(multipart_asyn_info& info) {
        free_copy(info.upload_info.param_ex);
        free_copy(info.web_data);
    }
};

// The local file of an upload, open for reading while its worker runs.
// The worker opens it only to learn that it can be read: libcurl opens and
// reads it again itself while it sends the form, a piece at a time, so a
// file is never held in memory whole.
struct FileCloser {
    void operator()(std::FILE* fp) const { std::fclose(fp); }
};
using ReadFile = std::unique_ptr<std::FILE, FileCloser>;

// The threaded upload's worker.
void upload_urlfile_worker(upload_info* info);

// The asynchronous upload's worker.
void upload_asyn_worker(asyn_upload_info* info);

// The asynchronous multipart submit's worker.
void multipart_asyn_worker(multipart_asyn_info* info);

// The form both uploads post: the file at `path` under "sendfile" (read by
// libcurl as it sends), the path's text under `path_field`, and "submit"
// with "send".
void add_upload_form(qn::curl::Form& form, const char* path, const char* path_field);

// What tells the asynchronous upload and the multipart submit apart once
// their transfers are set up: the callbacks, which log `stop_line` when they
// see a stop, and the start of the failed outcome's line.
struct AsynUploadKind {
    curl_write_callback write;
    curl_progress_callback progress;
    const char* result_line;  // followed by the libcurl code
};
extern const AsynUploadKind kAsynUpload;
extern const AsynUploadKind kAsynMultipart;

// What the two share once the easy and multi handles are made, the form and
// header list built and the URL rewritten: the options that tie the
// transfer to the record (URL, connect time-out, `nosignal`, callbacks,
// form, headers), the transfer loop until the end or a stop, the outcome's
// log line, `finished` and the end event.
void run_asyn_upload(asyn_upload_info* info, qn::curl::Transfer& transfer, const std::string& url,
                     const AsynUploadKind& kind);

}  // namespace transfer
}  // namespace qn

#endif  // QN_TRANSFER_UPLOAD_TASK_H
