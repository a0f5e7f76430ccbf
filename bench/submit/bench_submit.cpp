// Small POSTs per second through quillnet_submit_ex, against libcurl alone
// in the same run, from nginx on 127.0.0.1 (scripts/bench.sh starts it and
// names it in QN_BENCH_HTTP_URL and QN_BENCH_HTTPS_URL):
//   shared      - the library as shipped: transfers share connections and
//                 TLS sessions; against one reused libcurl handle;
//   sharing off - QUILLNET_SHARE_CONNECTIONS=0, a connection per call;
//                 against a fresh libcurl handle per request.
// And from 16 host threads at once, each making its own calls: the library
// against 16 threads of libcurl alone that each reuse one handle, over HTTP
// and HTTPS (the connection share's locks are what the threads meet in).
// Each figure comes from a process of its own (the log level and the switch
// are read once per process), the best of five rounds, the library and
// its baseline taken in turn in each: on a machine that other work shares,
// a round can only be slowed down, never sped up, so the best round is the
// one least disturbed.
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench_report.h"
#include "quillnet.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char kBody[] = "{\"device\":\"42\",\"state\":1}";
constexpr int kRounds = 5;

size_t discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

void set_post(CURL* curl, const std::string& url) {
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, kBody);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &discard);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TCP_NODELAY, 1L);
}

// Requests per second of `calls` calls of `one` (which returns true on
// success), in a child process; -1 when a call failed.
double rate(int calls, const std::function<bool()>& one) {
    const std::string got = qnbench::in_child([&] {
        bool ok = one();  // connection and TLS set up outside the timing
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < calls && ok; ++i) ok = one();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("%.1f\n", ok ? calls / seconds : -1.0);
    });
    return std::atof(got.c_str());
}

// Requests per second of `threads` threads that each make `calls` calls of
// their own `one` (made by `make`, one per thread), started together, in a
// child process; -1 when a call failed. `prepare` runs first, alone.
double rate_threads(int threads, int calls, const std::function<void()>& prepare,
                    const std::function<std::function<bool()>()>& make) {
    const std::string got = qnbench::in_child([&] {
        prepare();
        std::atomic<int> ready{0};
        std::atomic<bool> go{false}, failed{false};
        std::vector<std::thread> running;
        for (int t = 0; t < threads; ++t) {
            running.emplace_back([&] {
                std::function<bool()> one = make();
                if (!one()) failed = true;  // connection and TLS set up outside the timing
                ++ready;
                while (!go.load()) std::this_thread::yield();
                for (int i = 0; i < calls && !failed.load(); ++i) {
                    if (!one()) failed = true;
                }
            });
        }
        while (ready.load() < threads) std::this_thread::yield();
        const Clock::time_point start = Clock::now();
        go = true;
        for (auto& th : running) th.join();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("%.1f\n", failed.load() ? -1.0 : threads * calls / seconds);
    });
    return std::atof(got.c_str());
}

bool quillnet_post(const std::string& url) {
    char* answer = nullptr;
    int len = 0;
    const int r = quillnet_submit_ex(url.c_str(), 10, kBody, 1, &answer, &len);
    quillnet_release(&answer);
    return r == 0;
}

// The library in a child, logging under `config` (whose mjlog.dat sets the
// level), with sharing as given.
std::function<bool()> through_quillnet(const std::string& url, const std::string& config, bool share) {
    return [url, config, share, configured = false]() mutable {
        if (!configured) {
            ::setenv("MJ_CONFIG_DIR", config.c_str(), 1);
            if (!share) ::setenv("QUILLNET_SHARE_CONNECTIONS", "0", 1);
            quillnet_startup();
            configured = true;
        }
        return quillnet_post(url);
    };
}

std::function<bool()> libcurl_reused(const std::string& url) {
    return [url, curl = static_cast<CURL*>(nullptr)]() mutable {
        if (curl == nullptr) {
            curl = curl_easy_init();
            set_post(curl, url);
        }
        return curl_easy_perform(curl) == CURLE_OK;
    };
}

std::function<bool()> libcurl_fresh(const std::string& url) {
    return [url] {
        CURL* curl = curl_easy_init();
        set_post(curl, url);
        const bool ok = curl_easy_perform(curl) == CURLE_OK;
        curl_easy_cleanup(curl);
        return ok;
    };
}

constexpr int kThreads = 16;

// The highest rate of the rounds, or -1 when a round failed.
double best(const std::vector<double>& rates) {
    if (std::any_of(rates.begin(), rates.end(), [](double r) { return r < 0; })) return -1;
    return *std::max_element(rates.begin(), rates.end());
}

struct ThreadedMeasure {
    std::string metric;
    std::string url;
    int calls;  // per thread
    double target;
};

struct Measure {
    std::string metric;
    std::function<bool()> ours, baseline;
    std::string baseline_name;
    int calls;
    qnbench::Goal goal;
    double target;
};

}  // namespace

int main() {
    const char* http = std::getenv("QN_BENCH_HTTP_URL");
    const char* https = std::getenv("QN_BENCH_HTTPS_URL");
    if (http == nullptr || https == nullptr) {
        std::printf("qn_bench_submit needs nginx: run it through scripts/bench.sh\n");
        return 0;
    }
    const std::string plain = http, tls = https;
    const std::string level30 = qnbench::make_config_dir(30), level25 = qnbench::make_config_dir(25);
    const std::vector<Measure> measures = {
        {"small POST, HTTP keep-alive, shared (req/s)", through_quillnet(plain, level30, true), libcurl_reused(plain),
         "libcurl, one reused handle", 4000, qnbench::Goal::kRatioAtLeast, 0.8},
        {"small POST, HTTPS, shared (req/s)", through_quillnet(tls, level30, true), libcurl_reused(tls),
         "libcurl, one reused handle", 3000, qnbench::Goal::kRatioAtLeast, 0.7},
        {"small POST, HTTP, shared, log level 25 (req/s)", through_quillnet(plain, level25, true), libcurl_reused(plain),
         "libcurl, one reused handle", 4000, qnbench::Goal::kNone, 0},
        {"small POST, HTTP, sharing off (req/s)", through_quillnet(plain, level30, false), libcurl_fresh(plain),
         "libcurl, a fresh handle each", 2000, qnbench::Goal::kNone, 0},
        {"small POST, HTTPS, sharing off (req/s)", through_quillnet(tls, level30, false), libcurl_fresh(tls),
         "libcurl, a fresh handle each", 300, qnbench::Goal::kNone, 0},
    };
    curl_global_init(CURL_GLOBAL_ALL);
    std::vector<qnbench::Row> rows;
    for (const Measure& m : measures) {
        std::vector<double> ours, baseline;
        for (int round = 0; round < kRounds; ++round) {
            baseline.push_back(rate(m.calls, m.baseline));
            ours.push_back(rate(m.calls, m.ours));
        }
        rows.push_back({m.metric, best(ours), best(baseline), m.baseline_name, m.goal, m.target});
    }
    const std::vector<ThreadedMeasure> threaded = {
        {"small POST, HTTP, 16 threads at once (req/s)", plain, 1500, 0.8},
        {"small POST, HTTPS, 16 threads at once (req/s)", tls, 1000, 0.8},
    };
    for (const ThreadedMeasure& m : threaded) {
        const auto library = [&] {
            ::setenv("MJ_CONFIG_DIR", level30.c_str(), 1);
            quillnet_startup();
        };
        const auto through_library = [&] { return std::function<bool()>([url = m.url] { return quillnet_post(url); }); };
        const auto through_libcurl = [&] { return libcurl_reused(m.url); };
        std::vector<double> ours, baseline;
        for (int round = 0; round < kRounds; ++round) {
            baseline.push_back(rate_threads(kThreads, m.calls, [] {}, through_libcurl));
            ours.push_back(rate_threads(kThreads, m.calls, library, through_library));
        }
        rows.push_back({m.metric, best(ours), best(baseline),
                        "libcurl, 16 threads, a reused handle each", qnbench::Goal::kRatioAtLeast, m.target});
    }
    qnbench::print(rows);
    curl_global_cleanup();
    qnbench::remove_dir(level30);
    qnbench::remove_dir(level25);
    return 0;
}
