// MJBase's environment, file object and text converter, where quillnet's tests do not reach.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "mjbase_test.h"
#include "temp_dir.h"

using namespace mj;
using mjtest::create;
using mjtest::W;

namespace {

TEST(MJBaseEnvironment, ConfigDirEndsInSlashAndIsReadWhenTheObjectIsMade) {
    const mjtest::wstring beside = W(qn::platform::executable_dir() + "config/");
    const std::pair<const char*, mjtest::wstring> cases[] = {
        {"/srv/cfg", W(u"/srv/cfg/")}, {"/srv/cfg/", W(u"/srv/cfg/")},
        {"/srv/配置", W(u"/srv/配置/")},  // UTF-8 bytes here, UTF-16 towards the library
        {nullptr, beside}, {"", beside},  // unset or empty: the folder beside the executable
    };
    for (const auto& [value, expected] : cases) {
        value != nullptr ? ::setenv("MJ_CONFIG_DIR", value, 1) : ::unsetenv("MJ_CONFIG_DIR");
        auto env = create<IMJEnvironment>(CLSID_MJEnvironment);
        ASSERT_TRUE(env);
        ::setenv("MJ_CONFIG_DIR", "/changed", 1);
        const wchar* dir = env->GetValue(MJ_ENV_CONFIG_DIR, 0);
        ASSERT_NE(dir, nullptr);
        EXPECT_EQ(mjtest::wstring(dir), expected) << (value != nullptr ? value : "(unset)");
        EXPECT_EQ(env->GetValue(MJ_ENV_CONFIG_DIR + 1, 0), nullptr);
    }
}

TEST(MJBaseFile, AppendsClosesOnReleaseAndFailsInMissingFolders) {
    qntest::TempDir dir;
    const mjtest::wstring path = W(dir.path()) + W(u"下载.bin");
    for (const char16_t* mode : {u"wb", u"ab"}) {  // the second appends
        auto file = create<IMJFile>(CLSID_MJFile);
        ASSERT_EQ(file->Open(path.c_str(), W(mode).c_str(), 0), 1);
        EXPECT_EQ(file->Write("a\0b", 3), 3u);
    }  // released while open and buffered
    EXPECT_EQ(qntest::read_file(dir.file("下载.bin")), std::string("a\0ba\0b", 6));
    auto file = create<IMJFile>(CLSID_MJFile);
    EXPECT_EQ(file->Open((W(dir.path()) + W(u"no/such/out.bin")).c_str(), W(u"wb").c_str(), 0), 0);
    EXPECT_EQ(file->Write("abc", 3), 0u);
    EXPECT_NE(file->Close(), MJ_S_OK);
    EXPECT_EQ(mjtest::mjbase()(&CLSID_MJFile, nullptr), MJ_E_POINTER);  // nowhere to put one
}

// Converts `src` (junk after it: only its length ends it) into `cap` units, checking the terminator and guards.
template <class Out, class In>
std::basic_string<Out> Convert(uint32_t request, uint32_t code_page, std::basic_string<In> src, uint32_t cap,
                               result_t* rc) {
    const auto src_len = static_cast<uint32_t>(src.size());
    src += In('Z');
    std::vector<Out> dst(cap + 4, Out(0x7F));
    MJConvertRequest req{code_page, src_len, cap, 12345, src.data(), dst.data()};
    *rc = create<IMJTextConverter>(CLSID_MJTextConverter)->Convert(request, &req);
    if (req.result >= cap) return std::basic_string<Out>(1, Out('?'));  // no room left for the terminator
    EXPECT_EQ(dst[req.result], Out(0)) << "not terminated";
    for (size_t i = cap; i < dst.size(); ++i) EXPECT_EQ(dst[i], Out(0x7F)) << "written at " << i;
    return std::basic_string<Out>(dst.data(), req.result);
}

TEST(MJBaseConverter, ConvertsCutsAtCharactersAndReplacesBadInput) {
    constexpr uint32_t kTo = MJ_CONVERT_TO_WIDE, kFrom = MJ_CONVERT_FROM_WIDE, kUtf8 = MJ_CP_UTF8, kGbk = MJ_CP_GBK;
    // 1- to 4-byte characters, the last two surrogate pairs in UTF-16.
    const std::string text8 = "h\xC3\xA9llo \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80\xF0\x9D\x84\x9E";
    const std::u16string text16 = u"h\u00E9llo \u4E2D\u6587 \U0001F600\U0001D11E";
    const std::string gbk = "\xD6\xD0\xCE\xC4";  // 中文
    const std::string emoji8 = "a\xF0\x9F\x98\x80";
    // narrow: the source of kTo, the output of kFrom; wide the other way round.
    struct Case { uint32_t request, code_page; std::string narrow; std::u16string wide; uint32_t cap; result_t rc; };
    const Case cases[] = {
        {kTo, kUtf8, text8, text16, 64, MJ_S_OK},
        {kFrom, kUtf8, text8, text16, 64, MJ_S_OK},
        {kTo, kGbk, "dir/" + gbk + "/", u"dir/\u4E2D\u6587/", 16, MJ_S_OK},
        {kFrom, kGbk, gbk, u"\u4E2D\u6587", 16, MJ_S_OK},
        {kFrom, kUtf8, std::string("a\0b", 3), std::u16string(u"a\0b", 3), 8, MJ_S_OK},
        // Exactly room for text and terminator, then one unit less: cut at a
        // whole character, never inside a sequence or a surrogate pair.
        {kFrom, kUtf8, emoji8, u"a\U0001F600", 6, MJ_S_OK},
        {kFrom, kUtf8, "a", u"a\U0001F600", 5, MJ_E_MORE_DATA},
        {kTo, kUtf8, emoji8, u"a\U0001F600", 4, MJ_S_OK},
        {kTo, kUtf8, emoji8, u"a", 3, MJ_E_MORE_DATA},
        {kFrom, kUtf8, "", u"abc", 1, MJ_E_MORE_DATA},
        {kFrom, kGbk, "\xD6\xD0", u"\u4E2D\u6587", 4, MJ_E_MORE_DATA},
        {kTo, kGbk, gbk, u"\u4E2D", 2, MJ_E_MORE_DATA},
        // Nothing invalid stops a conversion. UTF-8: one U+FFFD per maximal
        // subpart (overlong, surrogate, above U+10FFFF, cut, stray bytes).
        {kTo, kUtf8, "ab\xFF" "cd\xE4\xB8", u"ab\uFFFDcd\uFFFD", 16, MJ_S_OK},
        {kTo, kUtf8, "\xE0\x80|\xF0\x9F\x98x|\xED\xA0\x80|\xC0\xAF|\xF4\x90\x80\x80|\xF5",
         u"\uFFFD\uFFFD|\uFFFDx|\uFFFD\uFFFD\uFFFD|\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD\uFFFD|\uFFFD", 64, MJ_S_OK},
        {kFrom, kUtf8, "a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD", u"a\xD800" u"b\xDC00\xD800", 16, MJ_S_OK},
        {kTo, kUtf8, "\xFF" "a", u"\uFFFD", 2, MJ_E_MORE_DATA},  // replacements count as characters,
        {kFrom, kUtf8, "", u"\xD800", 3, MJ_E_MORE_DATA},         // never split either
        // Code page 936: "?" for what it lacks, U+FFFD for bytes that start no character.
        {kFrom, kGbk, gbk.substr(0, 2) + "??x", u"\u4E2D\U0001F600\xD800x", 16, MJ_S_OK},
        {kTo, kGbk, "\xD6\xD0\x81" "0\xFF\xD6", u"\u4E2D\uFFFD0\uFFFD\uFFFD", 16, MJ_S_OK},
        {kFrom, 1252, "", u"abc", 8, MJ_E_FAIL},
        {0x10102, kUtf8, "abc", u"", 8, MJ_E_FAIL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("case " + std::to_string(&c - cases));
        result_t rc = 0;
        if (c.request == kFrom) {
            EXPECT_EQ(Convert<char>(c.request, c.code_page, W(c.wide), c.cap, &rc), c.narrow);
        } else {
            EXPECT_EQ(Convert<wchar>(c.request, c.code_page, c.narrow, c.cap, &rc), W(c.wide));
        }
        EXPECT_EQ(rc, c.rc);
    }
    EXPECT_EQ(create<IMJTextConverter>(CLSID_MJTextConverter)->Convert(kTo, nullptr), MJ_E_POINTER);
}

}  // namespace
