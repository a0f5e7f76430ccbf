#include "progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "console.h"

namespace qn {
namespace cli {

std::string format_bytes(double bytes) {
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (bytes >= 1024.0 && unit < 4) {
        bytes /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof(text), unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return text;
}

bool show_progress() {
    return err_is_terminal() && verbosity() != Verbosity::Silent;
}

ProgressBar::ProgressBar(std::string label, bool live) : label_(std::move(label)), live_(live) {}

double ProgressBar::rate() const {
    if (history_.size() < 2) return 0.0;
    const double seconds = std::chrono::duration<double>(history_.back().first - history_.front().first).count();
    if (seconds <= 0.0) return 0.0;
    return static_cast<double>(history_.back().second - history_.front().second) / seconds;
}

std::string ProgressBar::render(const ProgressSample& s) const {
    const int width = std::max(10, std::min(30, terminal_columns() - 60 - static_cast<int>(label_.size())));
    const int percent = std::max(0, std::min(100, s.percent));
    const int filled = width * percent / 100;
    std::string line = label_ + " [" + std::string(static_cast<size_t>(filled), '#') +
                       std::string(static_cast<size_t>(width - filled), '.') + "] ";
    char part[96];
    std::snprintf(part, sizeof(part), s.percent < 0 ? " --%%" : "%3d%%", percent);
    line += part;
    // The library reports a truncated percent; the total follows from it
    // closely enough for a time estimate once a little has arrived.
    double total = static_cast<double>(s.total);
    if (total == 0.0 && s.percent > 0) total = static_cast<double>(s.bytes) * 100.0 / s.percent;
    line += "  " + format_bytes(static_cast<double>(s.bytes));
    if (total > 0.0) line += (s.total == 0 ? " of ~" : " of ") + format_bytes(total);
    const double r = rate();
    if (s.paused) {
        line += "  paused (space resumes)";
    } else if (r > 0.0) {
        line += "  " + format_bytes(r) + "/s";
        if (total > 0.0) {
            const long left = std::lround(std::max(0.0, total - static_cast<double>(s.bytes)) / r);
            std::snprintf(part, sizeof(part), "  %ld:%02ld left", left / 60, left % 60);
            line += part;
        }
    }
    return line;
}

void ProgressBar::update(const ProgressSample& sample, bool force) {
    const auto now = Clock::now();
    history_.emplace_back(now, sample.bytes);
    while (history_.size() > 2 && now - history_.front().first > std::chrono::seconds(2)) history_.pop_front();
    if (!live_ || (!force && now - last_draw_ < std::chrono::milliseconds(100))) return;
    last_draw_ = now;
    std::string line = render(sample);
    const auto columns = static_cast<size_t>(terminal_columns());
    if (line.size() >= columns) line.resize(columns - 1);
    std::fputs(("\r" + line + "\x1b[K").c_str(), err());
    std::fflush(err());
    drawn_ = true;
}

void ProgressBar::close() {
    if (!drawn_) return;
    std::fputs("\n", err());
    std::fflush(err());
    drawn_ = false;
}

}  // namespace cli
}  // namespace qn
