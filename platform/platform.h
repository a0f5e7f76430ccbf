// The operating-system services quillnet and its stand-in host modules use:
// loading modules, thread ids, debugger output and the executable's path.
// Everything above this layer is free of <windows.h> and <dlfcn.h>.
#ifndef QN_PLATFORM_H
#define QN_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace qn {
namespace platform {

using ModuleHandle = void*;

// The file name of a module on this platform, given its Windows name:
// "libcurl.dll" -> "libcurl.so.4", "MJBase.dll" -> "libMJBase.so",
// "hubcore.dll" -> "libhubcore.so" on Linux; unchanged on Windows. Names
// without a mapping are returned as they are.
std::string module_file_name(const char* windows_name);

// Loads a module by bare file name with the platform's normal search order.
// As on Windows, the directory of the running executable is searched first;
// after that the dynamic loader's own search applies. Null on failure.
ModuleHandle load_module(const char* file_name);

// Loads a module from a full path. Null on failure.
ModuleHandle load_module_path(const std::string& path);

// A module already loaded into the process, found by bare file name (or
// soname), without loading it. Null when it is not loaded.
ModuleHandle find_loaded_module(const char* file_name);

void* find_symbol(ModuleHandle module, const char* name);
void free_module(ModuleHandle module);

// Error code of the last failed module load or symbol lookup on this
// thread: GetLastError on Windows; elsewhere the dynamic loader's report
// mapped to the Windows code of the same failure (126 module not found,
// 127 symbol not found, 193 not a loadable module, 5 access denied, 31 any
// other); 0 before any failure.
uint32_t last_error();

// Full path of the running executable; empty when unknown.
std::string executable_path();

// Directory of the running executable, ending in a separator; empty when
// unknown.
std::string executable_dir();

// The operating system's id of the calling thread.
uint32_t current_thread_id();

// The process's main thread.
uint32_t main_thread_id();

// Gives the calling thread an ASCII name for debuggers and process
// listings (Linux keeps the first 15 characters). Where the system has no
// thread names (Windows before 10), nothing happens.
void name_current_thread(const char* name);

// A thread of the library's own: a task worker, a threaded upload, the
// request cache's cleaner. Everything about it is here, because what makes
// it safe to unload the library differs between the systems:
//
// - On Windows the thread holds a reference to the module this code is
//   linked into, taken on the starting thread before the thread exists and
//   dropped by its very last call (FreeLibraryAndExitThread). A host's
//   FreeLibrary then only drops the host's own reference while such a thread
//   runs; the module goes away after the last one has ended, and never waits
//   for any of them under the loader lock (which an ending thread needs).
// - On Linux, dlclose unmaps the code once the library's destructors have
//   run, so those destructors wait for every such thread (join_thread, or
//   end_thread_at_unload).
struct Thread;
using ThreadProc = void (*)(void*);

// Starts proc(arg) at the default stack size; the thread carries `name`
// (a text that outlives it) where the system names threads. Null when no
// thread could be started.
Thread* start_thread(ThreadProc proc, void* arg, const char* name) noexcept;

// True on `thread` itself.
bool is_current_thread(const Thread* thread) noexcept;

// Waits until `thread` has returned, then frees it. On the thread itself it
// cannot wait: it only frees the object and lets the thread run out.
void join_thread(Thread* thread) noexcept;

// What the library's unload does with one of its threads that has been told
// to end: join_thread on Linux; on Windows it frees the object without
// waiting, since the unload runs under the loader lock and the thread, which
// held the module until its last call, has left the library's code already.
void end_thread_at_unload(Thread* thread) noexcept;

// Debugger output: OutputDebugStringA on Windows, stderr elsewhere.
void debug_output(const char* text);

// True while the process ends and the modules' static objects are being
// destroyed after every other thread was stopped (Windows stops them
// before it tells the modules): code run then must not wait for a thread
// or take a lock another thread may have held. False on Linux, where the
// other threads still run at that point, and when a module is unloaded
// from a running process.
bool process_ending();

// Asks the system to back the heap block at `block` (of `bytes`) with large
// pages where it can, for a block that is about to be filled whole: on
// Linux with transparent huge pages, first touching it then costs one page
// fault per 2 MiB instead of one per 4 KiB, which for blocks of hundreds of
// megabytes is most of the time spent filling them. The block stays an
// ordinary heap block (realloc and free as before); where there is no such
// advice (Windows), nothing happens.
void prefer_large_pages(void* block, size_t bytes);

}  // namespace platform
}  // namespace qn

#endif  // QN_PLATFORM_H
