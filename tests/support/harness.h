// What many tests do alike: the library started with a configuration folder
// of the test's own, waiting for a condition, a part run in a child
// process, and a task followed through its callback as a host does.
#ifndef QN_TEST_HARNESS_H
#define QN_TEST_HARNESS_H

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
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

// The library started for the test, with a configuration folder of the
// test's own, so that its log is the test's to read.
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
// Runs `body` in a forked child and returns the report it made: what the
// child does to its process (loading and unloading the library, leaving
// process-wide objects behind) stays out of the test's own.
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
#endif

// What a task's callback saw, on the worker thread. Read it under `mutex`,
// or after the stop, whose join hands it over.
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

// The callback of the downloads, asynchronous uploads and multipart tasks.
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

// The threaded upload's: its events carry counts, not data.
inline void record_sent(void*, int event, void* data, unsigned int length, void* user) {
    auto* seen = static_cast<Seen*>(user);
    std::lock_guard<std::mutex> lock(seen->mutex);
    seen->events.push_back(event);
    seen->sent.push_back(reinterpret_cast<uintptr_t>(data));
    seen->total = length;
}

// Waits for a task's end event and stops it: the end's result, or -2 when
// no end came (the task is stopped all the same).
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
