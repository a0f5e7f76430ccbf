// Following one library task from the main thread: what its callback
// reported, its position, the keys and Ctrl-C, and the progress line.
#ifndef QN_CLI_TASK_WATCH_H
#define QN_CLI_TASK_WATCH_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "progress.h"

namespace qn {
namespace cli {

// What a task's callback hands over, written on its worker thread.
struct TaskEvents {
    enum class Kind { Download, Upload };  // uploads: data events carry the answer
    explicit TaskEvents(Kind k) : kind(k) {}

    const Kind kind;
    std::atomic<uint64_t> bytes{0};        // received (downloads) or sent (threaded upload)
    std::atomic<uint64_t> total{0};        // to send (uploads), when known
    std::atomic<int> percent{-1};          // last progress event
    std::atomic<int> done{-1};             // end event: 0 success, 1 failure
    std::mutex answer_mutex;
    std::string answer;                    // the server's answer to an upload

    std::string take_answer();
};

// The TaskCallback for every task this program starts; user_data is the
// task's TaskEvents.
void on_task_event(void* handle, int event, void* data, unsigned int length, void* user_data);

// How a task kind tells that it has ended.
enum class EndRule {
    DoneEvent,  // the asynchronous tasks send one
    SpanLine,   // the threaded tasks send none: their worker's span line in the log
};

enum class Outcome { Completed, Failed, Interrupted };

struct TaskControl {
    std::function<int()> position;          // the task's getpos export
    std::function<int(int)> pause;          // control export, or empty
    EndRule end = EndRule::DoneEvent;
    std::function<int()> span_result;       // SpanLine: libcurl's code, -1 until the line is there
};

class TaskWatch {
public:
    TaskWatch(TaskEvents& events, TaskControl control, ProgressBar& bar)
        : events_(events), control_(std::move(control)), bar_(bar) {}

    // Follows the task until it ends or the user presses Ctrl-C.
    // `each_turn` runs on every turn of the loop (the demo pauses and
    // resumes from there).
    Outcome run(const std::function<void(TaskWatch&)>& each_turn = {});

    // Pauses (true) or resumes the task through the library.
    void set_paused(bool paused);
    bool paused() const { return paused_; }
    int percent() const;
    ProgressSample sample() const;

private:
    TaskEvents& events_;
    TaskControl control_;
    ProgressBar& bar_;
    bool paused_ = false;
};

int64_t steady_ms();

}  // namespace cli
}  // namespace qn

#endif
