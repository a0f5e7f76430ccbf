// What the task tests share, looking into the library: what a task's
// callback saw, a task's end, the task workers alive, and start/stop cycles.
#ifndef QN_TEST_TRANSFER_TASK_FIXTURE_H
#define QN_TEST_TRANSFER_TASK_FIXTURE_H

#if defined(_WIN32)
#include <windows.h>
#include <tlhelp32.h>
#else
#include <dirent.h>
#endif

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>

#include "fixture.h"
#include "platform.h"
#include "transfer/task.h"

// What a task's callback saw, on the worker thread. Read it after the stop,
// whose join hands it over, or under `mutex`.
struct Seen {
    std::mutex mutex;
    std::string data;
    std::vector<int> events;   // event codes in order, repeats folded
    int done = -1;             // the end event's result
    int dones = 0;
    int last_percent = -1;
    std::vector<int> percents;   // every progress event's percent
    std::vector<uint64_t> sent;  // threaded upload: bytes sent, per event
    uint32_t total = 0;          // threaded upload: the total to send
};

inline void record(void*, int event, void* data, unsigned int length, void* user) {
    auto* seen = static_cast<Seen*>(user);
    std::lock_guard<std::mutex> lock(seen->mutex);
    if (seen->events.empty() || seen->events.back() != event) seen->events.push_back(event);
    if (event == TASK_EVENT_THREAD_DATA || event == TASK_EVENT_ASYNC_DATA) {
        seen->data.append(static_cast<const char*>(data), length);
    } else if (event == TASK_EVENT_PROGRESS) {
        seen->last_percent = *static_cast<int*>(data);
        seen->percents.push_back(seen->last_percent);
    } else if (event == TASK_EVENT_DONE) {
        seen->done = *static_cast<int*>(data);
        ++seen->dones;
    }
}

// The threaded upload's events carry counts, not data.
inline void record_sent(void*, int event, void* data, unsigned int length, void* user) {
    auto* seen = static_cast<Seen*>(user);
    std::lock_guard<std::mutex> lock(seen->mutex);
    seen->events.push_back(event);
    seen->sent.push_back(reinterpret_cast<uintptr_t>(data));
    seen->total = length;
}

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
inline std::string descriptor_list() { return std::string(); }

inline size_t open_descriptors() {
    DWORD n = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &n);
    return n;
}
#else
// The task workers alive in this process, known by their name.
inline int task_threads() {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/task")) {
        n += qntest::read_file(e.path().string() + "/comm") == std::string(qn::transfer::kTaskThreadName) + "\n";
    }
    return n;
}

// What each open descriptor refers to, for a failure's message.
inline std::string descriptor_list() {
    std::string all;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        all += " " + e.path().filename().string() + "->" + std::filesystem::read_symlink(e.path(), ec).string();
    }
    return all;
}

inline size_t open_descriptors() {
    size_t n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr) ++n;
        closedir(d);
    }
    return n;
}
#endif

// Start and stop, again and again, at several moments of a task's life
// (before the first byte, mid-way, after the end): no worker thread, no
// descriptor (and, in the sanitizer builds, no byte) stays. Counting starts
// once a first cycle has brought up what lives for the whole process (the
// log's writer threads, which a worker may start and name after itself, and
// its file), and each round has a server of its own, gone with its
// connections before the counts are compared. A Server serves slowly under
// "/slow/N" and at once under "/file/N".
// One kind per test, each in its own process.
template <class Server>
class TaskCycles : public TransferTest {
protected:
    // `settled` tells when tasks that no stop waits for have ended.
    template <class Start, class Stop>
    void run(Start start, Stop stop, const std::function<bool()>& settled = [] { return true; }) {
        const auto cycles = [&](int n) {
            Server server;
            const std::string slow = server.url("/slow/100000000"), quick = server.url("/file/20000");
            for (int i = 0; i < n; ++i) {
                const int64_t fd = start(i % 4 < 2 ? slow : quick, out_.file("c"));
                ASSERT_NE(fd, -1);
                if (i % 2 == 1) std::this_thread::sleep_for(std::chrono::milliseconds(30));
                EXPECT_EQ(stop(fd), 1);
            }
        };
        // The connections the library keeps for the next transfer close
        // with the clean-up, once no task uses them.
        const auto settle = [] {
            quillnet_cleanup();
            quillnet_startup();
        };
        cycles(1);
        ASSERT_TRUE(eventually(settled));
        settle();
        const size_t fds = open_descriptors();
        const int named = task_threads();
        cycles(200);
        EXPECT_TRUE(eventually([&] { return settled() && task_threads() == named; }));  // every worker joined
        settle();
        EXPECT_TRUE(eventually([&] { return open_descriptors() == fds; }))
            << fds << " descriptors before, now " << open_descriptors() << ":" << descriptor_list();
    }
};

#endif
