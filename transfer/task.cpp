#include "transfer/task.h"

#include <system_error>

#if defined(__linux__)
#include <pthread.h>
#endif

namespace qn {
namespace transfer {

TaskThread* TaskThread::create(Proc proc, void* arg) noexcept {
    TaskThread* thread = new (std::nothrow) TaskThread();
    if (thread == nullptr) return nullptr;
    try {
        thread->thread_ = std::thread([proc, arg] {
#if defined(__linux__)
            // Named, so that a host's debugger and ps tell task workers apart.
            pthread_setname_np(pthread_self(), kTaskThreadName);
#endif
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

}  // namespace transfer
}  // namespace qn
