// Helpers of the cache tests: a clock the tests move by hand, a gate that
// holds a server's answer, one request through timed_easy_perform, and
// counting log lines.
#ifndef QN_TEST_CACHE_SUPPORT_H
#define QN_TEST_CACHE_SUPPORT_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cache/web_req_cache.h"
#include "http_server.h"

struct recv_data;

namespace cachetest {

constexpr const char kTreePath[] = "/plume/device/queryDeviceOrgTree";

// A steady clock that only moves when told to.
WebReqCache::Clock::time_point manual_now();
void advance(std::chrono::nanoseconds by);

// Holds server handlers until opened. `wait()` counts the handlers it holds.
class Gate {
public:
    void wait();
    void open();
    int entered() const { return entered_.load(); }
    // Polls until `n` handlers have entered; false after 30 s.
    bool wait_entered(int n) const;

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
    std::atomic<int> entered_{0};
};

// Polls `condition` until it holds; false after 30 s.
template <class Fn>
bool eventually(Fn condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A loopback server for the tree-data path kTreePath (POST and GET) that
// counts what reaches it. Its answer is "tree(" body ")#" n, n counting the
// requests so far, unless a fixed answer is set. Held, it keeps every
// request at the gate until the gate opens; dropping, it sends headers that
// promise a body and closes the connection instead.
class TreeServer {
public:
    TreeServer();
    ~TreeServer();
    TreeServer(const TreeServer&) = delete;
    TreeServer& operator=(const TreeServer&) = delete;

    std::string url(const std::string& path = kTreePath) const { return server_.url(path); }
    // Requests that reached a handler, counted when they arrive.
    int hits() const { return hits_.load(); }
    void set_answer(const std::string& fixed);
    void hold() { held_ = true; }
    void drop(bool on) { dropping_ = on; }
    Gate& gate() { return gate_; }

private:
    qntest::HttpServer server_;
    Gate gate_;
    std::atomic<int> hits_{0};
    std::atomic<bool> held_{false};
    std::atomic<bool> dropping_{false};
    std::mutex mutex_;
    std::string fixed_;
};

struct Sent {
    int code = -1;
    long http_code = -1;  // 0 when the handle was never performed
};

// One request the way the submit functions make it: a POST of `request`
// (a GET when null) whose body goes to `recv` (discarded when null),
// performed through timed_easy_perform with `url` as the URL text.
Sent send(const std::string& url, const char* request, recv_data* recv);

// A receive buffer with a block of `capacity` bytes filled with 'x' and
// `length` set, as a buffer looks after an earlier write; freed by the
// caller with recv_data_free.
recv_data* make_buffer(int32_t capacity, int32_t length);

// Record texts of the log lines of this process's log that contain `needle`,
// once at least `n` of them are there (or after 10 s).
std::vector<std::string> records(const std::string& log, const std::string& needle, size_t n = 1);

// Writes a marker record and waits for it: every record written before it
// on this thread is then in the file.
void flush_log(const std::string& log);

}  // namespace cachetest

#endif
