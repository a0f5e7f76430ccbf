// What every task kind shares: the worker thread, the record's allocation
// and copies, the process-wide registry of live tasks, the start with its
// failure path, the handle, the callback's events, and the stop protocol. A
// task kind brings its record and a TaskKind specialisation; everything else
// is here, so that start and stop work the same way for downloads, uploads
// and the multipart task.
//
//     auto* info = new_task_record<my_info>("info == NULL", qn::log::kLevelError);
//     if (info == nullptr) return -1;
//     copy_text(info->url, url);
//     return start_task<my_info, &my_worker>(info, qn::log::kLevelInfo);
//     ...
//     return stop_task<my_info>(fd, "info == NULL");
//
// Records are plain heap blocks from malloc, zeroed in full (padding
// included), laid out as hosts read them (record_layout.cpp). The fields
// that the caller's thread and the worker share without a lock are
// std::atomic and used with relaxed ordering: each is a whole value whose
// newest state nobody depends on seeing at once. Everything else the worker
// touches (the file stream, the copies, the record itself) is handed back to
// the caller's thread by the join, before the stop reads it.
//
// Handles come from hosts, and hosts get them wrong: a handle stopped twice,
// used after its stop, stopped from the task's own callback, given to an
// export of another kind, or a task left running when the library is
// unloaded. The registry (task.cpp) knows every task this library started,
// and of which kind; every stop, position and control looks the handle up
// there first, under the registry's lock, so that a handle that names no
// live task of the export's kind is refused without being touched.
#ifndef QN_TRANSFER_TASK_H
#define QN_TRANSFER_TASK_H

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include "api/export_guard.h"
#include "log/log_record.h"
#include "platform/platform.h"
#include "quillnet.h"

namespace qn {
namespace transfer {

constexpr std::memory_order kRelaxed = std::memory_order_relaxed;

// The name a task's worker thread carries where the system names threads.
constexpr char kTaskThreadName[] = "quillnet task";

// The worker thread of one task (platform/platform.h: on Windows it keeps
// the library loaded for as long as it runs).
using TaskThread = qn::platform::Thread;

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

// The record a handle given to a control export would name; null after
// logging "fd == -1" or `null_check` at `level` for the two handles that
// name none. Whether a task lives there is the registry's to say.
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

// A record kind as the registry knows it, without its type: the address of
// its TaskOps is its identity, and the two operations are what an unload
// does to a task of the kind that is still live.
struct TaskOps {
    void (*request_stop)(void* record);
    void (*release)(void* record);
};

template <class Record>
void request_stop_of(void* record) {
    TaskKind<Record>::request_stop(*static_cast<Record*>(record));
}

template <class Record>
void release_of(void* record) {
    TaskKind<Record>::release(*static_cast<Record*>(record));
}

template <class Record>
inline constexpr TaskOps kTaskOps = {&request_stop_of<Record>, &release_of<Record>};

// ---- The registry (task.cpp) ----------------------------------------------

// Registers `record` as a live task of `kind` and starts proc(record) on a
// thread of its own, storing the thread in `*thread` (the record's `thread`
// field), all under the registry's lock, so that a stop from the worker's
// very first callback finds the task whole. A kept task (the threaded
// upload, which has no stop export) stays live until the library is
// unloaded; its thread is joined soon after its worker returns, its record
// stays. False when the thread could not be started or registered, or once
// the library is being unloaded: the record is then the caller's to free.
bool register_and_start(void* record, const TaskOps& kind, qn::platform::ThreadProc proc, TaskThread** thread,
                        bool kept) noexcept;

// Runs fn(record, context) under the registry's lock when `record` is a
// live task of `kind`, so that no stop can free it meanwhile; false, without
// calling fn, for any other address.
bool visit_live_task(const void* record, const TaskOps& kind, void (*fn)(void*, void*), void* context);

enum class Taken {
    kNotLive,   // names no live task of the kind: refused
    kTaken,     // out of the registry: the stop joins, releases and retires
    kSelfStop,  // asked on the task's own worker, which cannot wait for
                // itself: the worker releases and retires the record when
                // it returns, and its thread is joined later
};

// Takes a live task out of the registry for its stop, so that a second stop,
// and every later use of the handle, is refused.
Taken take_live_task(const void* record, const TaskOps& kind);

// Frees a stopped task's record, but not at once: the block is kept from
// the allocator until kRetiredRecords later records have been retired, so
// that for that long no newer task can be given the same address and a
// stale handle cannot name it. (The handle must stay the record's address:
// hosts read the records.)
constexpr size_t kRetiredRecords = 64;
void retire_task_record(void* record) noexcept;

// True once the library is being unloaded. A kept task's worker, whose
// record has no stop flag, aborts its transfer then.
bool tasks_unloading() noexcept;

// Stops every live task (its stop flag, as a stop sets it), waits for every
// worker the library started, self-stopped ones included, frees every
// record, and refuses later starts. For the library's unload and the
// process's end, before anything a worker uses goes away: the registry
// calls it first thing when the library is unloaded, and a process-wide
// object that workers use and that is destroyed at unload calls it from its
// destructor. Does nothing when no task was ever started, the second time,
// or while Windows ends the process (its threads are gone already).
void end_all_tasks() noexcept;

// The worker's side. The thread running a task's worker knows its record,
// so that a stop from its own callback is told apart; when the worker
// returns after such a stop, it releases and retires its own record. A kept
// task's thread is marked ended, to be joined by the next start or stop.
void set_running_task(void* record) noexcept;
void worker_returned(void* record) noexcept;

template <class Record, void (*Worker)(Record*)>
void run_worker(void* record) {
    set_running_task(record);
    Worker(static_cast<Record*>(record));
    set_running_task(nullptr);
    worker_returned(record);
}

// The last steps of every start export: registers the task, starts Worker
// on the record and returns the handle. When the thread cannot be made or
// started, logs "!os_thread_create" at `level`, releases the record's
// copies and the record, and returns -1: nothing is left allocated.
template <class Record, void (*Worker)(Record*)>
int64_t start_task(Record* record, uint32_t level, bool kept = false) {
    if (!register_and_start(record, kTaskOps<Record>, &run_worker<Record, Worker>, &task_core(*record).thread,
                            kept)) {
        // Freed before the line is written, which may throw for want of
        // memory.
        TaskKind<Record>::release(*record);
        std::free(record);
        qn::log::Record(level) << "!os_thread_create" << "\n";
        return -1;
    }
    return task_handle(record);
}

// The refusal of a handle that names no live task of the export's kind
// (never issued, stopped already, another kind's), logged like the other
// handle checks, at their level.
inline void refuse_handle(uint32_t level) {
    qn::log::Record(level) << "!is_live_task(fd)" << "\n";
}

// Calls fn(record) under the registry's lock when `fd` names a live task of
// the kind; otherwise logs the check that failed at `level` and returns
// false.
template <class Record, class Fn>
bool with_live_task(int64_t fd, const char* null_check, uint32_t level, Fn fn) {
    Record* record = task_record<Record>(fd, null_check, level);
    if (record == nullptr) return false;
    const auto call = [](void* r, void* f) { (*static_cast<Fn*>(f))(*static_cast<Record*>(r)); };
    if (visit_live_task(record, kTaskOps<Record>, call, &fn)) return true;
    refuse_handle(level);
    return false;
}

// Stop, for every kind: the handle checks (level 25), the stop flag, the
// join (the worker's own clean-up included), then the file and the copies,
// then the record. 1 when the task was stopped and released; asked from
// the task's own callback, 1 as well, the release then following when the
// worker returns.
template <class Record>
int stop_task(int64_t fd, const char* null_check) {
    Record* record = task_record<Record>(fd, null_check, qn::log::kLevelInfo);
    if (record == nullptr) return 0;
    const Taken taken = take_live_task(record, kTaskOps<Record>);
    if (taken == Taken::kNotLive) {
        refuse_handle(qn::log::kLevelInfo);
        return 0;
    }
    TaskKind<Record>::request_stop(*record);
    if (taken == Taken::kSelfStop) return 1;
    TaskThread*& thread = task_core(*record).thread;
    qn::platform::join_thread(thread);
    thread = nullptr;
    TaskKind<Record>::release(*record);
    retire_task_record(record);
    return 1;
}

// Position, for every kind: the percent the worker last stored, or -1 for a
// handle that names no live task of the kind.
template <class Record>
int task_position(int64_t fd, const char* null_check, uint32_t level) {
    int pos = -1;
    with_live_task<Record>(fd, null_check, level,
                           [&pos](Record& record) { pos = task_core(record).pos.load(kRelaxed); });
    return pos;
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
