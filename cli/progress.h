// The live progress line of a transfer: bar, percent, bytes, rate and time
// left, redrawn in place on the terminal of standard error (never into the
// answer on standard output) and never written anywhere else.
#ifndef QN_CLI_PROGRESS_H
#define QN_CLI_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

namespace qn {
namespace cli {

struct ProgressSample {
    int percent = -1;     // -1 while the library does not know the size
    uint64_t bytes = 0;   // moved so far
    uint64_t total = 0;   // 0 when unknown (then estimated from the percent)
    bool paused = false;
};

// "1.5 MiB", "512 B"
std::string format_bytes(double bytes);

// Whether a transfer draws its live line: standard error is a terminal and
// the user did not ask for silence.
bool show_progress();

class ProgressBar {
public:
    // Draws only when `live` (see show_progress()).
    ProgressBar(std::string label, bool live);
    ~ProgressBar() { close(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Redraws at most ten times a second (always when `force`).
    void update(const ProgressSample& sample, bool force = false);
    // Ends the line; later output starts on a fresh one.
    void close();
    // Bytes a second over the last two seconds.
    double rate() const;

private:
    using Clock = std::chrono::steady_clock;
    std::string render(const ProgressSample& sample) const;

    std::string label_;
    bool live_;
    bool drawn_ = false;
    Clock::time_point last_draw_{};
    std::deque<std::pair<Clock::time_point, uint64_t>> history_;
};

}  // namespace cli
}  // namespace qn

#endif
