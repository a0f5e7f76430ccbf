// The factory and the host call object of hubcore, on the main thread.
#include <gtest/gtest.h>

#include <string>

#if defined(__linux__)
#include <unistd.h>
#endif

#include "hub_test.h"
#include "platform.h"

using namespace hubtest;

namespace {

std::string main_thread_text() {
#if defined(__linux__)
    // Independent of the platform layer that hubcore itself uses.
    return std::to_string(::getpid());
#else
    return std::to_string(qn::platform::main_thread_id());
#endif
}

// Asks for the user-interface thread the way quillnet does: key "ui_tid"
// in "gdk", answer in "gdt".
std::string ask_ui_thread(mj::result_t expected = mj::MJ_S_OK) {
    Ref<mj::IHubHostCall> call = create<mj::IHubHostCall>(mj::CLSID_HubHostCall);
    EXPECT_TRUE(call);
    if (!call) return std::string();
    Ref<mj::IMJParamBag> bag = make_bag();
    bag->SetText("gdk", "ui_tid");
    EXPECT_EQ(call->Call("UIThreadId", bag.get()), expected);
    return bag_text(bag.get(), "gdt").value_or("<none>");
}

}  // namespace

TEST(HubFactory, RefusesMissingOutAndUnknownClasses) {
    ASSERT_NE(hub().create, nullptr);
    EXPECT_EQ(hub().create(&mj::CLSID_HubHostCall, nullptr), mj::MJ_E_POINTER);

    // A class of the other module, and no class at all.
    void* out = &out;
    EXPECT_EQ(hub().create(&mj::CLSID_MJParamBag, &out), mj::MJ_E_NOTIMPL);
    EXPECT_EQ(out, nullptr);
    out = &out;
    EXPECT_EQ(hub().create(nullptr, &out), mj::MJ_E_NOTIMPL);
    EXPECT_EQ(out, nullptr);
}

TEST(HubFactory, ObjectsCountReferencesAndFreeThemselves) {
    ASSERT_NE(hub().create, nullptr);
    for (const mj::MJCLSID* clsid : {&mj::CLSID_HubHostCall, &mj::CLSID_HubDocumentFactory}) {
        void* first = nullptr;
        void* second = nullptr;
        ASSERT_EQ(hub().create(clsid, &first), mj::MJ_S_OK);
        ASSERT_EQ(hub().create(clsid, &second), mj::MJ_S_OK);
        EXPECT_NE(first, second) << "each call makes an object of its own";

        // Both interfaces start with IMJObject at offset 0.
        auto* a = static_cast<mj::IMJObject*>(first);
        auto* b = static_cast<mj::IMJObject*>(second);
        EXPECT_EQ(a->AddRef(), 2u);
        EXPECT_EQ(a->AddRef(), 3u);
        EXPECT_EQ(a->Release(), 2u);
        EXPECT_EQ(a->Release(), 1u);
        // The sanitizer builds report a leak or a double free when the
        // counting is off.
        EXPECT_EQ(a->Release(), 0u);
        EXPECT_EQ(b->Release(), 0u);
    }
}

TEST(HubHostCall, UIThreadIdDefaultsToTheMainThread) {
    EXPECT_EQ(ask_ui_thread(), main_thread_text());
    EXPECT_EQ(ask_ui_thread(), std::to_string(qn::platform::current_thread_id()));
}

TEST(HubHostCall, UIThreadIdReportsTheRegisteredThread) {
    ASSERT_NE(hub().set_ui_thread, nullptr);
    hub().set_ui_thread(4242);
    EXPECT_EQ(ask_ui_thread(), "4242");
    hub().set_ui_thread(4294967295u);
    EXPECT_EQ(ask_ui_thread(), "4294967295");

    // 0 names no thread: back to the main thread.
    hub().set_ui_thread(0);
    EXPECT_EQ(ask_ui_thread(), main_thread_text());
}

TEST(HubHostCall, UnknownFunctionsAreNotImplementedAndLeaveTheBagAlone) {
    Ref<mj::IHubHostCall> call = create<mj::IHubHostCall>(mj::CLSID_HubHostCall);
    ASSERT_TRUE(call);
    Ref<mj::IMJParamBag> bag = make_bag();
    bag->SetText("gdt", "untouched");

    // Function names are matched exactly.
    EXPECT_EQ(call->Call("UIThreadID", bag.get()), mj::MJ_E_NOTIMPL);
    EXPECT_EQ(call->Call("HttpHead", bag.get()), mj::MJ_E_NOTIMPL);
    EXPECT_EQ(call->Call("", bag.get()), mj::MJ_E_NOTIMPL);
    EXPECT_EQ(bag_text(bag.get(), "gdt"), "untouched");

    EXPECT_EQ(call->Call(nullptr, bag.get()), mj::MJ_E_POINTER);
    EXPECT_EQ(call->Call("UIThreadId", nullptr), mj::MJ_E_POINTER);
}

TEST(HubHostCall, NotifyIsAcceptedAndChangesNothing) {
    Ref<mj::IHubHostCall> call = create<mj::IHubHostCall>(mj::CLSID_HubHostCall);
    ASSERT_TRUE(call);
    int dummy = 0;
    EXPECT_EQ(call->Notify("HttpHead", nullptr, nullptr), mj::MJ_S_OK);
    EXPECT_EQ(call->Notify("Other", &dummy, &dummy), mj::MJ_S_OK);
    EXPECT_EQ(call->Notify(nullptr, nullptr, nullptr), mj::MJ_S_OK);
    EXPECT_EQ(ask_ui_thread(), main_thread_text());
}
