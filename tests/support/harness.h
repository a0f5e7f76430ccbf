// The library fixture, waiting, a child process, and a task's callback.
#ifndef QN_TEST_HARNESS_H
#define QN_TEST_HARNESS_H

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "log_file.h"
#include "quillnet.h"
#include "temp_dir.h"

namespace qntest {

// The library started with a configuration folder (and log) of the test's own.
class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        use_config_dir(config_.path());
        ASSERT_EQ(quillnet_startup(), 1);
    }
    void TearDown() override { quillnet_cleanup(); }

    TempDir config_;
    LogReader log_{config_.path()};
};

// Polls `done` until it holds or `seconds` pass; returns its last answer.
inline bool eventually(const std::function<bool()>& done, int seconds = 20) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

#if !defined(_WIN32)
// Runs `body` in a forked child (loads, unloads, leftovers stay there); returns its report.
inline std::string in_child(const std::function<std::string()>& body) {
    int out[2];
    if (::pipe(out) != 0) return "no pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const std::string report = body();
        std::_Exit(::write(out[1], report.data(), report.size()) < 0 ? 2 : 0);
    }
    ::close(out[1]);
    std::string report;
    char buf[256];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) report.append(buf, static_cast<size_t>(n));
    ::close(out[0]);
    ::waitpid(pid, nullptr, 0);
    return report;
}

inline size_t thread_count() {
    using std::filesystem::directory_iterator;
    return static_cast<size_t>(std::distance(directory_iterator("/proc/self/task"), directory_iterator()));
}
#endif

// What a task's callback saw; read under `mutex` or after the stop's join.
struct Seen {
    std::mutex mutex;
    std::string data;
    std::vector<int> events;     // event codes in order, repeats folded
    int done = -1;               // the end event's result
    int dones = 0;
    std::vector<int> percents;   // every progress event's percent
    std::vector<uint64_t> sent;  // threaded upload: bytes sent, per event
    uint32_t total = 0;          // threaded upload: the total to send

    int last_percent() const { return percents.empty() ? -1 : percents.back(); }
};

inline void record(void*, int event, void* data, unsigned int length, void* user) {
    auto* seen = static_cast<Seen*>(user);
    std::lock_guard<std::mutex> lock(seen->mutex);
    if (seen->events.empty() || seen->events.back() != event) seen->events.push_back(event);
    if (event == TASK_EVENT_THREAD_DATA || event == TASK_EVENT_ASYNC_DATA) {
        seen->data.append(static_cast<const char*>(data), length);
    } else if (event == TASK_EVENT_PROGRESS) {
        seen->percents.push_back(*static_cast<int*>(data));
    } else if (event == TASK_EVENT_DONE) {
        seen->done = *static_cast<int*>(data);
        ++seen->dones;
    }
}

// The threaded upload's callback: its events carry counts, not data.
inline void record_sent(void*, int event, void* data, unsigned int length, void* user) {
    auto* seen = static_cast<Seen*>(user);
    std::lock_guard<std::mutex> lock(seen->mutex);
    seen->events.push_back(event);
    seen->sent.push_back(reinterpret_cast<uintptr_t>(data));
    seen->total = length;
}

// Waits for the end event and stops the task: the end's result, -2 if none came.
inline int finish(int64_t fd, int (*stop)(int64_t), Seen& seen, int seconds = 20) {
    if (fd == -1) return -3;
    const bool ended = eventually([&] {
        std::lock_guard<std::mutex> lock(seen.mutex);
        return seen.dones > 0;
    }, seconds);
    stop(fd);
    return ended ? seen.done : -2;
}

}  // namespace qntest

#endif
