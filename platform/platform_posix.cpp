#include "platform.h"

#include <dlfcn.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace qn {
namespace platform {

namespace {

thread_local uint32_t t_last_error = 0;

// The dynamic loader reports its failures only as text (dlerror, kept per
// thread). They are mapped to the codes Windows gives for the same failures,
// so that a report reads alike on both systems and stays stable across
// loader versions.
constexpr uint32_t kErrorAccessDenied = 5;       // ERROR_ACCESS_DENIED
constexpr uint32_t kErrorGenFailure = 31;        // ERROR_GEN_FAILURE: anything else
constexpr uint32_t kErrorModNotFound = 126;      // ERROR_MOD_NOT_FOUND
constexpr uint32_t kErrorProcNotFound = 127;     // ERROR_PROC_NOT_FOUND
constexpr uint32_t kErrorBadExeFormat = 193;     // ERROR_BAD_EXE_FORMAT

uint32_t loader_error_code(const char* text) {
    if (text == nullptr) return kErrorGenFailure;
    const std::string message(text);
    const auto says = [&message](const char* part) { return message.find(part) != std::string::npos; };
    if (says("undefined symbol")) return kErrorProcNotFound;
    if (says("No such file")) return kErrorModNotFound;
    if (says("Permission denied")) return kErrorAccessDenied;
    if (says("invalid ELF header") || says("wrong ELF class") || says("file too short") ||
        says("not an ELF")) {
        return kErrorBadExeFormat;
    }
    return kErrorGenFailure;
}

ModuleHandle open_module(const char* path, int extra_flags) {
    void* handle = ::dlopen(path, RTLD_NOW | RTLD_LOCAL | extra_flags);
    if (handle == nullptr) t_last_error = loader_error_code(::dlerror());
    return handle;
}

bool file_exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

}  // namespace

std::string module_file_name(const char* windows_name) {
    struct Mapping {
        const char* windows;
        const char* here;
    };
    static const Mapping kMappings[] = {
        {"libcurl.dll", "libcurl.so.4"},
        {"MJBase.dll", "libMJBase.so"},
        {"hubcore.dll", "libhubcore.so"},
        {"win32_quillnet.dll", "libquillnet.so"},
    };
    if (windows_name == nullptr) return std::string();
    for (const Mapping& m : kMappings) {
        if (std::strcmp(m.windows, windows_name) == 0) return m.here;
    }
    return windows_name;
}

ModuleHandle load_module(const char* file_name) {
    if (file_name == nullptr) return nullptr;
    if (std::strchr(file_name, '/') == nullptr) {
        const std::string beside = executable_dir() + file_name;
        if (!beside.empty() && file_exists(beside)) return open_module(beside.c_str(), 0);
    }
    return open_module(file_name, 0);
}

ModuleHandle load_module_path(const std::string& path) {
    return open_module(path.c_str(), 0);
}

ModuleHandle find_loaded_module(const char* file_name) {
    if (file_name == nullptr) return nullptr;
    const std::string beside = executable_dir() + file_name;
    void* handle = ::dlopen(beside.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) handle = ::dlopen(file_name, RTLD_NOW | RTLD_NOLOAD);
    return handle;
}

void* find_symbol(ModuleHandle module, const char* name) {
    if (module == nullptr || name == nullptr) return nullptr;
    ::dlerror();  // a symbol may be null on purpose; only a new error counts
    void* symbol = ::dlsym(module, name);
    if (symbol == nullptr) {
        const char* error = ::dlerror();
        if (error != nullptr) t_last_error = loader_error_code(error);
    }
    return symbol;
}

void free_module(ModuleHandle module) {
    if (module != nullptr) ::dlclose(module);
}

uint32_t last_error() {
    return t_last_error;
}

std::string executable_path() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) return std::string();
    return std::string(buf, static_cast<size_t>(n));
}

std::string executable_dir() {
    static const std::string dir = [] {
        std::string path = executable_path();
        const size_t slash = path.find_last_of('/');
        return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    }();
    return dir;
}

uint32_t current_thread_id() {
    return static_cast<uint32_t>(::syscall(SYS_gettid));
}

void name_current_thread(const char* name) {
#if defined(__linux__)
    // Longer names are refused: the first 15 characters are kept.
    if (name != nullptr) ::pthread_setname_np(::pthread_self(), std::string(name).substr(0, 15).c_str());
#else
    (void)name;
#endif
}

uint32_t main_thread_id() {
    // On Linux the main thread's id is the process id.
    return static_cast<uint32_t>(::getpid());
}

void debug_output(const char* text) {
    if (text == nullptr) return;
    std::fputs(text, stderr);
    std::fflush(stderr);
}

bool process_ending() {
    return false;
}

struct Thread {
    pthread_t id;
    ThreadProc proc;
    void* arg;
    const char* name;
};

namespace {

thread_local const Thread* t_current_thread = nullptr;

void* thread_main(void* self_ptr) {
    auto* self = static_cast<Thread*>(self_ptr);
    t_current_thread = self;
    name_current_thread(self->name);
    self->proc(self->arg);
    return nullptr;
}

}  // namespace

Thread* start_thread(ThreadProc proc, void* arg, const char* name) noexcept {
    auto* thread = new (std::nothrow) Thread{pthread_t(), proc, arg, name};
    if (thread == nullptr) return nullptr;
    if (::pthread_create(&thread->id, nullptr, &thread_main, thread) != 0) {
        delete thread;
        return nullptr;
    }
    return thread;
}

bool is_current_thread(const Thread* thread) noexcept {
    return thread != nullptr && t_current_thread == thread;
}

void join_thread(Thread* thread) noexcept {
    if (thread == nullptr) return;
    if (is_current_thread(thread)) {
        ::pthread_detach(thread->id);
    } else {
        ::pthread_join(thread->id, nullptr);
    }
    delete thread;
}

void end_thread_at_unload(Thread* thread) noexcept {
    join_thread(thread);
}

void prefer_large_pages(void* block, size_t bytes) {
#if defined(MADV_HUGEPAGE)
    // The advice covers the pages the block touches, rounded outwards: the
    // allocator maps a large block on pages of its own, with its header in
    // the first one, and advice that left out part of that mapping would
    // split it in two, after which realloc can no longer move or grow it
    // in place and copies it instead. Pages of neighbouring blocks that a
    // small block shares only get the hint as well.
    const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const uintptr_t from = reinterpret_cast<uintptr_t>(block) & ~(page - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(block) + bytes + page - 1) & ~(page - 1);
    if (block != nullptr && bytes > 0) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    (void)block;
    (void)bytes;
#endif
}

}  // namespace platform
}  // namespace qn
