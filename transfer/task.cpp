#include "transfer/task.h"

#include <system_error>
#include <vector>

#include "platform/platform.h"
#include "platform/thread_safety.h"

namespace qn {
namespace transfer {

TaskThread* TaskThread::create(Proc proc, void* arg) noexcept {
    TaskThread* thread = new (std::nothrow) TaskThread();
    if (thread == nullptr) return nullptr;
    try {
        thread->thread_ = std::thread([proc, arg] {
            // Named, so that a host's debugger and ps tell task workers apart.
            platform::name_current_thread(kTaskThreadName);
            proc(arg);
        });
    } catch (...) {  // no thread (std::system_error) or no memory for its state
        delete thread;
        return nullptr;
    }
    return thread;
}

void TaskThread::join() noexcept {
    try {
        thread_.join();
    } catch (const std::system_error&) {
        // Only a thread that is not joinable gets here, and callers test
        // joinable() first; there is nothing to wait for.
    }
}

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

struct TrackedTask {
    void* record = nullptr;
    TaskThread::Proc proc = nullptr;
    TaskThread** thread = nullptr;  // the record's `thread` field
    std::atomic<bool> returned{false};
};

void run_tracked(void* arg) {
    auto* task = static_cast<TrackedTask*>(arg);
    task->proc(task->record);
    task->returned.store(true, std::memory_order_release);
}

// Joins a tracked task's worker, if it still has one, and forgets it.
void join_tracked(TrackedTask& task) {
    TaskThread*& thread = *task.thread;
    if (thread == nullptr) return;
    if (thread->joinable()) thread->join();
    TaskThread::destroy(thread);
    thread = nullptr;
}

class TaskTracker {
public:
    bool start(void* record, TaskThread::Proc proc, TaskThread** thread) {
        qn::platform::MutexLock lock(mutex_);
        if (closed_) return false;
        for (TrackedTask* task : tasks_) {
            if (task->returned.load(std::memory_order_acquire)) join_tracked(*task);
        }
        auto* task = new (std::nothrow) TrackedTask();
        if (task == nullptr) return false;
        task->record = record;
        task->proc = proc;
        task->thread = thread;
        try {
            tasks_.push_back(task);
        } catch (...) {  // no memory for the list
            delete task;
            return false;
        }
        *thread = TaskThread::create(&run_tracked, task);
        if (*thread == nullptr) {
            tasks_.pop_back();
            delete task;
            return false;
        }
        return true;
    }

    // At unload: aborts what runs, then joins and frees everything. Later
    // starts are refused.
    void close() {
        std::vector<TrackedTask*> tasks;
        {
            qn::platform::MutexLock lock(mutex_);
            closed_ = true;
            unloading_.store(true, kRelaxed);
            tasks.swap(tasks_);
        }
        for (TrackedTask* task : tasks) {
            join_tracked(*task);
            std::free(task->record);
            delete task;
        }
    }

    bool unloading() const { return unloading_.load(kRelaxed); }

private:
    qn::platform::Mutex mutex_;
    std::vector<TrackedTask*> tasks_ QN_GUARDED_BY(mutex_);
    bool closed_ QN_GUARDED_BY(mutex_) = false;
    std::atomic<bool> unloading_{false};
};

// Closes the tracker when the library is unloaded or the process ends. Made
// with the tracker, at the first tracked start: whatever a tracked worker
// uses that ends with the library must be made before then, so that it
// ends after the workers are joined. The tracker itself is never freed.
class CloseAtUnload {
public:
    explicit CloseAtUnload(TaskTracker& tracker) : tracker_(tracker) {}
    ~CloseAtUnload() {
        // Windows has stopped the workers already when the process ends.
        if (!qn::platform::process_ending()) tracker_.close();
    }
    CloseAtUnload(const CloseAtUnload&) = delete;
    CloseAtUnload& operator=(const CloseAtUnload&) = delete;

private:
    TaskTracker& tracker_;
};

TaskTracker& tracker() {
    static TaskTracker* const instance = new TaskTracker();
    static CloseAtUnload closer(*instance);
    return *instance;
}

}  // namespace

bool track_task(void* record, TaskThread::Proc proc, TaskThread** thread) {
    try {
        return tracker().start(record, proc, thread);
    } catch (...) {  // no memory for the tracker: the caller frees the record
        return false;
    }
}

bool tasks_unloading() {
    return tracker().unloading();
}

}  // namespace transfer
}  // namespace qn
