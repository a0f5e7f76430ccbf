// The MJBase text converter: UTF-16 to and from UTF-8 and code page 936,
// output always terminated inside the capacity and never cut inside a
// character.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "mjbase_test.h"

using mjtest::create;
using mjtest::W;

namespace {

constexpr uint16_t kWideGuard = 0xA5A5;
constexpr char kNarrowGuard = '\x7F';
constexpr uint32_t kGuardUnits = 4;

struct Outcome {
    mj::result_t rc = 0;
    uint32_t result = 0;
    bool terminated = false;  // a zero unit at [result]
    bool guard_intact = false;  // nothing written at or beyond dst_cap
};

struct Narrow : Outcome {
    std::string text;
};

struct Wide : Outcome {
    mjtest::wstring text;
};

class MJBaseConverter : public ::testing::Test {
protected:
    void SetUp() override {
        converter_ = create<mj::IMJTextConverter>(mj::CLSID_MJTextConverter);
        ASSERT_TRUE(converter_);
    }

    Wide ToWide(uint32_t code_page, const std::string& src, uint32_t cap) {
        std::vector<mj::wchar> dst(cap + kGuardUnits, kWideGuard);
        mj::MJConvertRequest req{code_page, static_cast<uint32_t>(src.size()), cap, 12345, src.data(), dst.data()};
        Wide out;
        out.rc = converter_->Convert(mj::MJ_CONVERT_TO_WIDE, &req);
        out.result = req.result;
        if (req.result < cap) {
            out.terminated = dst[req.result] == 0;
            out.text.assign(dst.data(), req.result);
        }
        out.guard_intact = true;
        for (uint32_t i = cap; i < cap + kGuardUnits; ++i) out.guard_intact &= dst[i] == kWideGuard;
        return out;
    }

    Narrow FromWide(uint32_t code_page, const mjtest::wstring& src, uint32_t cap) {
        std::vector<char> dst(cap + kGuardUnits, kNarrowGuard);
        mj::MJConvertRequest req{code_page, static_cast<uint32_t>(src.size()), cap, 12345, src.data(), dst.data()};
        Narrow out;
        out.rc = converter_->Convert(mj::MJ_CONVERT_FROM_WIDE, &req);
        out.result = req.result;
        if (req.result < cap) {
            out.terminated = dst[req.result] == 0;
            out.text.assign(dst.data(), req.result);
        }
        out.guard_intact = true;
        for (uint32_t i = cap; i < cap + kGuardUnits; ++i) out.guard_intact &= dst[i] == kNarrowGuard;
        return out;
    }

    mjtest::Ref<mj::IMJTextConverter> converter_;
};

// "héllo 中文 😀𝄞": 1-, 2-, 3- and 4-byte characters, the last two as
// surrogate pairs in UTF-16.
const std::string kUtf8 = "h\xC3\xA9llo \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80\xF0\x9D\x84\x9E";
const std::u16string kWide = u"h\u00E9llo \u4E2D\u6587 \U0001F600\U0001D11E";

TEST_F(MJBaseConverter, Utf8RoundTripIncludingSurrogatePairs) {
    ASSERT_EQ(kWide.size(), 13u);  // 11 characters, two of them pairs
    const Wide wide = ToWide(mj::MJ_CP_UTF8, kUtf8, 64);
    EXPECT_EQ(wide.rc, mj::MJ_S_OK);
    EXPECT_EQ(wide.result, kWide.size());
    EXPECT_EQ(wide.text, W(kWide));
    EXPECT_TRUE(wide.terminated);

    const Narrow narrow = FromWide(mj::MJ_CP_UTF8, W(kWide), 64);
    EXPECT_EQ(narrow.rc, mj::MJ_S_OK);
    EXPECT_EQ(narrow.result, kUtf8.size());
    EXPECT_EQ(narrow.text, kUtf8);
    EXPECT_TRUE(narrow.terminated);
}

TEST_F(MJBaseConverter, CodePage936BothWays) {
    const std::string gbk = "\xD6\xD0\xCE\xC4";  // 中文
    const Narrow narrow = FromWide(mj::MJ_CP_GBK, W(u"\u4E2D\u6587"), 16);
    EXPECT_EQ(narrow.rc, mj::MJ_S_OK);
    EXPECT_EQ(narrow.result, 4u);
    EXPECT_EQ(narrow.text, gbk);
    EXPECT_TRUE(narrow.terminated);

    const Wide wide = ToWide(mj::MJ_CP_GBK, "dir/" + gbk + "/", 16);
    EXPECT_EQ(wide.rc, mj::MJ_S_OK);
    EXPECT_EQ(wide.text, W(u"dir/\u4E2D\u6587/"));
    EXPECT_EQ(wide.result, 7u);
    EXPECT_TRUE(wide.terminated);
}

TEST_F(MJBaseConverter, OutputThatDoesNotFitIsCutAtCharacterBoundaryAndTerminated) {
    struct NarrowCase {
        uint32_t code_page;
        std::u16string src;
        uint32_t cap;
        std::string expected;
    };
    const NarrowCase narrow_cases[] = {
        {mj::MJ_CP_UTF8, u"\u4E2D\u4E2D", 6, "\xE4\xB8\xAD"},            // room for 5 bytes: one 3-byte char
        {mj::MJ_CP_UTF8, u"\u4E2D\u4E2D", 4, "\xE4\xB8\xAD"},
        {mj::MJ_CP_UTF8, u"\u4E2D\u4E2D", 3, ""},
        {mj::MJ_CP_UTF8, u"a\U0001F600", 4, "a"},                         // 4-byte char needs all 4
        {mj::MJ_CP_UTF8, u"a\U0001F600", 5, "a"},
        {mj::MJ_CP_GBK, u"\u4E2D\u6587", 4, "\xD6\xD0"},                  // room for 3: one 2-byte char
        {mj::MJ_CP_GBK, u"\u4E2D\u6587", 2, ""},
        {mj::MJ_CP_UTF8, u"abc", 1, ""},
    };
    for (const auto& c : narrow_cases) {
        SCOPED_TRACE("cap " + std::to_string(c.cap) + " cp " + std::to_string(c.code_page));
        const Narrow out = FromWide(c.code_page, W(c.src), c.cap);
        EXPECT_NE(out.rc, mj::MJ_S_OK);
        EXPECT_EQ(out.text, c.expected);
        EXPECT_EQ(out.result, c.expected.size());
        EXPECT_TRUE(out.terminated);
        EXPECT_TRUE(out.guard_intact);
    }
    // Exactly enough room (text plus terminator) converts everything.
    const Narrow full = FromWide(mj::MJ_CP_UTF8, W(u"a\U0001F600"), 6);
    EXPECT_EQ(full.rc, mj::MJ_S_OK);
    EXPECT_EQ(full.result, 5u);
    EXPECT_TRUE(full.guard_intact);

    // A surrogate pair is never split: with room for two units, "a😀" gives
    // only "a".
    const Wide pair_cut = ToWide(mj::MJ_CP_UTF8, "a\xF0\x9F\x98\x80", 3);
    EXPECT_NE(pair_cut.rc, mj::MJ_S_OK);
    EXPECT_EQ(pair_cut.text, W(u"a"));
    EXPECT_TRUE(pair_cut.terminated);
    EXPECT_TRUE(pair_cut.guard_intact);
    const Wide pair_fits = ToWide(mj::MJ_CP_UTF8, "a\xF0\x9F\x98\x80", 4);
    EXPECT_EQ(pair_fits.rc, mj::MJ_S_OK);
    EXPECT_EQ(pair_fits.text, W(u"a\U0001F600"));
    EXPECT_TRUE(pair_fits.guard_intact);

    const Wide gbk_cut = ToWide(mj::MJ_CP_GBK, "\xD6\xD0\xCE\xC4", 2);
    EXPECT_EQ(gbk_cut.text, W(u"\u4E2D"));
    EXPECT_TRUE(gbk_cut.terminated);
    EXPECT_TRUE(gbk_cut.guard_intact);
}

TEST_F(MJBaseConverter, InvalidInputStopsThereAndFails) {
    const Wide bad_byte = ToWide(mj::MJ_CP_UTF8, "ab\xFF" "cd", 16);
    EXPECT_EQ(bad_byte.rc, mj::MJ_E_FAIL);
    EXPECT_EQ(bad_byte.text, W(u"ab"));
    EXPECT_EQ(bad_byte.result, 2u);
    EXPECT_TRUE(bad_byte.terminated);

    const Wide cut_sequence = ToWide(mj::MJ_CP_UTF8, "ab\xE4\xB8", 16);  // 中 without its last byte
    EXPECT_EQ(cut_sequence.rc, mj::MJ_E_FAIL);
    EXPECT_EQ(cut_sequence.text, W(u"ab"));
    EXPECT_TRUE(cut_sequence.terminated);

    const Wide overlong = ToWide(mj::MJ_CP_UTF8, "x\xC0\xAF", 16);
    EXPECT_EQ(overlong.rc, mj::MJ_E_FAIL);
    EXPECT_EQ(overlong.text, W(u"x"));

    mjtest::wstring lone = W(u"a");
    lone += static_cast<mj::wchar>(0xD800);
    lone += W(u"b");
    const Narrow lone_surrogate = FromWide(mj::MJ_CP_UTF8, lone, 16);
    EXPECT_EQ(lone_surrogate.rc, mj::MJ_E_FAIL);
    EXPECT_EQ(lone_surrogate.text, "a");
    EXPECT_TRUE(lone_surrogate.terminated);

    // Code page 936 has no emoji.
    const Narrow unmappable = FromWide(mj::MJ_CP_GBK, W(u"\u4E2D\U0001F600"), 16);
    EXPECT_EQ(unmappable.rc, mj::MJ_E_FAIL);
    EXPECT_EQ(unmappable.text, "\xD6\xD0");
    EXPECT_TRUE(unmappable.terminated);
}

TEST_F(MJBaseConverter, SourceLengthCountsUnitsAndEmptySourceGivesEmptyText) {
    const Wide part = ToWide(mj::MJ_CP_UTF8, "abc", 16);
    EXPECT_EQ(part.text, W(u"abc"));
    mj::wchar dst[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    mj::MJConvertRequest req{mj::MJ_CP_UTF8, 2, 8, 0, "abc", dst};
    EXPECT_EQ(converter_->Convert(mj::MJ_CONVERT_TO_WIDE, &req), mj::MJ_S_OK);
    EXPECT_EQ(req.result, 2u);
    EXPECT_EQ(mjtest::wstring(dst), W(u"ab"));

    // Embedded NULs are characters like any other.
    const Narrow with_nul = FromWide(mj::MJ_CP_UTF8, mjtest::wstring(W(u"a")) + mj::wchar(0) + W(u"b"), 8);
    EXPECT_EQ(with_nul.rc, mj::MJ_S_OK);
    EXPECT_EQ(with_nul.result, 3u);
    EXPECT_EQ(with_nul.text, std::string("a\0b", 3));

    const Narrow empty = FromWide(mj::MJ_CP_UTF8, mjtest::wstring(), 4);
    EXPECT_EQ(empty.rc, mj::MJ_S_OK);
    EXPECT_EQ(empty.result, 0u);
    EXPECT_TRUE(empty.terminated);
}

TEST_F(MJBaseConverter, UnknownRequestOrCodePageFailsWithEmptyOutput) {
    const Narrow cp1252 = FromWide(1252, W(u"abc"), 8);
    EXPECT_EQ(cp1252.rc, mj::MJ_E_FAIL);
    EXPECT_EQ(cp1252.result, 0u);
    EXPECT_TRUE(cp1252.terminated);
    const Wide cp437 = ToWide(437, "abc", 8);
    EXPECT_EQ(cp437.rc, mj::MJ_E_FAIL);
    EXPECT_TRUE(cp437.terminated);

    char dst[8];
    std::memset(dst, 'x', sizeof(dst));
    mj::MJConvertRequest req{mj::MJ_CP_UTF8, 3, sizeof(dst), 0, "abc", dst};
    EXPECT_EQ(converter_->Convert(0x10102, &req), mj::MJ_E_FAIL);
    EXPECT_EQ(dst[0], '\0');
    EXPECT_EQ(req.result, 0u);

    EXPECT_EQ(converter_->Convert(mj::MJ_CONVERT_TO_WIDE, nullptr), mj::MJ_E_POINTER);
}

}  // namespace
