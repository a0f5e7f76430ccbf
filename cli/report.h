// Reading the library's log back: every timed transfer (one span line each),
// what answered it (the network or the request cache), on which thread, and
// the error lines that followed it; and the self-contained HTML page of
// `quillnet report`.
#ifndef QN_CLI_REPORT_H
#define QN_CLI_REPORT_H

#include <cstdint>
#include <istream>
#include <map>
#include <string>
#include <vector>

namespace qn {
namespace cli {

struct Span {
    int64_t end_ms = 0;        // when the span line was written
    int64_t span_ms = 0;       // its spantime
    uint32_t thread = 0;
    std::string url;           // or the asynchronous task's label
    int ret = 0;               // libcurl's (or the multi interface's) code
    bool ui_thread = false;
    bool multi_turn = false;   // one turn of an asynchronous task's loop
    enum class Answer { Unknown, Network, Cache } answer = Answer::Unknown;
    std::vector<std::string> errors;  // the failure lines that followed it

    int64_t start_ms() const { return end_ms - span_ms; }
    bool failed() const { return ret != 0 || !errors.empty(); }
};

struct LogContents {
    std::vector<Span> spans;
    // Lines at level 35 that report no transfer's failure: text -> when and
    // on which thread each was written.
    std::map<std::string, std::vector<std::string>> other_errors;
    size_t records = 0;
};

// Reads sink lines: "YYYY-MM-DD HH:MM:SS.mmm [tid] [level] text".
void read_log(std::istream& in, LogContents& contents);

// Whether a record is one with which the library reports a failed transfer.
bool reports_failure(const std::string& text);

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
    bool multi_turn;
    size_t count;
    double median_ms;
    double p95_ms;
};
std::vector<PathStats> path_stats(const std::vector<Span>& spans);

std::string report_html(const LogContents& contents, const std::string& source);

}  // namespace cli
}  // namespace qn

#endif
