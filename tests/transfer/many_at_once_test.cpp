// A host's busy moment: 64 asynchronous downloads running while 16 threads
// make submits of their own, all at once against one server. Every file and
// every answer must come back byte for byte, each task must end once, and
// nothing may be left running.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "file_server.h"
#include "submit_helpers.h"
#include "task_fixture.h"
#include "transfer/download_task.h"

using qntest::pattern;

namespace {

constexpr int kDownloads = 64;
constexpr int kSubmitters = 16;
constexpr int kSubmitsEach = 20;

// The server outlives the library's clean-up in TearDown, which closes the
// connections kept for later calls, so that stopping it waits for none.
class ManyAtOnce : public TransferTest {
protected:
    qntest::HttpServer server_;
};

}  // namespace

TEST_F(ManyAtOnce, DownloadsAndSubmitsStayExact) {
    qntest::HttpServer& server = server_;
    // A worker for every connection that may be open at once, and time for
    // a client that the load holds back between its connection and its
    // request (the server's worker gives up on a silent connection after
    // its keep-alive time).
    server.server().new_task_queue = [] { return new httplib::ThreadPool(kDownloads + kSubmitters + 8); };
    server.keep_alive(30);
    server.server().Get(R"(/file/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(pattern(std::stoul(req.matches[1])), "application/octet-stream");
    });
    server.server().Post(".*", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("echo:" + req.body, "text/plain");
    });
    server.start();
    const int threads_before = task_threads();

    std::atomic<bool> go{false};
    std::atomic<int> ready{0}, wrong_answers{0};
    std::vector<std::thread> submitters;
    for (int t = 0; t < kSubmitters; ++t) {
        submitters.emplace_back([&, t] {
            const auto submit = [&](int i) {
                const std::string body = "s" + std::to_string(t) + "." + std::to_string(i) +
                                         std::string(static_cast<size_t>(i + 1) * 97, 'q');
                qntest::Body answer;
                const int r = quillnet_submit_ex(server.url("/echo").c_str(), 20, body.c_str(), 1, &answer.ptr,
                                                 &answer.len);
                if (r != 0 || answer.str() != "echo:" + body) ++wrong_answers;
            };
            // Connected before the rush: the test server's backlog holds 5
            // connections, and a submit connects within 5 seconds.
            submit(-1);
            ++ready;
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < kSubmitsEach; ++i) submit(i);
        });
    }
    EXPECT_TRUE(eventually([&] { return ready.load() == kSubmitters; }, 60));
    // Sizes that differ, so that no task can pass for another.
    auto size_of = [](int i) { return static_cast<size_t>(40000 + 7919 * i); };
    std::vector<Seen> seen(kDownloads);
    std::vector<int64_t> tasks;
    go = true;
    for (int i = 0; i < kDownloads; ++i) {
        const std::string url = server.url("/file/" + std::to_string(size_of(i)));
        tasks.push_back(quillnet_download_asyn_urlfile(url.c_str(), out_.file(std::to_string(i)).c_str(), nullptr,
                                                       0, 1, 1, nullptr, 0, &seen[static_cast<size_t>(i)], &record));
        ASSERT_NE(tasks.back(), -1);
    }
    for (auto& t : submitters) t.join();
    for (int64_t fd : tasks) {
        EXPECT_TRUE(eventually([&] { return finished<qn::transfer::asyn_download_info>(fd); }, 60));
        EXPECT_EQ(quillnet_stop_download_asyn_urlfile(fd), 1);
    }
    EXPECT_EQ(wrong_answers.load(), 0);
    for (int i = 0; i < kDownloads; ++i) {
        SCOPED_TRACE(i);
        const Seen& s = seen[static_cast<size_t>(i)];
        const std::string expected = pattern(size_of(i));
        EXPECT_EQ(s.done, 0);
        EXPECT_EQ(s.dones, 1);
        EXPECT_TRUE(s.data == expected && qntest::read_file(out_.file(std::to_string(i))) == expected);
    }
    EXPECT_TRUE(eventually([&] { return task_threads() == threads_before; }));
}
