// Peak memory of one large answer, through quillnet_submit_ex2 (a GET) as a
// host calls it, in units of the answer's size: at log level 30 (the dump
// line reaches the sink, which drops it) and 25 (written to the file), each
// in a process of its own. The baseline is the same answer read by libcurl
// alone into a buffer grown the same way: what the answer itself costs.
// The breakdown follows from the three: the receive buffer (the baseline),
// what the log records add at level 30 (the wide text of the dump line),
// and what writing the line adds at level 25 (the sink's line).
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

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench_report.h"
#include "quillnet.h"

namespace {

constexpr size_t kAnswer = size_t{100} << 20;  // 100 MB
constexpr size_t kPiece = 1 << 16;

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
    curl_easy_perform(curl);
    std::printf("%.3f %zu\n", (qnbench::peak_rss_bytes() - before) / double(kAnswer), g.length);
    curl_easy_cleanup(curl);
    std::free(g.buf);
}

size_t file_size(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
}

// One submit at `level`; the peak is taken once the log file holds the
// dump line (level 25), so that the sink's own copy is in it.
void through_quillnet(const std::string& url, int level) {
    const std::string config = qnbench::make_config_dir(level);
    quillnet_startup();
    char* body = nullptr;
    int len = 0;
    quillnet_submit_ex2((url + "-warm").c_str(), 10, nullptr, 0, 1, &body, &len);  // library, share, log up
    quillnet_release(&body);
    const double before = qnbench::current_rss_bytes();
    const int result = quillnet_submit_ex2(url.c_str(), 0, nullptr, 0, 1, &body, &len);
    if (level <= 25) {
        const std::string log = config + "log/quillnet.log";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (file_size(log) < static_cast<size_t>(len) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    std::printf("%.3f %d %d\n", (qnbench::peak_rss_bytes() - before) / double(kAnswer), len, result);
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

    double baseline = 0, level30 = 0, level25 = 0, endless = 0;
    size_t raw_len = 0;
    int len30 = 0, len25 = 0, endless_len = 0, r30 = 0, r25 = 0, endless_result = 0;
    std::sscanf(qnbench::in_child([&] { raw(base + "/fixed"); }).c_str(), "%lf %zu", &baseline, &raw_len);
    std::sscanf(qnbench::in_child([&] { through_quillnet(base + "/fixed", 30); }).c_str(), "%lf %d %d", &level30,
                &len30, &r30);
    std::sscanf(qnbench::in_child([&] { through_quillnet(base + "/fixed", 25); }).c_str(), "%lf %d %d", &level25,
                &len25, &r25);
    std::sscanf(qnbench::in_child([&] { through_quillnet(base + "/endless", 30); }).c_str(), "%lf %d %d", &endless,
                &endless_len, &endless_result);
    ::kill(server, SIGKILL);

    if (raw_len != kAnswer || len30 != int(kAnswer) || len25 != int(kAnswer) || r30 != 0 || r25 != 0) {
        std::printf("an answer did not arrive whole: %zu %d %d (%d %d)\n", raw_len, len30, len25, r30, r25);
    }
    std::printf("100 MB answer, peak resident growth in answers:\n");
    std::printf("  receive buffer (libcurl alone, same growth)  %.2f\n", baseline);
    std::printf("  + dump record's wide text (level 30)         %.2f\n", level30 - baseline);
    std::printf("  + the sink's line (level 25)                 %.2f\n", level25 - level30);
    std::printf("answer without end: failed with %d after %d bytes, peak %.2f GB\n", endless_result, endless_len,
                endless * double(kAnswer) / 1e9);
    const std::vector<qnbench::Row> rows = {
        {"100 MB answer, peak memory, log level 30 (x answer)", level30, baseline, "libcurl alone, same buffer",
         qnbench::Goal::kValueAtMost, 4},
        {"100 MB answer, peak memory, log level 25 (x answer)", level25, baseline, "libcurl alone, same buffer",
         qnbench::Goal::kValueAtMost, 5},
        {"answer without end: bytes kept when it failed", double(endless_len), -1, "", qnbench::Goal::kValueAtMost,
         1677721599},
    };
    qnbench::print(rows);
    return 0;
}
