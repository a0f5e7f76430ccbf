// Upload throughput of the threaded and asynchronous exports against
// `curl -F sendfile=@FILE` of the same file in the same run, to a receiving
// server on 127.0.0.1 (a thread of this process) that reads each body with
// large reads and throws it away. Files live on tmpfs when there is one, so
// the disk is out of the picture. Each upload runs in a child process of
// its own, which gives its wall time and its peak resident memory; the peak
// is shown for a small and a large file, to show that it does not grow with
// the file (the file is streamed, never read whole). The server checks that
// every body arrived whole.
//
//     qn_bench_upload [size_mib ...]       default: 64 1024
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/bench_child.h"
#include "bench_report.h"
#include "quillnet.h"
#include "transfer/task.h"

namespace {

namespace fs = std::filesystem;
using qnbench::Run;

constexpr int kRounds = 5;
const char* const kNames[] = {"curl -F", "threaded", "asyn"};  // the first is the baseline

// Reads requests one connection at a time: the head, "100 Continue" when
// the client waits for it, Content-Length bytes into a 1 MiB buffer, then a
// two-byte answer. Counts the bodies that arrived whole.
class DiscardServer {
public:
    DiscardServer() : port_(qnbench::free_port()) {
        listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        const sockaddr_in addr = qnbench::loopback(port_);
        bind(listen_fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
        listen(listen_fd_, 16);
        thread_ = std::thread([this] { serve(); });
    }
    ~DiscardServer() {
        stopping_ = true;
        shutdown(listen_fd_, SHUT_RDWR);
        close(listen_fd_);
        thread_.join();
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/up"; }
    int whole() const { return whole_.load(); }

private:
    void serve() {
        std::vector<char> buffer(1 << 20);
        while (!stopping_) {
            const int fd = accept(listen_fd_, nullptr, nullptr);
            if (fd < 0) continue;
            std::string head;
            ssize_t n = 0;
            while (head.find("\r\n\r\n") == std::string::npos && (n = read(fd, buffer.data(), 4096)) > 0) {
                head.append(buffer.data(), static_cast<size_t>(n));
            }
            const size_t end = head.find("\r\n\r\n");
            const size_t length_at = head.find("Content-Length: ");
            if (end != std::string::npos && length_at != std::string::npos) {
                const size_t length = std::strtoull(head.c_str() + length_at + 16, nullptr, 10);
                if (head.find("100-continue") != std::string::npos) send_all(fd, "HTTP/1.1 100 Continue\r\n\r\n");
                size_t got = head.size() - end - 4;
                while (got < length && (n = read(fd, buffer.data(), buffer.size())) > 0) got += static_cast<size_t>(n);
                if (got == length) ++whole_;
                send_all(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
            }
            close(fd);
        }
    }
    static void send_all(int fd, const std::string& text) {
        if (write(fd, text.data(), text.size()) < 0) return;
    }

    int port_;
    int listen_fd_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<int> whole_{0};
    std::thread thread_;
};

// True while a task worker of this process runs (known by its name).
bool worker_running() {
    for (const auto& e : fs::directory_iterator("/proc/self/task")) {
        char name[32] = {};
        std::FILE* comm = std::fopen((e.path().string() + "/comm").c_str(), "r");
        if (comm == nullptr) continue;
        const bool named = std::fgets(name, sizeof(name), comm) != nullptr &&
                           std::string(name) == std::string(qn::transfer::kTaskThreadName) + "\n";
        std::fclose(comm);
        if (named) return true;
    }
    return false;
}

// Child mode: one upload by one export. Exit code 0 once it has been sent
// and answered (threaded: the position at 100 and the worker ended;
// asynchronous: the end event with 0).
int upload(const std::string& variant, const std::string& url, const std::string& path) {
    quillnet_startup();
    int ok = 0;
    if (variant == "threaded") {
        const int64_t fd = quillnet_upload_urlfile_ex(url.c_str(), path.c_str(), nullptr, nullptr);
        while (fd != -1 && (quillnet_getpos_upload_urlfile(fd) != 100 || worker_running())) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ok = fd != -1 ? 1 : 0;
    } else {
        std::atomic<int> done{-1};
        const TaskCallback on_event = [](void*, int event, void* data, unsigned int, void* user) {
            if (event == TASK_EVENT_DONE) static_cast<std::atomic<int>*>(user)->store(*static_cast<int*>(data));
        };
        const int64_t fd = quillnet_upload_asyn_urlfile(url.c_str(), path.c_str(), nullptr, 0, 2, 0, nullptr, 0,
                                                        &done, on_event);
        while (done.load() == -1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ok = done.load() == 0 ? 1 : 0;
        quillnet_stop_upload_asyn_urlfile(fd);
    }
    quillnet_cleanup();
    return ok == 1 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--run") == 0) return upload(argv[2], argv[3], argv[4]);
    std::vector<size_t> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::strtoul(argv[i], nullptr, 10));
    if (sizes.empty()) sizes = {64, 1024};

    const std::string base = fs::exists("/dev/shm") ? "/dev/shm" : fs::temp_directory_path().string();
    std::string dir = base + "/qn_bench_upload.XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) return 1;
    dir += "/";
    fs::create_directories(dir + "config");
    // The library's log goes to this run's folder.
    setenv("MJ_CONFIG_DIR", (dir + "config/").c_str(), 1);
    const std::string self = fs::canonical("/proc/self/exe").string();

    int status = 0;
    {
        DiscardServer server;
        std::printf("%-9s %7s %10s %10s %8s %12s\n", "variant", "MiB", "best s", "MiB/s", "x curl", "peak RSS KiB");
        int runs = 0;
        std::vector<std::vector<Run>> results;
        std::vector<qnbench::Row> rows;
        for (size_t mib : sizes) {
            const std::string file = dir + std::to_string(mib) + ".bin";
            qnbench::write_file(file, mib);
            std::vector<Run> best(3);
            for (int round = 0; round < kRounds; ++round) {
                for (size_t v = 0; v < best.size(); ++v) {
                    const Run run = v == 0 ? qnbench::run_child({"curl", "-s", "-o", "/dev/null", "-F",
                                                                 "sendfile=@" + file, server.url()})
                                           : qnbench::run_child({self, "--run", kNames[v], server.url(), file});
                    ++runs;
                    if (!run.ok) {
                        std::printf("%s failed on %zu MiB\n", kNames[v], mib);
                        status = 1;
                    }
                    if (best[v].seconds == 0 || run.seconds < best[v].seconds) best[v].seconds = run.seconds;
                    best[v].peak_kib = std::max(best[v].peak_kib, run.peak_kib);
                }
            }
            for (size_t v = 0; v < best.size(); ++v) {
                std::printf("%-9s %7zu %10.3f %10.1f %8.3f %12ld\n", kNames[v], mib, best[v].seconds,
                            static_cast<double>(mib) / best[v].seconds, best[0].seconds / best[v].seconds,
                            best[v].peak_kib);
            }
            for (size_t v = 1; v < best.size(); ++v) {
                const std::string what = "upload " + std::to_string(mib) + " MiB, " + kNames[v];
                rows.push_back({what + " (MiB/s)", static_cast<double>(mib) / best[v].seconds,
                                static_cast<double>(mib) / best[0].seconds, kNames[0]});
                rows.push_back({what + ", peak memory (MiB)", static_cast<double>(best[v].peak_kib) / 1024,
                                static_cast<double>(best[0].peak_kib) / 1024, kNames[0]});
            }
            fs::remove(file);
            results.push_back(best);
        }
        // What each extra megabyte costs, fixed costs (process start, module
        // loading, connection set-up) taken out.
        if (results.size() > 1) {
            std::printf("marginal, %zu to %zu MiB:\n", sizes.front(), sizes.back());
            const auto extra = [&](size_t v) { return results.back()[v].seconds - results.front()[v].seconds; };
            for (size_t v = 1; v < 3; ++v) std::printf("%-9s %8.3f x curl\n", kNames[v], extra(0) / extra(v));
        }
        // Stopped before it is read: a child that reported success before its
        // body had arrived whole would show here.
        const int whole = server.whole();
        if (whole != runs) {
            std::printf("only %d of %d bodies arrived whole\n", whole, runs);
            status = 1;
        }
        qnbench::print(rows);
    }
    fs::remove_all(dir);
    return status;
}
