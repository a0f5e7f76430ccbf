// What one log record costs the thread that writes it, on both roads:
//   sink       - MJBase's log sink called as CLogger calls it: wide text in,
//                a 100-byte record, written or dropped for its level;
//   end to end - the library's own qn::log::Warn() << ... : the record's
//                appends, the UTF-8 -> UTF-16 conversion through MJBase's
//                converter, then the sink;
//   baseline   - spdlog's own asynchronous file logger (same queue size, one
//                writer thread) writing the same text, narrow.
// Each on one thread and on four at once; a figure is the median of single
// calls. Then one 100 MB record, each road in a child process of its own so
// that the peak resident size is that record's alone: how many copies of
// the record are alive at the peak, beyond the caller's own text.
#include <spdlog/async.h>
#include <spdlog/async_logger.h>
#include <spdlog/sinks/basic_file_sink.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench_report.h"
#include "host/text_convert.h"
#include "log/log_record.h"
#include "mj/mj_interfaces.h"
#include "platform/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kThreads = 4;
constexpr int kWrittenCalls = 50000;   // per thread
constexpr int kDroppedCalls = 400000;  // per thread
constexpr size_t kLargeBytes = size_t{100} << 20;
constexpr char kUrl[] = "http://127.0.0.1:8080/plume/device/queryDeviceOrgTree";

// 100 bytes with its line feed, shaped like the span line of a transfer.
std::string Record100(int i) {
    std::string text = std::string("[") + kUrl + "] perform ret:0 spantime:" + std::to_string(10000 + i % 90000);
    text.resize(99, ' ');
    return text + "\n";
}

// Runs call(thread, i) `calls` times on each of `threads` threads started
// together; returns the nanoseconds of every call.
std::vector<double> Timed(int threads, int calls, const std::function<void(int, int)>& call) {
    std::vector<std::vector<double>> ns(static_cast<size_t>(threads));
    std::atomic<int> ready{0};
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t) {
        running.emplace_back([&, t] {
            std::vector<double>& mine = ns[static_cast<size_t>(t)];
            mine.reserve(static_cast<size_t>(calls));
            ++ready;
            while (ready.load() < threads) std::this_thread::yield();
            for (int i = 0; i < calls; ++i) {
                const Clock::time_point start = Clock::now();
                call(t, i);
                mine.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count());
            }
        });
    }
    for (auto& th : running) th.join();
    std::vector<double> all;
    for (auto& v : ns) all.insert(all.end(), v.begin(), v.end());
    return all;
}

double Percentile(std::vector<double> values, double p) {
    const auto k = static_cast<size_t>(p * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<long>(k), values.end());
    return values[k];
}

std::u16string Wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// Waits until `path` holds at least `bytes`; false after a minute.
bool WaitForSize(const std::string& path, size_t bytes) {
    const Clock::time_point deadline = Clock::now() + std::chrono::minutes(1);
    struct stat st{};
    while (::stat(path.c_str(), &st) != 0 || static_cast<size_t>(st.st_size) < bytes) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

mj::IMJLogSink* NewSink(const char* module, uint32_t level) {
    const std::string path = qn::platform::executable_dir() + qn::platform::module_file_name("MJBase.dll");
    auto create = reinterpret_cast<mj::PFN_CreateMJObject>(
        qn::platform::find_symbol(qn::platform::load_module_path(path), mj::kFactoryName));
    void* object = nullptr;
    if (create == nullptr || create(&mj::CLSID_MJLogSink, &object) != mj::MJ_S_OK) {
        std::fprintf(stderr, "no MJBase log sink beside the executable\n");
        std::exit(1);
    }
    auto* sink = static_cast<mj::IMJLogSink*>(object);
    const std::u16string name = Wide(module);
    sink->SetModuleName(reinterpret_cast<const mj::wchar*>(name.c_str()), 0);
    sink->SetLevel(level);
    return sink;
}

// Child process: one record of kLargeBytes, through the sink alone or end
// to end. Prints the peak growth in record sizes and the caller's time.
int LargeRecord(bool end_to_end) {
    const std::string dir = qnbench::make_config_dir(25);
    // Built in place: no temporary copy may raise the peak beforehand.
    std::string text;
    std::u16string wide;
    if (end_to_end) {
        text.assign(kLargeBytes - 1, 'b');
    } else {
        wide.reserve(kLargeBytes);
        wide.assign(kLargeBytes - 1, u'b');
        wide += u'\n';
    }
    const double before = qnbench::peak_rss_bytes();
    const Clock::time_point start = Clock::now();
    std::string path;
    if (end_to_end) {
        qn::log::Error() << text << "\n";
        path = dir + "log/quillnet.log";
    } else {
        mj::IMJLogSink* sink = NewSink("large", 0);
        sink->Write(reinterpret_cast<const mj::wchar*>(wide.c_str()), 35);
        path = dir + "log/large.log";
    }
    const double caller_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (!WaitForSize(path, kLargeBytes)) {
        std::printf("the 100 MB record did not reach %s\n", path.c_str());
        return 1;
    }
    const double total_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::printf("%s %.2f %.1f %.1f\n", end_to_end ? "e2e" : "sink", (qnbench::peak_rss_bytes() - before) / kLargeBytes, caller_ms,
                total_ms);
    std::fflush(stdout);
    std::filesystem::remove_all(dir);
    return 0;
}

// Runs LargeRecord in a child; returns {copies, caller ms, total ms}.
std::vector<double> InChild(bool end_to_end) {
    const std::string got = qnbench::in_child([end_to_end] { std::fflush(stdout), std::_Exit(LargeRecord(end_to_end)); });
    char kind[8];
    double copies = 0, caller = 0, total = 0;
    if (std::sscanf(got.c_str(), "%7s %lf %lf %lf", kind, &copies, &caller, &total) != 4) {
        std::printf("large record child: %s\n", got.c_str());
        return {};
    }
    return {copies, caller, total};
}

}  // namespace

int main() {
    // Before any thread exists, so that the children may be forked.
    const std::vector<double> large_sink = InChild(false);
    const std::vector<double> large_e2e = InChild(true);

    const std::string dir = qnbench::make_config_dir(30);
    std::vector<std::u16string> wide;
    std::vector<std::string> narrow;
    for (int i = 0; i < 1000; ++i) {
        narrow.push_back(Record100(i));
        wide.push_back(Wide(narrow.back()));
    }
    auto at = [&](int i) { return reinterpret_cast<const mj::wchar*>(wide[static_cast<size_t>(i % 1000)].c_str()); };

    mj::IMJLogSink* sink = NewSink("bench", 30);
    auto pool = std::make_shared<spdlog::details::thread_pool>(512, 1);
    auto base = std::make_shared<spdlog::async_logger>(
        "base", std::make_shared<spdlog::sinks::basic_file_sink_mt>(dir + "log/base.log"), pool,
        spdlog::async_overflow_policy::block);
    base->set_pattern("%Y-%m-%d %H:%M:%S.%e [%t] %v");
    base->set_level(spdlog::level::info);
    for (int i = 0; i < 1000; ++i) {  // warm: files open, converter made, logger configured
        sink->Write(at(i), 30);
        base->info(narrow[static_cast<size_t>(i)]);
        qn::log::Warn() << "[" << kUrl << "] warm-up\n";
    }

    auto sink_written = [&](int, int i) { sink->Write(at(i), 30); };
    auto sink_dropped = [&](int, int i) { sink->Write(at(i), 25); };
    auto base_written = [&](int, int i) { base->info(narrow[static_cast<size_t>(i % 1000)]); };
    auto base_dropped = [&](int, int i) { base->debug(narrow[static_cast<size_t>(i % 1000)]); };
    // The span line of a transfer, 100 bytes, at level 30 (written) or 25
    // (dropped by the sink, configured for 30).
    auto e2e_written = [](int, int i) {
        qn::log::Warn() << "[" << kUrl << "] perform ret:" << 0 << " spantime:" << 10000 + i % 90000 << "           \n";
    };
    auto e2e_dropped = [](int, int i) {
        qn::log::Info() << "[" << kUrl << "] perform ret:" << 0 << " spantime:" << 10000 + i % 90000 << "           \n";
    };
    const std::string sample = Record100(1);
    auto convert = [&](int, int) { (void)qn::Utf8ToWide(sample); };

    struct Case {
        const char* metric;
        int threads, calls;
        std::function<void(int, int)> call, baseline;
        double at_most;  // ns; 0: no goal
    };
    const Case cases[] = {
        {"sink Write, written, 1 thread (ns)", 1, kWrittenCalls, sink_written, base_written, 0},
        {"sink Write, written, 4 threads (ns)", kThreads, kWrittenCalls, sink_written, base_written, 1000},
        {"sink Write, dropped for level, 4 threads (ns)", kThreads, kDroppedCalls, sink_dropped, base_dropped, 300},
        {"log record, written, 1 thread (ns)", 1, kWrittenCalls, e2e_written, base_written, 0},
        {"log record, written, 4 threads (ns)", kThreads, kWrittenCalls, e2e_written, base_written, 1000},
        {"log record, dropped for level, 4 threads (ns)", kThreads, kDroppedCalls, e2e_dropped, base_dropped, 300},
        {"Utf8ToWide of the record, 1 thread (ns)", 1, kDroppedCalls, convert, nullptr, 0},
    };
    std::vector<qnbench::Row> rows;
    for (const Case& c : cases) {
        const double value = Percentile(Timed(c.threads, c.calls, c.call), 0.5);
        const double baseline = c.baseline ? Percentile(Timed(c.threads, c.calls, c.baseline), 0.5) : -1;
        rows.push_back({c.metric, value, baseline, "spdlog, asynchronous",
                        c.at_most > 0 ? qnbench::Goal::kValueAtMost : qnbench::Goal::kNone, c.at_most});
    }
    if (large_sink.size() == 3 && large_e2e.size() == 3) {
        rows.push_back({"100 MB record, sink: peak copies", large_sink[0]});
        rows.push_back({"100 MB record, sink: caller's ms", large_sink[1]});
        rows.push_back({"100 MB record, sink: ms until in the file", large_sink[2]});
        rows.push_back({"100 MB record, end to end: peak copies", large_e2e[0]});
        rows.push_back({"100 MB record, end to end: caller's ms", large_e2e[1]});
    }
    std::printf("one record: %zu bytes; medians of single calls, clock read included\n", sample.size());
    qnbench::print(rows);

    base.reset();
    pool.reset();
    sink->Release();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}
