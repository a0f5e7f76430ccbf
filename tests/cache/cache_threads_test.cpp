// The timed perform and the request cache from many threads: identical
// requests merged into one transfer, the failure of that transfer, a clear
// while it runs, the user-interface thread mark, and the clean-up thread
// at exit.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <dirent.h>
#endif

#include <mj/mj_interfaces.h>

#include "cache/timed_perform.h"
#include "cache/web_req_cache.h"
#include "cache_test_support.h"
#include "curl/libcurl_wrapper.h"
#include "log_file.h"
#include "platform/platform.h"
#include "quillnet.h"
#include "submit/recv_data.h"
#include "temp_dir.h"

using cachetest::records;
using cachetest::send;

namespace {

constexpr int kThreads = 16;

struct Answer {
    int code = -1;
    std::string body;
};

class CacheThreads : public ::testing::Test {
protected:
    void SetUp() override {
        qntest::use_config_dir(config_.path());
        CLibcurlWrapper::instance().curl_global_init(CURL_GLOBAL_ALL);
    }
    void TearDown() override { CLibcurlWrapper::instance().curl_global_cleanup(); }

    std::string log() const { return qntest::log_path(config_.path()); }

    Answer ask(const std::string& request) {
        recv_data* buffer = recv_data_create(nullptr);
        Answer answer;
        answer.code = send(server_.url(), request.c_str(), buffer).code;
        answer.body.assign(buffer->buf, static_cast<size_t>(buffer->length));
        recv_data_free(buffer, false);
        return answer;
    }

    // kThreads identical requests while the server holds the first one
    // until all the others wait for it.
    std::vector<Answer> ask_together(const std::string& request) {
        server_.hold();
        std::vector<Answer> answers(kThreads);
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i) {
            threads.emplace_back([this, i, &answers, &request] { answers[i] = ask(request); });
        }
        EXPECT_TRUE(server_.gate().wait_entered(1));
        EXPECT_TRUE(cachetest::eventually([] { return WebReqCache::instance().waiting() == kThreads - 1; }))
            << WebReqCache::instance().waiting() << " waiting";
        server_.gate().open();
        for (auto& t : threads) t.join();
        return answers;
    }

    qntest::TempDir config_;
    cachetest::TreeServer server_;
};

mj::PFN_HubSetUIThreadId set_ui_thread() {
    const std::string path =
        qn::platform::executable_dir() + qn::platform::module_file_name("hubcore.dll");
    qn::platform::ModuleHandle hub = qn::platform::load_module_path(path);
    if (hub == nullptr) return nullptr;
    return reinterpret_cast<mj::PFN_HubSetUIThreadId>(
        qn::platform::find_symbol(hub, mj::kSetUIThreadIdName));
}

}  // namespace

TEST_F(CacheThreads, IdenticalRequestsInFlightReachTheServerOnce) {
    const std::vector<Answer> answers = ask_together("{\"org\":7}");
    EXPECT_EQ(server_.hits(), 1);
    for (const Answer& a : answers) {
        EXPECT_EQ(a.code, CURLE_OK);
        EXPECT_EQ(a.body, "tree({\"org\":7})#1");
    }
    EXPECT_EQ(records(log(), "by catch == Req:{\"org\":7} Rep:tree({\"org\":7})#1", kThreads - 1).size(),
              static_cast<size_t>(kThreads - 1));
    EXPECT_EQ(records(log(), "by net == Req:{\"org\":7} Rep:tree({\"org\":7})#1").size(), 1u);
    EXPECT_EQ(records(log(), "] perform ret:0 spantime:", kThreads).size(), static_cast<size_t>(kThreads));
    EXPECT_EQ(WebReqCache::instance().pending_count(), 0u);
    EXPECT_EQ(WebReqCache::instance().waiting(), 0u);
}

TEST_F(CacheThreads, WhenTheOneTransferFailsEveryWaiterFailsWithItsCode) {
    server_.drop(true);
    const std::vector<Answer> answers = ask_together("q");
    EXPECT_EQ(server_.hits(), 1);
    const int code = answers[0].code;
    EXPECT_NE(code, CURLE_OK);
    for (const Answer& a : answers) {
        EXPECT_EQ(a.code, code);
        EXPECT_EQ(a.body, "") << "the buffer is left as it was";
    }
    const std::string failed = "] perform ret:" + std::to_string(code) + " spantime:";
    EXPECT_EQ(records(log(), failed, kThreads).size(), static_cast<size_t>(kThreads));
    EXPECT_EQ(records(log(), "by catch == Req:q Rep:", kThreads - 1).size(), static_cast<size_t>(kThreads - 1));
    EXPECT_EQ(records(log(), "by net == Req:q Rep:").size(), 1u);
    EXPECT_EQ(WebReqCache::instance().size(), 0u);
    EXPECT_EQ(WebReqCache::instance().pending_count(), 0u);

    // Nothing of the failure stays behind.
    server_.drop(false);
    const Answer next = ask("q");
    EXPECT_EQ(next.code, CURLE_OK);
    EXPECT_EQ(next.body, "tree(q)#2");
    EXPECT_EQ(server_.hits(), 2);
}

TEST_F(CacheThreads, ClearDuringATransferNeitherBlocksNorLosesIt) {
    server_.hold();
    std::atomic<bool> done{false};
    Answer first;
    std::thread fetcher([&] {
        first = ask("q");
        done = true;
    });
    ASSERT_TRUE(server_.gate().wait_entered(1));
    EXPECT_EQ(WebReqCache::instance().pending_count(), 1u);

    EXPECT_EQ(quillnet_clear_cache(nullptr), 0);
    EXPECT_FALSE(done.load()) << "the clear returned while the transfer is still held";
    EXPECT_EQ(WebReqCache::instance().pending_count(), 0u);

    server_.gate().open();
    fetcher.join();
    EXPECT_EQ(first.code, CURLE_OK);
    EXPECT_EQ(first.body, "tree(q)#1");
    EXPECT_EQ(WebReqCache::instance().size(), 1u);

    const Answer second = ask("q");
    EXPECT_EQ(second.body, "tree(q)#1");
    EXPECT_EQ(server_.hits(), 1);
    EXPECT_EQ(records(log(), "by catch == Req:q").size(), 1u);
}

TEST_F(CacheThreads, OnlyTheUserInterfaceThreadIsMarked) {
    // The stand-in host names the main thread until told otherwise.
    Answer main_answer = ask("main");
    Answer worker_answer;
    std::thread([&] { worker_answer = ask("worker"); }).join();
    EXPECT_EQ(main_answer.code, CURLE_OK);
    EXPECT_EQ(worker_answer.code, CURLE_OK);

    const auto marked = records(log(), " ** by UIThread.");
    const auto spans = records(log(), "] perform ret:0 spantime:", 2);
    ASSERT_EQ(spans.size(), 2u);
    ASSERT_EQ(marked.size(), 1u);
    EXPECT_EQ(marked[0], spans[0]);
    EXPECT_EQ(spans[1].find("UIThread"), std::string::npos) << spans[1];

    // Moved to a worker: the worker is marked and the main thread is not.
    mj::PFN_HubSetUIThreadId set = set_ui_thread();
    ASSERT_NE(set, nullptr);
    std::thread([&] {
        set(qn::platform::current_thread_id());
        worker_answer = ask("worker");
    }).join();
    main_answer = ask("main");
    set(0);

    const auto all = records(log(), "] perform ret:0 spantime:", 4);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_NE(all[2].find(" ** by UIThread."), std::string::npos) << all[2];
    EXPECT_EQ(all[3].find("UIThread"), std::string::npos) << all[3];
}

#if defined(__linux__)
namespace {

size_t g_threads_before_cache = 0;

size_t thread_count() {
    size_t n = 0;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(dir)) n += entry->d_name[0] != '.' ? 1 : 0;
        ::closedir(dir);
    }
    return n;
}

// Runs after every exit handler registered later, the cache's among them.
void fail_if_cleaner_survives() {
    const size_t now = thread_count();
    if (now > g_threads_before_cache) {
        std::fprintf(stderr, "%zu threads at exit, %zu before the cache\n", now, g_threads_before_cache);
        std::_Exit(3);
    }
}

}  // namespace

TEST(CacheShutdown, CleanerThreadIsJoinedBeforeExit) {
    // Threads that the runtime (or a sanitizer) starts with the first thread
    // of the process are there before the baseline is taken.
    std::thread([] {}).join();
    g_threads_before_cache = thread_count();
    ASSERT_EQ(std::atexit(fail_if_cleaner_survives), 0);

    EXPECT_EQ(quillnet_clear_cache(nullptr), 0);
    EXPECT_GT(thread_count(), g_threads_before_cache) << "the clean-up thread runs";
}
#endif
