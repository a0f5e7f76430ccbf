// Many transfers at once, as a desktop host runs them (a list of files
// downloading, several uploads): N asynchronous tasks of 8 MiB each,
// started together from N host threads of one process, against curl
// running the same N transfers in parallel on one multi handle
// (`curl --parallel --parallel-max N`), for N = 16, 64 and 256.
//
//   downloads - from nginx on 127.0.0.1, N files of distinct content, to
//               files on tmpfs, each compared with its source afterwards;
//   uploads   - of N files as forms (`curl -F sendfile=@FILE`) to a server
//               of this process that reads every body with a thread of its
//               own and checks the file's bytes in it.
//
// Each run is a child process, so the figure is its wall time, start-up
// included, and its peak resident memory; the throughput is the best of
// kRounds, curl and the library taken in turn in each round. The library's
// child also reports the most threads it had at once and, for every task,
// the time from the last byte that reached the task's callback to its end
// event.
//
//     qn_bench_many [N ...]       default: 16 64 256
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/bench_child.h"
#include "bench_report.h"
#include "quillnet.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr size_t kFileMiB = 8;
constexpr size_t kFileBytes = kFileMiB << 20;
constexpr int kRounds = 3;

int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// ---- the library's child --------------------------------------------------

// What one task's callback saw.
struct TaskRecord {
    std::atomic<int64_t> last_data_ns{0};
    std::atomic<int64_t> done_ns{0};
    std::atomic<int> result{-1};
    std::mutex mutex;
    std::condition_variable done;
};

void on_event(void*, int event, void* data, unsigned int, void* user) {
    auto* task = static_cast<TaskRecord*>(user);
    if (event == TASK_EVENT_ASYNC_DATA) {
        task->last_data_ns.store(now_ns());
    } else if (event == TASK_EVENT_DONE) {
        task->done_ns.store(now_ns());
        std::lock_guard<std::mutex> lock(task->mutex);
        task->result.store(*static_cast<int*>(data));
        task->done.notify_all();
    }
}

int thread_count() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
    }
    return 0;
}

// Child mode: N tasks of `kind` ("download" or "upload"), one per host
// thread, started together. Writes to `report`: failed tasks, the most
// threads seen, and the largest and the median time in milliseconds from
// the last byte to the end event (a download's last body byte; an upload's
// last byte of the answer).
int many_tasks(const std::string& kind, int n, const std::string& url, const std::string& dir,
               const std::string& report) {
    quillnet_startup();
    std::vector<TaskRecord> tasks(static_cast<size_t>(n));
    std::atomic<int> ready{0};
    std::atomic<bool> go{false}, finished{false};
    std::atomic<int> most_threads{0};
    std::thread sampler([&] {
        while (!finished.load()) {
            most_threads.store(std::max(most_threads.load(), thread_count()));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    std::vector<std::thread> hosts;
    for (int i = 0; i < n; ++i) {
        hosts.emplace_back([&, i] {
            TaskRecord& task = tasks[static_cast<size_t>(i)];
            const std::string name = std::to_string(i) + ".bin";
            ++ready;
            while (!go.load()) std::this_thread::yield();
            int64_t fd = -1;
            if (kind == "download") {
                fd = quillnet_download_asyn_urlfile((url + name).c_str(), (dir + name).c_str(), nullptr, 0, 1, 1,
                                                    nullptr, 0, &task, &on_event);
            } else {
                fd = quillnet_upload_asyn_urlfile(url.c_str(), (dir + name).c_str(), nullptr, 0, 2, 0, nullptr, 0,
                                                  &task, &on_event);
            }
            if (fd == -1) return;
            {
                std::unique_lock<std::mutex> lock(task.mutex);
                task.done.wait(lock, [&] { return task.result.load() != -1; });
            }
            if (kind == "download") {
                quillnet_stop_download_asyn_urlfile(fd);
            } else {
                quillnet_stop_upload_asyn_urlfile(fd);
            }
        });
    }
    while (ready.load() < n) std::this_thread::yield();
    go = true;
    for (auto& h : hosts) h.join();
    finished = true;
    sampler.join();
    quillnet_cleanup();

    int failed = 0;
    std::vector<double> after_last_byte;
    for (TaskRecord& task : tasks) {
        if (task.result.load() != 0) ++failed;
        if (task.last_data_ns.load() != 0 && task.done_ns.load() != 0) {
            after_last_byte.push_back(static_cast<double>(task.done_ns.load() - task.last_data_ns.load()) / 1e6);
        }
    }
    const double worst = after_last_byte.empty() ? -1 : *std::max_element(after_last_byte.begin(), after_last_byte.end());
    std::ofstream(report) << failed << " " << most_threads.load() << " " << worst << " "
                          << (after_last_byte.empty() ? -1 : qnbench::median(after_last_byte)) << "\n";
    return failed == 0 ? 0 : 1;
}

// ---- the upload server -----------------------------------------------------

// Reads every request on a thread of its own: the head, "100 Continue" when
// the client waits for it, then Content-Length bytes, in which the bytes
// after the first part's head must be the expected file; answers "ok" and
// closes. Counts the bodies whose file arrived whole and exact.
class UploadServer {
public:
    explicit UploadServer(const std::vector<char>& expected) : expected_(expected), port_(qnbench::free_port()) {
        listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        const sockaddr_in addr = qnbench::loopback(port_);
        bind(listen_fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
        listen(listen_fd_, 1024);
        acceptor_ = std::thread([this] { accept_all(); });
    }
    ~UploadServer() {
        stopping_ = true;
        shutdown(listen_fd_, SHUT_RDWR);
        close(listen_fd_);
        acceptor_.join();
        std::unique_lock<std::mutex> lock(mutex_);
        idle_.wait(lock, [this] { return serving_ == 0; });
    }
    UploadServer(const UploadServer&) = delete;
    UploadServer& operator=(const UploadServer&) = delete;

    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/up"; }
    int exact() const { return exact_.load(); }

private:
    void accept_all() {
        while (!stopping_) {
            const int fd = accept(listen_fd_, nullptr, nullptr);
            if (fd < 0) continue;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++serving_;
            }
            std::thread([this, fd] {
                serve(fd);
                close(fd);
                std::lock_guard<std::mutex> lock(mutex_);
                if (--serving_ == 0) idle_.notify_all();
            }).detach();
        }
    }

    void serve(int fd) {
        std::vector<char> buffer(256 * 1024);
        std::string head;
        ssize_t n = 0;
        while (head.find("\r\n\r\n") == std::string::npos && (n = read(fd, buffer.data(), 4096)) > 0) {
            head.append(buffer.data(), static_cast<size_t>(n));
        }
        const size_t end = head.find("\r\n\r\n");
        const size_t length_at = head.find("Content-Length: ");
        if (end == std::string::npos || length_at == std::string::npos) return;
        const size_t length = std::strtoull(head.c_str() + length_at + 16, nullptr, 10);
        if (head.find("100-continue") != std::string::npos) send_all(fd, "HTTP/1.1 100 Continue\r\n\r\n");
        std::string part_head = head.substr(end + 4);  // body bytes so far, until the part's head ends
        size_t got = part_head.size();
        size_t file_at = std::string::npos;  // bytes of the file compared so far
        bool same = true;
        auto compare = [&](const char* bytes, size_t count) {
            const size_t take = std::min(count, expected_.size() - file_at);
            if (std::memcmp(bytes, expected_.data() + file_at, take) != 0) same = false;
            file_at += take;
        };
        auto take_part_head = [&] {
            const size_t part_end = part_head.find("\r\n\r\n");
            if (part_end == std::string::npos) return;
            file_at = 0;
            compare(part_head.data() + part_end + 4, part_head.size() - part_end - 4);
            part_head.clear();
        };
        take_part_head();
        while (got < length && (n = read(fd, buffer.data(), buffer.size())) > 0) {
            got += static_cast<size_t>(n);
            if (file_at == std::string::npos) {
                part_head.append(buffer.data(), static_cast<size_t>(n));
                take_part_head();
            } else {
                compare(buffer.data(), static_cast<size_t>(n));
            }
        }
        if (got == length && same && file_at == expected_.size()) ++exact_;
        send_all(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
    }

    static void send_all(int fd, const std::string& text) {
        if (write(fd, text.data(), text.size()) < 0) return;
    }

    const std::vector<char>& expected_;
    int port_;
    int listen_fd_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<int> exact_{0};
    std::thread acceptor_;
    std::mutex mutex_;
    std::condition_variable idle_;
    int serving_ = 0;
};

// ---- the runs ----------------------------------------------------------------

struct Outcome {
    double best_s = 0;       // best wall time
    double peak_mib = 0;     // largest peak resident size
    bool ok = true;          // every run ended well, every file exact
    int failed = 0, threads = 0;
    double worst_ms = 0, median_ms = 0;

    void add(const qnbench::Run& run) {
        best_s = best_s == 0 ? run.seconds : std::min(best_s, run.seconds);
        peak_mib = std::max(peak_mib, static_cast<double>(run.peak_kib) / 1024);
        ok = ok && run.ok;
    }
};

void read_report(const std::string& path, Outcome* o) {
    int failed = 0, threads = 0;
    double worst = 0, median = 0;
    std::ifstream in(path);
    if (!(in >> failed >> threads >> worst >> median)) {
        o->ok = false;
        return;
    }
    o->failed = std::max(o->failed, failed);
    o->threads = std::max(o->threads, threads);
    o->worst_ms = std::max(o->worst_ms, worst);
    o->median_ms = std::max(o->median_ms, median);
}

std::vector<qnbench::Row> rows_for(const std::string& what, int n, const Outcome& ours, const Outcome& curl,
                                   const std::string& curl_name) {
    const double mib = static_cast<double>(n) * kFileMiB;
    const std::string head = std::to_string(n) + " asyn " + what + " of 8 MiB at once";
    std::vector<qnbench::Row> rows;
    const bool goal = n <= 64;
    rows.push_back({head + " (MiB/s)", mib / ours.best_s, mib / curl.best_s, curl_name,
                    goal ? qnbench::Goal::kRatioAtLeast : qnbench::Goal::kNone, 0.9});
    rows.push_back({head + ": failed or inexact", static_cast<double>(ours.failed + (ours.ok ? 0 : 1)), -1, "",
                    qnbench::Goal::kValueAtMost, 0});
    rows.push_back({head + ": peak memory per task (MiB)", ours.peak_mib / n, curl.peak_mib / n, curl_name});
    rows.push_back({head + ": most threads", static_cast<double>(ours.threads)});
    rows.push_back({head + ": last byte to end event, worst (ms)", ours.worst_ms});
    rows.push_back({head + ": last byte to end event, median (ms)", ours.median_ms});
    return rows;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 7 && std::strcmp(argv[1], "--run") == 0) {
        return many_tasks(argv[2], std::atoi(argv[3]), argv[4], argv[5], argv[6]);
    }
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
    if (counts.empty()) counts = {16, 64, 256};
    const int most = *std::max_element(counts.begin(), counts.end());

    const std::string base = fs::exists("/dev/shm") ? "/dev/shm" : fs::temp_directory_path().string();
    std::string dir = base + "/qn_bench_many.XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) return 1;
    dir += "/";
    chmod(dir.c_str(), 0755);  // nginx's worker may run as another user
    const std::string www = dir + "www/", out = dir + "out/", up = dir + "up/";
    for (const std::string& d : {www, out, up, dir + "config/"}) fs::create_directories(d);
    chmod(www.c_str(), 0755);
    setenv("MJ_CONFIG_DIR", (dir + "config/").c_str(), 1);
    const std::string self = fs::canonical("/proc/self/exe").string();
    const std::string report = dir + "report";

    for (int i = 0; i < most; ++i) {
        const std::string name = std::to_string(i) + ".bin";
        qnbench::write_file(www + name, kFileMiB, static_cast<unsigned>(i));
        qnbench::write_file(up + name, kFileMiB);
    }
    std::vector<char> upload_bytes(kFileBytes);
    std::ifstream(up + "0.bin", std::ios::binary).read(upload_bytes.data(), static_cast<std::streamsize>(kFileBytes));

    int status = 0;
    std::vector<qnbench::Row> rows;
    {
        qnbench::Nginx nginx(dir, www, 4 * most + 64);
        UploadServer server(upload_bytes);
        if (!nginx.running()) {
            std::printf("nginx did not start (is nginx-light installed?); see %serror.log\n", dir.c_str());
            status = 1;
        }
        for (int n = status == 0 ? 0 : -1; n >= 0 && n < static_cast<int>(counts.size()); ++n) {
            const int count = counts[static_cast<size_t>(n)];
            const std::string max = std::to_string(count);
            // Downloads: curl's files and the library's, each checked.
            std::vector<std::string> curl_get = {"curl", "-s", "--parallel", "--parallel-max", max};
            for (int i = 0; i < count; ++i) {
                const std::string name = std::to_string(i) + ".bin";
                curl_get.insert(curl_get.end(), {"-o", out + name, nginx.url(name)});
            }
            auto all_exact = [&] {
                bool exact = true;
                for (int i = 0; i < count; ++i) {
                    const std::string name = std::to_string(i) + ".bin";
                    exact = exact && qnbench::same_file(out + name, www + name);
                    fs::remove(out + name);
                }
                return exact;
            };
            Outcome curl, ours;
            for (int round = 0; round < kRounds; ++round) {
                curl.add(qnbench::run_child(curl_get));
                curl.ok = curl.ok && all_exact();
                ours.add(qnbench::run_child({self, "--run", "download", max, nginx.url(""), out, report}));
                read_report(report, &ours);
                ours.ok = ours.ok && all_exact();
            }
            if (!curl.ok || !ours.ok) {
                std::printf("%d downloads: curl %s, quillnet %s\n", count, curl.ok ? "exact" : "FAILED",
                            ours.ok ? "exact" : "FAILED");
                status = 1;
            }
            for (auto& r : rows_for("downloads", count, ours, curl, "curl --parallel")) rows.push_back(r);

            // Uploads: the server counts the exact files.
            std::vector<std::string> curl_post = {"curl", "-s", "--parallel", "--parallel-max", max};
            for (int i = 0; i < count; ++i) {
                if (i > 0) curl_post.push_back("--next");
                curl_post.insert(curl_post.end(),
                                 {"-o", "/dev/null", "-F", "sendfile=@" + up + std::to_string(i) + ".bin", server.url()});
            }
            Outcome curl_up, ours_up;
            for (int round = 0; round < kRounds; ++round) {
                int before = server.exact();
                curl_up.add(qnbench::run_child(curl_post));
                curl_up.ok = curl_up.ok && server.exact() - before == count;
                before = server.exact();
                ours_up.add(qnbench::run_child({self, "--run", "upload", max, server.url(), up, report}));
                read_report(report, &ours_up);
                ours_up.ok = ours_up.ok && server.exact() - before == count;
            }
            if (!curl_up.ok || !ours_up.ok) {
                std::printf("%d uploads: curl %s, quillnet %s\n", count, curl_up.ok ? "exact" : "FAILED",
                            ours_up.ok ? "exact" : "FAILED");
                status = 1;
            }
            for (auto& r : rows_for("uploads", count, ours_up, curl_up, "curl --parallel -F")) rows.push_back(r);
        }
    }
    qnbench::print(rows);
    fs::remove_all(dir);
    return status;
}
