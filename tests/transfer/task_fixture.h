// A task's end, the task workers alive, and start/stop cycles.
#ifndef QN_TEST_TRANSFER_TASK_FIXTURE_H
#define QN_TEST_TRANSFER_TASK_FIXTURE_H

#include <filesystem>

#include "fixture.h"  // first: the test server's winsock2.h must precede windows.h
#include "platform.h"
#include "transfer/task.h"

#if defined(_WIN32)
#include <windows.h>
#include <tlhelp32.h>
#endif

template <class Info>
bool finished(int64_t fd) {
    using qn::transfer::task_core;  // and the overloads of kinds that begin with another's
    return task_core(*reinterpret_cast<Info*>(fd)).finished.load(std::memory_order_relaxed) == 1;
}

#if defined(_WIN32)
// The task workers alive in this process, known by their description.
inline int task_threads() {
    using GetDescription = HRESULT(WINAPI*)(HANDLE, PWSTR*);
    static const auto get = reinterpret_cast<GetDescription>(
        qn::platform::find_symbol(qn::platform::find_loaded_module("kernel32.dll"), "GetThreadDescription"));
    const std::string ours = qn::transfer::kTaskThreadName;
    int n = 0;
    HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snap, &entry); get != nullptr && more; more = ::Thread32Next(snap, &entry)) {
        HANDLE thread = entry.th32OwnerProcessID == ::GetCurrentProcessId()
                            ? ::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID) : nullptr;
        PWSTR name = nullptr;
        if (thread != nullptr && get(thread, &name) >= 0 && name != nullptr) {
            n += std::wstring(name) == std::wstring(ours.begin(), ours.end());
            ::LocalFree(name);
        }
        if (thread != nullptr) ::CloseHandle(thread);
    }
    ::CloseHandle(snap);
    return n;
}

// The process's open handles: files, sockets, threads, events.
inline size_t open_descriptors(std::string* = nullptr) {
    DWORD n = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &n);
    return n;
}
#else
// The task workers alive in this process, known by their name.
inline int task_threads() {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/task")) {
        n += read_file(e.path().string() + "/comm") == std::string(qn::transfer::kTaskThreadName) + "\n";
    }
    return n;
}

// The open descriptors, and in `list` what each refers to.
inline size_t open_descriptors(std::string* list = nullptr) {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (list != nullptr) *list += " " + e.path().filename().string() + "->" + read_symlink(e.path(), ec).string();
        ++n;
    }
    return n;
}
#endif

// Start and stop before the first byte, mid-way and after the end: no worker, descriptor (or, under the
// sanitizers, byte) stays. Counted after a first cycle started what lives for good (the log's threads and file).
class TaskCycles : public TransferTest {
protected:
    template <class Start, class Stop>
    void run(int rounds, Start start, Stop stop) {
        const auto cycles = [&](int n) {
            qntest::HttpServer server;
            server.serve_files().serve_uploads().start();
            const std::string slow = server.url("/slow/100000000"), quick = server.url("/file/20000");
            for (int i = 0; i < n; ++i) {
                const int64_t fd = start(i % 4 < 2 ? slow : quick);
                ASSERT_NE(fd, -1);
                if (i % 2 == 1) std::this_thread::sleep_for(std::chrono::milliseconds(30));
                EXPECT_EQ(stop(fd), 1);
            }
        };
        // Kept connections close with the clean-up; the log's file is open after a read.
        const auto settle = [this] {
            quillnet_cleanup();
            quillnet_startup();
            log_.records();
        };
        cycles(1);
        settle();
        const size_t fds = open_descriptors();
        const int named = task_threads();
        cycles(rounds);
        EXPECT_TRUE(eventually([&] { return task_threads() == named; }));  // every worker joined
        settle();
        std::string now;
        EXPECT_TRUE(eventually([&] { return open_descriptors() == fds; }))
            << fds << " descriptors before, now " << open_descriptors(&now) << ":" << now;
    }
};

#endif
