#include "bench_report.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace qnbench {

bool met(const Row& row) {
    const double ratio = row.baseline > 0 ? row.value / row.baseline : 0;
    switch (row.goal) {
    case Goal::kValueAtMost:
        return row.value <= row.target;
    case Goal::kRatioAtLeast:
        return row.baseline > 0 && ratio >= row.target;
    case Goal::kRatioAtMost:
        return row.baseline > 0 && ratio <= row.target;
    case Goal::kNone:
        break;
    }
    return true;
}

std::string goal_text(const Row& row) {
    char text[48];
    switch (row.goal) {
    case Goal::kValueAtMost:
        std::snprintf(text, sizeof text, "<= %g", row.target);
        return text;
    case Goal::kRatioAtLeast:
        std::snprintf(text, sizeof text, ">= %gx", row.target);
        return text;
    case Goal::kRatioAtMost:
        std::snprintf(text, sizeof text, "<= %gx", row.target);
        return text;
    case Goal::kNone:
        break;
    }
    return "-";
}

void print(const std::vector<Row>& rows) {
    std::printf("%-52s %12s %12s %8s %9s %s\n", "metric", "quillnet", "baseline", "ratio", "goal", "met");
    for (const Row& r : rows) {
        char baseline[32] = "-", ratio[32] = "-";
        if (r.baseline > 0) {
            std::snprintf(baseline, sizeof baseline, "%.2f", r.baseline);
            std::snprintf(ratio, sizeof ratio, "%.2f", r.value / r.baseline);
        }
        const char* verdict = r.goal == Goal::kNone ? "-" : met(r) ? "yes" : "NO";
        std::printf("%-52s %12.2f %12s %8s %9s %s\n", r.metric.c_str(), r.value, baseline, ratio, goal_text(r).c_str(),
                    verdict);
    }
    for (const Row& r : rows) {
        std::printf("QNROW\t%s\t%.2f\t%s\t%s\t%s\t%s\n", r.metric.c_str(), r.value,
                    r.baseline > 0 ? std::to_string(r.baseline).c_str() : "-",
                    r.baseline > 0 ? r.baseline_name.c_str() : "-", goal_text(r).c_str(),
                    r.goal == Goal::kNone ? "-" : met(r) ? "yes" : "NO");
    }
    std::fflush(stdout);
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    const auto mid = values.begin() + static_cast<long>(values.size() / 2);
    std::nth_element(values.begin(), mid, values.end());
    return *mid;
}

double peak_rss_bytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) * 1024.0;
}

double current_rss_bytes() {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE));
}

std::string make_config_dir(int log_level) {
    std::string dir = (std::filesystem::temp_directory_path() / "qn_bench.XXXXXX").string();
    if (::mkdtemp(dir.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    dir += "/";
    std::ofstream(dir + "mjlog.dat") << "log_level=" << log_level << "\nlog_file_maxsize=0\n";
    ::setenv("MJ_CONFIG_DIR", dir.c_str(), 1);
    return dir;
}

void remove_dir(const std::string& dir) {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

std::string in_child(const std::function<void()>& body) {
    int out[2];
    if (::pipe(out) != 0) return std::string();
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        body();
        std::fflush(stdout);
        std::_Exit(0);
    }
    ::close(out[1]);
    std::string got;
    char buf[4096];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return got;
}

}  // namespace qnbench
