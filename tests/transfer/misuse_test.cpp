// Host mistakes with task handles, one table row per stop export's family:
// a callback that stops its own task, a second stop, the handle used after
// its stop, a stale handle while a newer task runs, another kind's handle,
// an address that was never a handle, and a clean-up while tasks run. None
// may crash, hang, leak (AddressSanitizer) or reach another task.
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "file_server.h"
#include "submit_helpers.h"
#include "task_fixture.h"
#include "http_server.h"

using qntest::pattern;

namespace {

// What a callback that stops its own task saw: the stop's result (-2 until
// it is called) and the end event's.
struct SelfStop {
    int (*stop)(int64_t) = nullptr;
    int linger_ms = 0;  // the callback's stay after its stop
    std::atomic<int> result{-2};
    std::atomic<int> done{-1};
};

void stop_from_callback(void* handle, int event, void* data, unsigned int, void* user) {
    auto* self = static_cast<SelfStop*>(user);
    if (event == TASK_EVENT_DONE) self->done = *static_cast<int*>(data);
    if (self->result.load() != -2) return;
    self->result = self->stop(static_cast<int64_t>(reinterpret_cast<intptr_t>(handle)));
    std::this_thread::sleep_for(std::chrono::milliseconds(self->linger_ms));
}

class Misuse;

// One family of tasks with a stop export. `start` starts a task that runs
// for seconds (`quick`: one that ends by itself within a second or so).
struct Kind {
    const char* name;
    int64_t (Misuse::*start)(bool quick, void* user, TaskCallback callback);
    int (*stop)(int64_t);
    int (*getpos)(int64_t);
    bool end_event;  // the asynchronous kinds report their end
};

class Misuse : public TransferTest {
public:
    void SetUp() override {
        TransferTest::SetUp();
        uploads_.serve_uploads().start();
        big_ = out_.write("big", pattern(20u << 20));
        small_ = out_.write("small", pattern(100000));
        big_form_.add(WEB_PART_SENDFILE, "a.bin", pattern(8u << 20));
        small_form_.add(WEB_PART_SENDFILE, "a.bin", pattern(1000));
        // The log's writer threads start with the first record, named after
        // the thread that wrote it: not a task worker.
        EXPECT_EQ(quillnet_getpos_download_urlfile(-1), -1);
        logged();
        workers_ = task_threads();
    }
    // The task workers alive, besides threads that only carry their name.
    int workers() const { return task_threads() - workers_; }

    int64_t download_thread(bool quick, void* user, TaskCallback callback) {
        const std::string url = files_.url(quick ? "/file/200000" : "/slow/40000000");
        return quillnet_download_urlfile_ex(url.c_str(), out_.file("t").c_str(), user, callback);
    }
    int64_t download_asyn(bool quick, void* user, TaskCallback callback) {
        const std::string url = files_.url(quick ? "/file/200000" : "/slow/40000000");
        return quillnet_download_asyn_urlfile(url.c_str(), out_.file("a").c_str(), nullptr, 0, 1, 1, nullptr, 0,
                                              user, callback);
    }
    int64_t upload_asyn(bool quick, void* user, TaskCallback callback) {
        const std::string url = uploads_.url(quick ? "/up" : "/slow");
        return quillnet_upload_asyn_urlfile(url.c_str(), (quick ? small_ : big_).c_str(), nullptr, 0, 2, 0, nullptr,
                                            0, user, callback);
    }
    int64_t multipart_asyn(bool quick, void* user, TaskCallback callback) {
        const std::string url = uploads_.url(quick ? "/up" : "/slow");
        return quillnet_submit_multipart_asyn(url.c_str(), (quick ? small_form_ : big_form_).get(), 0, 2, 1, nullptr,
                                              0, user, callback);
    }

protected:
    qntest::FileServer files_;
    qntest::HttpServer uploads_;
    std::string big_, small_;
    qntest::Form big_form_, small_form_;
    int workers_ = 0;
};

const Kind kKinds[] = {
    {"threaded download", &Misuse::download_thread, quillnet_stop_download_urlfile, quillnet_getpos_download_urlfile,
     false},
    {"asynchronous download", &Misuse::download_asyn, quillnet_stop_download_asyn_urlfile,
     quillnet_getpos_download_asyn_urlfile, true},
    {"asynchronous upload", &Misuse::upload_asyn, quillnet_stop_upload_asyn_urlfile,
     quillnet_getpos_upload_asyn_urlfile, true},
    {"asynchronous multipart", &Misuse::multipart_asyn, quillnet_stop_multipart_asyn, quillnet_getpos_multipart_asyn,
     true},
};

}  // namespace

TEST_F(Misuse, CallbackStopsItsOwnTask) {
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        SelfStop self;
        self.stop = kind.stop;
        self.linger_ms = 50;
        const int64_t fd = (this->*kind.start)(false, &self, &stop_from_callback);
        ASSERT_NE(fd, -1);
        // The worker finishes its turn and ends; its record goes with it.
        EXPECT_TRUE(eventually([&] { return self.result != -2 && workers() == 0; }));
        EXPECT_EQ(self.result, 1);
        if (kind.end_event) {
            EXPECT_TRUE(eventually([&] { return self.done == 1; }));
        }
        EXPECT_EQ(kind.stop(fd), 0);
        EXPECT_EQ(kind.getpos(fd), -1);
    }
    EXPECT_EQ(grep(logged(), "!is_live_task(fd)"), Lines(8, "25 !is_live_task(fd)"));
}

TEST_F(Misuse, HandlesThatNameNoLiveTaskOfTheirKind) {
    // A second stop, and every use after the stop.
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        const int64_t fd = (this->*kind.start)(false, nullptr, nullptr);
        ASSERT_NE(fd, -1);
        EXPECT_EQ(kind.stop(fd), 1);
        EXPECT_EQ(kind.stop(fd), 0);
        EXPECT_EQ(kind.getpos(fd), -1);
    }
    // Another kind's handle, and a block that looks like a record but was
    // never one: refused, and left as it was.
    const int64_t running = download_asyn(false, nullptr, nullptr);
    alignas(16) static char never[16384];
    const auto never_fd = static_cast<int64_t>(reinterpret_cast<intptr_t>(never));
    const int64_t multipart = multipart_asyn(false, nullptr, nullptr);
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
    EXPECT_TRUE(eventually([&] { return quillnet_getpos_download_asyn_urlfile(running) > 0; }));
    EXPECT_EQ(quillnet_stop_download_asyn_urlfile(running), 1);
    EXPECT_EQ(quillnet_stop_multipart_asyn(multipart), 1);
    // After the stop: 4 kinds x 2; the running download: 3 other kinds x 2;
    // the block: 4 x 2; the two controls. The threaded upload's at its 30.
    const Lines log = logged();
    EXPECT_EQ(grep(log, "25 !is_live_task(fd)").size(), 8u + 6u + 8u + 2u);
    EXPECT_EQ(grep(log, "30 !is_live_task(fd)").size(), 2u);
}

TEST_F(Misuse, StaleHandleNeverReachesANewerTask) {
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        const int64_t stale = (this->*kind.start)(false, nullptr, nullptr);
        ASSERT_EQ(kind.stop(stale), 1);
        const int64_t between = (this->*kind.start)(false, nullptr, nullptr);
        ASSERT_EQ(kind.stop(between), 1);
        // A record of the same size, made right after the stops: the block
        // the allocator would hand out first is one of theirs.
        Seen seen;
        const int64_t newer = (this->*kind.start)(true, &seen, kind.end_event ? &record : nullptr);
        ASSERT_NE(newer, -1);
        EXPECT_EQ(kind.stop(stale), 0);
        if (kind.stop == quillnet_stop_download_asyn_urlfile) {
            EXPECT_EQ(quillnet_control_download_asyn_urlfile(stale, CURLPAUSE_ALL), 0);
        }
        // The newer task runs to its end, neither stopped nor paused.
        EXPECT_TRUE(eventually([&] { return kind.getpos(newer) == 100 && workers() == 0; }));
        EXPECT_EQ(kind.stop(newer), 1);
        if (kind.end_event) {
            EXPECT_EQ(seen.done, 0);
        }
    }
}

TEST_F(Misuse, CleanupLeavesRunningTasksToFinishOrStop) {
    Seen quick, slow;
    const int64_t ends = download_asyn(true, &quick, &record);
    const int64_t runs = download_asyn(false, &slow, &record);
    const int64_t upload = upload_asyn(false, nullptr, nullptr);
    ASSERT_TRUE(eventually([&] { return quillnet_getpos_download_asyn_urlfile(runs) > 0; }));
    EXPECT_EQ(quillnet_cleanup(), 1);
    const int at_cleanup = quillnet_getpos_download_asyn_urlfile(runs);
    EXPECT_TRUE(eventually([&] { return quillnet_getpos_download_asyn_urlfile(runs) > at_cleanup; }));
    EXPECT_TRUE(eventually([&] { return quillnet_getpos_upload_asyn_urlfile(upload) > 0; }));
    EXPECT_TRUE(eventually([&] {
        std::lock_guard<std::mutex> lock(quick.mutex);
        return quick.dones == 1;
    }));
    EXPECT_EQ(quillnet_stop_download_asyn_urlfile(ends), 1);
    EXPECT_EQ(quick.done, 0);
    EXPECT_EQ(quick.data, pattern(200000));
    EXPECT_EQ(quillnet_stop_download_asyn_urlfile(runs), 1);
    EXPECT_EQ(slow.done, 1);
    EXPECT_EQ(quillnet_stop_upload_asyn_urlfile(upload), 1);
    EXPECT_EQ(quillnet_startup(), 1);
}
