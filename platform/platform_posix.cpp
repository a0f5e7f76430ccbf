#include "platform.h"

#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace qn {
namespace platform {

namespace {

thread_local uint32_t t_last_error = 0;

ModuleHandle open_module(const char* path, int extra_flags) {
    errno = 0;
    void* handle = ::dlopen(path, RTLD_NOW | RTLD_LOCAL | extra_flags);
    if (handle == nullptr) {
        // dlopen reports through dlerror(); errno still holds the reason of
        // the failed open() when the file was missing or unreadable.
        t_last_error = errno != 0 ? static_cast<uint32_t>(errno) : static_cast<uint32_t>(ENOENT);
    }
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
    return ::dlsym(module, name);
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

uint32_t main_thread_id() {
    // On Linux the main thread's id is the process id.
    return static_cast<uint32_t>(::getpid());
}

void debug_output(const char* text) {
    if (text == nullptr) return;
    std::fputs(text, stderr);
    std::fflush(stderr);
}

}  // namespace platform
}  // namespace qn
