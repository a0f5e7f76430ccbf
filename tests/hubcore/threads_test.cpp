// hubcore objects used from several threads at once, as quillnet does from
// every thread that performs a transfer or rewrites a URL.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "hub_test.h"
#include "platform.h"
#include "temp_dir.h"

using namespace hubtest;

namespace {

std::string ask_ui_thread(mj::IHubHostCall* call) {
    Ref<mj::IMJParamBag> bag = make_bag();
    if (call->Call("UIThreadId", bag.get()) != mj::MJ_S_OK) return "<failed>";
    return bag_text(bag.get(), "gdt").value_or("<none>");
}

}  // namespace

TEST(HubThreads, WorkerThreadsStillSeeTheMainThreadAsUIThread) {
    Ref<mj::IHubHostCall> call = create<mj::IHubHostCall>(mj::CLSID_HubHostCall);
    ASSERT_TRUE(call);
    const std::string main_id = std::to_string(qn::platform::current_thread_id());

    std::string seen;
    std::string own;
    std::thread worker([&] {
        seen = ask_ui_thread(call.get());
        own = std::to_string(qn::platform::current_thread_id());
    });
    worker.join();
    EXPECT_EQ(seen, main_id);
    EXPECT_NE(seen, own);
}

TEST(HubThreads, RegistrationFromAnyThreadIsSeenByAll) {
    Ref<mj::IHubHostCall> call = create<mj::IHubHostCall>(mj::CLSID_HubHostCall);
    ASSERT_TRUE(call);
    ASSERT_NE(hub().set_ui_thread, nullptr);

    // A host whose interface runs on a thread of its own registers it there.
    std::string registered;
    std::thread ui([&] {
        hub().set_ui_thread(qn::platform::current_thread_id());
        registered = std::to_string(qn::platform::current_thread_id());
    });
    ui.join();
    EXPECT_EQ(ask_ui_thread(call.get()), registered);

    // Readers racing with a writer only ever see one of the written ids.
    std::atomic<bool> stop{false};
    std::atomic<int> odd_answers{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                const std::string answer = ask_ui_thread(call.get());
                if (answer != "1001" && answer != "2002" && answer != registered) ++odd_answers;
            }
        });
    }
    for (int i = 0; i < 2000; ++i) hub().set_ui_thread(i % 2 == 0 ? 1001 : 2002);
    stop = true;
    for (std::thread& t : readers) t.join();
    EXPECT_EQ(odd_answers.load(), 0);
    EXPECT_EQ(ask_ui_thread(call.get()), "2002");
}

TEST(HubThreads, ConcurrentGetFromEightThreads) {
    qntest::TempDir dir;
    const std::string path = dir.write("Resource/Protocol.json",
                                       R"({"srv:80": "https://", "10.0.0.1:443": "http://",
                                           "port": 8080, "ratio": 0.5, "on": true})");
    Ref<mj::IHubDocument> doc = open_document(path);
    ASSERT_TRUE(doc);

    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        // Each thread holds its own reference, and the test's own goes
        // first, so the last release happens on some worker.
        threads.emplace_back([&wrong, mine = doc] {
            for (int i = 0; i < 300; ++i) {
                Ref<mj::IMJParamBag> bag = make_bag();
                int64_t port = 0;
                double ratio = 0;
                if (mine->Get("srv:80", bag.get()) != mj::MJ_S_OK ||
                    bag_text(bag.get(), "srv:80") != "https://" ||
                    mine->Get("10.0.0.1:443", bag.get()) != mj::MJ_S_OK ||
                    bag_text(bag.get(), "10.0.0.1:443") != "http://" ||
                    mine->Get("port", bag.get()) != mj::MJ_S_OK || bag->GetInt("port", &port) != mj::MJ_S_OK ||
                    port != 8080 || mine->Get("ratio", bag.get()) != mj::MJ_S_OK ||
                    bag->GetDouble("ratio", &ratio) != mj::MJ_S_OK || ratio != 0.5 ||
                    mine->Get("on", bag.get()) != mj::MJ_S_OK || bag_type(bag.get(), "on") != mj::MJ_PARAM_BOOL ||
                    mine->Get("srv:443", bag.get()) != mj::MJ_E_FAIL) {
                    ++wrong;
                }
            }
        });
    }
    doc = Ref<mj::IHubDocument>();
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}
