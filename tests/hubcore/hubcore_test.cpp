// hubcore: its factory, the host call object's user-interface thread and
// documents, alone and shared between threads as quillnet shares them. The
// bags come from the real MJBase, as they do for quillnet.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "../mjbase/mjbase_test.h"
#include "temp_dir.h"

using namespace mj;
using mjtest::create;
using mjtest::Ref;

namespace {

PFN_CreateMJObject hub() {
    static const auto make = reinterpret_cast<PFN_CreateMJObject>(mjtest::module_symbol("hubcore.dll", kFactoryName));
    return make;
}

void SetUIThread(uint32_t id) {
    static const auto set =
        reinterpret_cast<PFN_HubSetUIThreadId>(mjtest::module_symbol("hubcore.dll", kSetUIThreadIdName));
    ASSERT_NE(set, nullptr);
    set(id);
}

Ref<IMJParamBag> Bag() { return create<IMJParamBag>(CLSID_MJParamBag); }

// "type:value" of `name` in the bag; "-" when it is not there.
std::string Value(IMJParamBag* bag, const char* name) {
    int32_t type = 0, size = 0;
    int64_t integer = 0;
    double real = 0;
    if (bag->GetType(name, &type) != MJ_S_OK) return "-";
    if (type == MJ_PARAM_DOUBLE) return bag->GetDouble(name, &real) == MJ_S_OK ? "3:" + std::to_string(real) : "3:?";
    if (type != MJ_PARAM_TEXT) {
        return std::to_string(type) + ":" + (bag->GetInt(name, &integer) == MJ_S_OK ? std::to_string(integer) : "?");
    }
    // Text the way quillnet reads it: the size first, then the text.
    if (bag->GetText(name, nullptr, &size) != MJ_E_MORE_DATA || size < 1) return "2:?";
    std::vector<char> buffer(static_cast<size_t>(size), 'x');
    return bag->GetText(name, buffer.data(), &size) == MJ_S_OK ? "2:" + std::string(buffer.data()) : "2:?";
}

// Asks for the user-interface thread as quillnet does: "ui_tid" in "gdk", the answer in "gdt".
std::string UIThread() {
    auto call = create<IHubHostCall>(CLSID_HubHostCall, hub());
    auto bag = Bag();
    if (!call || !bag) return "<no objects>";
    bag->SetText("gdk", "ui_tid");
    if (call->Call("UIThreadId", bag.get()) != MJ_S_OK) return "<failed>";
    const std::string answer = Value(bag.get(), "gdt");
    return answer.rfind("2:", 0) == 0 ? answer.substr(2) : answer;
}

// Opens a document through a new factory; its answer goes to *status.
Ref<IHubDocument> Open(IMJParamBag* bag, result_t* status) {
    auto factory = create<IHubDocumentFactory>(CLSID_HubDocumentFactory, hub());
    if (!factory) return nullptr;
    IHubDocument* doc = nullptr;
    *status = factory->Open(bag, &doc);
    return Ref<IHubDocument>(doc);
}

Ref<IHubDocument> Open(const std::string& path, result_t* status) {
    auto bag = Bag();
    return bag->SetText("file", path.c_str()) == MJ_S_OK ? Open(bag.get(), status) : nullptr;
}

// The protocol table as quillnet reads it and one member of each other
// kind, behind a byte order mark and blanks as Windows editors leave them.
const std::string kDocument = "\xEF\xBB\xBF\r\n" R"( {"srv:80": "https://", "10.0.0.1:443": "http://",
  "empty": "", "accent": "caf\u00e9", "port": 8080, "far": -9000000000, "ratio": 0.25, "on": true,
  "off": false, "nothing": null, "list": ["a", 1], "nested": {"inner": "x"}} )" "\r\n";

// What each member of kDocument becomes in a bag.
const std::pair<const char*, std::string> kMembers[] = {
    {"srv:80", "2:https://"}, {"10.0.0.1:443", "2:http://"}, {"empty", "2:"}, {"accent", "2:caf\xC3\xA9"},
    {"port", "1:8080"}, {"far", "1:-9000000000"}, {"ratio", "3:0.250000"}, {"on", "4:1"}, {"off", "4:0"},
    // Nothing a bag can hold, or no such member: a failure, the bag untouched.
    {"nothing", "-"}, {"list", "-"}, {"nested", "-"}, {"inner", "-"}, {"SRV:80", "-"}, {"srv", "-"}};

TEST(HubFactory, MakesCountedObjectsAndRefusesOtherClasses) {
    ASSERT_NE(hub(), nullptr);
    for (const MJCLSID* clsid : {&CLSID_HubHostCall, &CLSID_HubDocumentFactory}) {
        void* first = nullptr;
        void* second = nullptr;
        ASSERT_EQ(hub()(clsid, &first), MJ_S_OK);
        ASSERT_EQ(hub()(clsid, &second), MJ_S_OK);
        EXPECT_NE(first, second);
        EXPECT_EQ(static_cast<IMJObject*>(first)->AddRef(), 2u);
        EXPECT_EQ(static_cast<IMJObject*>(first)->Release(), 1u);
        EXPECT_EQ(static_cast<IMJObject*>(first)->Release(), 0u);
        EXPECT_EQ(static_cast<IMJObject*>(second)->Release(), 0u);
    }
    EXPECT_EQ(hub()(&CLSID_HubHostCall, nullptr), MJ_E_POINTER);
    for (const MJCLSID* clsid : {&CLSID_MJParamBag, static_cast<const MJCLSID*>(nullptr)}) {
        void* out = &out;
        EXPECT_EQ(hub()(clsid, &out), MJ_E_NOTIMPL);
        EXPECT_EQ(out, nullptr);
    }
}

TEST(HubHostCall, UIThreadIdIsTheMainThreadUnlessOneIsRegistered) {
    const std::string main_thread = std::to_string(::getpid());  // not through the platform layer hubcore uses
    EXPECT_EQ(UIThread(), main_thread);
    // Asked from a worker: still the main thread. A host whose interface
    // runs on a thread of its own registers that one, from there.
    std::string seen, worker;
    std::thread([&] {
        seen = UIThread();
        worker = std::to_string(qn::platform::current_thread_id());
        SetUIThread(qn::platform::current_thread_id());
    }).join();
    EXPECT_EQ(seen, main_thread);
    EXPECT_EQ(UIThread(), worker);
    for (uint32_t id : {4242u, 4294967295u}) {
        SetUIThread(id);
        EXPECT_EQ(UIThread(), std::to_string(id));
    }
    SetUIThread(0);  // no thread: back to the default
    EXPECT_EQ(UIThread(), main_thread);

    auto call = create<IHubHostCall>(CLSID_HubHostCall, hub());
    auto bag = Bag();
    ASSERT_TRUE(call && bag);
    bag->SetText("gdt", "untouched");
    for (const char* other : {"UIThreadID", "HttpHead", ""}) EXPECT_EQ(call->Call(other, bag.get()), MJ_E_NOTIMPL);
    EXPECT_EQ(Value(bag.get(), "gdt"), "2:untouched");
    EXPECT_EQ(call->Call(nullptr, bag.get()), MJ_E_POINTER);
    EXPECT_EQ(call->Call("UIThreadId", nullptr), MJ_E_POINTER);
    EXPECT_EQ(call->Notify("HttpHead", bag.get(), nullptr), MJ_S_OK);
    EXPECT_EQ(call->Notify(nullptr, nullptr, nullptr), MJ_S_OK);
    EXPECT_EQ(UIThread(), main_thread);
}

TEST(HubDocument, ScalarMembersLandInTheBagWithTheirTypes) {
    qntest::TempDir dir;
    result_t status = -1;
    auto doc = Open(dir.write("\xE9\x85\x8D\xE7\xBD\xAE/Protocol.json", kDocument), &status);  // 配置/
    ASSERT_TRUE(doc);
    EXPECT_EQ(status, MJ_S_OK);
    for (const auto& [key, expected] : kMembers) {
        auto bag = Bag();
        bag->SetText("other", "kept");
        EXPECT_EQ(doc->Get(key, bag.get()), expected == "-" ? MJ_E_FAIL : MJ_S_OK) << key;
        EXPECT_EQ(Value(bag.get(), key), expected) << key;
        EXPECT_EQ(Value(bag.get(), "other"), "2:kept") << key;
    }
    EXPECT_EQ(doc->Get(nullptr, Bag().get()), MJ_E_POINTER);
    EXPECT_EQ(doc->Get("port", nullptr), MJ_E_POINTER);
}

TEST(HubDocument, MissingOrBrokenFilesGiveEmptyDocuments) {
    qntest::TempDir dir;
    const std::string broken[] = {
        "", "   \n", "not json",
        R"({"srv:80": "https://")",            // cut short
        R"({"srv:80": "https://"} trailing)",  // garbage after the object
        R"({"srv:80": "https://"}{"a": 1})",   // two values
        std::string(R"({"srv:80": "https://"})") + '\0' + "x",
        R"(["srv:80", "https://"])", R"("srv:80")", "80", "true", "null",  // not an object
    };
    std::vector<std::string> paths = {dir.file("missing.json"), dir.path()};  // no file, a folder
    for (const std::string& content : broken) paths.push_back(dir.write(std::to_string(paths.size()), content));
    const auto expect_empty = [](const Ref<IHubDocument>& doc) {
        ASSERT_TRUE(doc);  // a document all the same, which answers nothing
        auto bag = Bag();
        EXPECT_EQ(doc->Get("srv:80", bag.get()), MJ_E_FAIL);
        EXPECT_EQ(Value(bag.get(), "srv:80"), "-");
    };
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        result_t status = MJ_S_OK;
        expect_empty(Open(path, &status));
        EXPECT_EQ(status, MJ_E_FAIL);
    }
    // No file name, one that is not text, no bag at all.
    auto no_name = Bag();
    auto not_text = Bag();
    not_text->SetInt("file", 1, MJ_PARAM_INT);
    for (IMJParamBag* bag : {no_name.get(), not_text.get(), static_cast<IMJParamBag*>(nullptr)}) {
        result_t status = MJ_S_OK;
        expect_empty(Open(bag, &status));
        EXPECT_EQ(status, bag != nullptr ? MJ_E_FAIL : MJ_E_POINTER);
    }
    auto factory = create<IHubDocumentFactory>(CLSID_HubDocumentFactory, hub());
    EXPECT_EQ(factory->Open(no_name.get(), nullptr), MJ_E_POINTER);
}

// quillnet reads documents and asks for the user-interface thread from every
// thread that rewrites a URL or performs a transfer, while a host may
// register its thread at any time.
TEST(HubThreads, DocumentsAndHostCallsServeManyThreads) {
    qntest::TempDir dir;
    result_t status = -1;
    IHubDocument* doc = Open(dir.write("Protocol.json", kDocument), &status).release();
    ASSERT_NE(doc, nullptr);
    constexpr int kThreads = 8;
    for (int t = 1; t < kThreads; ++t) doc->AddRef();  // one a thread: the last release happens on one of them
    SetUIThread(1001);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                auto bag = Bag();
                for (const auto& [key, expected] : kMembers) {
                    doc->Get(key, bag.get());
                    if (Value(bag.get(), key) != expected) ++wrong;
                }
                // Racing with the registrations: only ever one of the ids written.
                const std::string ui = UIThread();
                if (ui != "1001" && ui != "2002") ++wrong;
            }
            doc->Release();
        });
    }
    for (int i = 0; i < 2000; ++i) SetUIThread(i % 2 == 0 ? 2002 : 1001);
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
