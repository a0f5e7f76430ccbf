// Reading the library's log back: every transfer (one span line of the
// timed perform each) and every asynchronous task (the turns of its loop
// folded into one), what answered it, how it ended and on which thread; and
// the self-contained HTML page of `quillnet report`.
#ifndef QN_CLI_REPORT_H
#define QN_CLI_REPORT_H

#include <cstdint>
#include <istream>
#include <map>
#include <string>
#include <vector>

namespace qn {
namespace cli {

// A span line of the timed perform: "[" url "] perform ret:" code
// " spantime:" ms [" ** by UIThread."], or the same with
// "] curl_multi_perform ret:" for a turn of an asynchronous task.
struct Span {
    int64_t span_ms = 0;
    std::string url;           // or the asynchronous task's label
    int ret = 0;               // libcurl's (or, for a turn, the multi interface's) code
    bool ui_thread = false;
    bool multi_turn = false;
};
bool parse_span(std::string text, Span& span);

// One sink line taken apart, the record's escapes undone.
struct LogLine {
    int64_t ms = 0;            // the local time written, as milliseconds
    uint32_t thread = 0;
    int level = 0;
    std::string text;
};
// "YYYY-MM-DD HH:MM:SS.mmm [tid] [level] text"
bool parse_line(const std::string& line, LogLine& record);

// One bar of the timeline: a transfer, or an asynchronous task from its
// first turn to its last.
struct Bar {
    int64_t start_ms = 0, end_ms = 0;
    uint32_t thread = 0;
    std::string url;           // the task's label: its URL without the path, for a download
    bool task = false;
    int turns = 0;             // a task's loop turns
    int code = 0;              // libcurl's result; 0 when none was reported
    long status = 0;           // the HTTP status, where the log has it
    int64_t bytes = -1;        // where the log has them
    bool ui_thread = false;
    bool cached = false;       // answered by the request cache ("by catch")
    bool host_seen = false;    // the host program's record of it was read
    std::vector<std::string> errors;  // the lines that report its failure

    bool failed() const { return code != 0 || status >= 400 || !errors.empty(); }
};

// Lines at level 35 that report no transfer's failure, by their text.
struct OtherLine {
    size_t count = 0;
    std::string first, last;   // when: "HH:MM:SS.mmm [tid]"
};

struct LogContents {
    std::vector<Bar> bars;
    std::map<std::string, OtherLine> other_errors;
    size_t records = 0;
};

// Reads sink lines into `contents`; call once per file, oldest first.
void read_log(std::istream& in, LogContents& contents);

// Whether a record is one with which the library reports a failed transfer.
bool reports_failure(const std::string& text);

// The libcurl code and the HTTP status that a record of the library names
// ("curl_easy_perform(curl)[7]", "curl_ret=7", "request failed with
// code:404", "HTTP Response Code: 200"); -1 and 0 when it names none.
int record_code(const std::string& text);
long record_status(const std::string& text);

// "connection refused (libcurl 7, COULDNT_CONNECT)"
std::string curl_code_text(int code);

// "HH:MM:SS.mmm" of a time read from the log.
std::string clock_text(int64_t ms);

// The record text of a line, its escapes undone.
std::string unescape_record(const std::string& text);

// The URL's path without query or fragment; the label itself when it has
// no path (the asynchronous download's turns carry only scheme and host).
std::string url_path(const std::string& url);

// The p-th percentile (0..100) of sorted values, interpolated linearly
// between the two nearest ranks.
double percentile(const std::vector<double>& sorted, double p);

struct PathStats {
    std::string path;
    bool task;
    size_t count;
    double median_ms;
    double p95_ms;
};
std::vector<PathStats> path_stats(const std::vector<Bar>& bars);

std::string report_html(const LogContents& contents, const std::string& source);

}  // namespace cli
}  // namespace qn

#endif
