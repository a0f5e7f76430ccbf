#include "task_watch.h"

#include <algorithm>
#include <chrono>
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
    for (;;) {
        if (InterruptGuard::requested()) return Outcome::Interrupted;
        if (keys.poll() == ' ') set_paused(!paused_);
        if (each_turn) each_turn(*this);
        bar_.update(sample());
        const int ended = control_.end == EndRule::DoneEvent ? events_.done.load() : control_.span_result();
        if (ended != -1) {
            bar_.update(sample(), true);
            return ended == 0 ? Outcome::Completed : Outcome::Failed;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
}

}  // namespace cli
}  // namespace qn
