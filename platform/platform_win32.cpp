#include "platform.h"

#include <windows.h>
#include <tlhelp32.h>

#include <string>

namespace qn {
namespace platform {

std::string module_file_name(const char* windows_name) {
    return windows_name != nullptr ? std::string(windows_name) : std::string();
}

ModuleHandle load_module(const char* file_name) {
    // LoadLibraryA with a bare name already searches the executable's
    // directory first.
    return file_name != nullptr ? reinterpret_cast<ModuleHandle>(::LoadLibraryA(file_name)) : nullptr;
}

ModuleHandle load_module_path(const std::string& path) {
    return reinterpret_cast<ModuleHandle>(::LoadLibraryA(path.c_str()));
}

ModuleHandle find_loaded_module(const char* file_name) {
    if (file_name == nullptr) return nullptr;
    const int n = ::MultiByteToWideChar(CP_ACP, 0, file_name, -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, file_name, -1, &wide[0], n);
    return reinterpret_cast<ModuleHandle>(::GetModuleHandleW(wide.c_str()));
}

void* find_symbol(ModuleHandle module, const char* name) {
    if (module == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(reinterpret_cast<HMODULE>(module), name));
}

void free_module(ModuleHandle module) {
    if (module != nullptr) ::FreeLibrary(reinterpret_cast<HMODULE>(module));
}

uint32_t last_error() {
    return static_cast<uint32_t>(::GetLastError());
}

std::string executable_path() {
    char buf[MAX_PATH] = {0};
    const DWORD n = ::GetModuleFileNameA(nullptr, buf, MAX_PATH);
    return std::string(buf, n);
}

std::string executable_dir() {
    std::string path = executable_path();
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

uint32_t current_thread_id() {
    return static_cast<uint32_t>(::GetCurrentThreadId());
}

uint32_t main_thread_id() {
    // The oldest thread of the process is its main thread.
    const DWORD pid = ::GetCurrentProcessId();
    HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return current_thread_id();
    THREADENTRY32 entry;
    entry.dwSize = sizeof(entry);
    uint32_t result = current_thread_id();
    if (::Thread32First(snap, &entry)) {
        do {
            if (entry.th32OwnerProcessID == pid) {
                result = entry.th32ThreadID;
                break;
            }
        } while (::Thread32Next(snap, &entry));
    }
    ::CloseHandle(snap);
    return result;
}

void debug_output(const char* text) {
    if (text != nullptr) ::OutputDebugStringA(text);
}

}  // namespace platform
}  // namespace qn
