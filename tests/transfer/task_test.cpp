// The threaded and asynchronous downloads: what reaches the file, the
// callback and the server, position, pause, stop, and that start and stop
// leave nothing behind. The records are read from the inside for `finished`.
#include <curl/curl.h>

#include <cstring>
#include <string>
#include <vector>

#include "file_server.h"
#include "task_fixture.h"
#include "raw_http_server.h"
#include "transfer/download_task.h"

using qn::transfer::asyn_download_info;
using qn::transfer::download_info;
using qntest::pattern;
using qntest::read_file;

namespace {

int length(const char* text) {
    return text == nullptr ? 0 : static_cast<int>(std::strlen(text));
}

int64_t start_asyn(const std::string& url, const std::string& path, Seen* seen, const char* doc = nullptr,
                   int conten_type = 1, int submit_type = 1, const char* body = nullptr) {
    return quillnet_download_asyn_urlfile(url.c_str(), path.c_str(), body, length(body), submit_type,
                                          conten_type, doc, length(doc), seen, seen ? &record : nullptr);
}

class Task : public TransferTest {
protected:
    qntest::FileServer server_;
};

using Cycles = TaskCycles<qntest::FileServer>;

}  // namespace

TEST_F(Task, ThreadedDownloads) {
    struct Case {
        std::string path;
        std::string target;
        int final_pos;
    } cases[] = {
        {"/file/400000", out_.file("a"), 100},
        {"/chunked/300000", out_.file("b"), 0},
        {"/say?s=404&b=gone", out_.file("c"), 100},  // an error status is a body like any other
        {"/file/100000", out_.file("no/such/dir/x"), 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Seen seen;
        const int64_t fd = quillnet_download_urlfile_ex(server_.url(c.path).c_str(), c.target.c_str(), &seen, &record);
        ASSERT_NE(fd, -1);
        ASSERT_TRUE(eventually([&] { return finished<download_info>(fd); }));
        EXPECT_EQ(quillnet_getpos_download_urlfile(fd), c.final_pos);
        EXPECT_EQ(quillnet_stop_download_urlfile(fd), 1);  // after the end: closes the file
        const std::string body = c.path[1] == 's' ? "gone" : pattern(std::stoul(c.path.substr(c.path.rfind('/') + 1)));
        EXPECT_TRUE(seen.data == body);
        EXPECT_EQ(seen.events, std::vector<int>{TASK_EVENT_THREAD_DATA});
        EXPECT_TRUE(read_file(c.target) == (c.target.find("no/such") == std::string::npos ? body : ""));
    }

    // Stopped mid-way: the worker ends, the file keeps what had arrived.
    Seen seen;
    const std::string slow = out_.file("slow");
    const int64_t fd = quillnet_download_urlfile_ex(server_.url("/slow/4000000").c_str(), slow.c_str(), &seen, &record);
    ASSERT_TRUE(eventually([&] { return quillnet_getpos_download_urlfile(fd) > 0; }));
    download_info* info = reinterpret_cast<download_info*>(fd);
    EXPECT_EQ(info->total_size.load(), 4000000.0);
    EXPECT_EQ(quillnet_stop_download_urlfile(fd), 1);
    EXPECT_LT(seen.data.size(), 4000000u);
    EXPECT_TRUE(read_file(slow) == seen.data);

    EXPECT_EQ(quillnet_download_urlfile_ex(nullptr, "p", nullptr, nullptr), -1);
    EXPECT_EQ(quillnet_download_urlfile_ex("u", nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(quillnet_stop_download_urlfile(-1) + quillnet_stop_download_urlfile(0), 0);
    EXPECT_EQ(quillnet_getpos_download_urlfile(-1) + quillnet_getpos_download_urlfile(0), -2);
    const Lines log = logged();
    // The stop is seen by the progress callback (aborted, 42) or by the
    // write callback (write error, 23), whichever libcurl calls first.
    const Lines stopped = grep(log, "download_info->status = STATUS_STOP_DOWNLOAD");
    ASSERT_FALSE(stopped.empty());
    const int code = stopped[0].rfind("25 ", 0) == 0 ? 42 : 23;
    EXPECT_EQ(grep(log, "35 error: CLibcurlWrapper"),
              (Lines{"35 error: CLibcurlWrapper::instance().curl_easy_perform(curl)[" + std::to_string(code) +
                     "] != CURLE_OK, url:" + server_.url("/slow/4000000")}));
    EXPECT_EQ(grep_but(grep_but(log, "25 ", "STATUS_STOP"), "25 ", "UrlDealwith"),
              (Lines{"25 url == NULL", "25 path == NULL", "25 fd == -1", "25 download_info == NULL", "25 fd == -1",
                     "25 download_info == NULL"}));
    EXPECT_EQ(grep(log, "recv_size"), Lines{});
}

TEST_F(Task, LongUrlAndPathAreCut) {
    const std::string long_text(1500, 'x');
    const int64_t threaded = quillnet_download_urlfile_ex(long_text.c_str(), long_text.c_str(), nullptr, nullptr);
    const int64_t asyn = quillnet_download_asyn_urlfile(long_text.c_str(), long_text.c_str(), "b", 0, 1, 1, "{}",
                                                        -1, nullptr, nullptr);
    auto* t = reinterpret_cast<download_info*>(threaded);
    auto* a = reinterpret_cast<asyn_download_info*>(asyn);
    EXPECT_EQ(strlen(t->url) * 10000 + strlen(t->path), 259u * 10001);
    EXPECT_EQ(strlen(a->path), 1023u);
    EXPECT_TRUE(a->body == nullptr && a->body_len == 0 && a->param_ex == nullptr && a->param_ex_len == 0);
    EXPECT_EQ(quillnet_stop_download_urlfile(threaded) + quillnet_stop_download_asyn_urlfile(asyn), 2);
}

TEST_F(Task, AsynchronousOnTheWire) {
    qntest::RawHttpServer raw([](qntest::RawConnection& c) { c.send(qntest::RawHttpServer::response(200, "ok")); });
    raw.start();
    struct Case {
        int submit_type;
        int conten_type;
        const char* doc;
        const char* body;
        std::string head;  // method and the header lines from "Connection" on
    } cases[] = {
        {1, 1, nullptr, "ignored", "GET Connection: Keep-Alive|Content-Type: application/json|"},
        {2, 1, nullptr, R"({"a":1})",
         "POST Connection: Keep-Alive|Content-Type: application/json|"
         "Content-Type:application/json;charset=UTF-8|Content-Length: 7|{\"a\":1}"},
        {1, 2, R"({"headers":["X-A: 1","","auth_digest:u:p","X-B: 2"]})", nullptr,
         "GET Connection: Keep-Alive|X-A: 1|X-B: 2|"},
        {3, 2, nullptr, nullptr, "GET Connection: Keep-Alive|"},
        // Without a body, an empty one (never standard input).
        {2, 0, nullptr, nullptr,
         "POST Connection: Keep-Alive|Content-Type:application/json;charset=UTF-8|Content-Length: 0|"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.head);
        Seen seen;
        const int64_t fd = start_asyn(raw.url("/a b/é?q=[1]"), out_.file("w"), &seen, c.doc, c.conten_type,
                                      c.submit_type, c.body);
        ASSERT_TRUE(eventually([&] { return finished<asyn_download_info>(fd); }));
        EXPECT_EQ(quillnet_stop_download_asyn_urlfile(fd), 1);
        EXPECT_EQ(seen.done, 0);
        const qntest::RawRequest r = raw.requests().back();
        EXPECT_EQ(r.target(), "/a%20b/%C3%A9?q=%5B1%5D");
        std::string head = r.method() + " ";
        bool ours = false;
        for (const std::string& line : r.header_lines()) {
            ours = ours || line.rfind("Connection", 0) == 0;
            if (ours) head += line + "|";
        }
        EXPECT_EQ(head + r.body, c.head);
        EXPECT_EQ(r.header("Authorization"), "");  // Digest waits for the server to ask
    }
    // No room for base and encoded path together: not cut, not sent.
    Seen seen;
    const size_t requests = raw.requests().size();
    const int64_t fd = start_asyn(raw.url("/" + std::string(400, ' ')), out_.file("w"), &seen);
    ASSERT_TRUE(eventually([&] { return finished<asyn_download_info>(fd); }));
    EXPECT_EQ(quillnet_stop_download_asyn_urlfile(fd), 1);
    EXPECT_EQ(seen.done, 1);
    EXPECT_EQ(raw.requests().size(), requests);

    const Lines log = logged();
    EXPECT_EQ(grep(log, "url_encode=").size(), 5u);
    EXPECT_EQ(grep(log, "url_encode=")[0], "30 url_encode=" + raw.url("/a%20b/%C3%A9?q=%5B1%5D"));
    EXPECT_EQ(grep(log, "unknown conten_type:"), (Lines{"30 unknown conten_type:2", "30 unknown conten_type:0"}));
    EXPECT_EQ(grep(log, "] curl_multi_perform ret:0 spantime:")[0].find("30 [" + raw.url("") + "]"), 0u);
    EXPECT_EQ(grep(log, "url_encode too long").size(), 1u);
}

TEST_F(Task, AsynchronousOutcomes) {
    if (!qntest::libcurl_answers_digest()) GTEST_SKIP() << "Digest through SSPI: not in Wine";
    struct Case {
        std::string path;
        const char* doc;
        int conten_type;
        int done;
        std::string data;
    } cases[] = {
        {"/file/500000", nullptr, 1, 0, pattern(500000)},
        {"/digest/3000", R"({"headers":["auth_digest:alice:secret"]})", 2, 0, pattern(3000)},
        {"/digest/3000", R"({"headers":["auth_digest:alice:bad"]})", 2, 1, ""},
        {"/say?s=404&b=gone", nullptr, 1, 1, ""},
        {"/slow/4000000", R"({"time_out":1})", 1, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Seen seen;
        const std::string target = out_.file("t");
        const int64_t fd = start_asyn(server_.url(c.path), target, &seen, c.doc, c.conten_type);
        ASSERT_TRUE(eventually([&] { return finished<asyn_download_info>(fd); }));
        EXPECT_EQ(quillnet_stop_download_asyn_urlfile(fd), 1);
        EXPECT_EQ(seen.done, c.done);
        EXPECT_EQ(seen.dones, 1);
        EXPECT_EQ(seen.events.back(), TASK_EVENT_DONE);
        if (c.done == 0) {
            EXPECT_TRUE(seen.data == c.data && read_file(target) == c.data);
            EXPECT_EQ(seen.last_percent, 100);
            EXPECT_NE(std::count(seen.events.begin(), seen.events.end(), TASK_EVENT_PROGRESS), 0);
        }
    }
    const Lines log = logged();
    const std::string failed = "35 curl_msg->data.result != CURLE_OK info->url =" + server_.url("") + ",url_encode=";
    EXPECT_EQ(grep(log, failed),
              (Lines{failed + server_.url("/digest/3000") + ",curl_msg->data.result =22",
                     failed + server_.url("/say?s=404&b=gone") + ",curl_msg->data.result =22",
                     failed + server_.url("/slow/4000000") + ",curl_msg->data.result =28"}));
    EXPECT_FALSE(grep(log, "35 dltotal <= 0").empty());
}

TEST_F(Task, AsynchronousPauseResumeAndStop) {
    Seen seen;
    const std::string target = out_.file("p");
    const int64_t fd = start_asyn(server_.url("/slow/3000000"), target, &seen);
    ASSERT_TRUE(eventually([&] { return quillnet_getpos_download_asyn_urlfile(fd) > 0; }));
    EXPECT_EQ(quillnet_control_download_asyn_urlfile(fd, CURLPAUSE_RECV), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(900));  // a loop turn at most
    const int held = quillnet_getpos_download_asyn_urlfile(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_EQ(quillnet_getpos_download_asyn_urlfile(fd), held);
    EXPECT_EQ(quillnet_control_download_asyn_urlfile(fd, CURLPAUSE_CONT), 1);
    EXPECT_TRUE(eventually([&] { return quillnet_getpos_download_asyn_urlfile(fd) > held; }));
    EXPECT_EQ(quillnet_control_download_asyn_urlfile(fd, CURLPAUSE_ALL), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(900));
    EXPECT_FALSE(finished<asyn_download_info>(fd));
    EXPECT_EQ(quillnet_stop_download_asyn_urlfile(fd), 1);  // while paused
    EXPECT_EQ(seen.done, 1);
    EXPECT_LT(seen.data.size(), 3000000u);
    EXPECT_TRUE(read_file(target) == seen.data && seen.data == pattern(3000000).substr(0, seen.data.size()));

    EXPECT_EQ(quillnet_control_download_asyn_urlfile(-1, 0) + quillnet_control_download_asyn_urlfile(0, 0), 0);
    EXPECT_EQ(quillnet_stop_download_asyn_urlfile(-1) + quillnet_stop_download_asyn_urlfile(0), 0);
    EXPECT_EQ(quillnet_getpos_download_asyn_urlfile(-1) + quillnet_getpos_download_asyn_urlfile(0), -2);
    EXPECT_EQ(quillnet_download_asyn_urlfile(nullptr, "p", nullptr, 0, 1, 1, nullptr, 0, nullptr, nullptr) +
                  quillnet_download_asyn_urlfile("u", nullptr, nullptr, 0, 1, 1, nullptr, 0, nullptr, nullptr),
              -2);
    const Lines log = logged();
    EXPECT_EQ(grep(log, "35 NULL == curl_multi_info_read").size(), 1u);
    EXPECT_EQ(grep_but(grep_but(log, "25 ", "exit_thr"), "25 ", "UrlDealwith"),
              (Lines{"25 quillnet_download_asyn_urlfile -- 1: url:" + server_.url("/slow/3000000") + " path:" + target,
                     "25 fd == -1", "25 download_info == NULL", "25 fd == -1", "25 info == NULL", "25 fd == -1",
                     "25 info == NULL", "25 quillnet_download_asyn_urlfile -- 1: url:(null) path:p", "25 url == NULL",
                     "25 quillnet_download_asyn_urlfile -- 1: url:u path:(null)", "25 path == NULL"}));
}

TEST_F(Cycles, Threaded) {
    run([](const std::string& url, const std::string& path) {
        return quillnet_download_urlfile_ex(url.c_str(), path.c_str(), nullptr, nullptr);
    }, quillnet_stop_download_urlfile);
}

TEST_F(Cycles, Asynchronous) {
    run([](const std::string& url, const std::string& path) { return start_asyn(url, path, nullptr); },
        quillnet_stop_download_asyn_urlfile);
}
