// mjlog.dat and the logger. The configuration is read once per process; the
// parsing cases use the parser directly, the end-to-end cases each run in a
// process of their own.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "log/log_record.h"
#include "log/logger.h"
#include "log_file.h"
#include "temp_dir.h"

namespace {

qn::log::LogSettings parse(const std::string& text) {
    std::FILE* f = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    qn::log::LogSettings settings;
    qn::log::ApplyConfig(qn::log::ParseConfig(f), &settings);
    std::fclose(f);
    return settings;
}

qn::log::ConfigMap parse_map(const std::string& text) {
    std::FILE* f = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    qn::log::ConfigMap map = qn::log::ParseConfig(f);
    std::fclose(f);
    return map;
}

}  // namespace

TEST(LogConfigParse, DefaultsAndPlainKeys) {
    qn::log::LogSettings d = parse("");
    EXPECT_EQ(d.level, 25);
    EXPECT_EQ(d.debug_mode, 0);
    EXPECT_EQ(d.max_size, 5242880);
    EXPECT_EQ(d.max_days, 5);

    qn::log::LogSettings s =
        parse("log_level=30\nlog_to_debugview=1\nlog_file_maxsize=1024\nlog_max_days=2\n");
    EXPECT_EQ(s.level, 30);
    EXPECT_EQ(s.debug_mode, 1);
    EXPECT_EQ(s.max_size, 1024);
    EXPECT_EQ(s.max_days, 2);
}

TEST(LogConfigParse, EmptyLineEndsTheReading) {
    // Windows line ends read as on Windows: a blank "\r\n" line is empty.
    for (const char* text : {"log_level=30\n\nlog_max_days=9\n", "log_level=30\r\n\r\nlog_max_days=9\r\n"}) {
        qn::log::LogSettings s = parse(text);
        EXPECT_EQ(s.level, 30);
        EXPECT_EQ(s.max_days, 5);
    }
}

TEST(LogConfigParse, PrefixedKeyWinsInEitherOrder) {
    EXPECT_EQ(parse("quillnet@log_level=35\nlog_level=30\n").level, 35);
    EXPECT_EQ(parse("log_level=30\nquillnet@log_level=35\n").level, 35);
    EXPECT_EQ(parse("other@log_level=35\n").level, 25);
}

TEST(LogConfigParse, SplittingRules) {
    EXPECT_EQ(parse("log_level==30\n").level, 30);        // empty pieces dropped
    EXPECT_EQ(parse("log_level=30=1\n").level, 25);       // three pieces: ignored
    EXPECT_EQ(parse("log_level = 30\n").level, 25);       // key "log_level " matches nothing
    EXPECT_EQ(parse("log_level=abc\n").level, 0);         // atoi
    EXPECT_EQ(parse("log_level=12abc\n").level, 12);
    EXPECT_EQ(parse("log_level=30\nlog_level=31\n").level, 31);  // later entry wins
    EXPECT_EQ(parse("log_level=32").level, 32);           // no final line feed
}

TEST(LogConfigParse, LongLinesAreCutAndEndTheReading) {
    // 300 characters: the first 254 form a line, nothing after is seen.
    const std::string key(252, 'a');
    const std::string long_line = key + "=1" + std::string(46, 'b');
    qn::log::ConfigMap map = parse_map(long_line + "\nlog_level=30\n");
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map[key], 1);

    // Exactly 254 characters is still a whole line.
    const std::string full = std::string(251, 'k') + "=77";
    ASSERT_EQ(full.size(), 254u);
    map = parse_map(full + "\nlog_level=30\n");
    EXPECT_EQ(map.size(), 2u);
    EXPECT_EQ(map["log_level"], 30);
}

class LoggerInProcess : public ::testing::Test {
protected:
    void SetUp() override { qntest::use_config_dir(config_.path()); }
    std::string report_of_first_use() {
        ::testing::internal::CaptureStderr();
        CLogger::instance();
        return ::testing::internal::GetCapturedStderr();
    }
    std::string log() const { return qntest::log_path(config_.path()); }
    qntest::TempDir config_;
};

TEST_F(LoggerInProcess, EmptyFileReportsDefaults) {
    config_.write("mjlog.dat", "");
    EXPECT_EQ(report_of_first_use(),
              "** log_cfg: loglevel=25 DbgViewMode=0 maxLogSize:5242880 maxLogDays:5 [quillnet]\n");
}

TEST_F(LoggerInProcess, MissingFileReportsPathAndKeepsDefaults) {
    EXPECT_EQ(report_of_first_use(),
              "** log_cfg: open faild." + config_.path() + "mjlog.dat [quillnet]\n");
    EXPECT_EQ(CLogger::instance().settings().level, 25);
    // The sink is configured all the same.
    qn::log::Info() << "written with defaults" << "\n";
    EXPECT_FALSE(qntest::wait_for_log_line(log(), "written with defaults").empty());
}

TEST_F(LoggerInProcess, LevelReachesTheSink) {
    config_.write("mjlog.dat", "quillnet@log_level=30\n");
    EXPECT_NE(report_of_first_use().find("loglevel=30 "), std::string::npos);
    qn::log::Info() << "dropped below the level" << "\n";
    qn::log::Warn() << "kept at the level" << "\n";
    qn::log::Error() << "kept above the level " << 42 << " " << static_cast<uint64_t>(7) << "\n";
    const std::string last = qntest::wait_for_log_line(log(), "kept above the level");
    EXPECT_EQ(qntest::record_text(last), "kept above the level 42 7");
    EXPECT_EQ(qntest::record_level(last), 35);
    EXPECT_EQ(qntest::record_level(qntest::wait_for_log_line(log(), "kept at the level")), 30);
    EXPECT_TRUE(qntest::log_lines_containing(log(), "dropped below").empty());
}

TEST_F(LoggerInProcess, RecordsAppendWithoutSeparators) {
    config_.write("mjlog.dat", "log_level=25\n");
    const char* none = nullptr;
    qn::log::Info() << "a" << none << std::string("b") << -5 << "\n";
    EXPECT_EQ(qntest::record_text(qntest::wait_for_log_line(log(), "a(null)b")), "a(null)b-5");
}

TEST_F(LoggerInProcess, DebugViewModeCopiesToStderr) {
    config_.write("mjlog.dat", "log_to_debugview=1\n");
    ::testing::internal::CaptureStderr();
    qn::log::Error() << "seen on the debugger output" << "\n";
    qntest::wait_for_log_line(log(), "seen on the debugger output");
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("DbgViewMode=1"), std::string::npos);
    EXPECT_NE(err.find("seen on the debugger output"), std::string::npos);
}
