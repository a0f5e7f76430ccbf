#include "cache_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#include "cache/timed_perform.h"
#include "curl/libcurl_wrapper.h"
#include "log/log_record.h"
#include "log_file.h"
#include "submit/recv_data.h"

namespace cachetest {

namespace {

// Far from zero, so that "now minus ten seconds" stays a valid instant.
std::atomic<int64_t> g_manual_ns{int64_t{1000} * 1000 * 1000 * 1000};

size_t discard(char*, size_t size, size_t nmemb, void*) {
    return size * nmemb;
}

}  // namespace

WebReqCache::Clock::time_point manual_now() {
    return WebReqCache::Clock::time_point(std::chrono::nanoseconds(g_manual_ns.load()));
}

void advance(std::chrono::nanoseconds by) {
    g_manual_ns += by.count();
}

void Gate::wait() {
    ++entered_;
    std::unique_lock<std::mutex> lock(mutex_);
    opened_.wait(lock, [this] { return open_; });
}

void Gate::open() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
    }
    opened_.notify_all();
}

bool Gate::wait_entered(int n) const {
    return eventually([&] { return entered_.load() >= n; });
}

TreeServer::TreeServer() {
    auto handler = [this](const httplib::Request& req, httplib::Response& res) {
        const int n = ++hits_;
        if (held_) gate_.wait();
        if (dropping_) {
            res.set_content_provider(
                100, "text/plain", [](size_t, size_t, httplib::DataSink&) { return false; });
            return;
        }
        std::string answer;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            answer = fixed_;
        }
        if (answer.empty()) answer = "tree(" + req.body + ")#" + std::to_string(n);
        res.set_content(answer, "text/plain");
    };
    server_.server().Post(kTreePath, handler);
    server_.server().Get(kTreePath, handler);
    server_.server().Post("/plume/device/other", handler);
    server_.start();
}

TreeServer::~TreeServer() {
    // A held handler would keep the server from stopping.
    gate_.open();
    server_.stop();
}

void TreeServer::set_answer(const std::string& fixed) {
    std::lock_guard<std::mutex> lock(mutex_);
    fixed_ = fixed;
}

Sent send(const std::string& url, const char* request, recv_data* recv) {
    CLibcurlWrapper& lib = CLibcurlWrapper::instance();
    Sent sent;
    CURL* curl = lib.curl_easy_init();
    if (curl == nullptr) {
        ADD_FAILURE() << "curl_easy_init";
        return sent;
    }
    lib.curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    if (request != nullptr) lib.curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request);
    if (recv != nullptr) {
        lib.curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &on_curl_recv_data);
        lib.curl_easy_setopt(curl, CURLOPT_WRITEDATA, recv);
    } else {
        lib.curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &discard);
    }
    lib.curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    lib.curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
    sent.code = timed_easy_perform(curl, url, request, recv);
    lib.curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &sent.http_code);
    lib.curl_easy_cleanup(curl);
    return sent;
}

recv_data* make_buffer(int32_t capacity, int32_t length) {
    auto* data = static_cast<recv_data*>(std::calloc(1, sizeof(recv_data)));
    data->buf = static_cast<char*>(std::malloc(static_cast<size_t>(capacity)));
    std::memset(data->buf, 'x', static_cast<size_t>(capacity));
    data->buf[length] = '\0';
    data->length = length;
    data->capacity = capacity;
    return data;
}

std::vector<std::string> records(const std::string& log, const std::string& needle, size_t n) {
    std::vector<std::string> lines;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        lines = qntest::log_lines_containing(log, needle);
        if (lines.size() >= n || std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (auto& line : lines) line = qntest::record_text(line);
    return lines;
}

void flush_log(const std::string& log) {
    static int serial = 0;
    const std::string marker = "-- test marker " + std::to_string(++serial);
    qn::log::Error() << marker << "\n";
    EXPECT_FALSE(qntest::wait_for_log_line(log, marker, 10000).empty());
}

}  // namespace cachetest
