#include "task_watch.h"

#include <algorithm>
#include <thread>

#include "console.h"
#include "quillnet.h"

namespace qn {
namespace cli {

int64_t steady_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string TaskEvents::take_answer() {
    std::lock_guard<std::mutex> lock(answer_mutex);
    return std::move(answer);
}

void on_task_event(void*, int event, void* data, unsigned int length, void* user_data) {
    auto& e = *static_cast<TaskEvents*>(user_data);
    switch (event) {
    case TASK_EVENT_THREAD_DATA:
        if (e.kind == TaskEvents::Kind::Download) {
            e.bytes += length;
        } else {
            // The threaded upload passes the count sent so far in place of a
            // pointer, and the total (cut to 32 bits) as the length.
            e.bytes = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(data));
            e.total = length;
        }
        break;
    case TASK_EVENT_PROGRESS:
        e.percent = *static_cast<const int*>(data);
        break;
    case TASK_EVENT_DONE:
        e.done = *static_cast<const int*>(data);
        break;
    case TASK_EVENT_ASYNC_DATA:
        if (e.kind == TaskEvents::Kind::Download) {
            e.bytes += length;
        } else {
            std::lock_guard<std::mutex> lock(e.answer_mutex);
            e.answer.append(static_cast<const char*>(data), length);
        }
        break;
    default:
        break;
    }
    e.last_event_ms = steady_ms();
}

int TaskWatch::percent() const {
    return std::max(events_.percent.load(), control_.position ? control_.position() : -1);
}

ProgressSample TaskWatch::sample() const {
    ProgressSample s;
    s.percent = percent();
    s.bytes = events_.bytes;
    s.total = events_.total;
    // The asynchronous uploads report only a percent of what they send.
    if (s.bytes == 0 && s.total > 0 && s.percent > 0) s.bytes = s.total * static_cast<uint64_t>(s.percent) / 100;
    s.paused = paused_;
    return s;
}

void TaskWatch::set_paused(bool paused) {
    if (!control_.pause || paused == paused_) return;
    // libcurl's masks: CURLPAUSE_RECV 1 pauses the download, CURLPAUSE_CONT 0
    // lets it go on.
    if (control_.pause(paused ? 1 : 0) == 1) paused_ = paused;
    bar_.update(sample(), true);
}

Outcome TaskWatch::run(const std::function<void(TaskWatch&)>& each_turn) {
    KeyInput keys;
    const int64_t started = steady_ms();
    int64_t full_since = 0;
    for (;;) {
        if (InterruptGuard::requested()) return Outcome::Interrupted;
        if (keys.poll() == ' ') set_paused(!paused_);
        if (each_turn) each_turn(*this);
        const ProgressSample s = sample();
        bar_.update(s);
        const int64_t now = steady_ms();
        const int64_t last = std::max(events_.last_event_ms.load(), started);
        const int64_t stall = control_.stall.count();
        switch (control_.end) {
        case EndRule::DoneEvent:
            if (events_.done != -1) {
                bar_.update(sample(), true);
                return events_.done == 0 ? Outcome::Completed : Outcome::Failed;
            }
            break;
        case EndRule::PositionFull:
            // The threaded download sends no end event: at 100% only the
            // worker's last steps remain, which a short wait covers, so that
            // the stop does not abort a transfer that has all its data.
            if (s.percent == 100) {
                if (full_since == 0) full_since = now;
                if (now - full_since >= 200) return Outcome::Completed;
            } else if (!paused_ && now - last >= stall) {
                return Outcome::Stalled;
            }
            break;
        case EndRule::UploadQuiet:
            // libcurl reports progress at least once a second while a
            // transfer lasts, the server's answer included; quiet after 100%
            // means the worker is done.
            if (s.percent == 100 && now - last >= std::min<int64_t>(1500, stall)) return Outcome::Completed;
            if (s.percent < 100 && now - last >= stall) return Outcome::Stalled;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
}

}  // namespace cli
}  // namespace qn
