// Text conversion, host calls, documents and files through the stand-in
// modules beside the test executable.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host_objects.h"
#include "host/module_loader.h"
#include "host/simple_file.h"
#include "host/text_convert.h"
#include "temp_dir.h"
#include "../mjbase/mjbase_test.h"

using mjtest::W;  // u"" literals as the host's wide text
using qn::mjwstring;

TEST(TextConvert, RoundTripsAndCodePage936) {
    EXPECT_EQ(qn::WideToUtf8(static_cast<const mj::wchar*>(nullptr)), "");
    EXPECT_EQ(qn::Utf8ToWide(static_cast<const char*>(nullptr)), mjwstring());
    EXPECT_EQ(qn::WideToCp936(nullptr), "");
    EXPECT_EQ(qn::WideToUtf8(W(u"")), "");
    // ASCII, two- and three-byte characters, and one outside the BMP (a
    // surrogate pair in UTF-16).
    const std::pair<std::string, std::u16string> samples[] = {
        {"plain ascii", u"plain ascii"},
        {"caf\xC3\xA9 \xE4\xB8\xAD\xE6\x96\x87", u"caf\u00e9 \u4e2d\u6587"},
        {"\xF0\x9F\x98\x80 outside the BMP", u"\U0001F600 outside the BMP"},
    };
    for (const auto& [utf8, wide] : samples) {
        EXPECT_EQ(qn::Utf8ToWide(utf8), W(wide)) << utf8;
        EXPECT_EQ(qn::WideToUtf8(W(wide)), utf8);
    }
    EXPECT_EQ(qn::WideToCp936(W(u"/tmp/\u4e2d\u6587/").c_str()), "/tmp/\xD6\xD0\xCE\xC4/");
}

TEST(TextConvert, PiecesConvertAsTheirJoinedText) {
    const std::string big(300000, 'b');  // beyond the reused blocks
    // Pieces, joined as the converter would see them.
    const std::vector<std::vector<std::string>> cases = {
        {"by net == Req:", "q", " Rep:", "caf\xC3\xA9", "\n"},
        {"a\xE4\xB8", "\xAD b"},        // a character split between pieces
        {"a\xE4", "\xB8", "\xAD"},       // over three
        {"bad \xFF", "\x80 end"},         // ill-formed on both sides
        {"cut\xC3", "z"},                 // cut off, then ASCII
        {"", "", "only", ""},
        {"stops", std::string("at\0the nul", 10), "never seen"},
        {"x", big, "\xE4\xB8\xAD"},
        {big, big},
    };
    for (const auto& texts : cases) {
        std::vector<qn::TextPiece> pieces;
        std::string joined;
        for (const std::string& t : texts) {
            pieces.push_back({t.data(), t.size()});
            joined += t;
        }
        const qn::WideText wide = qn::Utf8ToWideText(pieces.data(), pieces.size());
        const mjwstring expected = qn::Utf8ToWide(joined.c_str());
        EXPECT_EQ(mjwstring(wide.c_str(), wide.size()), expected) << joined.substr(0, 40);
        EXPECT_EQ(mjwstring(qn::Utf8ToWideText(joined.c_str()).c_str()), expected);
    }
    EXPECT_EQ(qn::Utf8ToWideText(nullptr).size(), 0u);
    EXPECT_EQ(*qn::Utf8ToWideText("").c_str(), 0);
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
        ASSERT_TRUE(file.Open(qn::Utf8ToWide(path).c_str(), W(u"wb").c_str()));
        EXPECT_TRUE(file.IsOpen());
        EXPECT_EQ(file.Write("ab\0cd", 5), 5u);
        // Destruction closes the file.
    }
    EXPECT_EQ(qntest::read_file(path), std::string("ab\0cd", 5));

    MJBase::CSimpleFile missing;
    EXPECT_FALSE(missing.Open(qn::Utf8ToWide(dir.file("no/such/dir/f")).c_str(), W(u"wb").c_str()));
    EXPECT_FALSE(missing.IsOpen());
}
