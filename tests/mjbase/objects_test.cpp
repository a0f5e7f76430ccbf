// The factory, the environment object, parameter bags and file objects of
// MJBase, loaded from beside the test executable.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "mjbase_test.h"
#include "platform.h"
#include "temp_dir.h"

using mjtest::create;
using mjtest::Ref;
using mjtest::W;

namespace {

// ---- factory --------------------------------------------------------------

TEST(MJBaseFactory, CreatesEveryClassWithOneReference) {
    ASSERT_NE(mjtest::factory(), nullptr);
    const mj::MJCLSID* classes[] = {&mj::CLSID_MJLogSink, &mj::CLSID_MJEnvironment, &mj::CLSID_MJParamBag,
                                    &mj::CLSID_MJTextConverter, &mj::CLSID_MJFile};
    for (const mj::MJCLSID* clsid : classes) {
        void* object = nullptr;
        ASSERT_EQ(mjtest::factory()(clsid, &object), mj::MJ_S_OK);
        ASSERT_NE(object, nullptr);
        auto* obj = static_cast<mj::IMJObject*>(object);
        EXPECT_EQ(obj->AddRef(), 2u);
        EXPECT_EQ(obj->Release(), 1u);
        EXPECT_EQ(obj->Release(), 0u);
    }
}

TEST(MJBaseFactory, RejectsNullOutPointerAndUnknownClasses) {
    ASSERT_NE(mjtest::factory(), nullptr);
    EXPECT_EQ(mjtest::factory()(&mj::CLSID_MJParamBag, nullptr), mj::MJ_E_POINTER);

    // hubcore's classes are not MJBase's business.
    for (const mj::MJCLSID* clsid : {&mj::CLSID_HubHostCall, &mj::CLSID_HubDocumentFactory}) {
        void* object = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(mjtest::factory()(clsid, &object), mj::MJ_E_NOTIMPL);
        EXPECT_EQ(object, nullptr);
    }
    mj::MJCLSID almost = mj::CLSID_MJFile;
    almost.d4[7] ^= 1;
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(mjtest::factory()(&almost, &object), mj::MJ_E_NOTIMPL);
    EXPECT_EQ(object, nullptr);
}

// ---- environment ----------------------------------------------------------

mjtest::wstring ConfigDirOfNewEnvironment() {
    auto env = create<mj::IMJEnvironment>(mj::CLSID_MJEnvironment);
    if (!env) return u"<no environment>";
    const mj::wchar* value = env->GetValue(mj::MJ_ENV_CONFIG_DIR, 0);
    return value != nullptr ? mjtest::wstring(value) : u"<null>";
}

TEST(MJBaseEnvironment, ConfigDirFromVariableAlwaysEndsInSlash) {
    ::setenv("MJ_CONFIG_DIR", "/srv/host/cfg", 1);
    EXPECT_EQ(ConfigDirOfNewEnvironment(), W(u"/srv/host/cfg/"));
    ::setenv("MJ_CONFIG_DIR", "/srv/host/cfg/", 1);
    EXPECT_EQ(ConfigDirOfNewEnvironment(), W(u"/srv/host/cfg/"));
    // Paths are UTF-8 bytes here and UTF-16 towards the library.
    ::setenv("MJ_CONFIG_DIR", "/srv/配置", 1);
    EXPECT_EQ(ConfigDirOfNewEnvironment(), W(u"/srv/配置/"));
}

TEST(MJBaseEnvironment, WithoutVariableConfigFolderBesideExecutable) {
    ::unsetenv("MJ_CONFIG_DIR");
    EXPECT_EQ(ConfigDirOfNewEnvironment(), mjtest::widen(qn::platform::executable_dir() + "config/"));
    ::setenv("MJ_CONFIG_DIR", "", 1);  // empty counts as unset
    EXPECT_EQ(ConfigDirOfNewEnvironment(), mjtest::widen(qn::platform::executable_dir() + "config/"));
}

TEST(MJBaseEnvironment, TextStaysWithTheObjectAndOtherIdsAreNull) {
    ::setenv("MJ_CONFIG_DIR", "/first", 1);
    auto env = create<mj::IMJEnvironment>(mj::CLSID_MJEnvironment);
    ASSERT_TRUE(env);
    const mj::wchar* first = env->GetValue(mj::MJ_ENV_CONFIG_DIR, 0);
    ::setenv("MJ_CONFIG_DIR", "/second", 1);
    EXPECT_EQ(env->GetValue(mj::MJ_ENV_CONFIG_DIR, 0), first);
    EXPECT_EQ(mjtest::wstring(first), W(u"/first/"));
    EXPECT_EQ(env->GetValue(mj::MJ_ENV_CONFIG_DIR + 1, 0), nullptr);
    EXPECT_EQ(env->GetValue(0, 0), nullptr);
}

// ---- parameter bag --------------------------------------------------------

TEST(MJBaseParamBag, GetTextAsksForSizeThenCopies) {
    auto bag = create<mj::IMJParamBag>(mj::CLSID_MJParamBag);
    ASSERT_TRUE(bag);
    ASSERT_EQ(bag->SetText("gdt", "hello"), mj::MJ_S_OK);

    int32_t size = 0;
    EXPECT_EQ(bag->GetText("gdt", nullptr, &size), mj::MJ_E_MORE_DATA);
    EXPECT_EQ(size, 6);

    char small[5];
    std::memset(small, 'x', sizeof(small));
    size = sizeof(small);
    EXPECT_EQ(bag->GetText("gdt", small, &size), mj::MJ_E_MORE_DATA);
    EXPECT_EQ(size, 6);
    EXPECT_EQ(std::string(small, sizeof(small)), "xxxxx");  // untouched

    char exact[6];
    size = sizeof(exact);
    EXPECT_EQ(bag->GetText("gdt", exact, &size), mj::MJ_S_OK);
    EXPECT_STREQ(exact, "hello");

    char large[64];
    size = sizeof(large);
    ASSERT_EQ(bag->SetText("gdt", "replaced"), mj::MJ_S_OK);
    EXPECT_EQ(bag->GetText("gdt", large, &size), mj::MJ_S_OK);
    EXPECT_STREQ(large, "replaced");

    ASSERT_EQ(bag->SetText("empty", ""), mj::MJ_S_OK);
    size = 0;
    EXPECT_EQ(bag->GetText("empty", nullptr, &size), mj::MJ_E_MORE_DATA);
    EXPECT_EQ(size, 1);

    size = sizeof(large);
    EXPECT_EQ(bag->GetText("missing", large, &size), mj::MJ_E_FAIL);
    EXPECT_EQ(bag->GetText("gdt", large, nullptr), mj::MJ_E_POINTER);
    EXPECT_EQ(bag->SetText("gdt", nullptr), mj::MJ_E_POINTER);
}

TEST(MJBaseParamBag, ValuesKeepTheirTypes) {
    auto bag = create<mj::IMJParamBag>(mj::CLSID_MJParamBag);
    ASSERT_TRUE(bag);
    int32_t type = 0;
    EXPECT_EQ(bag->GetType("n", &type), mj::MJ_E_FAIL);

    ASSERT_EQ(bag->SetInt("n", -5000000000LL, mj::MJ_PARAM_INT), mj::MJ_S_OK);
    ASSERT_EQ(bag->SetInt("flag", 7, mj::MJ_PARAM_BOOL), mj::MJ_S_OK);
    ASSERT_EQ(bag->SetDouble("x", 2.5), mj::MJ_S_OK);
    ASSERT_EQ(bag->SetText("s", "text"), mj::MJ_S_OK);
    EXPECT_EQ(bag->SetInt("bad", 1, mj::MJ_PARAM_TEXT), mj::MJ_E_FAIL);
    EXPECT_EQ(bag->GetType("bad", &type), mj::MJ_E_FAIL);

    const std::pair<const char*, int32_t> expected[] = {
        {"n", mj::MJ_PARAM_INT}, {"flag", mj::MJ_PARAM_BOOL}, {"x", mj::MJ_PARAM_DOUBLE}, {"s", mj::MJ_PARAM_TEXT}};
    for (const auto& e : expected) {
        ASSERT_EQ(bag->GetType(e.first, &type), mj::MJ_S_OK) << e.first;
        EXPECT_EQ(type, e.second) << e.first;
    }

    int64_t i = 0;
    double d = 0;
    EXPECT_EQ(bag->GetInt("n", &i), mj::MJ_S_OK);
    EXPECT_EQ(i, -5000000000LL);
    EXPECT_EQ(bag->GetInt("flag", &i), mj::MJ_S_OK);
    EXPECT_EQ(i, 1);  // booleans are stored as 0 / 1
    EXPECT_EQ(bag->GetDouble("x", &d), mj::MJ_S_OK);
    EXPECT_EQ(d, 2.5);
    EXPECT_EQ(bag->GetDouble("n", &d), mj::MJ_S_OK);
    EXPECT_EQ(d, -5000000000.0);

    // Only text answers GetText; text answers no number.
    int32_t size = 0;
    EXPECT_EQ(bag->GetText("n", nullptr, &size), mj::MJ_E_FAIL);
    EXPECT_EQ(bag->GetInt("s", &i), mj::MJ_E_FAIL);
    EXPECT_EQ(bag->GetDouble("s", &d), mj::MJ_E_FAIL);
    EXPECT_EQ(bag->GetInt("x", &i), mj::MJ_E_FAIL);

    // Setting a name again replaces value and type.
    ASSERT_EQ(bag->SetText("n", "now text"), mj::MJ_S_OK);
    ASSERT_EQ(bag->GetType("n", &type), mj::MJ_S_OK);
    EXPECT_EQ(type, mj::MJ_PARAM_TEXT);
    EXPECT_EQ(bag->GetInt("n", &i), mj::MJ_E_FAIL);
}

// ---- file object ----------------------------------------------------------

TEST(MJBaseFile, WritesClosesAndReadsBack) {
    qntest::TempDir dir;
    auto file = create<mj::IMJFile>(mj::CLSID_MJFile);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->IsOpen(), 0);

    const std::string path = dir.file("下载.bin");
    ASSERT_EQ(file->Open(mjtest::widen(path).c_str(), W(u"wb").c_str(), 0), 1);
    EXPECT_EQ(file->IsOpen(), 1);
    const char data[] = {'a', '\0', 'b', '\n', 'c'};
    EXPECT_EQ(file->Write(data, sizeof(data)), sizeof(data));
    EXPECT_EQ(file->Write(data, 2), 2u);
    EXPECT_EQ(file->Close(), mj::MJ_S_OK);
    EXPECT_EQ(file->IsOpen(), 0);
    EXPECT_EQ(qntest::read_file(path), std::string(data, sizeof(data)) + std::string(data, 2));

    // The mode is passed through: "ab" appends.
    ASSERT_EQ(file->Open(mjtest::widen(path).c_str(), W(u"ab").c_str(), 0), 1);
    EXPECT_EQ(file->Write("zz", 2), 2u);
    EXPECT_EQ(file->Close(), mj::MJ_S_OK);
    EXPECT_EQ(qntest::read_file(path).substr(7), "zz");
}

TEST(MJBaseFile, OpenInMissingFolderFails) {
    qntest::TempDir dir;
    auto file = create<mj::IMJFile>(mj::CLSID_MJFile);
    ASSERT_TRUE(file);
    const std::string path = dir.file("no/such/folder/out.bin");
    EXPECT_EQ(file->Open(mjtest::widen(path).c_str(), W(u"wb").c_str(), 0), 0);
    EXPECT_EQ(file->IsOpen(), 0);
    EXPECT_EQ(file->Write("abc", 3), 0u);
    EXPECT_NE(file->Close(), mj::MJ_S_OK);
    EXPECT_FALSE(qntest::file_exists(path));
}

TEST(MJBaseFile, ReleaseClosesAnOpenFile) {
    qntest::TempDir dir;
    const std::string path = dir.file("left-open.bin");
    {
        auto file = create<mj::IMJFile>(mj::CLSID_MJFile);
        ASSERT_TRUE(file);
        ASSERT_EQ(file->Open(mjtest::widen(path).c_str(), W(u"wb").c_str(), 0), 1);
        ASSERT_EQ(file->Write("still buffered", 14), 14u);
    }
    EXPECT_EQ(qntest::read_file(path), "still buffered");
}

}  // namespace
