// The MJBase log sink writing real files under a temporary configuration
// directory: line format, levels, rotation, age limit, debugger copy,
// flushing, concurrent writers and the flush at process exit.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "log_file.h"
#include "mjbase_test.h"
#include "platform.h"
#include "temp_dir.h"

extern char** environ;

namespace fs = std::filesystem;

using mjtest::create;
using mjtest::Ref;
using mjtest::W;

namespace {

const std::regex kLine(R"(^(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})\.(\d{3}) \[(\d+)\] \[(\d+)\] (.*)$)");

struct Line {
    std::time_t time = 0;
    uint32_t tid = 0;
    uint32_t level = 0;
    std::string text;
};

// Parses one line in the sink's format; false when it does not match.
bool ParseLine(const std::string& line, Line* out) {
    std::smatch m;
    if (!std::regex_match(line, m, kLine)) return false;
    std::tm tm{};
    tm.tm_year = std::stoi(m[1]) - 1900;
    tm.tm_mon = std::stoi(m[2]) - 1;
    tm.tm_mday = std::stoi(m[3]);
    tm.tm_hour = std::stoi(m[4]);
    tm.tm_min = std::stoi(m[5]);
    tm.tm_sec = std::stoi(m[6]);
    tm.tm_isdst = -1;
    out->time = std::mktime(&tm);
    out->tid = static_cast<uint32_t>(std::stoul(m[8]));
    out->level = static_cast<uint32_t>(std::stoul(m[9]));
    out->text = m[10];
    return true;
}

std::vector<std::string> Lines(const std::string& content) {
    std::vector<std::string> lines;
    std::istringstream in(content);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

mj::MJLogOptions Options(int32_t max_days, int32_t max_size, int32_t debug_mode) {
    return mj::MJLogOptions{0, 0x00070007, max_days, max_size, debug_mode};
}

class MJBaseLogSink : public ::testing::Test {
protected:
    void SetUp() override {
        qntest::use_config_dir(dir_.path());
        sink_ = create<mj::IMJLogSink>(mj::CLSID_MJLogSink);
        ASSERT_TRUE(sink_);
    }

    std::string LogDir() const { return dir_.path() + "log/"; }
    std::string LogPath(const std::string& module = "quillnet") const {
        return qntest::log_path(dir_.path(), module);
    }

    int32_t Write(const std::u16string& text, uint32_t level, mj::IMJLogSink* sink = nullptr) {
        return (sink != nullptr ? sink : sink_.get())->Write(W(text).c_str(), level);
    }

    // Files of `module` in the log folder: rotated ones by number, then the
    // current one.
    std::vector<std::string> ModuleFiles(const std::string& module = "quillnet") const {
        std::map<long, std::string> rotated;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(LogDir(), ec)) {
            const std::string name = entry.path().filename().string();
            const std::string prefix = module + ".";
            if (name.rfind(prefix, 0) != 0 || name.size() <= prefix.size() + 4) continue;
            const std::string middle = name.substr(prefix.size(), name.size() - prefix.size() - 4);
            if (name.substr(name.size() - 4) != ".log" ||
                middle.find_first_not_of("0123456789") != std::string::npos) {
                continue;
            }
            rotated[std::stol(middle)] = entry.path().string();
        }
        std::vector<std::string> files;
        for (const auto& r : rotated) files.push_back(r.second);
        if (qntest::file_exists(LogPath(module))) files.push_back(LogPath(module));
        return files;
    }

    qntest::TempDir dir_;
    Ref<mj::IMJLogSink> sink_;
};

TEST_F(MJBaseLogSink, WritesOnePrefixedLinePerRecordInLocalTime) {
    // A zone far from UTC, so that a UTC time stamp would show.
    ::setenv("TZ", "CST-8", 1);
    ::tzset();
    ASSERT_EQ(sink_->SetModuleName(W(u"quillnet").c_str(), 0), mj::MJ_S_OK);
    ASSERT_EQ(sink_->SetLevel(25), mj::MJ_S_OK);
    const std::time_t before = std::time(nullptr);

    EXPECT_GT(Write(u"[http://h/a] perform ret:0 spantime:12\n", 30), 0);
    EXPECT_GT(Write(u"no newline of its own", 25), 0);
    EXPECT_GT(Write(u"two newlines\n\n", 30), 0);
    EXPECT_GT(Write(u"\u4E2D\u6587 \U0001F600 end\n", 35), 0);
    ASSERT_FALSE(qntest::wait_for_log_line(LogPath(), "end").empty());
    const std::time_t after = std::time(nullptr);

    const std::string content = qntest::read_file(LogPath());
    ASSERT_FALSE(content.empty());
    EXPECT_EQ(content.back(), '\n');
    const auto lines = Lines(content);
    ASSERT_EQ(lines.size(), 5u) << content;

    const std::pair<uint32_t, std::string> expected[] = {
        {30, "[http://h/a] perform ret:0 spantime:12"},
        {25, "no newline of its own"},
        {30, "two newlines"},
        {30, ""},  // only one trailing "\n" belongs to the sink
        {35, "\xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80 end"},
    };
    for (size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(lines[i]);
        if (i == 3) {
            EXPECT_EQ(lines[i], "");  // the second newline of record 3
            continue;
        }
        const size_t record = i < 3 ? i : 4;
        Line parsed;
        ASSERT_TRUE(ParseLine(lines[i], &parsed));
        EXPECT_EQ(parsed.tid, qn::platform::current_thread_id());
        EXPECT_EQ(parsed.level, expected[record].first);
        EXPECT_EQ(parsed.text, expected[record].second);
        EXPECT_GE(parsed.time, before - 1);
        EXPECT_LE(parsed.time, after + 1);
        // The shared test readers agree with the format.
        EXPECT_EQ(qntest::record_text(lines[i]), expected[record].second);
        EXPECT_EQ(qntest::record_level(lines[i]), static_cast<int>(expected[record].first));
    }
}

TEST_F(MJBaseLogSink, DropsRecordsBelowTheLevel) {
    ASSERT_EQ(sink_->SetModuleName(W(u"quillnet").c_str(), 0), mj::MJ_S_OK);
    ASSERT_EQ(sink_->SetLevel(30), mj::MJ_S_OK);
    EXPECT_EQ(Write(u"filtered 25\n", 25), 0);
    EXPECT_EQ(Write(u"filtered 29\n", 29), 0);
    EXPECT_GT(Write(u"kept 30\n", 30), 0);
    EXPECT_GT(Write(u"kept 35\n", 35), 0);
    EXPECT_LT(sink_->Write(nullptr, 35), 0);
    ASSERT_FALSE(qntest::wait_for_log_line(LogPath(), "kept 35").empty());
    EXPECT_EQ(qntest::log_lines_containing(LogPath(), "kept").size(), 2u);
    EXPECT_TRUE(qntest::log_lines_containing(LogPath(), "filtered").empty());

    // Lowering the level lets them through again.
    ASSERT_EQ(sink_->SetLevel(0), mj::MJ_S_OK);
    EXPECT_GT(Write(u"filtered no more\n", 1), 0);
    EXPECT_GT(Write(u"second marker\n", 35), 0);
    ASSERT_FALSE(qntest::wait_for_log_line(LogPath(), "second marker").empty());
    EXPECT_EQ(qntest::log_lines_containing(LogPath(), "filtered no more").size(), 1u);
}

TEST_F(MJBaseLogSink, UnnamedSinkWritesToMJBaseLogEvenWhenReleasedAtOnce) {
    EXPECT_GT(Write(u"before any name\n", 25), 0);
    // Released with the record possibly still queued: it must still arrive.
    sink_.reset();
    EXPECT_FALSE(qntest::wait_for_log_line(LogPath("MJBase"), "before any name").empty());
    EXPECT_FALSE(qntest::file_exists(LogPath()));
}

TEST_F(MJBaseLogSink, NamesMustStayInsideTheLogFolder) {
    EXPECT_EQ(sink_->SetModuleName(nullptr, 0), mj::MJ_E_POINTER);
    EXPECT_NE(sink_->SetModuleName(W(u"").c_str(), 0), mj::MJ_S_OK);
    EXPECT_NE(sink_->SetModuleName(W(u"../escape").c_str(), 0), mj::MJ_S_OK);
    EXPECT_NE(sink_->SetModuleName(W(u"..").c_str(), 0), mj::MJ_S_OK);
    ASSERT_EQ(sink_->SetModuleName(W(u"quillnet").c_str(), 0), mj::MJ_S_OK);
    EXPECT_TRUE(fs::is_directory(LogDir()));  // folders made when the name is set
    EXPECT_EQ(sink_->SetOptions(nullptr), mj::MJ_E_POINTER);
}

TEST_F(MJBaseLogSink, SinksWithDifferentNamesWriteTheirOwnFiles) {
    auto beta = create<mj::IMJLogSink>(mj::CLSID_MJLogSink);
    auto same = create<mj::IMJLogSink>(mj::CLSID_MJLogSink);
    ASSERT_TRUE(beta && same);
    ASSERT_EQ(sink_->SetModuleName(W(u"quillnet").c_str(), 0), mj::MJ_S_OK);
    ASSERT_EQ(beta->SetModuleName(W(u"beta").c_str(), 0), mj::MJ_S_OK);
    ASSERT_EQ(same->SetModuleName(W(u"quillnet").c_str(), 0), mj::MJ_S_OK);
    for (int i = 0; i < 50; ++i) {
        Write(u"from first\n", 30);
        Write(u"from beta\n", 30, beta.get());
        Write(u"from same\n", 30, same.get());
    }
    Write(u"first done\n", 35);
    Write(u"beta done\n", 35, beta.get());
    Write(u"same done\n", 35, same.get());
    ASSERT_FALSE(qntest::wait_for_log_line(LogPath(), "first done").empty());
    ASSERT_FALSE(qntest::wait_for_log_line(LogPath(), "same done").empty());
    ASSERT_FALSE(qntest::wait_for_log_line(LogPath("beta"), "beta done").empty());

    EXPECT_EQ(qntest::log_lines_containing(LogPath(), "from first").size(), 50u);
    EXPECT_EQ(qntest::log_lines_containing(LogPath(), "from same").size(), 50u);
    EXPECT_TRUE(qntest::log_lines_containing(LogPath(), "beta").empty());
    EXPECT_EQ(qntest::log_lines_containing(LogPath("beta"), "from beta").size(), 50u);
    EXPECT_TRUE(qntest::log_lines_containing(LogPath("beta"), "first").empty());
    // Two sinks on one file share it: no line torn by the other's writes.
    for (const auto& line : Lines(qntest::read_file(LogPath()))) {
        Line parsed;
        EXPECT_TRUE(ParseLine(line, &parsed)) << line;
    }
}

TEST_F(MJBaseLogSink, RotatesToNumberedFilesPastMaxSize) {
    constexpr int kRecords = 120;
    constexpr int32_t kMaxSize = 2000;
    ASSERT_EQ(sink_->SetModuleName(W(u"quillnet").c_str(), 0), mj::MJ_S_OK);
    const auto options = Options(5, kMaxSize, 0);
    ASSERT_EQ(sink_->SetOptions(&options), mj::MJ_S_OK);
    for (int i = 0; i < kRecords; ++i) {
        std::u16string record = u"rotation record ";
        for (char c : std::to_string(1000 + i)) record += static_cast<char16_t>(c);
        record += u" padding padding padding padding padding\n";
        ASSERT_GT(Write(record, 30), 0);
    }
    ASSERT_GT(Write(u"rotation done\n", 35), 0);
    ASSERT_FALSE(qntest::wait_for_log_line(LogPath(), "rotation done").empty());

    const auto files = ModuleFiles();
    // ~110 bytes a line: at least six files of under 2000 bytes.
    ASSERT_GE(files.size(), 6u);
    EXPECT_TRUE(qntest::file_exists(LogDir() + "quillnet.1.log"));
    std::vector<std::string> texts;
    for (const auto& file : files) {
        const std::string content = qntest::read_file(file);
        EXPECT_LE(content.size(), static_cast<size_t>(kMaxSize)) << file;
        for (const auto& line : Lines(content)) texts.push_back(qntest::record_text(line));
    }
    // Oldest first: .1, .2, ... then the current file, nothing lost or doubled.
    ASSERT_EQ(texts.size(), static_cast<size_t>(kRecords + 1));
    for (int i = 0; i < kRecords; ++i) {
        EXPECT_EQ(texts[i].substr(0, 20), "rotation record " + std::to_string(1000 + i));
    }
    EXPECT_EQ(texts.back(), "rotation done");
}

TEST_F(MJBaseLogSink, DeletesThisModulesFilesOlderThanMaxDays) {
    const auto ten_days_ago = fs::file_time_type::clock::now() - std::chrono::hours(24 * 10);
    const auto two_days_ago = fs::file_time_type::clock::now() - std::chrono::hours(24 * 2);
    struct Prepared {
        const char* name;
        bool old;
        bool survives;
    };
    const Prepared prepared[] = {
        {"quillnet.log", true, false},  {"quillnet.1.log", true, false}, {"quillnet.4.log", false, true},
        {"other.1.log", true, true},    {"other.log", true, true},        {"quillnet.txt", true, true},
        {"quillnet.x.log", true, true},
    };
    for (const auto& p : prepared) {
        const std::string path = dir_.write(std::string("log/") + p.name, "old line\n");
        fs::last_write_time(path, p.old ? ten_days_ago : two_days_ago);
    }

    ASSERT_EQ(sink_->SetModuleName(W(u"quillnet").c_str(), 0), mj::MJ_S_OK);
    const auto options = Options(5, 1000, 0);
    ASSERT_EQ(sink_->SetOptions(&options), mj::MJ_S_OK);
    for (const auto& p : prepared) {
        EXPECT_EQ(qntest::file_exists(LogDir() + p.name), p.survives) << p.name;
    }

    // Each rotation prunes again.
    const std::string late = dir_.write("log/quillnet.2.log", "old line\n");
    fs::last_write_time(late, ten_days_ago);
    for (int i = 0; i < 40; ++i) Write(u"enough text to pass the size limit soon\n", 30);
    Write(u"pruned again\n", 35);
    ASSERT_FALSE(qntest::wait_for_log_line(LogPath(), "pruned again").empty());
    EXPECT_FALSE(qntest::file_exists(late));
    EXPECT_TRUE(qntest::file_exists(LogDir() + "quillnet.4.log"));
    EXPECT_TRUE(qntest::file_exists(LogDir() + "quillnet.5.log"));  // one above the highest present
}

TEST_F(MJBaseLogSink, DebugModeCopiesEachLineToStderr) {
    auto quiet = create<mj::IMJLogSink>(mj::CLSID_MJLogSink);
    ASSERT_TRUE(quiet);
    ASSERT_EQ(sink_->SetModuleName(W(u"quillnet").c_str(), 0), mj::MJ_S_OK);
    ASSERT_EQ(quiet->SetModuleName(W(u"quiet").c_str(), 0), mj::MJ_S_OK);
    const auto loud = Options(5, 1 << 20, 1);
    const auto silent = Options(5, 1 << 20, 0);
    ASSERT_EQ(sink_->SetOptions(&loud), mj::MJ_S_OK);
    ASSERT_EQ(quiet->SetOptions(&silent), mj::MJ_S_OK);

    ::testing::internal::CaptureStderr();
    Write(u"copied to stderr\n", 35);
    Write(u"kept off stderr\n", 35, quiet.get());
    const std::string line = qntest::wait_for_log_line(LogPath(), "copied to stderr");
    const bool quiet_written = !qntest::wait_for_log_line(LogPath("quiet"), "kept off stderr").empty();
    const std::string err = ::testing::internal::GetCapturedStderr();

    ASSERT_FALSE(line.empty());
    ASSERT_TRUE(quiet_written);
    EXPECT_NE(err.find(line + "\n"), std::string::npos) << err;
    EXPECT_EQ(err.find("kept off stderr"), std::string::npos) << err;
}

TEST_F(MJBaseLogSink, FlushesPromptRecordsAtOnceAndOthersWithinSeconds) {
    ASSERT_EQ(sink_->SetModuleName(W(u"quillnet").c_str(), 0), mj::MJ_S_OK);
    Write(u"queued before the prompt one\n", 25);
    Write(u"prompt record\n", 35);
    ASSERT_FALSE(qntest::wait_for_log_line(LogPath(), "prompt record").empty());
    // Flushing the file for the level-35 record takes what came before along.
    EXPECT_EQ(qntest::log_lines_containing(LogPath(), "queued before").size(), 1u);

    // A lone low-level record needs the periodic flush to get out.
    Write(u"lazy record\n", 25);
    EXPECT_FALSE(qntest::wait_for_log_line(LogPath(), "lazy record", 10000).empty());
}

TEST_F(MJBaseLogSink, ConcurrentWritersLoseNothingAcrossRotations) {
    constexpr int kThreads = 8;
    constexpr int kPerThread = 400;
    ASSERT_EQ(sink_->SetModuleName(W(u"quillnet").c_str(), 0), mj::MJ_S_OK);
    const auto options = Options(5, 32 * 1024, 0);
    ASSERT_EQ(sink_->SetOptions(&options), mj::MJ_S_OK);

    std::vector<uint32_t> tids(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            tids[t] = qn::platform::current_thread_id();
            for (int i = 0; i < kPerThread; ++i) {
                std::string text = "w" + std::to_string(t) + " n" + std::to_string(i) + "\n";
                sink_->Write(mjtest::widen(text).c_str(), i % 50 == 0 ? 35 : 30);
            }
        });
    }
    for (auto& th : threads) th.join();
    Write(u"all writers done\n", 35);
    ASSERT_FALSE(qntest::wait_for_log_line(LogPath(), "all writers done").empty());

    const auto files = ModuleFiles();
    EXPECT_GE(files.size(), 2u);  // rotated while the writers ran
    std::vector<int> next(kThreads, 0);
    for (const auto& file : files) {
        for (const auto& line : Lines(qntest::read_file(file))) {
            Line parsed;
            ASSERT_TRUE(ParseLine(line, &parsed)) << line;
            if (parsed.text == "all writers done") continue;
            int t = -1, i = -1;
            ASSERT_EQ(std::sscanf(parsed.text.c_str(), "w%d n%d", &t, &i), 2) << line;
            ASSERT_TRUE(t >= 0 && t < kThreads) << line;
            EXPECT_EQ(parsed.tid, tids[t]) << line;  // the writing thread's id
            EXPECT_EQ(i, next[t]) << line;           // each thread's records in order, none lost
            next[t] = i + 1;
        }
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kPerThread) << "thread " << t;
}

TEST_F(MJBaseLogSink, ForkedChildIsRefusedAndExitsWithoutWaiting) {
    ASSERT_EQ(sink_->SetModuleName(W(u"quillnet").c_str(), 0), mj::MJ_S_OK);
    ASSERT_GT(Write(u"parent before fork\n", 35), 0);
    // Written and flushed, so the child inherits no buffered copy of it.
    ASSERT_FALSE(qntest::wait_for_log_line(LogPath(), "parent before fork").empty());
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // The background thread stayed in the parent: writing here could only
        // queue for ever. A normal exit must not wait for it either.
        const int32_t rc = Write(u"child record\n", 35);
        std::exit(rc < 0 ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // The parent's sink is unaffected.
    ASSERT_GT(Write(u"parent after fork\n", 35), 0);
    EXPECT_FALSE(qntest::wait_for_log_line(LogPath(), "parent after fork").empty());
    EXPECT_TRUE(qntest::log_lines_containing(LogPath(), "child record").empty());
}

constexpr int kChildRecords = 1000;  // well below the queue's size: writing never waits
constexpr char kChildQueued[] = "MJBASE-CHILD-QUEUED";

// Run in a child process by the test below: queues records and exits
// normally, without releasing the sink, as quillnet does. The records are
// also copied to stderr, a pipe the parent leaves unread until the child
// has queued everything: the background thread is stuck on that pipe, so at
// exit nearly all records are still queued.
TEST(MJBaseLogSinkChild, WritesAndExits) {
    const char* dir = std::getenv("MJBASE_TEST_CHILD_DIR");
    if (dir == nullptr) GTEST_SKIP() << "only run as the child of ExitFlushesPendingRecords";
    qntest::use_config_dir(dir);
    auto sink = create<mj::IMJLogSink>(mj::CLSID_MJLogSink);
    ASSERT_TRUE(sink);
    sink->SetModuleName(W(u"quillnet").c_str(), 0);
    const auto options = Options(5, 64 << 20, 1);
    sink->SetOptions(&options);
    const mjtest::wstring padding(1000, u'.');
    for (int i = 0; i < kChildRecords; ++i) {
        sink->Write((mjtest::widen("pending " + std::to_string(i) + " ") + padding + W(u"\n")).c_str(), 25);
    }
    std::printf("%s\n", kChildQueued);
    std::fflush(stdout);
    // Kept, not released, like quillnet's logger (and still reachable, so
    // the leak checker of sanitizer builds does not object).
    static mj::IMJLogSink* const kept = sink.leak();
    (void)kept;
}

// Reads `fd` until `stop` returns true for what has been read, or EOF.
std::string ReadUntil(int fd, const std::function<bool(const std::string&)>& stop) {
    std::string got;
    char buf[4096];
    while (!stop(got)) {
        const ssize_t n = ::read(fd, buf, sizeof(buf));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

TEST(MJBaseLogSinkExit, ExitFlushesPendingRecords) {
    qntest::TempDir dir;
    ::setenv("MJBASE_TEST_CHILD_DIR", dir.path().c_str(), 1);
    int out[2], err[2];
    ASSERT_EQ(::pipe(out), 0);
    ASSERT_EQ(::pipe(err), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    for (int fd : {out[0], out[1], err[0], err[1]}) posix_spawn_file_actions_addclose(&actions, fd);

    const std::string self = qn::platform::executable_path();
    std::string filter = "--gtest_filter=MJBaseLogSinkChild.WritesAndExits";
    char* argv[] = {const_cast<char*>(self.c_str()), filter.data(), nullptr};
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    ASSERT_EQ(spawned, 0);

    // Only once everything is queued does the parent start to drain stderr,
    // which lets the background thread (and so the child's exit) go on.
    const std::string queued = ReadUntil(out[0], [](const std::string& s) {
        return s.find(kChildQueued) != std::string::npos;
    });
    const std::string copied = ReadUntil(err[0], [](const std::string&) { return false; });
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ::close(out[0]);
    ::close(err[0]);
    ASSERT_NE(queued.find(kChildQueued), std::string::npos) << queued;
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << queued << copied.substr(copied.size() > 4000 ? copied.size() - 4000 : 0);

    // The child is gone: whatever reached the file is all there will be.
    const std::string path = qntest::log_path(dir.path());
    EXPECT_EQ(qntest::log_lines_containing(path, "pending ").size(), static_cast<size_t>(kChildRecords));
    EXPECT_EQ(qntest::log_lines_containing(path, "pending " + std::to_string(kChildRecords - 1) + " ").size(), 1u);
    EXPECT_GE(copied.size(), static_cast<size_t>(kChildRecords) * 1000);
}

}  // namespace
