#include "transfer/task.h"

#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/thread_safety.h"

namespace qn {
namespace transfer {

bool copy_bytes(const char* bytes, int32_t len, char** copy, int32_t* copy_len) {
    *copy = nullptr;
    *copy_len = 0;
    if (bytes == nullptr || len < 1) return true;
    char* block = static_cast<char*>(std::calloc(static_cast<size_t>(len) + 1, 1));
    if (block == nullptr) return false;
    std::memcpy(block, bytes, static_cast<size_t>(len));
    *copy = block;
    *copy_len = len;
    return true;
}

namespace {

// The task whose worker runs on this thread, and, once a stop for it came
// from this very thread (its own callback), the task's kind.
thread_local void* t_running_task = nullptr;
thread_local const TaskOps* t_stopped_itself = nullptr;

struct LiveTask {
    const TaskOps* kind;
    TaskThread* thread;
    TaskThread** thread_field;  // the record's `thread`
    bool kept;
    bool ended;  // a kept task's worker has returned
};

// A task stopped from its own callback: its worker releases the record; the
// registry joins the thread once the worker has said it returned.
struct SelfStopped {
    const void* record;
    TaskThread* thread;
    bool ended;
};

class TaskRegistry {
public:
    bool start(void* record, const TaskOps& kind, qn::platform::ThreadProc proc, TaskThread** thread, bool kept) {
        qn::platform::MutexLock lock(mutex_);
        if (closed_) return false;
        reap();
        const auto added = live_.emplace(record, LiveTask{&kind, nullptr, thread, kept, false});
        if (!added.second) return false;  // a live record's address: cannot be, malloc gave it anew
        TaskThread* started = qn::platform::start_thread(proc, record, kTaskThreadName);
        if (started == nullptr) {
            live_.erase(added.first);
            return false;
        }
        added.first->second.thread = started;
        *thread = started;
        return true;
    }

    bool visit(const void* record, const TaskOps& kind, void (*fn)(void*, void*), void* context) {
        qn::platform::MutexLock lock(mutex_);
        const auto it = live_.find(record);
        if (it == live_.end() || it->second.kind != &kind) return false;
        fn(const_cast<void*>(record), context);
        return true;
    }

    Taken take(const void* record, const TaskOps& kind) {
        qn::platform::MutexLock lock(mutex_);
        const auto it = live_.find(record);
        if (it == live_.end() || it->second.kind != &kind || it->second.kept) return Taken::kNotLive;
        if (t_running_task == record) {
            self_stopped_.push_back(SelfStopped{record, it->second.thread, false});
            live_.erase(it);
            t_stopped_itself = &kind;
            return Taken::kSelfStop;
        }
        live_.erase(it);
        reap();
        return Taken::kTaken;
    }

    // The block to free now: the oldest retired one, or `record` itself once
    // the registry is closed.
    void* retire(void* record) {
        qn::platform::MutexLock lock(mutex_);
        return retire_locked(record);
    }

    void worker_returned(void* record) {
        const TaskOps* self_kind = t_stopped_itself;
        t_stopped_itself = nullptr;
        // Outside the lock: closing a file may take a while.
        if (self_kind != nullptr) self_kind->release(record);
        void* to_free = nullptr;
        {
            qn::platform::MutexLock lock(mutex_);
            if (self_kind != nullptr) to_free = retire_locked(record);
            // The worker's last use of the registry: a thread marked ended
            // may be joined under the lock from here on.
            for (SelfStopped& task : self_stopped_) {
                if (task.record == record) task.ended = true;
            }
            const auto it = live_.find(record);
            if (it != live_.end() && it->second.kept) it->second.ended = true;
        }
        std::free(to_free);
    }

    void close() {
        std::unordered_map<const void*, LiveTask> live;
        std::vector<SelfStopped> self_stopped;
        void* retired[kRetiredRecords] = {};
        {
            qn::platform::MutexLock lock(mutex_);
            if (closed_) return;
            closed_ = true;
            unloading_.store(true, kRelaxed);
            live.swap(live_);
            self_stopped.swap(self_stopped_);
            std::swap(retired, retired_);
        }
        // Every task is told first, so that all of them wind down together.
        for (const auto& entry : live) {
            if (!entry.second.kept) entry.second.kind->request_stop(const_cast<void*>(entry.first));
        }
        for (const auto& entry : live) {
            qn::platform::end_thread_at_unload(entry.second.thread);
            *entry.second.thread_field = nullptr;
            entry.second.kind->release(const_cast<void*>(entry.first));
            std::free(const_cast<void*>(entry.first));
        }
        // Their workers release their own records, retired to no one now.
        for (const SelfStopped& task : self_stopped) qn::platform::end_thread_at_unload(task.thread);
        for (void* block : retired) std::free(block);
    }

    bool unloading() const { return unloading_.load(kRelaxed); }

private:
    void* retire_locked(void* record) QN_REQUIRES(mutex_) {
        if (closed_) return record;
        void* oldest = retired_[next_retired_];
        retired_[next_retired_] = record;
        next_retired_ = (next_retired_ + 1) % kRetiredRecords;
        return oldest;
    }

    // Joins the threads whose workers have returned and told so: a kept
    // task's, and a self-stopped task's. Their last use of the registry was
    // that word, so the join under the lock is short and cannot wait for
    // the lock itself.
    void reap() QN_REQUIRES(mutex_) {
        for (auto& entry : live_) {
            LiveTask& task = entry.second;
            if (task.kept && task.ended && task.thread != nullptr) {
                qn::platform::join_thread(task.thread);
                task.thread = nullptr;
                *task.thread_field = nullptr;
            }
        }
        for (size_t i = 0; i < self_stopped_.size();) {
            if (self_stopped_[i].ended) {
                qn::platform::join_thread(self_stopped_[i].thread);
                self_stopped_[i] = self_stopped_.back();
                self_stopped_.pop_back();
            } else {
                ++i;
            }
        }
    }

    qn::platform::Mutex mutex_;
    std::unordered_map<const void*, LiveTask> live_ QN_GUARDED_BY(mutex_);
    std::vector<SelfStopped> self_stopped_ QN_GUARDED_BY(mutex_);
    void* retired_[kRetiredRecords] QN_GUARDED_BY(mutex_) = {};
    size_t next_retired_ QN_GUARDED_BY(mutex_) = 0;
    bool closed_ QN_GUARDED_BY(mutex_) = false;
    std::atomic<bool> unloading_{false};
};

std::atomic<TaskRegistry*> g_registry{nullptr};

// Closes the registry when the process ends (and, as a second line, when
// the library is unloaded). Made with the registry, at the first start.
class CloseAtExit {
public:
    CloseAtExit() = default;
    ~CloseAtExit() { end_all_tasks(); }
    CloseAtExit(const CloseAtExit&) = delete;
    CloseAtExit& operator=(const CloseAtExit&) = delete;
};

TaskRegistry& registry() {
    // Never freed: a worker still ending when the process ends may use it.
    static TaskRegistry* const instance = [] {
        auto* made = new TaskRegistry();
        g_registry.store(made);
        return made;
    }();
    static CloseAtExit closer;
    return *instance;
}

#if defined(__GNUC__) && !defined(_WIN32)
// dlclose runs this before any static object of the library is destroyed:
// the workers end while everything they use is still there, whichever of
// those objects was made first. (When the process ends the order is the
// other way round, and the closer above, with the destructors of the
// objects workers use, serves instead.)
__attribute__((destructor)) void end_tasks_at_unload() {
    end_all_tasks();
}
#endif

}  // namespace

bool register_and_start(void* record, const TaskOps& kind, qn::platform::ThreadProc proc, TaskThread** thread,
                        bool kept) noexcept {
    try {
        return registry().start(record, kind, proc, thread, kept);
    } catch (...) {  // no memory for the registry or its entry
        return false;
    }
}

bool visit_live_task(const void* record, const TaskOps& kind, void (*fn)(void*, void*), void* context) {
    return registry().visit(record, kind, fn, context);
}

Taken take_live_task(const void* record, const TaskOps& kind) {
    return registry().take(record, kind);
}

void retire_task_record(void* record) noexcept {
    std::free(registry().retire(record));
}

bool tasks_unloading() noexcept {
    const TaskRegistry* made = g_registry.load();
    return made != nullptr && made->unloading();
}

void end_all_tasks() noexcept {
    // Windows has stopped every other thread already when the process ends.
    if (qn::platform::process_ending()) return;
    TaskRegistry* made = g_registry.load();
    if (made == nullptr) return;
    try {
        made->close();
    } catch (...) {
        // No memory to hold the lists: what is left stays as it is.
    }
}

void set_running_task(void* record) noexcept {
    t_running_task = record;
}

void worker_returned(void* record) noexcept {
    TaskRegistry* made = g_registry.load();
    if (made != nullptr) made->worker_returned(record);
}

}  // namespace transfer
}  // namespace qn
