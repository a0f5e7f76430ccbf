// Host mistakes with task handles, in every stop export's family (none may crash, hang, leak or reach
// another task), and a host's busy moment: many downloads and submits at once.
#include <curl/curl.h>

#include "submit_helpers.h"
#include "task_fixture.h"
#include "transfer/download_task.h"

using qntest::pattern;

namespace {

// What a callback that stops its own task saw: the stop's result (-2 until called) and the end event's.
struct SelfStop { int (*stop)(int64_t) = nullptr; std::atomic<int> result{-2}, done{-1}; };

void stop_from_callback(void* handle, int event, void* data, unsigned int, void* user) {
    auto* self = static_cast<SelfStop*>(user);
    if (event == TASK_EVENT_DONE) self->done = *static_cast<int*>(data);
    if (self->result.load() != -2) return;
    self->result = self->stop(static_cast<int64_t>(reinterpret_cast<intptr_t>(handle)));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the callback stays after its stop
}

class Misuse : public TransferTest {
public:
    void SetUp() override {
        TransferTest::SetUp();
        uploads_.serve_uploads().start();
        big_ = out_.write("big", pattern(20u << 20));
        small_ = out_.write("small", pattern(100000));
        big_form_.add(WEB_PART_SENDFILE, "a.bin", pattern(8u << 20));
        small_form_.add(WEB_PART_SENDFILE, "a.bin", pattern(1000));
        // The log's writer threads start with the first record, named after its thread: not task workers.
        EXPECT_EQ(quillnet_getpos_download_urlfile(-1), -1);
        logged();
        workers_ = task_threads();
    }
    int workers() const { return task_threads() - workers_; }
    // A task of kKinds[kind] that runs for seconds (`quick`: ends within a second or so).
    int64_t start(size_t kind, bool quick, void* user = nullptr, TaskCallback callback = nullptr) {
        const std::string file = files_.url(quick ? "/file/200000" : "/slow/40000000");
        const std::string up = uploads_.url(quick ? "/up" : "/slow");
        switch (kind) {
        case 0: return quillnet_download_urlfile_ex(file.c_str(), out_.file("t").c_str(), user, callback);
        case 1:
            return quillnet_download_asyn_urlfile(file.c_str(), out_.file("a").c_str(), nullptr, 0, 1, 1, nullptr, 0,
                                                  user, callback);
        case 2:
            return quillnet_upload_asyn_urlfile(up.c_str(), (quick ? small_ : big_).c_str(), nullptr, 0, 2, 0, nullptr,
                                                0, user, callback);
        default:
            return quillnet_submit_multipart_asyn(up.c_str(), (quick ? small_form_ : big_form_).get(), 0, 2, 1,
                                                  nullptr, 0, user, callback);
        }
    }

protected:
    // Outlives the library's clean-up, which closes the kept connections: stopping it waits for none.
    qntest::HttpServer server_;
    qntest::FileServer files_;
    qntest::HttpServer uploads_;
    std::string big_, small_;
    qntest::Form big_form_, small_form_;
    int workers_ = 0;
};

// The stop export's families, in the order of Misuse::start; the asynchronous kinds report their end.
const struct Kind { const char* name; int (*stop)(int64_t); int (*getpos)(int64_t); bool end_event; } kKinds[] = {
    {"threaded download", quillnet_stop_download_urlfile, quillnet_getpos_download_urlfile, false},
    {"asynchronous download", quillnet_stop_download_asyn_urlfile, quillnet_getpos_download_asyn_urlfile, true},
    {"asynchronous upload", quillnet_stop_upload_asyn_urlfile, quillnet_getpos_upload_asyn_urlfile, true},
    {"asynchronous multipart", quillnet_stop_multipart_asyn, quillnet_getpos_multipart_asyn, true},
};

}  // namespace

TEST_F(Misuse, CallbackStopsItsOwnTask) {
    for (size_t k = 0; k < 4; ++k) {
        const Kind& kind = kKinds[k];
        SCOPED_TRACE(kind.name);
        SelfStop self;
        self.stop = kind.stop;
        const int64_t fd = start(k, false, &self, &stop_from_callback);
        ASSERT_NE(fd, -1);
        // The worker finishes its turn and ends; its record goes with it.
        EXPECT_TRUE(eventually([&] { return self.result != -2 && workers() == 0; }));
        EXPECT_EQ(self.result, 1);
        EXPECT_TRUE(!kind.end_event || eventually([&] { return self.done == 1; }));
        EXPECT_EQ(kind.stop(fd), 0);
        EXPECT_EQ(kind.getpos(fd), -1);
    }
    EXPECT_EQ(grep(logged(), "!is_live_task(fd)"), Lines(8, "25 !is_live_task(fd)"));
}

TEST_F(Misuse, HandlesOfAnotherKindOrNoneAreRefused) {
    // Another kind's handle, and a block that looks like a record but was never one: refused, left as it was.
    const int64_t running = start(1, false);
    alignas(16) static char never[16384];
    const auto never_fd = static_cast<int64_t>(reinterpret_cast<intptr_t>(never));
    const int64_t multipart = start(3, false);
    for (const int64_t fd : {running, never_fd}) {
        for (const Kind& kind : kKinds) {
            if (fd == running && kind.stop == quillnet_stop_download_asyn_urlfile) continue;
            EXPECT_EQ(kind.stop(fd), 0) << kind.name;
            EXPECT_EQ(kind.getpos(fd), -1) << kind.name;
        }
        EXPECT_EQ(quillnet_getpos_upload_urlfile(fd), -1);
    }
    EXPECT_EQ(quillnet_control_download_asyn_urlfile(never_fd, CURLPAUSE_ALL), 0);
    EXPECT_EQ(quillnet_control_download_asyn_urlfile(multipart, CURLPAUSE_ALL), 0);
    EXPECT_EQ(std::count(never, never + sizeof never, 0), static_cast<long>(sizeof never));
    EXPECT_EQ(quillnet_stop_download_asyn_urlfile(running), 1);
    EXPECT_EQ(quillnet_stop_multipart_asyn(multipart), 1);
    // The running download: 3 other kinds x 2; the block: 4 x 2; the two controls. The threaded upload's at 30.
    const Lines log = logged();
    EXPECT_EQ(grep(log, "25 !is_live_task(fd)").size(), 6u + 8u + 2u);
    EXPECT_EQ(grep(log, "30 !is_live_task(fd)").size(), 2u);
}

// A second stop, and every use after the stop, while a newer task may have the stopped one's address.
TEST_F(Misuse, StaleHandleNeverReachesANewerTask) {
    for (size_t k = 0; k < 4; ++k) {
        const Kind& kind = kKinds[k];
        SCOPED_TRACE(kind.name);
        const int64_t stale = start(k, false);
        ASSERT_EQ(kind.stop(stale), 1);
        const int64_t between = start(k, false);
        ASSERT_EQ(kind.stop(between), 1);
        // A record of the same size, made right after the stops: the allocator would hand out one of theirs.
        Seen seen;
        const int64_t newer = start(k, true, &seen, kind.end_event ? &record : nullptr);
        ASSERT_NE(newer, -1);
        EXPECT_EQ(kind.stop(stale), 0);
        EXPECT_EQ(kind.getpos(stale), -1);
        if (kind.stop == quillnet_stop_download_asyn_urlfile) {
            EXPECT_EQ(quillnet_control_download_asyn_urlfile(stale, CURLPAUSE_ALL), 0);
        }
        // The newer task runs to its end, neither stopped nor paused.
        EXPECT_TRUE(eventually([&] { return kind.getpos(newer) == 100 && workers() == 0; }));
        EXPECT_EQ(kind.stop(newer), 1);
        EXPECT_EQ(seen.done, kind.end_event ? 0 : -1);
    }
}

// 64 asynchronous downloads while 16 threads submit: every file and answer exact, each task ends once.
TEST_F(Misuse, ManyDownloadsAndSubmitsAtOnceStayExact) {
    constexpr int kDownloads = 64, kSubmitters = 16, kSubmitsEach = 20;
    // A worker for every connection open at once, and time for a client held back by the load.
    server_.server().new_task_queue = [] { return new httplib::ThreadPool(kDownloads + kSubmitters + 8); };
    server_.keep_alive(30);
    server_.serve_files().server().Post(".*", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("echo:" + req.body, "text/plain");
    });
    server_.start();
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
                if (quillnet_submit_ex(server_.url("/echo").c_str(), 20, body.c_str(), 1, &answer.ptr, &answer.len) !=
                        0 || answer.str() != "echo:" + body) {
                    ++wrong_answers;
                }
            };
            // Connected before the rush: a submit connects within 5 s, which a loaded machine can spend queued.
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
        const std::string url = server_.url("/file/" + std::to_string(size_of(i)));
        tasks.push_back(quillnet_download_asyn_urlfile(url.c_str(), out_.file(std::to_string(i)).c_str(), nullptr,
                                                       0, 1, 1, nullptr, 0, &seen[static_cast<size_t>(i)], &record));
        EXPECT_NE(tasks.back(), -1);
    }
    for (auto& t : submitters) t.join();
    EXPECT_EQ(wrong_answers.load(), 0);
    for (int i = 0; i < kDownloads; ++i) {
        SCOPED_TRACE(i);
        const int64_t fd = tasks[static_cast<size_t>(i)];
        EXPECT_TRUE(eventually([&] { return finished<qn::transfer::asyn_download_info>(fd); }, 60));
        EXPECT_EQ(quillnet_stop_download_asyn_urlfile(fd), 1);
        const Seen& s = seen[static_cast<size_t>(i)];
        const std::string expected = pattern(size_of(i));
        EXPECT_TRUE(s.done == 0 && s.dones == 1);
        EXPECT_TRUE(s.data == expected && qntest::read_file(out_.file(std::to_string(i))) == expected);
    }
    EXPECT_TRUE(eventually([&] { return task_threads() == threads_before; }));
}
