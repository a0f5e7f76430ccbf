// Lock annotations for Clang's thread-safety analysis (-Wthread-safety, on
// in every clang build), and the mutex they are checked against. The
// standard library's std::mutex carries no annotations, so shared state is
// guarded by a Mutex from here:
//
//     qn::platform::Mutex mutex_;
//     std::map<std::string, int> table_ QN_GUARDED_BY(mutex_);
//     void Purge() QN_REQUIRES(mutex_);   // only with mutex_ held
//
// With other compilers the annotations are empty and Mutex is std::mutex
// with the same cost.
#ifndef QN_PLATFORM_THREAD_SAFETY_H
#define QN_PLATFORM_THREAD_SAFETY_H

#include <mutex>

#if defined(__clang__)
#define QN_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define QN_THREAD_ANNOTATION(x)
#endif

#define QN_CAPABILITY(x) QN_THREAD_ANNOTATION(capability(x))
#define QN_SCOPED_CAPABILITY QN_THREAD_ANNOTATION(scoped_lockable)
#define QN_GUARDED_BY(x) QN_THREAD_ANNOTATION(guarded_by(x))
#define QN_REQUIRES(...) QN_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define QN_EXCLUDES(...) QN_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define QN_ACQUIRE(...) QN_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define QN_RELEASE(...) QN_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define QN_TRY_ACQUIRE(...) QN_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))

namespace qn {
namespace platform {

// std::mutex, annotated. Lockable, so std::condition_variable_any can wait
// on it.
class QN_CAPABILITY("mutex") Mutex {
public:
    void lock() QN_ACQUIRE() { mutex_.lock(); }
    void unlock() QN_RELEASE() { mutex_.unlock(); }
    bool try_lock() QN_TRY_ACQUIRE(true) { return mutex_.try_lock(); }

private:
    std::mutex mutex_;
};

// Holds a Mutex for a scope.
class QN_SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) QN_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~MutexLock() QN_RELEASE() { mutex_.unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Mutex& mutex_;
};

}  // namespace platform
}  // namespace qn

#endif  // QN_PLATFORM_THREAD_SAFETY_H
