// What the library's log and libcurl's trace say about the transfer the
// program has just made. The library tells a transfer's end and its failure
// only there: the span line of its timed perform ("[url] perform ret:7
// spantime:0"), the error lines of the export that ran it, and, for the
// asynchronous transfers, which switch libcurl's trace on, the server's
// status line in that trace.
#ifndef QN_CLI_LIBRARY_LOG_H
#define QN_CLI_LIBRARY_LOG_H

#include <cstdint>
#include <string>
#include <vector>

namespace qn {
namespace cli {

// Where the log and the trace ended before a transfer.
struct LogMark {
    uint64_t log = 0;
    uint64_t trace = 0;
};
LogMark mark_logs();

// The lines appended to a file after an offset, read as they arrive. When
// the sink has rotated the file meanwhile (quillnet.log to quillnet.1.log),
// the rest of the rotated file is read first.
class LogTail {
public:
    LogTail(std::string path, uint64_t offset) : path_(std::move(path)), offset_(offset) {}
    // The complete lines added since the last call.
    std::vector<std::string> read();

private:
    std::string path_;
    uint64_t offset_;
    std::string partial_;
};

// The end of a threaded task, which sends no end event: its worker's span
// line, written when its one transfer returns. Made on the thread that
// starts the task; the transfers made on that thread before, whose lines
// the sink may write only now, are not the task's.
class SpanWatch {
public:
    explicit SpanWatch(uint64_t log_offset);
    // The libcurl code of the first span line of another thread's transfer
    // since the offset; -1 while there is none. Reads the log at most every
    // 100 ms.
    int result();

private:
    LogTail tail_;
    uint32_t own_thread_;
    int result_ = -1;
    int64_t read_at_ms_ = 0;
};

struct TransferReport {
    int curl_code = -1;             // -1: no line gave it
    long http_status = 0;           // 0: no line gave it
    bool html_refused = false;      // the synchronous download's error-page rule
    std::string failure_line;       // the record in which the library reports the failure
    std::vector<std::string> log_lines;    // every log line since the mark
    std::vector<std::string> trace_lines;  // every trace line since the mark
};

// Waits until the log holds everything written so far and reads what the
// library and libcurl said since `mark`.
TransferReport read_report(const LogMark& mark);

// The trace's last status line since `mark` ("< HTTP/1.1 500 ..."); 0 when
// there is none. Needs no wait: libcurl writes its trace unbuffered.
long traced_status(const LogMark& mark);

// One line a person understands. `time_limit` says which limit a time-out
// hit ("30 s (the synchronous download's limit; use --mode async)"); empty
// when none applies. Empty when the log holds no reason.
std::string explain(const TransferReport& report, const std::string& time_limit);

// With -v: the trace and the log lines, on standard error.
void show_verbose(const TransferReport& report);

// Ends a failed transfer: a Failure (kExitFailed) "WHAT failed: REASON"
// with the reason the log gives (explain()).
[[noreturn]] void transfer_failed(const std::string& what, const LogMark& mark, const std::string& time_limit);

// After a transfer that went well: with -v its trace and log lines.
void transfer_succeeded(const LogMark& mark);

}  // namespace cli
}  // namespace qn

#endif
