// What every task kind shares: the worker thread object, the record's
// allocation and copies, the start with its failure path, the handle, the
// callback's events, and the stop protocol. A task kind brings its record
// and a TaskKind specialisation; everything else is here, so that start and
// stop work the same way for downloads, uploads and the multipart task.
//
//     auto* info = new_task_record<my_info>("info == NULL", qn::log::kLevelError);
//     if (info == nullptr) return -1;
//     copy_text(info->url, url);
//     return start_task<my_info, &my_worker>(info, qn::log::kLevelInfo);
//     ...
//     return stop_task<my_info>(fd, "info == NULL");
//
// Records are plain heap blocks from malloc, zeroed in full (padding
// included) and released with free by the stop of their kind only. The
// fields that the caller's thread and the worker share without a lock are
// std::atomic and used with relaxed ordering: each is a whole value whose
// newest state nobody depends on seeing at once. Everything else the worker
// touches (the file stream, the copies, the record itself) is handed back to
// the caller's thread by the join, before the stop reads it.
#ifndef QN_TRANSFER_TASK_H
#define QN_TRANSFER_TASK_H

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>
#include <type_traits>

#include "api/export_guard.h"
#include "log/log_record.h"
#include "quillnet.h"

namespace qn {
namespace transfer {

constexpr std::memory_order kRelaxed = std::memory_order_relaxed;

// The name a task's worker thread carries where the system names threads.
constexpr char kTaskThreadName[] = "quillnet task";

// The worker thread of one task: start with one pointer argument, joinable,
// join, destroy.
class TaskThread {
public:
    using Proc = void (*)(void*);

    // Starts proc(arg) at the default stack size. Null when no thread object
    // could be made or the system would not start the thread.
    static TaskThread* create(Proc proc, void* arg) noexcept;
    static void destroy(TaskThread* thread) noexcept { delete thread; }

    bool joinable() const noexcept { return thread_.joinable(); }
    // Waits until the worker has returned. Never called on the worker itself
    // (a callback must not stop its own task).
    void join() noexcept;

private:
    TaskThread() = default;
    std::thread thread_;
};

// What start and stop need of one record kind; specialised next to each
// record:
//   static void request_stop(Record&);  // sets the kind's stop flag
//   static void release(Record&);       // after the join: closes the
//       file, frees the copies (the option document first); also the
//       clean-up of a start whose thread did not start
template <class Record>
struct TaskKind;

// The part of a record that start, stop and position work on (`callback`,
// `user_data`, `pos`, `thread`): the record itself, unless its kind begins
// with another kind's record; such a kind declares an overload next to its
// record, found here by argument-dependent lookup.
template <class Record>
Record& task_core(Record& record) {
    return record;
}

// The first checks of every start export: "url == NULL", then
// "path == NULL", logged at the level of the export's family. False when
// one failed.
inline bool check_url_and_path(const char* url, const char* path, uint32_t level) {
    if (url == nullptr) {
        qn::log::Record(level) << "url == NULL" << "\n";
        return false;
    }
    if (path == nullptr) {
        qn::log::Record(level) << "path == NULL" << "\n";
        return false;
    }
    return true;
}

// Copies `text` into a fixed field, cut to the field's size less one; the
// zeroed record keeps the copy terminated.
template <size_t N>
void copy_text(char (&field)[N], const char* text) {
    std::strncpy(field, text, N - 1);
}

// The heap copy of a request body or option document: `len` bytes and a
// terminator, from calloc. Nothing is copied (null, 0) for a null pointer or
// a length below 1. False only when the copy could not be allocated.
bool copy_bytes(const char* bytes, int32_t len, char** copy, int32_t* copy_len);

// Frees a copy made by copy_bytes and clears it.
inline void free_copy(char*& copy) {
    std::free(copy);
    copy = nullptr;
}

// Closes a task's file stream, if it has one, and clears it.
inline void close_file(std::FILE*& fp) {
    if (fp != nullptr) std::fclose(fp);
    fp = nullptr;
}

// Allocates a record with malloc, zeroed in full. On failure logs
// `null_check` at `level` and returns null.
template <class Record>
Record* new_task_record(const char* null_check, uint32_t level) {
    static_assert(std::is_standard_layout<Record>::value, "task records are plain layouts");
    static_assert(std::is_trivially_destructible<Record>::value, "task records are freed with free");
    void* block = std::malloc(sizeof(Record));
    if (block == nullptr) {
        qn::log::Record(level) << null_check << "\n";
        return nullptr;
    }
    std::memset(block, 0, sizeof(Record));
    return new (block) Record();
}

// A record's address as a task handle, and back.
template <class Record>
int64_t task_handle(Record* record) {
    return static_cast<int64_t>(reinterpret_cast<intptr_t>(record));
}

template <class Record>
Record* task_record_of(int64_t fd) {
    return reinterpret_cast<Record*>(static_cast<intptr_t>(fd));
}

// The record behind a handle given to a control export; null after logging
// "fd == -1" or `null_check` at `level` for the two handles that name none.
template <class Record>
Record* task_record(int64_t fd, const char* null_check, uint32_t level) {
    if (fd == -1) {
        qn::log::Record(level) << "fd == -1" << "\n";
        return nullptr;
    }
    if (fd == 0) {
        qn::log::Record(level) << null_check << "\n";
        return nullptr;
    }
    return task_record_of<Record>(fd);
}

template <class Record, void (*Worker)(Record*)>
void run_worker(void* record) {
    Worker(static_cast<Record*>(record));
}

// The last steps of every start export: starts Worker on the record and
// returns the handle. When the thread cannot be made or started, logs
// "!os_thread_create" at `level`, releases the record's copies and the
// record, and returns -1: nothing is left allocated. The worker never reads
// `thread`, so it is stored after the start.
template <class Record, void (*Worker)(Record*)>
int64_t start_task(Record* record, uint32_t level) {
    TaskThread* thread = TaskThread::create(&run_worker<Record, Worker>, record);
    if (thread == nullptr) {
        // Freed before the line is written, which may throw for want of
        // memory.
        TaskKind<Record>::release(*record);
        std::free(record);
        qn::log::Record(level) << "!os_thread_create" << "\n";
        return -1;
    }
    task_core(*record).thread = thread;
    return task_handle(record);
}

// Tasks without a stop export (the threaded upload) are kept by the library
// instead, so that none is lost: the handle stays valid until the library
// is unloaded. A worker that has returned is joined at the next tracked
// start, so that a long-running host does not pile up ended threads; its
// record stays. When the library is unloaded, tasks_unloading() turns true
// (a tracked worker's progress callback then aborts its transfer), every
// tracked worker is joined and every record freed.
//
// track_task starts proc(record) and keeps both, storing the thread object
// in `*thread` (the record's `thread` field, which only the tracker writes
// from then on). False when no thread could be started, or once the library
// is being unloaded; the record is then the caller's to free.
bool track_task(void* record, TaskThread::Proc proc, TaskThread** thread);
bool tasks_unloading();

// start_task for a kept task: on failure logs "!os_thread_create" at
// `level`, frees the record and returns -1.
template <class Record, void (*Worker)(Record*)>
int64_t start_tracked_task(Record* record, uint32_t level) {
    if (!track_task(record, &run_worker<Record, Worker>, &record->thread)) {
        std::free(record);
        qn::log::Record(level) << "!os_thread_create" << "\n";
        return -1;
    }
    return task_handle(record);
}

// Stop, for every kind: the handle checks (level 25), the stop flag, the
// join (the worker's own clean-up included), then the file and the copies,
// then the record. 1 when the task was stopped and released.
template <class Record>
int stop_task(int64_t fd, const char* null_check) {
    Record* record = task_record<Record>(fd, null_check, qn::log::kLevelInfo);
    if (record == nullptr) return 0;
    TaskKind<Record>::request_stop(*record);
    TaskThread*& thread = task_core(*record).thread;
    if (thread != nullptr && thread->joinable()) {
        thread->join();
        TaskThread::destroy(thread);
        thread = nullptr;
    }
    TaskKind<Record>::release(*record);
    std::free(record);
    return 1;
}

// Position, for every kind: the percent the worker last stored, or -1 for
// the two handles that name no task.
template <class Record>
int task_position(int64_t fd, const char* null_check, uint32_t level) {
    Record* record = task_record<Record>(fd, null_check, level);
    return record == nullptr ? -1 : task_core(*record).pos.load(kRelaxed);
}

// Calls the record's callback, when it has one, on the worker thread.
template <class Record>
void notify(Record* record, int event, void* data, uint32_t length) {
    if (record->callback != nullptr) record->callback(record, event, data, length, record->user_data);
}

// libcurl's callbacks run inside C frames, which nothing may be thrown
// through: a callback body that throws (no memory for a log line) gives
// `failure` instead.
template <class Result, class Fn>
Result guard_callback(Result failure, Fn&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

// A worker's whole body. Whatever is thrown below it (no memory, the engine
// failing to load on a worker that made the first libcurl call) is logged
// under `name` at level 35 and ends the worker, never the process; such a
// worker leaves `finished` at 0 and sends no end event.
template <class Fn>
void guard_worker(const char* name, Fn&& body) noexcept {
    try {
        body();
    } catch (const std::exception& e) {
        qn::api::log_escaped_exception(name, e.what());
    } catch (...) {
        qn::api::log_escaped_exception(name, "unknown exception");
    }
}

// size × count as a callback length: cut to 32 bits.
inline uint32_t chunk_length(size_t size, size_t count) {
    return static_cast<uint32_t>(size * count);
}

// The percent of `now` in `total`, truncated toward zero.
inline int32_t percent_of(double now, double total) {
    return static_cast<int32_t>(now * 100.0 / total);
}

}  // namespace transfer
}  // namespace qn

#endif  // QN_TRANSFER_TASK_H
