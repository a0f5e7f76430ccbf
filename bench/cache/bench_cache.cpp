// What the request cache saves, through quillnet_submit_ex as a host calls
// it, against a server on 127.0.0.1:
//   1. a cached answer (4 KB and 64 KB) against the same request over the
//      network, at log level 30 (the dump line reaches the sink and is
//      dropped there) and 25 (written to the file), each level in a process
//      of its own since the level is read once per process;
//   2. identical requests in flight at once against the requests that reach
//      the server.
// A figure is the median of single calls, taken in three processes.
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bench_report.h"
#include "quillnet.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char kTree4[] = "/plume/device/queryDeviceOrgTree";
constexpr const char kTree64[] = "/plume/device/totalDeviceOrgTree";
constexpr const char kUncached[] = "/plume/device/queryDeviceOrgTreeNoCache";
constexpr const char kSlow[] = "/plume/audioVideoAuth/baseGetTreeResourceData";
constexpr int kCalls = 4000;
constexpr int kNetworkCalls = 1000;
constexpr int kConcurrent = 32;
constexpr int kProcessRounds = 3;

// A loopback server on a thread of its own; stops with the object.
class Server {
public:
    Server() {
        const std::string tree4(4096, 't'), tree64(65536, 'T');
        server_.Post(kTree4, [tree4](const httplib::Request&, httplib::Response& res) {
            res.set_content(tree4, "application/json");
        });
        server_.Post(kUncached, [tree4](const httplib::Request&, httplib::Response& res) {
            res.set_content(tree4, "application/json");
        });
        server_.Post(kTree64, [tree64](const httplib::Request&, httplib::Response& res) {
            res.set_content(tree64, "application/json");
        });
        server_.Post(kSlow, [this, tree4](const httplib::Request&, httplib::Response& res) {
            ++slow_hits;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            res.set_content(tree4, "application/json");
        });
        server_.set_tcp_nodelay(true);
        server_.set_keep_alive_max_count(1000000);
        server_.new_task_queue = [] { return new httplib::ThreadPool(kConcurrent + 4); };
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::yield();
    }
    ~Server() {
        server_.stop();
        thread_.join();
    }
    std::string url(const char* path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

    std::atomic<int> slow_hits{0};

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

int submit(const std::string& url, const char* body) {
    char* answer = nullptr;
    int len = 0;
    const int r = quillnet_submit_ex(url.c_str(), 30, body, 0, &answer, &len);
    quillnet_release(&answer);
    return r;
}

// Median microseconds of `calls` single calls.
double median_us(const std::string& url, int calls) {
    std::vector<double> us;
    us.reserve(static_cast<size_t>(calls));
    for (int i = 0; i < calls; ++i) {
        const Clock::time_point start = Clock::now();
        submit(url, "{\"org\":1}");
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return qnbench::median(us);
}

// Child: the three figures at one log level.
void measure(int level) {
    const std::string config = qnbench::make_config_dir(level);
    {
        Server server;
        quillnet_startup();
        for (const char* path : {kTree4, kTree64, kUncached}) median_us(server.url(path), 50);  // warm
        const double hit4 = median_us(server.url(kTree4), kCalls);
        const double hit64 = median_us(server.url(kTree64), kCalls);
        const double network = median_us(server.url(kUncached), kNetworkCalls);
        std::printf("%.3f %.3f %.3f\n", hit4, hit64, network);
        quillnet_cleanup();
    }
    qnbench::remove_dir(config);
}

// Child: identical slow requests from many threads at once.
void coalesce() {
    const std::string config = qnbench::make_config_dir(30);
    {
        Server server;
        quillnet_startup();
        std::vector<std::thread> threads;
        std::atomic<int> failures{0};
        for (int i = 0; i < kConcurrent; ++i) {
            threads.emplace_back([&] { failures += submit(server.url(kSlow), "{\"org\":2}") != 0 ? 1 : 0; });
        }
        for (auto& t : threads) t.join();
        std::printf("%d %d\n", server.slow_hits.load(), failures.load());
        quillnet_cleanup();
    }
    qnbench::remove_dir(config);
}

}  // namespace

int main() {
    // Three processes per level, the levels taken in turn; each figure is
    // the median of the three medians, so that a moment of load elsewhere on
    // the machine does not decide it.
    std::vector<double> figures[2][3];
    for (int round = 0; round < kProcessRounds; ++round) {
        for (int l = 0; l < 2; ++l) {
            const int level = l == 0 ? 30 : 25;
            double hit4 = 0, hit64 = 0, network = 0;
            const std::string got = qnbench::in_child([level] { measure(level); });
            if (std::sscanf(got.c_str(), "%lf %lf %lf", &hit4, &hit64, &network) != 3) {
                std::printf("cache benchmark at level %d: %s\n", level, got.c_str());
                return 1;
            }
            figures[l][0].push_back(hit4);
            figures[l][1].push_back(hit64);
            figures[l][2].push_back(network);
        }
    }
    std::vector<qnbench::Row> rows;
    for (int l = 0; l < 2; ++l) {
        const int level = l == 0 ? 30 : 25;
        const double hit4 = qnbench::median(figures[l][0]), hit64 = qnbench::median(figures[l][1]);
        const double network = qnbench::median(figures[l][2]);
        const std::string at = ", log level " + std::to_string(level) + " (us)";
        rows.push_back({"cache hit, 4 KB answer" + at, hit4, network, "same request over the network",
                        qnbench::Goal::kValueAtMost, level == 30 ? 10.0 : 20.0});
        rows.push_back({"cache hit, 64 KB answer" + at, hit64, 16 * hit4, "16 x the 4 KB hit (linear)",
                        qnbench::Goal::kRatioAtMost, 1.0});
    }
    int hits = 0, failures = 0;
    if (std::sscanf(qnbench::in_child(coalesce).c_str(), "%d %d", &hits, &failures) == 2) {
        rows.push_back({"identical requests in flight: transfers for " + std::to_string(kConcurrent), double(hits),
                        double(kConcurrent), "one transfer per request", qnbench::Goal::kValueAtMost, 1});
        if (failures != 0) std::printf("failed requests while coalescing: %d\n", failures);
    }
    qnbench::print(rows);
    return 0;
}
