// mjlog.dat and the logger (read once per process: each test is one); text conversion and host objects.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../mjbase/mjbase_test.h"
#include "host/host_objects.h"
#include "host/module_loader.h"
#include "host/simple_file.h"
#include "host/text_convert.h"
#include "log/log_record.h"
#include "log/logger.h"
#include "log_file.h"
#include "temp_dir.h"

using Lines = std::vector<std::string>;
using mjtest::W;  // u"" literals as the host's wide text
using qn::mjwstring;

namespace {

qn::log::ConfigMap parse_map(const std::string& text) {
    std::FILE* f = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    qn::log::ConfigMap map = qn::log::ParseConfig(f);
    std::fclose(f);
    return map;
}

std::string settings(const std::string& text) {  // "level mode size days"
    qn::log::LogSettings s;
    qn::log::ApplyConfig(parse_map(text), &s);
    return std::to_string(s.level) + " " + std::to_string(s.debug_mode) + " " + std::to_string(s.max_size) + " " +
           std::to_string(s.max_days);
}

}  // namespace

TEST(LogConfigParse, KeysLinesSplittingAndLongLines) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "25 0 5242880 5"}, {"log_level=30\nlog_to_debugview=1\nlog_file_maxsize=1024\nlog_max_days=2\n", "30 1 1024 2"},
        // The first empty line ends the reading; a lone "\r" is part of the line.
        {"log_level=30\n\nlog_max_days=9\n", "30 0 5242880 5"}, {"log_level=30\r\n\r\nlog_max_days=9\r\n", "30 0 5242880 5"},
        {"x=1\rlog_level=30\n", "25 0 5242880 5"}, {"other@log_level=35\n", "25 0 5242880 5"},
        // The prefixed key wins in either order, otherwise the later entry; empty pieces are dropped, three
        // pieces ignored, the key "log_level " matches nothing; no final line end is needed.
        {"quillnet@log_level=35\nlog_level=30\n", "35 0 5242880 5"}, {"log_level=30\nquillnet@log_level=35\n", "35 0 5242880 5"},
        {"log_level=30\nlog_level=31\n", "31 0 5242880 5"}, {"log_level==30\n", "30 0 5242880 5"},
        {"log_level=30=1\n", "25 0 5242880 5"}, {"log_level = 30\n", "25 0 5242880 5"}, {"log_level=32", "32 0 5242880 5"}};
    for (const auto& [text, want] : cases) EXPECT_EQ(settings(text), want) << text;
    // 300 characters: the first 254 form a line, nothing after is seen; 254 is still whole.
    const std::string key(252, 'a');
    EXPECT_EQ(parse_map(key + "=1" + std::string(46, 'b') + "\nlog_level=30\n"), (qn::log::ConfigMap{{key, 1}}));
    for (const char* end : {"\n", "\r\n"})
        EXPECT_EQ(parse_map(std::string(251, 'k') + "=77" + end + "log_level=30\n"),
                  (qn::log::ConfigMap{{std::string(251, 'k'), 77}, {"log_level", 30}})) << end;
}

class LoggerInProcess : public ::testing::Test {
protected:
    void SetUp() override { qntest::use_config_dir(config_.path()); }
    qntest::TempDir config_;
    qntest::LogReader log_{config_.path()};
};

TEST_F(LoggerInProcess, MissingFileReportsItsPathAndTheDefaultsHold) {
    ::testing::internal::CaptureStderr();
    CLogger::instance();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "** log_cfg: open faild." + config_.path() + "mjlog.dat [quillnet]\n");
    qn::log::Info() << "written with defaults" << "\n";
    EXPECT_EQ(log_.records(), Lines{"25 written with defaults"});
}

// In debugger-output mode the records are copied to stderr too.
TEST_F(LoggerInProcess, LevelReachesTheSinkAndRecordsAppendWithoutSeparators) {
    config_.write("mjlog.dat", "quillnet@log_level=30\nlog_to_debugview=1\n");
    ::testing::internal::CaptureStderr();
    const char* none = nullptr;
    qn::log::Info() << "dropped below the level" << "\n";
    qn::log::Warn() << "a" << none << std::string("b") << -5 << "\n";
    qn::log::Error() << "above " << 42 << " " << static_cast<uint64_t>(7) << "\n";
    EXPECT_EQ(log_.records(), (Lines{"30 a(null)b-5", "35 above 42 7"}));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("** log_cfg: loglevel=30 DbgViewMode=1 maxLogSize:5242880 maxLogDays:5 [quillnet]\n"), 0u) << err;
    EXPECT_NE(err.find("above 42 7"), std::string::npos);
}

TEST(TextConvert, RoundTripsCodePage936AndPieces) {
    EXPECT_EQ(qn::WideToUtf8(static_cast<const mj::wchar*>(nullptr)) + qn::WideToCp936(nullptr) + qn::WideToUtf8(W(u"")), "");
    EXPECT_EQ(qn::Utf8ToWide(static_cast<const char*>(nullptr)), mjwstring());
    // ASCII, two- and three-byte characters, one outside the BMP (a surrogate pair).
    const std::string utf8 = "caf\xC3\xA9 \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80";
    EXPECT_EQ(qn::Utf8ToWide(utf8), W(u"caf\u00e9 \u4e2d\u6587 \U0001F600"));
    EXPECT_EQ(qn::WideToUtf8(W(u"caf\u00e9 \u4e2d\u6587 \U0001F600")), utf8);
    EXPECT_EQ(qn::WideToCp936(W(u"/tmp/\u4e2d\u6587/").c_str()), "/tmp/\xD6\xD0\xCE\xC4/");
    // Pieces convert as their joined text.
    const std::string big(300000, 'b');  // beyond the reused blocks
    const std::vector<std::vector<std::string>> cases = {
        {"by net == Req:", "q", " Rep:", "caf\xC3\xA9", "\n"}, {"", "", "only", ""}, {"x", big, "\xE4\xB8\xAD"}, {big, big},
        // A character split over two and over three pieces, ill-formed on both sides, cut off before ASCII.
        {"a\xE4\xB8", "\xAD b"}, {"a\xE4", "\xB8", "\xAD"}, {"bad \xFF", "\x80 end"}, {"cut\xC3", "z"},
        {"stops", std::string("at\0the nul", 10), "never seen"}};
    for (const auto& texts : cases) {
        std::vector<qn::TextPiece> pieces;
        std::string joined;
        for (const std::string& t : texts) pieces.push_back({t.data(), (joined += t, t.size())});
        const qn::WideText wide = qn::Utf8ToWideText(pieces.data(), pieces.size());
        const mjwstring expected = qn::Utf8ToWide(joined.c_str());
        EXPECT_EQ(mjwstring(wide.c_str(), wide.size()), expected) << joined.substr(0, 40);
        EXPECT_EQ(mjwstring(qn::Utf8ToWideText(joined.c_str()).c_str()), expected);
    }
    EXPECT_EQ(qn::Utf8ToWideText(nullptr).size(), 0u);
    EXPECT_EQ(*qn::Utf8ToWideText("").c_str(), 0);
    // Two texts alive at once on one thread: only one holds the thread's own block.
    const qn::WideText first = qn::Utf8ToWideText("first"), second = qn::Utf8ToWideText("second");
    EXPECT_EQ(mjwstring(first.c_str()) + mjwstring(second.c_str()), W(u"firstsecond"));
}

TEST(HostObjects, LoaderArgumentsAndSimpleFile) {
    CModuleLoader loader("MJBase.dll");
    qn::host::MJRef<mj::IMJParamBag> bag = loader.Create<mj::IMJParamBag>(mj::CLSID_MJParamBag);
    ASSERT_TRUE(bag);
    EXPECT_EQ(qn::host::ReadBagText(bag.get(), "missing", "fallback"), "fallback");  // found texts: the protocol table tests
    // A class MJBase does not make leaves the reference empty.
    EXPECT_FALSE(loader.Create<mj::IMJObject>(mj::CLSID_HubHostCall));
    qntest::TempDir dir;
    const std::string path = dir.file("out \xE4\xB8\xAD.bin");
    {
        MJBase::CSimpleFile file;
        ASSERT_TRUE(file.Open(qn::Utf8ToWide(path).c_str(), W(u"wb").c_str()));
        EXPECT_TRUE(file.IsOpen());
        EXPECT_EQ(file.Write("ab\0cd", 5), 5u);
    }  // closed by its destructor
    EXPECT_EQ(qntest::read_file(path), std::string("ab\0cd", 5));
    MJBase::CSimpleFile missing;
    EXPECT_FALSE(missing.Open(qn::Utf8ToWide(dir.file("no/such/dir/f")).c_str(), W(u"wb").c_str()));
    EXPECT_FALSE(missing.IsOpen());
}
