// Documents of the hubcore factory: what each JSON member becomes in a
// bag, and the empty document that every broken file turns into.
#include <gtest/gtest.h>

#include <string>

#include "hub_test.h"
#include "temp_dir.h"

using namespace hubtest;

namespace {

// The protocol table as quillnet reads it, plus one member of each kind.
const char kDocument[] = R"({
  "srv:80": "https://",
  "10.0.0.1:443": "http://",
  "empty": "",
  "accent": "caf\u00e9",
  "port": 8080,
  "far": -9000000000,
  "ratio": 0.25,
  "on": true,
  "off": false,
  "nothing": null,
  "list": ["a", 1],
  "nested": {"inner": "x"}
})";

void expect_empty(mj::IHubDocument* doc, const char* key) {
    ASSERT_NE(doc, nullptr);
    Ref<mj::IMJParamBag> bag = make_bag();
    EXPECT_EQ(doc->Get(key, bag.get()), mj::MJ_E_FAIL);
    EXPECT_FALSE(bag_type(bag.get(), key).has_value());
}

}  // namespace

TEST(HubDocument, ScalarMembersLandInTheBagWithTheirTypes) {
    qntest::TempDir dir;
    mj::result_t status = -1;
    Ref<mj::IHubDocument> doc = open_document(dir.write("Resource/Protocol.json", kDocument), &status);
    ASSERT_TRUE(doc);
    EXPECT_EQ(status, mj::MJ_S_OK);

    Ref<mj::IMJParamBag> bag = make_bag();
    for (const char* key : {"srv:80", "10.0.0.1:443", "empty", "accent"}) {
        EXPECT_EQ(doc->Get(key, bag.get()), mj::MJ_S_OK) << key;
        EXPECT_EQ(bag_type(bag.get(), key), mj::MJ_PARAM_TEXT) << key;
    }
    EXPECT_EQ(bag_text(bag.get(), "srv:80"), "https://");
    EXPECT_EQ(bag_text(bag.get(), "10.0.0.1:443"), "http://");
    EXPECT_EQ(bag_text(bag.get(), "empty"), "");
    EXPECT_EQ(bag_text(bag.get(), "accent"), "caf\xC3\xA9");

    int64_t integer = 0;
    ASSERT_EQ(doc->Get("port", bag.get()), mj::MJ_S_OK);
    EXPECT_EQ(bag_type(bag.get(), "port"), mj::MJ_PARAM_INT);
    EXPECT_EQ(bag->GetInt("port", &integer), mj::MJ_S_OK);
    EXPECT_EQ(integer, 8080);
    ASSERT_EQ(doc->Get("far", bag.get()), mj::MJ_S_OK);
    EXPECT_EQ(bag->GetInt("far", &integer), mj::MJ_S_OK);
    EXPECT_EQ(integer, -9000000000LL) << "integers keep all 64 bits";

    double real = 0;
    ASSERT_EQ(doc->Get("ratio", bag.get()), mj::MJ_S_OK);
    EXPECT_EQ(bag_type(bag.get(), "ratio"), mj::MJ_PARAM_DOUBLE);
    EXPECT_EQ(bag->GetDouble("ratio", &real), mj::MJ_S_OK);
    EXPECT_EQ(real, 0.25);

    for (const auto& [key, expected] : {std::pair<const char*, int64_t>{"on", 1}, {"off", 0}}) {
        ASSERT_EQ(doc->Get(key, bag.get()), mj::MJ_S_OK) << key;
        EXPECT_EQ(bag_type(bag.get(), key), mj::MJ_PARAM_BOOL) << key;
        EXPECT_EQ(bag->GetInt(key, &integer), mj::MJ_S_OK);
        EXPECT_EQ(integer, expected) << key;
    }
}

TEST(HubDocument, MembersWithoutABagTypeFailAndLeaveTheBagAlone) {
    qntest::TempDir dir;
    Ref<mj::IHubDocument> doc = open_document(dir.write("doc.json", kDocument));
    ASSERT_TRUE(doc);
    for (const char* key : {"missing", "nothing", "list", "nested", "inner", "SRV:80", "srv"}) {
        Ref<mj::IMJParamBag> bag = make_bag();
        bag->SetText("other", "kept");
        EXPECT_EQ(doc->Get(key, bag.get()), mj::MJ_E_FAIL) << key;
        EXPECT_FALSE(bag_type(bag.get(), key).has_value()) << key;
        EXPECT_EQ(bag_text(bag.get(), "other"), "kept") << key;
    }
    EXPECT_EQ(doc->Get(nullptr, make_bag().get()), mj::MJ_E_POINTER);
    EXPECT_EQ(doc->Get("port", nullptr), mj::MJ_E_POINTER);
}

TEST(HubDocument, MissingFileGivesAnEmptyDocument) {
    qntest::TempDir dir;
    mj::result_t status = mj::MJ_S_OK;
    Ref<mj::IHubDocument> doc = open_document(dir.file("Resource/Protocol.json"), &status);
    EXPECT_EQ(status, mj::MJ_E_FAIL);
    expect_empty(doc.get(), "srv:80");

    // A folder is no file either.
    doc = open_document(dir.path(), &status);
    EXPECT_EQ(status, mj::MJ_E_FAIL);
    expect_empty(doc.get(), "srv:80");
}

TEST(HubDocument, BrokenFilesGiveEmptyDocuments) {
    qntest::TempDir dir;
    const std::string broken[] = {
        "",
        "   \n",
        "not json",
        R"({"srv:80": "https://")",             // cut short
        R"({"srv:80": "https://"} trailing)",   // garbage after the object
        R"({"srv:80": "https://"}{"a": 1})",    // two values
        std::string(R"({"srv:80": "https://"})") + '\0' + "x",
    };
    int n = 0;
    for (const std::string& content : broken) {
        mj::result_t status = mj::MJ_S_OK;
        Ref<mj::IHubDocument> doc = open_document(dir.write("broken" + std::to_string(n++), content), &status);
        EXPECT_EQ(status, mj::MJ_E_FAIL) << "content: " << content;
        expect_empty(doc.get(), "srv:80");
    }
}

TEST(HubDocument, TopLevelValuesOtherThanObjectsGiveEmptyDocuments) {
    qntest::TempDir dir;
    for (const char* content : {R"(["srv:80", "https://"])", R"("srv:80")", "80", "true", "null"}) {
        mj::result_t status = mj::MJ_S_OK;
        Ref<mj::IHubDocument> doc = open_document(dir.write("top.json", content), &status);
        EXPECT_EQ(status, mj::MJ_E_FAIL) << content;
        expect_empty(doc.get(), "srv:80");
    }
}

TEST(HubDocument, ByteOrderMarkBlanksAndUnicodePathsAreAccepted) {
    qntest::TempDir dir;
    const std::string path =
        dir.write("\xE9\x85\x8D\xE7\xBD\xAE/Protocol.json", "\xEF\xBB\xBF\r\n {\"srv:443\": \"http://\"} \r\n");
    mj::result_t status = -1;
    Ref<mj::IHubDocument> doc = open_document(path, &status);
    ASSERT_TRUE(doc);
    EXPECT_EQ(status, mj::MJ_S_OK);
    Ref<mj::IMJParamBag> bag = make_bag();
    ASSERT_EQ(doc->Get("srv:443", bag.get()), mj::MJ_S_OK);
    EXPECT_EQ(bag_text(bag.get(), "srv:443"), "http://");
}

TEST(HubDocumentFactory, OpenWithoutAFileNameStillHandsOutADocument) {
    Ref<mj::IHubDocumentFactory> factory = create<mj::IHubDocumentFactory>(mj::CLSID_HubDocumentFactory);
    ASSERT_TRUE(factory);

    Ref<mj::IMJParamBag> bag = make_bag();
    Ref<mj::IHubDocument> doc;
    EXPECT_EQ(factory->Open(bag.get(), doc.put()), mj::MJ_E_FAIL);
    expect_empty(doc.get(), "srv:80");

    // "file" of another type is no file name.
    bag->SetInt("file", 1, mj::MJ_PARAM_INT);
    EXPECT_EQ(factory->Open(bag.get(), doc.put()), mj::MJ_E_FAIL);
    expect_empty(doc.get(), "srv:80");

    EXPECT_EQ(factory->Open(nullptr, doc.put()), mj::MJ_E_POINTER);
    expect_empty(doc.get(), "srv:80");

    EXPECT_EQ(factory->Open(bag.get(), nullptr), mj::MJ_E_POINTER);
}
