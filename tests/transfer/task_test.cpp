// The threaded and asynchronous downloads, looked into for `finished`.
#include <algorithm>

#include "raw_http_server.h"
#include "task_fixture.h"
#include "transfer/download_task.h"

using qn::transfer::download_info;

namespace {

int64_t start_asyn(const std::string& url, const std::string& path, Seen* seen, const char* doc = nullptr,
                   int conten_type = 1, int submit_type = 1, const char* body = nullptr) {
    return quillnet_download_asyn_urlfile(url.c_str(), path.c_str(), body, length(body), submit_type, conten_type,
                                          doc, length(doc), seen, seen != nullptr ? &record : nullptr);
}

class Task : public FilesTest {};

}  // namespace

TEST_F(Task, ThreadedDownloads) {
    struct Case { std::string path, target; int final_pos; std::string body; } cases[] = {
        {"/file/400000", out_.file("a"), 100, pattern(400000)},
        {"/chunked/300000", out_.file("b"), 0, pattern(300000)},  // no length, no position
        {"/say?s=404&b=gone", out_.file("c"), 100, "gone"},        // a body like any other
        {"/file/100000", out_.file("no/such/dir/x"), 100, pattern(100000)},  // the callback still sees it all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Seen seen;
        const int64_t fd = quillnet_download_urlfile_ex(server_.url(c.path).c_str(), c.target.c_str(), &seen, &record);
        ASSERT_NE(fd, -1);
        ASSERT_TRUE(eventually([&] { return finished<download_info>(fd); }));
        EXPECT_EQ(quillnet_getpos_download_urlfile(fd), c.final_pos);
        EXPECT_EQ(quillnet_stop_download_urlfile(fd), 1);  // after the end: closes the file
        EXPECT_TRUE(seen.data == c.body);
        EXPECT_EQ(seen.events, std::vector<int>{TASK_EVENT_THREAD_DATA});
        EXPECT_TRUE(read_file(c.target) == (c.target.find("no/such") == std::string::npos ? c.body : ""));
    }

    // Stopped mid-way: the worker ends, the file keeps what had arrived.
    Seen seen;
    const std::string slow = out_.file("slow");
    const int64_t fd = quillnet_download_urlfile_ex(server_.url("/slow/4000000").c_str(), slow.c_str(), &seen, &record);
    ASSERT_TRUE(eventually([&] { return quillnet_getpos_download_urlfile(fd) > 0; }));
    EXPECT_EQ(reinterpret_cast<download_info*>(fd)->total_size.load(), 4000000.0);  // as first reported
    EXPECT_EQ(quillnet_stop_download_urlfile(fd), 1);
    EXPECT_LT(seen.data.size(), 4000000u);
    EXPECT_TRUE(read_file(slow) == seen.data);
}

TEST_F(Task, AsynchronousOnTheWire) {
    qntest::RawHttpServer raw([](qntest::RawConnection& c) { c.send(qntest::RawHttpServer::response(200, "ok")); });
    raw.start();
    // head: the method and the header lines from "Connection" on.
    struct Case { int submit_type, conten_type; const char *doc, *body; std::string head; } cases[] = {
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
        EXPECT_EQ(finish(start_asyn(raw.url("/a b/\xC3\xA9?q=[1]"), out_.file("w"), &seen, c.doc, c.conten_type,
                                    c.submit_type, c.body),
                         quillnet_stop_download_asyn_urlfile, seen),
                  0);
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
    EXPECT_EQ(finish(start_asyn(raw.url("/" + std::string(400, ' ')), out_.file("w"), &seen),
                     quillnet_stop_download_asyn_urlfile, seen),
              1);
    EXPECT_EQ(raw.requests().size(), requests);
}

TEST_F(Task, AsynchronousOutcomes) {
    struct Case { std::string path; const char* doc; int done; } cases[] = {
        {"/file/500000", nullptr, 0},
        {"/say?s=404&b=gone", nullptr, 1},
        {"/slow/4000000", R"({"time_out":1})", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Seen seen;
        const std::string target = out_.file("t");
        EXPECT_EQ(finish(start_asyn(server_.url(c.path), target, &seen, c.doc), quillnet_stop_download_asyn_urlfile,
                         seen),
                  c.done);
        EXPECT_EQ(seen.dones, 1);
        EXPECT_EQ(seen.events.back(), TASK_EVENT_DONE);
        if (c.done == 0) {
            EXPECT_TRUE(seen.data == pattern(500000) && read_file(target) == seen.data);
            EXPECT_EQ(seen.last_percent(), 100);
            EXPECT_TRUE(std::is_sorted(seen.percents.begin(), seen.percents.end()));
        }
    }
    const Lines log = logged();
    const std::string failed = "35 curl_msg->data.result != CURLE_OK info->url =" + server_.url("") + ",url_encode=";
    EXPECT_EQ(grep(log, failed), (Lines{failed + server_.url("/say?s=404&b=gone") + ",curl_msg->data.result =22",
                                        failed + server_.url("/slow/4000000") + ",curl_msg->data.result =28"}));
}

// Tasks outlive a clean-up on the connections they hold.
TEST_F(Task, CleanupWhileTasksRun) {
    Seen threaded, asyn;
    const int64_t t = quillnet_download_urlfile_ex(server_.url("/slow/300000").c_str(), out_.file("t").c_str(),
                                                   &threaded, &record);
    const int64_t a = start_asyn(server_.url("/slow/300000"), out_.file("a"), &asyn);
    ASSERT_TRUE(eventually([&] {
        return quillnet_getpos_download_urlfile(t) > 0 && quillnet_getpos_download_asyn_urlfile(a) > 0;
    }));
    EXPECT_EQ(quillnet_cleanup(), 1);
    EXPECT_EQ(finish(a, quillnet_stop_download_asyn_urlfile, asyn), 0);
    ASSERT_TRUE(eventually([&] { return finished<download_info>(t); }));
    EXPECT_EQ(quillnet_stop_download_urlfile(t), 1);
    EXPECT_TRUE(threaded.data == pattern(300000) && asyn.data == pattern(300000));
    EXPECT_TRUE(read_file(out_.file("t")) == threaded.data && read_file(out_.file("a")) == asyn.data);
    // Started again, it shares connections again.
    ASSERT_EQ(quillnet_startup(), 1);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(quillnet_download_urlfile(server_.url("/file/10").c_str(), out_.file("n").c_str()), 1);
    const auto requests = server_.requests();
    EXPECT_EQ(requests[requests.size() - 2].remote_port, requests.back().remote_port);
}

TEST_F(TaskCycles, Downloads) {
    run(20, [&](const std::string& url) {
        return quillnet_download_urlfile_ex(url.c_str(), out_.file("c").c_str(), nullptr, nullptr);
    }, quillnet_stop_download_urlfile);
    run(200, [&](const std::string& url) { return start_asyn(url, out_.file("c"), nullptr); },
        quillnet_stop_download_asyn_urlfile);
}
