// hubcore's documents (the protocol table), with MJBase's bags.
#include <gtest/gtest.h>

#include "../mjbase/mjbase_test.h"
#include "temp_dir.h"

using namespace mj;
using mjtest::create;
using mjtest::Ref;

namespace {

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
    if (bag->GetText(name, nullptr, &size) != MJ_E_MORE_DATA || size < 1) return "2:?";
    std::vector<char> buffer(static_cast<size_t>(size), 'x');
    return bag->GetText(name, buffer.data(), &size) == MJ_S_OK ? "2:" + std::string(buffer.data()) : "2:?";
}

std::pair<result_t, Ref<IHubDocument>> Open(IMJParamBag* bag) {
    static const auto hub = reinterpret_cast<PFN_CreateMJObject>(mjtest::module_symbol("hubcore.dll", kFactoryName));
    auto factory = create<IHubDocumentFactory>(CLSID_HubDocumentFactory, hub);
    IHubDocument* doc = nullptr;
    const result_t status = factory->Open(bag, &doc);
    return {status, Ref<IHubDocument>(doc)};
}

std::pair<result_t, Ref<IHubDocument>> Open(const std::string& path) {
    auto bag = Bag();
    bag->SetText("file", path.c_str());
    return Open(bag.get());
}

}  // namespace

TEST(HubDocument, ScalarMembersLandInTheBagWithTheirTypes) {
    // One member of each kind behind a byte order mark and blanks.
    qntest::TempDir dir;
    auto [status, doc] = Open(dir.write("\xE9\x85\x8D\xE7\xBD\xAE/Protocol.json", "\xEF\xBB\xBF\r\n" R"( {"srv:80":
        "https://", "10.0.0.1:443": "http://", "empty": "", "accent": "caf\u00e9", "port": 8080, "far": -9000000000,
        "ratio": 0.25, "on": true, "off": false, "nothing": null, "list": ["a", 1], "nested": {"inner": "x"}} )" "\r\n"));
    ASSERT_TRUE(doc);
    EXPECT_EQ(status, MJ_S_OK);
    // "-": a failure, the bag untouched.
    const std::pair<const char*, std::string> members[] = {
        {"srv:80", "2:https://"}, {"10.0.0.1:443", "2:http://"}, {"empty", "2:"}, {"accent", "2:caf\xC3\xA9"},
        {"port", "1:8080"}, {"far", "1:-9000000000"}, {"ratio", "3:0.250000"}, {"on", "4:1"}, {"off", "4:0"},
        {"nothing", "-"}, {"list", "-"}, {"nested", "-"}, {"inner", "-"}, {"SRV:80", "-"}, {"srv", "-"}};
    for (const auto& [key, expected] : members) {
        auto bag = Bag();
        EXPECT_EQ(doc->Get(key, bag.get()), expected == "-" ? MJ_E_FAIL : MJ_S_OK) << key;
        EXPECT_EQ(Value(bag.get(), key), expected) << key;
    }
    EXPECT_EQ(doc->Get(nullptr, Bag().get()), MJ_E_POINTER);
    EXPECT_EQ(doc->Get("port", nullptr), MJ_E_POINTER);
}

TEST(HubDocument, MissingOrBrokenFilesGiveEmptyDocuments) {
    qntest::TempDir dir;
    const std::string broken[] = {"", "not json", R"({"srv:80": "https://")", R"({"srv:80": "https://"} trailing)",
                                  std::string(R"({"srv:80": "https://"})") + '\0' + "x",
                                  R"(["srv:80", "https://"])", "null"};  // the last two: no object
    std::vector<std::string> paths = {dir.file("missing.json"), dir.path()};  // no file, a folder
    for (const std::string& content : broken) paths.push_back(dir.write(std::to_string(paths.size()), content));
    auto no_name = Bag(), not_text = Bag();
    not_text->SetInt("file", 1, MJ_PARAM_INT);
    std::vector<std::pair<result_t, Ref<IHubDocument>>> opened;
    for (const std::string& path : paths) opened.push_back(Open(path));
    for (IMJParamBag* bag : {no_name.get(), not_text.get(), static_cast<IMJParamBag*>(nullptr)}) opened.push_back(Open(bag));
    // A document all the same, answering nothing.
    for (size_t i = 0; i < opened.size(); ++i) {
        EXPECT_EQ(opened[i].first, i + 1 < opened.size() ? MJ_E_FAIL : MJ_E_POINTER) << i;
        ASSERT_TRUE(opened[i].second) << i;
        EXPECT_EQ(opened[i].second->Get("srv:80", Bag().get()), MJ_E_FAIL) << i;
    }
}
