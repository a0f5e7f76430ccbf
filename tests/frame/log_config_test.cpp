// mjlog.dat and the logger. The configuration is read once per process; the
// parsing cases use the parser directly, the end-to-end cases each run in a
// process of their own.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "log/log_record.h"
#include "log/logger.h"
#include "log_file.h"
#include "temp_dir.h"

using Lines = std::vector<std::string>;

namespace {

qn::log::ConfigMap parse_map(const std::string& text) {
    std::FILE* f = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    qn::log::ConfigMap map = qn::log::ParseConfig(f);
    std::fclose(f);
    return map;
}

// "level mode size days" after reading `text`.
std::string settings(const std::string& text) {
    qn::log::LogSettings s;
    qn::log::ApplyConfig(parse_map(text), &s);
    return std::to_string(s.level) + " " + std::to_string(s.debug_mode) + " " + std::to_string(s.max_size) + " " +
           std::to_string(s.max_days);
}

}  // namespace

TEST(LogConfigParse, KeysLinesAndSplitting) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "25 0 5242880 5"},  // the defaults
        {"log_level=30\nlog_to_debugview=1\nlog_file_maxsize=1024\nlog_max_days=2\n", "30 1 1024 2"},
        // The first empty line ends the reading, also as Windows writes it.
        {"log_level=30\n\nlog_max_days=9\n", "30 0 5242880 5"},
        {"log_level=30\r\n\r\nlog_max_days=9\r\n", "30 0 5242880 5"},
        {"x=1\rlog_level=30\n", "25 0 5242880 5"},  // a lone "\r" is part of the line
        // The prefixed key wins in either order; another module's does not count.
        {"quillnet@log_level=35\nlog_level=30\n", "35 0 5242880 5"},
        {"log_level=30\nquillnet@log_level=35\n", "35 0 5242880 5"},
        {"other@log_level=35\n", "25 0 5242880 5"},
        {"log_level==30\n", "30 0 5242880 5"},   // empty pieces dropped
        {"log_level=30=1\n", "25 0 5242880 5"},  // three pieces: ignored
        {"log_level = 30\n", "25 0 5242880 5"},  // the key "log_level " matches nothing
        {"log_level=abc\n", "0 0 5242880 5"},    // atoi
        {"log_level=12abc\n", "12 0 5242880 5"},
        {"log_level=30\nlog_level=31\n", "31 0 5242880 5"},  // the later entry wins
        {"log_level=32", "32 0 5242880 5"},                  // no final line end
    };
    for (const auto& [text, want] : cases) EXPECT_EQ(settings(text), want) << text;
}

TEST(LogConfigParse, LongLinesAreCutAndEndTheReading) {
    // 300 characters: the first 254 form a line, nothing after is seen.
    const std::string key(252, 'a');
    qn::log::ConfigMap map = parse_map(key + "=1" + std::string(46, 'b') + "\nlog_level=30\n");
    EXPECT_EQ(map, (qn::log::ConfigMap{{key, 1}}));
    // Exactly 254 characters is still a whole line, with either line end.
    const std::string full = std::string(251, 'k') + "=77";
    for (const char* end : {"\n", "\r\n"}) {
        map = parse_map(full + end + "log_level=30\n");
        EXPECT_EQ(map, (qn::log::ConfigMap{{std::string(251, 'k'), 77}, {"log_level", 30}})) << end;
    }
}

namespace {

class LoggerInProcess : public ::testing::Test {
protected:
    void SetUp() override { qntest::use_config_dir(config_.path()); }
    std::string report_of_first_use() {
        ::testing::internal::CaptureStderr();
        CLogger::instance();
        return ::testing::internal::GetCapturedStderr();
    }
    qntest::TempDir config_;
    qntest::LogReader log_{config_.path()};
};

}  // namespace

TEST_F(LoggerInProcess, MissingFileReportsItsPathAndTheDefaultsHold) {
    EXPECT_EQ(report_of_first_use(), "** log_cfg: open faild." + config_.path() + "mjlog.dat [quillnet]\n");
    qn::log::Info() << "written with defaults" << "\n";
    EXPECT_EQ(log_.records(), Lines{"25 written with defaults"});
}

TEST_F(LoggerInProcess, LevelReachesTheSinkAndRecordsAppendWithoutSeparators) {
    config_.write("mjlog.dat", "quillnet@log_level=30\n");
    EXPECT_EQ(report_of_first_use(),
              "** log_cfg: loglevel=30 DbgViewMode=0 maxLogSize:5242880 maxLogDays:5 [quillnet]\n");
    const char* none = nullptr;
    qn::log::Info() << "dropped below the level" << "\n";
    qn::log::Warn() << "a" << none << std::string("b") << -5 << "\n";
    qn::log::Error() << "above " << 42 << " " << static_cast<uint64_t>(7) << "\n";
    EXPECT_EQ(log_.records(), (Lines{"30 a(null)b-5", "35 above 42 7"}));
}

TEST_F(LoggerInProcess, DebugViewModeCopiesToStderr) {
    config_.write("mjlog.dat", "log_to_debugview=1\n");
    ::testing::internal::CaptureStderr();
    qn::log::Error() << "seen on the debugger output" << "\n";
    log_.records();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("DbgViewMode=1"), std::string::npos);
    EXPECT_NE(err.find("seen on the debugger output"), std::string::npos);
}
