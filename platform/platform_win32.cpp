#include "platform.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstring>
#include <new>
#include <string>

// Exported by ntdll, not declared by the SDK headers.
extern "C" __declspec(dllimport) BOOLEAN NTAPI RtlDllShutdownInProgress();

namespace qn {
namespace platform {

namespace {

// The error of the last failed load or lookup on this thread, taken right
// after the failing call: building a report may run code that changes
// GetLastError before the reporter asks for it.
thread_local uint32_t t_last_error = 0;

HMODULE as_hmodule(ModuleHandle module) {
    return static_cast<HMODULE>(module);
}

ModuleHandle remember_failure(HMODULE module) {
    if (module == nullptr) t_last_error = static_cast<uint32_t>(::GetLastError());
    return module;
}

// FILETIME as one number, for comparing.
ULONGLONG ticks(const FILETIME& t) {
    return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

}  // namespace

std::string module_file_name(const char* windows_name) {
    return windows_name != nullptr ? std::string(windows_name) : std::string();
}

ModuleHandle load_module(const char* file_name) {
    // A bare name is looked for in the executable's folder first, then along
    // the system's module search path.
    if (file_name == nullptr) return nullptr;
    return remember_failure(::LoadLibraryA(file_name));
}

ModuleHandle load_module_path(const std::string& path) {
    return remember_failure(::LoadLibraryA(path.c_str()));
}

ModuleHandle find_loaded_module(const char* file_name) {
    if (file_name == nullptr) return nullptr;
    const int n = ::MultiByteToWideChar(CP_ACP, 0, file_name, -1, nullptr, 0);
    if (n <= 0) return nullptr;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, file_name, -1, &wide[0], n);
    return ::GetModuleHandleW(wide.c_str());
}

void* find_symbol(ModuleHandle module, const char* name) {
    if (module == nullptr || name == nullptr) return nullptr;
    const FARPROC symbol = ::GetProcAddress(as_hmodule(module), name);
    if (symbol == nullptr) {
        t_last_error = static_cast<uint32_t>(::GetLastError());
        return nullptr;
    }
    // Function and object pointers have one size and representation on
    // Windows; GetProcAddress hands out both as FARPROC.
    void* address;
    static_assert(sizeof(address) == sizeof(symbol), "code and data pointers differ");
    std::memcpy(&address, &symbol, sizeof(address));
    return address;
}

void free_module(ModuleHandle module) {
    if (module != nullptr) ::FreeLibrary(as_hmodule(module));
}

uint32_t last_error() {
    return t_last_error;
}

std::string executable_path() {
    // MAX_PATH characters at most, as the host's own modules assume.
    char buf[MAX_PATH + 1] = {0};
    const DWORD n = ::GetModuleFileNameA(nullptr, buf, MAX_PATH);
    return std::string(buf, n);
}

std::string executable_dir() {
    static const std::string dir = [] {
        const std::string path = executable_path();
        const size_t slash = path.find_last_of("/\\");
        return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    }();
    return dir;
}

uint32_t current_thread_id() {
    return static_cast<uint32_t>(::GetCurrentThreadId());
}

uint32_t main_thread_id() {
    // Windows names no main thread; the one that started first is it. A
    // thread whose times cannot be read is passed over.
    static const uint32_t id = [] {
        const DWORD pid = ::GetCurrentProcessId();
        DWORD oldest = ::GetCurrentThreadId();
        HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
        if (snap == INVALID_HANDLE_VALUE) return static_cast<uint32_t>(oldest);
        THREADENTRY32 entry;
        entry.dwSize = sizeof(entry);
        ULONGLONG oldest_start = ~0ULL;
        for (BOOL more = ::Thread32First(snap, &entry); more; more = ::Thread32Next(snap, &entry)) {
            if (entry.th32OwnerProcessID != pid) continue;
            HANDLE thread = ::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID);
            if (thread == nullptr) continue;
            FILETIME created, exited, kernel, user;
            if (::GetThreadTimes(thread, &created, &exited, &kernel, &user) && ticks(created) < oldest_start) {
                oldest_start = ticks(created);
                oldest = entry.th32ThreadID;
            }
            ::CloseHandle(thread);
        }
        ::CloseHandle(snap);
        return static_cast<uint32_t>(oldest);
    }();
    return id;
}

void name_current_thread(const char* name) {
    // SetThreadDescription came with Windows 10 (1607): looked up, so that
    // the library still loads on older systems.
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    static const auto set = reinterpret_cast<SetDescription>(
        find_symbol(find_loaded_module("kernel32.dll"), "SetThreadDescription"));
    if (set == nullptr || name == nullptr) return;
    const std::string narrow(name);
    set(::GetCurrentThread(), std::wstring(narrow.begin(), narrow.end()).c_str());
}

void debug_output(const char* text) {
    if (text != nullptr) ::OutputDebugStringA(text);
}

bool process_ending() {
    return RtlDllShutdownInProgress() != FALSE;
}

struct Thread {
    HANDLE handle;
    ThreadProc proc;
    void* arg;
    const char* name;
    HMODULE module;  // the reference the thread holds until its last call
};

namespace {

thread_local const Thread* t_current_thread = nullptr;

// Any address inside the module this code is linked into.
const char kModuleAnchor = 0;

DWORD WINAPI thread_main(LPVOID self_ptr) {
    auto* self = static_cast<Thread*>(self_ptr);
    // Read now: once proc has returned, the object may be freed by a join
    // that sees the thread end, or by an unload that does not wait.
    const HMODULE module = self->module;
    t_current_thread = self;
    name_current_thread(self->name);
    self->proc(self->arg);
    t_current_thread = nullptr;
    // Drops the module and ends the thread in one call that runs outside
    // the module: when this was the last reference, the module is unloaded
    // here, with nothing of it left to return into.
    ::FreeLibraryAndExitThread(module, 0);
    return 0;
}

}  // namespace

Thread* start_thread(ThreadProc proc, void* arg, const char* name) noexcept {
    auto* thread = new (std::nothrow) Thread{nullptr, proc, arg, name, nullptr};
    if (thread == nullptr) return nullptr;
    // Taken here, before the thread exists: a host's FreeLibrary between
    // the start and the thread's first instruction cannot unload the code.
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                              reinterpret_cast<LPCWSTR>(&kModuleAnchor), &thread->module)) {
        delete thread;
        return nullptr;
    }
    thread->handle = ::CreateThread(nullptr, 0, &thread_main, thread, 0, nullptr);
    if (thread->handle == nullptr) {
        ::FreeLibrary(thread->module);
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
    if (!is_current_thread(thread)) ::WaitForSingleObject(thread->handle, INFINITE);
    ::CloseHandle(thread->handle);
    delete thread;
}

void end_thread_at_unload(Thread* thread) noexcept {
    if (thread == nullptr) return;
    ::CloseHandle(thread->handle);
    delete thread;
}

void prefer_large_pages(void*, size_t) {}

}  // namespace platform
}  // namespace qn
