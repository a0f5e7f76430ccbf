// What the request cache saves, against a server on 127.0.0.1:
//   1. a cached answer vs the same request over the network;
//   2. N identical requests in flight at once vs the requests that reach
//      the server (always 1).
// Each request is made the way the submit functions make it: a new easy
// handle and receive buffer, then timed_easy_perform.
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cache/timed_perform.h"
#include "cache/web_req_cache.h"
#include "curl/libcurl_wrapper.h"
#include "submit/recv_data.h"

namespace {

constexpr const char kCachedPath[] = "/plume/device/queryDeviceOrgTree";
constexpr const char kUncachedPath[] = "/plume/device/queryDeviceOrgTreeNoCache";
constexpr const char kSlowPath[] = "/plume/device/totalDeviceOrgTree";
constexpr int kRounds = 300;
constexpr int kConcurrent = 32;

using Clock = std::chrono::steady_clock;

int post(const std::string& url, const char* body) {
    CLibcurlWrapper& lib = CLibcurlWrapper::instance();
    recv_data* buffer = qn::submit::recv_data_create(nullptr);
    CURL* curl = lib.curl_easy_init();
    lib.curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    lib.curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body);
    lib.curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &on_curl_recv_data);
    lib.curl_easy_setopt(curl, CURLOPT_WRITEDATA, buffer);
    lib.curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    const int code = timed_easy_perform(curl, url, body, buffer);
    lib.curl_easy_cleanup(curl);
    qn::submit::recv_data_free(buffer, false);
    return code;
}

// Microseconds per request over `rounds` identical requests.
double per_request_us(const std::string& url, int rounds, int* failures) {
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < rounds; ++i) *failures += post(url, "{\"org\":1}") != 0 ? 1 : 0;
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / rounds;
}

}  // namespace

int main() {
    // The library logs every transfer; keep this run's log out of the way.
    std::string dir_template = (std::filesystem::temp_directory_path() / "qn_bench_cache.XXXXXX").string();
    if (::mkdtemp(dir_template.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string config_dir = dir_template + "/";
    ::setenv("MJ_CONFIG_DIR", config_dir.c_str(), 1);

    const std::string tree(4096, 't');  // a small tree answer
    std::atomic<int> slow_hits{0};
    httplib::Server server;
    auto answer = [&](const httplib::Request&, httplib::Response& res) { res.set_content(tree, "application/json"); };
    server.Post(kCachedPath, answer);
    server.Post(kUncachedPath, answer);
    server.Post(kSlowPath, [&](const httplib::Request&, httplib::Response& res) {
        ++slow_hits;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        res.set_content(tree, "application/json");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::yield();
    const std::string base = "http://127.0.0.1:" + std::to_string(port);

    CLibcurlWrapper::instance().curl_global_init(CURL_GLOBAL_ALL);
    int failures = 0;

    // 1. Memory vs network. Warm both roads first (connection set-up of the
    //    first request, the cache's first answer).
    post(base + kUncachedPath, "{\"org\":1}");
    post(base + kCachedPath, "{\"org\":1}");
    const double network_us = per_request_us(base + kUncachedPath, kRounds, &failures);
    const double cached_us = per_request_us(base + kCachedPath, kRounds, &failures);
    std::printf("request over the network : %9.1f us\n", network_us);
    std::printf("answer from the cache    : %9.1f us\n", cached_us);
    std::printf("cache / network          : %9.3f  (network is %.1fx slower)\n", cached_us / network_us,
                network_us / cached_us);

    // 2. Identical requests in flight at once.
    std::vector<std::thread> threads;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kConcurrent; ++i) {
        threads.emplace_back([&] {
            if (post(base + kSlowPath, "{\"org\":2}") != 0) ++failures;
        });
    }
    for (auto& t : threads) t.join();
    const double together_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::printf("identical concurrent requests: %d, reached the server: %d (in %.0f ms, one answer takes 200 ms)\n",
                kConcurrent, slow_hits.load(), together_ms);
    if (failures != 0) std::printf("failed requests: %d\n", failures);

    CLibcurlWrapper::instance().curl_global_cleanup();
    server.stop();
    serving.join();
    std::error_code ec;
    std::filesystem::remove_all(config_dir, ec);
    return 0;
}
