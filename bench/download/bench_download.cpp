// Download throughput of the synchronous, threaded and asynchronous exports
// against `curl -o` of the same file in the same run, from nginx on
// 127.0.0.1 with a configuration of its own in a temporary folder. Files
// live on tmpfs when there is one and every download writes to /dev/null,
// so the disk is out of the picture. Each download runs in a child process
// of its own, which gives its wall time and its peak resident memory; the
// peak is shown for a small and a large file, to show that it does not grow
// with the file.
//
//     qn_bench_download [size_mib ...]       default: 64 1024
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/bench_child.h"
#include "bench_report.h"
#include "quillnet.h"
#include "transfer/download_task.h"

namespace {

namespace fs = std::filesystem;
using qnbench::Run;
using qnbench::run_child;
using qnbench::write_file;

constexpr int kRounds = 5;
const char* const kVariants[] = {"sync", "threaded", "asyn"};

// Child mode: one download by one export, to /dev/null. Exit code 0 on
// success.
int download(const std::string& variant, const std::string& url) {
    quillnet_startup();
    int ok = 0;
    if (variant == "sync") {
        ok = quillnet_download_urlfile(url.c_str(), "/dev/null");
    } else if (variant == "threaded") {
        const int64_t fd = quillnet_download_urlfile_ex(url.c_str(), "/dev/null", nullptr, nullptr);
        auto* info = reinterpret_cast<qn::transfer::download_info*>(fd);
        while (info->finished.load(std::memory_order_relaxed) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ok = quillnet_getpos_download_urlfile(fd) == 100 ? 1 : 0;
        quillnet_stop_download_urlfile(fd);
    } else {
        std::atomic<int> done{-1};
        const TaskCallback on_event = [](void*, int event, void* data, unsigned int, void* user) {
            if (event == TASK_EVENT_DONE) {
                static_cast<std::atomic<int>*>(user)->store(*static_cast<int*>(data));
            }
        };
        const int64_t fd = quillnet_download_asyn_urlfile(url.c_str(), "/dev/null", nullptr, 0, 1, 1,
                                                          nullptr, 0, &done, on_event);
        while (done.load() == -1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ok = done.load() == 0 ? 1 : 0;
        quillnet_stop_download_asyn_urlfile(fd);
    }
    quillnet_cleanup();
    return ok == 1 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--run") == 0) return download(argv[2], argv[3]);
    std::vector<size_t> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::strtoul(argv[i], nullptr, 10));
    if (sizes.empty()) sizes = {64, 1024};

    const std::string base = fs::exists("/dev/shm") ? "/dev/shm" : fs::temp_directory_path().string();
    std::string dir = base + "/qn_bench_download.XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) return 1;
    dir += "/";
    chmod(dir.c_str(), 0755);  // nginx's worker may run as another user
    const std::string www = dir + "www/";
    fs::create_directories(www);
    fs::create_directories(dir + "config");
    chmod(www.c_str(), 0755);
    // The library's log goes to this run's folder.
    setenv("MJ_CONFIG_DIR", (dir + "config/").c_str(), 1);
    const std::string self = fs::canonical("/proc/self/exe").string();

    int status = 0;
    {
        for (size_t mib : sizes) write_file(www + std::to_string(mib) + ".bin", mib);
        qnbench::Nginx nginx(dir, www);
        if (!nginx.running()) {
            std::printf("nginx did not start (is nginx-light installed?); see %serror.log\n", dir.c_str());
            status = 1;
        }
        std::printf("%-9s %7s %10s %10s %8s %12s\n", "variant", "MiB", "best s", "MiB/s", "x curl",
                    "peak RSS KiB");
        std::vector<std::vector<Run>> results;
        std::vector<qnbench::Row> rows;
        for (size_t mib : sizes) {
            if (status != 0) break;
            const std::string url = nginx.url(std::to_string(mib) + ".bin");
            std::vector<std::string> names = {"curl -o"};
            names.insert(names.end(), std::begin(kVariants), std::end(kVariants));
            std::vector<Run> best(names.size());
            for (int round = 0; round < kRounds; ++round) {
                for (size_t v = 0; v < names.size(); ++v) {
                    const Run run = v == 0 ? run_child({"curl", "-s", "-o", "/dev/null", url})
                                           : run_child({self, "--run", names[v], url});
                    if (!run.ok) {
                        std::printf("%s failed on %zu MiB\n", names[v].c_str(), mib);
                        status = 1;
                    }
                    if (best[v].seconds == 0 || run.seconds < best[v].seconds) best[v].seconds = run.seconds;
                    best[v].peak_kib = std::max(best[v].peak_kib, run.peak_kib);
                }
            }
            for (size_t v = 0; v < names.size(); ++v) {
                std::printf("%-9s %7zu %10.3f %10.1f %8.3f %12ld\n", names[v].c_str(), mib, best[v].seconds,
                            static_cast<double>(mib) / best[v].seconds, best[0].seconds / best[v].seconds,
                            best[v].peak_kib);
            }
            results.push_back(best);
            // Every variant keeps up with curl: within 5 % on a large file, within 10 % on
            // a file small enough for start-up and the first connection to show.
            const double goal = mib >= 1024 ? 0.95 : 0.9;
            for (size_t v = 1; v < names.size(); ++v) {
                const std::string what = "download " + std::to_string(mib) + " MiB, " + names[v];
                rows.push_back({what + " (MiB/s)", static_cast<double>(mib) / best[v].seconds,
                                static_cast<double>(mib) / best[0].seconds, "curl -o", qnbench::Goal::kRatioAtLeast,
                                goal});
                rows.push_back({what + ", peak memory (MiB)", static_cast<double>(best[v].peak_kib) / 1024,
                                static_cast<double>(best[0].peak_kib) / 1024,
                                "curl -o", qnbench::Goal::kNone, 0});
            }
        }
        // What each extra megabyte costs, fixed costs (process start, connection set-up, a
        // variant's own waits) taken out: the time difference between the largest and the
        // smallest file.
        if (results.size() == sizes.size() && sizes.size() > 1) {
            std::printf("marginal, %zu to %zu MiB:\n", sizes.front(), sizes.back());
            const auto& small = results.front();
            const auto& large = results.back();
            const double curl_extra = large[0].seconds - small[0].seconds;
            for (size_t v = 1; v < large.size(); ++v) {
                std::printf("%-9s %8.3f x curl\n", kVariants[v - 1],
                            curl_extra / (large[v].seconds - small[v].seconds));
            }
        }
        qnbench::print(rows);
    }
    fs::remove_all(dir);
    return status;
}
