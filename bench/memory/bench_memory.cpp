// One large answer through quillnet_submit_ex as a host calls it: its time
// and its peak memory, at log level 30 (the dump line reaches the sink,
// which drops it) and 25 (written to the file), each in a process of its
// own. The baseline is the same answer read by libcurl alone into a buffer
// grown the same way: what the answer itself costs. The peak is counted in
// units of the answer's size; the breakdown follows from the three: the
// receive buffer (the baseline), what the log records add at level 30 (the
// wide text of the dump line), and what writing the line adds at level 25
// (the sink's line). Times are the best of kRounds, the three taken in
// turn in each round.
//
// Then an answer without end: where the receive buffer's limit (the
// interface's 32-bit length) stops it, and at what peak.
//
// The server is a child process of its own, so that its memory is not
// counted.
#include <curl/curl.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench_report.h"
#include "quillnet.h"

namespace {

constexpr size_t kAnswer = size_t{100} << 20;  // 100 MB
constexpr size_t kPiece = 1 << 16;
constexpr int kRounds = 3;

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Serves "/fixed" (kAnswer bytes with their length), "/endless" (bytes
// until the client goes) and "...-warm" (two bytes) on `listener`, one
// connection at a time.
[[noreturn]] void serve(int listener) {
    const std::string piece(kPiece, 'a');
    for (;;) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) continue;
        std::string head;
        char buf[4096];
        while (head.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            head.append(buf, static_cast<size_t>(n));
        }
        const bool endless = head.find("/endless") != std::string::npos;
        if (head.find("-warm") != std::string::npos) {
            const char ok[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
            ::send(fd, ok, sizeof ok - 1, MSG_NOSIGNAL);
            ::close(fd);
            continue;
        }
        const std::string answer_head = endless ? "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n"
                                                : "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kAnswer) +
                                                      "\r\nConnection: close\r\n\r\n";
        bool open = ::send(fd, answer_head.data(), answer_head.size(), MSG_NOSIGNAL) > 0;
        for (size_t sent = 0; open && (endless || sent < kAnswer); sent += kPiece) {
            open = ::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(piece.size());
        }
        ::close(fd);
    }
}

// libcurl alone, into a block grown by doubling from 102400 bytes.
struct Grown {
    char* buf = nullptr;
    size_t length = 0, capacity = 0;
};

size_t grow(char* data, size_t size, size_t count, void* out) {
    auto* g = static_cast<Grown*>(out);
    const size_t n = size * count;
    if (g->capacity - g->length <= n) {
        while (g->capacity - g->length <= n) g->capacity = g->capacity == 0 ? 102400 : g->capacity * 2;
        g->buf = static_cast<char*>(std::realloc(g->buf, g->capacity));
    }
    std::memcpy(g->buf + g->length, data, n);
    g->length += n;
    g->buf[g->length] = '\0';
    return n;
}

void raw(const std::string& url) {
    CURL* curl = curl_easy_init();
    Grown g;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &grow);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &g);
    const double before = qnbench::current_rss_bytes();
    const Clock::time_point start = Clock::now();
    curl_easy_perform(curl);
    const double ms = ms_since(start);
    std::printf("%.3f %zu 0 %.1f\n", (qnbench::peak_rss_bytes() - before) / double(kAnswer), g.length, ms);
    curl_easy_cleanup(curl);
    std::free(g.buf);
}

size_t file_size(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
}

// One submit at `level`, timed until it returns (the log line is then
// queued, not yet written); the peak is taken once the log file holds the
// dump line (level 25), so that the sink's own copy is in it.
void through_quillnet(const std::string& url, int level) {
    const std::string config = qnbench::make_config_dir(level);
    quillnet_startup();
    char* body = nullptr;
    int len = 0;
    quillnet_submit_ex((url + "-warm").c_str(), 10, nullptr, 0, &body, &len);  // library, share, log up
    quillnet_release(&body);
    const double before = qnbench::current_rss_bytes();
    const Clock::time_point start = Clock::now();
    const int result = quillnet_submit_ex(url.c_str(), 0, nullptr, 0, &body, &len);
    const double ms = ms_since(start);
    if (level <= 25) {
        const std::string log = config + "log/quillnet.log";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (file_size(log) < static_cast<size_t>(len) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    std::printf("%.3f %d %d %.1f\n", (qnbench::peak_rss_bytes() - before) / double(kAnswer), len, result, ms);
    quillnet_release(&body);
    quillnet_cleanup();
    qnbench::remove_dir(config);
}

}  // namespace

int main() {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t addr_len = sizeof addr;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener, 8) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &addr_len) != 0) {
        std::perror("listen");
        return 1;
    }
    const pid_t server = ::fork();
    if (server == 0) serve(listener);
    ::close(listener);
    const std::string base = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));

    // One run in a child: peak growth, bytes, result, milliseconds.
    struct Run {
        double peak = 0, ms = 0;
        long bytes = 0;
        int result = -1;
    };
    auto run = [](const std::function<void()>& body) {
        Run r;
        std::sscanf(qnbench::in_child(body).c_str(), "%lf %ld %d %lf", &r.peak, &r.bytes, &r.result, &r.ms);
        return r;
    };
    // Per road: the best time, the smallest peak, and whether every run
    // got the whole answer.
    struct Road {
        double ms = 0, peak = 0;
        bool whole = true;
        void add(const Run& r) {
            ms = ms == 0 ? r.ms : std::min(ms, r.ms);
            peak = peak == 0 ? r.peak : std::min(peak, r.peak);
            whole = whole && r.result == 0 && r.bytes == long(kAnswer);
        }
    } raw_road, road30, road25;
    for (int round = 0; round < kRounds; ++round) {
        raw_road.add(run([&] { raw(base + "/fixed"); }));
        road30.add(run([&] { through_quillnet(base + "/fixed", 30); }));
        road25.add(run([&] { through_quillnet(base + "/fixed", 25); }));
    }
    const Run endless = run([&] { through_quillnet(base + "/endless", 30); });
    ::kill(server, SIGKILL);

    if (!raw_road.whole || !road30.whole || !road25.whole) std::printf("an answer did not arrive whole\n");
    const double baseline = raw_road.peak, level30 = road30.peak, level25 = road25.peak;
    std::printf("100 MB answer, peak resident growth in answers:\n");
    std::printf("  receive buffer (libcurl alone, same growth)  %.2f\n", baseline);
    std::printf("  + dump record's wide text (level 30)         %.2f\n", level30 - baseline);
    std::printf("  + the sink's line (level 25)                 %.2f\n", level25 - level30);
    std::printf("answer without end: failed with %d after %ld bytes, peak %.2f GB\n", endless.result, endless.bytes,
                endless.peak * double(kAnswer) / 1e9);
    const double answer_mb = double(kAnswer) / 1e6;
    const std::vector<qnbench::Row> rows = {
        {"100 MB answer through quillnet_submit_ex, log level 30 (MB/s)", answer_mb / road30.ms * 1000,
         answer_mb / raw_road.ms * 1000, "libcurl alone, same buffer", qnbench::Goal::kRatioAtLeast, 0.5},
        {"100 MB answer through quillnet_submit_ex, log level 25 (MB/s)", answer_mb / road25.ms * 1000,
         answer_mb / raw_road.ms * 1000, "libcurl alone, same buffer"},
        {"100 MB answer, peak memory, log level 30 (x answer)", level30, baseline, "libcurl alone, same buffer",
         qnbench::Goal::kValueAtMost, 4},
        {"100 MB answer, peak memory, log level 25 (x answer)", level25, baseline, "libcurl alone, same buffer",
         qnbench::Goal::kValueAtMost, 5},
        {"answer without end: bytes kept when it failed", double(endless.bytes), -1, "", qnbench::Goal::kValueAtMost,
         1677721599},
    };
    qnbench::print(rows);
    return 0;
}
