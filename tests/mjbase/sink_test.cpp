// The MJBase log sink on real files (quillnet's tests read their records through it).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <thread>
#include <vector>

#include "log_file.h"
#include "mjbase_test.h"
#include "temp_dir.h"

namespace fs = std::filesystem;
using namespace mj;
using mjtest::create;
using mjtest::W;
using qntest::wait_for_log_line;

namespace {

// "YYYY-MM-DD HH:MM:SS.mmm [tid] [level] text": the writer's thread and the text.
struct Line {
    uint32_t tid = 0;
    std::string text;
};

// The stamp only: libstdc++ recurses per character, which a long record would overflow on Windows.
Line Parse(const std::string& text) {
    static const std::regex format(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[(\d+)\] \[\d+\] )");
    std::smatch m;
    if (!std::regex_search(text, m, format, std::regex_constants::match_continuous)) return Line{};
    return Line{static_cast<uint32_t>(std::stoul(m[1])), m.suffix()};
}

MJLogOptions Options(int32_t max_size, int32_t debug_mode) {
    return MJLogOptions{0, 0x00070007, 5, max_size, debug_mode};  // max_days 5
}

class MJBaseLogSink : public ::testing::Test {
protected:
    void SetUp() override {
        qntest::use_config_dir(dir_.path());
        sink_ = create<IMJLogSink>(CLSID_MJLogSink);
        ASSERT_TRUE(sink_);
        ASSERT_EQ(sink_->SetModuleName(W(u"quillnet").c_str(), 0), MJ_S_OK);
    }
    int32_t Write(const mjtest::wstring& text, uint32_t level, IMJLogSink* sink = nullptr) {
        return (sink != nullptr ? sink : sink_.get())->Write(text.c_str(), level);
    }
    std::string Path(const std::string& module = "quillnet") const { return qntest::log_path(dir_.path(), module); }
    std::string Rotated(int n) const { return dir_.path() + "log/quillnet." + std::to_string(n) + ".log"; }

    qntest::TempDir dir_;
    mjtest::Ref<IMJLogSink> sink_;
};

// Only the periodic flush sends out a lone record below the prompt level.
TEST_F(MJBaseLogSink, LoneRecordsGoOutWithThePeriodicFlush) {
    EXPECT_EQ(sink_->Write(nullptr, 35), -1);
    ASSERT_EQ(sink_->SetLevel(30), MJ_S_OK);
    EXPECT_EQ(Write(W(u"filtered\n"), 29), 0);
    EXPECT_EQ(Write(W(u"lazy record\n"), 30), 1);
    EXPECT_EQ(Parse(wait_for_log_line(Path(), "lazy record", 10000)).text, "lazy record");
    EXPECT_EQ(qntest::log_lines(Path()).size(), 1u);
}

// Any record is one line that reads back to it; one above the file limit gets a file of its own.
TEST_F(MJBaseLogSink, EscapesRecordsIntoSingleLinesAndReplacesBadText) {
    const std::u16string big = std::u16string(3000, u'a') + u"\t" + std::u16string(2000, u'\u00E9');
    std::string big_line = std::string(3000, 'a') + "\\t";
    for (int i = 0; i < 2000; ++i) big_line += "\xC3\xA9";
    const std::pair<std::u16string, std::string> cases[] = {
        {u"body\n2020-01-01 00:00:00.000 [1] [35] FORGED RECORD\n",
         "body\\n2020-01-01 00:00:00.000 [1] [35] FORGED RECORD"},
        {u"a\r\nb\tc\\n\\d\x01\x1F\x7F~\n", "a\\r\\nb\\tc\\\\n\\\\d\\x01\\x1F\\x7F~"},
        {u"\u0085\u2028\u2029\u00A0\u00E9\r\n", "\\u0085\\u2028\\u2029\xC2\xA0\xC3\xA9\\r"},
        {u"lone \xD800 high, \xDC00 low, \U0001F600 pair\n\n",
         "lone \xEF\xBF\xBD high, \xEF\xBF\xBD low, \xF0\x9F\x98\x80 pair\\n"},
        {big, big_line},
        {u"after the big one\n", "after the big one"},
    };
    const MJLogOptions options = Options(4096, 0);
    ASSERT_EQ(sink_->SetOptions(&options), MJ_S_OK);
    for (const auto& c : cases) EXPECT_EQ(Write(W(c.first), &c == std::end(cases) - 1 ? 35 : 30), 1);
    ASSERT_FALSE(wait_for_log_line(Path(), "after the big one").empty());
    std::vector<std::string> lines;
    for (const std::string& file : {Rotated(1), Rotated(2), Path()}) {
        const auto more = qntest::log_lines(file);
        lines.insert(lines.end(), more.begin(), more.end());
    }
    EXPECT_EQ(qntest::log_lines(Rotated(2)).size(), 1u);  // the big one, alone
    ASSERT_EQ(lines.size(), std::size(cases));
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(Parse(lines[i]).text, cases[i].second) << i;
}

TEST_F(MJBaseLogSink, EachModuleNameHasItsOwnFileAndOptions) {
    EXPECT_EQ(sink_->SetModuleName(nullptr, 0), MJ_E_POINTER);
    for (const char16_t* bad : {u"", u".", u"..", u"../escape", u"a/b"}) {
        EXPECT_EQ(sink_->SetModuleName(W(bad).c_str(), 0), MJ_E_FAIL);
    }
    EXPECT_EQ(sink_->SetOptions(nullptr), MJ_E_POINTER);
    // No name: MJBase.log, though the sink is released at once.
    Write(W(u"before any name\n"), 35, create<IMJLogSink>(CLSID_MJLogSink).get());
    auto beta = create<IMJLogSink>(CLSID_MJLogSink);
    ASSERT_EQ(beta->SetModuleName(W(u"beta").c_str(), 0), MJ_S_OK);
    const MJLogOptions loud = Options(1 << 20, 1);
    ASSERT_EQ(beta->SetOptions(&loud), MJ_S_OK);
    // Only beta's lines go to stderr too (debug mode).
    ::testing::internal::CaptureStderr();
    Write(W(u"from first\n"), 35);
    Write(W(u"from beta\n"), 35, beta.get());
    EXPECT_FALSE(wait_for_log_line(Path(), "from first").empty());
    const std::string in_beta = wait_for_log_line(Path("beta"), "from beta");
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, in_beta + "\n");
    EXPECT_FALSE(wait_for_log_line(Path("MJBase"), "before any name").empty());
}

TEST_F(MJBaseLogSink, RotatesAndDeletesOldFilesWhileThreadsWrite) {
    const auto now = fs::file_time_type::clock::now();
    const auto days_ago = [now](int n) { return now - std::chrono::hours(24 * n); };
    const std::tuple<const char*, int, bool> prepared[] = {  // name, age in days, survives
        {"quillnet.log", 10, false}, {"quillnet.1.log", 10, false}, {"quillnet.4.log", 2, true},
        {"other.1.log", 10, true},   {"quillnet.txt", 10, true},    {"quillnet.x.log", 10, true}};
    for (const auto& [name, age, survives] : prepared)
        fs::last_write_time(dir_.write(std::string("log/") + name, "old line\n"), days_ago(age));
    constexpr int32_t kMaxSize = 4096;
    const MJLogOptions options = Options(kMaxSize, 0);
    ASSERT_EQ(sink_->SetOptions(&options), MJ_S_OK);
    for (const auto& [name, age, survives] : prepared)
        EXPECT_EQ(qntest::file_exists(dir_.file("log/") + name), survives) << name;
    // Each rotation deletes again and numbers above the highest present.
    fs::last_write_time(dir_.write("log/quillnet.2.log", "old line\n"), days_ago(10));

    constexpr size_t kThreads = 8;
    constexpr int kPerThread = 400;
    std::vector<uint32_t> tids(kThreads);
    std::vector<std::thread> writers;
    for (size_t t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            tids[t] = qn::platform::current_thread_id();
            for (int i = 0; i < kPerThread; ++i)
                Write(W("w" + std::to_string(t) + " n" + std::to_string(i) + "\n"), i % 50 == 0 ? 35 : 30);
        });
    }
    for (auto& w : writers) w.join();
    ASSERT_EQ(Write(W(u"all writers done\n"), 35), 1);
    ASSERT_FALSE(wait_for_log_line(Path(), "all writers done").empty());
    EXPECT_FALSE(qntest::file_exists(Rotated(2)));

    // Oldest first; each thread's records in order, none lost or doubled.
    std::vector<std::string> files;
    for (int n = 5; qntest::file_exists(Rotated(n)); ++n) files.push_back(Rotated(n));
    files.push_back(Path());
    EXPECT_GE(files.size(), 10u);
    std::vector<int> next(kThreads, 0);
    for (const auto& file : files) {
        EXPECT_LE(qntest::read_file(file).size(), static_cast<size_t>(kMaxSize)) << file;
        for (const auto& text : qntest::log_lines(file)) {
            const Line line = Parse(text);
            size_t t = kThreads;
            int i = -1;
            if (line.text == "all writers done") continue;
            ASSERT_EQ(std::sscanf(line.text.c_str(), "w%zu n%d", &t, &i), 2) << text;
            ASSERT_LT(t, kThreads) << text;
            EXPECT_EQ(line.tid, tids[t]) << text;
            EXPECT_EQ(i, next[t]++) << text;
        }
    }
    EXPECT_EQ(next, std::vector<int>(kThreads, kPerThread));
}

}  // namespace
