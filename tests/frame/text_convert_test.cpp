// Text conversion, host calls, documents and files through the stand-in
// modules beside the test executable.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "host/host_objects.h"
#include "host/module_loader.h"
#include "host/simple_file.h"
#include "host/text_convert.h"
#include "platform/platform.h"
#include "temp_dir.h"

using qn::mjwstring;

TEST(TextConvert, EmptyAndNullGiveEmpty) {
    EXPECT_EQ(qn::WideToUtf8(static_cast<const mj::wchar*>(nullptr)), "");
    EXPECT_EQ(qn::Utf8ToWide(static_cast<const char*>(nullptr)), mjwstring());
    EXPECT_EQ(qn::WideToCp936(nullptr), "");
    EXPECT_EQ(qn::WideToUtf8(u""), "");
    EXPECT_EQ(qn::Utf8ToWide(""), mjwstring());
}

TEST(TextConvert, RoundTrips) {
    const std::string samples[] = {
        "plain ascii",
        "caf\xC3\xA9 \xE4\xB8\xAD\xE6\x96\x87",  // café 中文
        "\xF0\x9F\x98\x80 outside the BMP",     // a surrogate pair in UTF-16
    };
    for (const std::string& s : samples) {
        const mjwstring wide = qn::Utf8ToWide(s);
        EXPECT_FALSE(wide.empty()) << s;
        EXPECT_EQ(qn::WideToUtf8(wide), s);
    }
    EXPECT_EQ(qn::Utf8ToWide("\xF0\x9F\x98\x80").size(), 2u);
    EXPECT_EQ(qn::Utf8ToWide("caf\xC3\xA9"), mjwstring(u"caf\u00e9"));
}

TEST(TextConvert, Cp936) {
    EXPECT_EQ(qn::WideToCp936(u"\u4e2d\u6587"), "\xD6\xD0\xCE\xC4");
    EXPECT_EQ(qn::WideToCp936(u"/tmp/config/"), "/tmp/config/");
}

TEST(TextConvert, FixedAreaAndHeapGiveTheSameResult) {
    // 1024 wide characters need 4096 bytes: the fixed area. 1025 do not.
    for (size_t n : {1023u, 1024u, 1025u, 5000u}) {
        const mjwstring wide(n, u'\u00e9');
        std::string expected;
        for (size_t i = 0; i < n; ++i) expected += "\xC3\xA9";
        EXPECT_EQ(qn::WideToUtf8(wide), expected) << n;
        EXPECT_EQ(qn::Utf8ToWide(expected), wide) << n;
        const mjwstring chinese(n, u'\u4e2d');
        EXPECT_EQ(qn::WideToCp936(chinese.c_str()).size(), 2 * n) << n;
    }
}

TEST(HostObjects, UIThreadIdIsTheMainThread) {
    std::string answer = "untouched";
    EXPECT_EQ(qn::host::HostFunctionCall("UIThreadId", "ui_tid", &answer), mj::MJ_S_OK);
    EXPECT_EQ(answer, std::to_string(qn::platform::main_thread_id()));

    std::string from_worker;
    std::thread([&] { qn::host::HostFunctionCall("UIThreadId", "ui_tid", &from_worker); }).join();
    EXPECT_EQ(from_worker, answer);

    std::string unknown = "untouched";
    EXPECT_NE(qn::host::HostFunctionCall("NoSuchFunction", "k", &unknown), mj::MJ_S_OK);
    EXPECT_EQ(unknown, "untouched");
}

TEST(HostObjects, ConfigurationDocument) {
    qntest::TempDir dir;
    const std::string path =
        dir.write("doc.json", R"({"srv:80": "https://", "port": 8080, "flag": true})");
    qn::host::MJRef<mj::IHubDocument> doc = qn::host::OpenConfigDocument(path);
    ASSERT_TRUE(doc);
    std::string value = "untouched";
    EXPECT_TRUE(qn::host::ReadDocumentText(doc.get(), "srv:80", &value));
    EXPECT_EQ(value, "https://");
    value = "untouched";
    EXPECT_FALSE(qn::host::ReadDocumentText(doc.get(), "port", &value));  // not text
    EXPECT_FALSE(qn::host::ReadDocumentText(doc.get(), "missing", &value));
    EXPECT_EQ(value, "untouched");

    qn::host::MJRef<mj::IHubDocument> none = qn::host::OpenConfigDocument(dir.file("absent.json"));
    EXPECT_FALSE(qn::host::ReadDocumentText(none.get(), "srv:80", &value));
}

TEST(HostObjects, LoaderArguments) {
    CModuleLoader loader("MJBase.dll");
    EXPECT_EQ(loader.CreateObject(mj::CLSID_MJParamBag, nullptr), mj::MJ_E_POINTER);
    qn::host::MJRef<mj::IMJParamBag> bag = loader.Create<mj::IMJParamBag>(mj::CLSID_MJParamBag);
    EXPECT_TRUE(bag);
    EXPECT_EQ(qn::host::ReadBagText(bag.get(), "missing", "fallback"), "fallback");
    bag->SetText("name", "value");
    EXPECT_EQ(qn::host::ReadBagText(bag.get(), "name", "fallback"), "value");
    // A class MJBase does not make leaves the reference empty.
    EXPECT_FALSE(loader.Create<mj::IMJObject>(mj::CLSID_HubHostCall));
}

TEST(HostObjects, SimpleFileWritesThroughTheHost) {
    qntest::TempDir dir;
    const std::string path = dir.file("out \xE4\xB8\xAD.bin");
    {
        MJBase::CSimpleFile file;
        ASSERT_TRUE(file.Open(qn::Utf8ToWide(path).c_str(), u"wb"));
        EXPECT_TRUE(file.IsOpen());
        EXPECT_EQ(file.Write("ab\0cd", 5), 5u);
        // Destruction closes the file.
    }
    EXPECT_EQ(qntest::read_file(path), std::string("ab\0cd", 5));

    MJBase::CSimpleFile missing;
    EXPECT_FALSE(missing.Open(qn::Utf8ToWide(dir.file("no/such/dir/f")).c_str(), u"wb"));
    EXPECT_FALSE(missing.IsOpen());
}
