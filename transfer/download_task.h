// The records of the two download tasks, fields in their fixed order, and
// what the shared task start and stop need of them.
#ifndef QN_TRANSFER_DOWNLOAD_TASK_H
#define QN_TRANSFER_DOWNLOAD_TASK_H

#include <atomic>
#include <cstdint>
#include <cstddef>
#include <cstdio>
#include <string>

#include "quillnet.h"
#include "transfer/task.h"

namespace qn {
namespace transfer {

// The receive buffer every download asks libcurl for (CURLOPT_BUFFERSIZE):
// the size curl's own command-line tool reads with. Against libcurl's
// default of 16 KiB it takes a sixth of the reads, callbacks and, for the
// asynchronous download, loop turns for the same file; nothing else about
// a transfer changes but the size of the chunks the callbacks see.
constexpr long kReceiveBufferSize = 100 * 1024;

// `download_info::status` once a stop was asked.
constexpr uint32_t STATUS_STOP_DOWNLOAD = 1;

// A threaded download (quillnet_download_urlfile_ex).
struct download_info {
    TaskCallback callback;
    void* user_data;
    char url[260];
    std::atomic<int32_t> pos;         // percent received; worker writes, caller reads
    std::atomic<uint32_t> status;     // STATUS_STOP_DOWNLOAD once stopped; caller writes
    TaskThread* thread;
    char path[260];
    std::FILE* fp;                    // worker's until the stop's join
    std::atomic<uint32_t> finished;   // 1 once the worker's transfer has ended
    std::atomic<double> total_size;   // body size as first reported, 0 until then
};

// An asynchronous download (quillnet_download_asyn_urlfile).
struct asyn_download_info {
    TaskCallback callback;
    void* user_data;
    char url[1024];
    std::atomic<int32_t> pos;
    TaskThread* thread;
    char path[1024];
    std::FILE* fp;
    std::atomic<uint32_t> finished;
    int32_t submit_type;              // 2 POST, anything else GET
    char* body;                       // heap copy or null
    int32_t body_len;
    int32_t conten_type;
    char* param_ex;                   // heap copy or null
    int32_t param_ex_len;
    std::atomic<uint32_t> exit_thr;   // 1 once stopped; caller writes
    std::atomic<int32_t> control;     // pause mask to apply, -1 when none
    std::atomic<double> total_size;
};

template <>
struct TaskKind<download_info> {
    static void request_stop(download_info& info) { info.status.store(STATUS_STOP_DOWNLOAD, kRelaxed); }
    static void release(download_info& info) { close_file(info.fp); }
};

template <>
struct TaskKind<asyn_download_info> {
    static void request_stop(asyn_download_info& info) { info.exit_thr.store(1, kRelaxed); }
    static void release(asyn_download_info& info) {
        close_file(info.fp);
        free_copy(info.param_ex);
        free_copy(info.body);
    }
};

// The synchronous downloads' libcurl write callback; `sink` is the call's
// file sink.
size_t on_curl_write_file(char* data, size_t size, size_t count, void* sink);

// The threaded download's worker and libcurl callbacks (`info` is the
// download_info).
void download_urlfile_worker(download_info* info);
size_t on_download_write(char* data, size_t size, size_t count, void* info);
int on_download_progress(void* info, double total, double now, double, double);

// The asynchronous download's worker and libcurl callbacks (`info` is the
// asyn_download_info).
void download_asyn_worker(asyn_download_info* info);
size_t on_asyn_download_write(char* data, size_t size, size_t count, void* info);
int on_asyn_download_progress(void* info, double total, double now, double, double);

// Splits scheme://host/path at the first "/" after the "//": on success
// `*path` is the text from that "/" on, `url` is cut there (a terminator
// written over the "/") and `*base` is the shortened text. Without a ":" or
// without such a "/", returns false and leaves everything unchanged.
bool split_url(char* url, std::string* base, std::string* path);

}  // namespace transfer
}  // namespace qn

#endif  // QN_TRANSFER_DOWNLOAD_TASK_H
