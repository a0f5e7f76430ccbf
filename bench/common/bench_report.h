// What every benchmark shares: the report rows with their baselines and
// goals, medians, the resident size, a configuration folder with a chosen
// log level, and running a measurement in a child process (for what a
// process fixes once: the log level, the host's environment switches, a
// peak resident size of its own).
//
// Each benchmark prints its rows as a table and also as "QNROW" lines,
// which scripts/bench.sh gathers from every benchmark into one report.
#ifndef QN_BENCH_REPORT_H
#define QN_BENCH_REPORT_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace qnbench {

enum class Goal {
    kNone,
    kValueAtMost,   // value <= target
    kRatioAtLeast,  // value / baseline >= target
    kRatioAtMost,   // value / baseline <= target
};

struct Row {
    Row(std::string what, double figure, double base = -1, std::string base_name = "", Goal goal_kind = Goal::kNone,
        double goal_target = 0)
        : metric(std::move(what)),
          value(figure),
          baseline(base),
          baseline_name(std::move(base_name)),
          goal(goal_kind),
          target(goal_target) {}

    std::string metric;         // what, with its unit
    double value;               // quillnet's figure
    double baseline;            // the baseline's figure in the same run; < 0: none
    std::string baseline_name;  // what the baseline is
    Goal goal;
    double target;
};

bool met(const Row& row);
std::string goal_text(const Row& row);

// The table, then the QNROW lines.
void print(const std::vector<Row>& rows);

double median(std::vector<double> values);

// The process's peak and current resident sizes, in bytes.
double peak_rss_bytes();
double current_rss_bytes();

// A fresh folder with mjlog.dat setting `log_level` (and files that never
// rotate), made the configuration folder of this process; ends in "/".
std::string make_config_dir(int log_level);
void remove_dir(const std::string& dir);

// Runs `body` in a forked child and returns what it printed to standard
// output. Fork before any thread is started.
std::string in_child(const std::function<void()>& body);

}  // namespace qnbench

#endif
