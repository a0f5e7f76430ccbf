#include "library_log.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "console.h"
#include "host.h"
#include "platform.h"
#include "report.h"
#include "task_watch.h"

namespace qn {
namespace cli {

namespace {

uint64_t file_size(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return in ? static_cast<uint64_t>(in.tellg()) : 0;
}

// What one record of the library says about the transfer's outcome.
void take_record(const std::string& text, int level, TransferReport& r) {
    Span span;
    if (parse_span(text, span)) {
        // A turn of an asynchronous loop reports the multi interface's
        // code, not the transfer's.
        if (!span.multi_turn) r.curl_code = span.ret;
        return;
    }
    const int code = record_code(text);
    if (code >= 0) r.curl_code = code;
    const long status = record_status(text);
    if (status > 0) r.http_status = status;
    if (text.find("Received HTML content") != std::string::npos) r.html_refused = true;
    // Besides the failure lines proper, the library refuses some requests
    // before sending them ("... with CR or LF, request not sent").
    if (reports_failure(text) || (level >= 35 && text.find("request not sent") != std::string::npos)) {
        r.failure_line = text;
    }
}

long status_of_trace_line(const std::string& line) {
    if (line.compare(0, 7, "< HTTP/") != 0) return 0;
    const size_t blank = line.find(' ', 2);
    return blank == std::string::npos ? 0 : std::strtol(line.c_str() + blank + 1, nullptr, 10);
}

}  // namespace

LogMark mark_logs() {
    return {file_size(log_file()), file_size(trace_file())};
}

std::vector<std::string> LogTail::read() {
    std::vector<std::string> lines;
    std::string text;
    const uint64_t size = file_size(path_);
    if (size < offset_) {
        // Rotated: the sink renamed the file to <name>.1.log and began anew.
        const size_t dot = path_.rfind(".log");
        std::ifstream old(path_.substr(0, dot) + ".1.log", std::ios::binary);
        old.seekg(static_cast<std::streamoff>(offset_));
        if (old) text.assign(std::istreambuf_iterator<char>(old), std::istreambuf_iterator<char>());
        offset_ = 0;
    }
    std::ifstream in(path_, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset_));
    if (in) {
        const std::string added((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        offset_ += added.size();
        text += added;
    }
    partial_ += text;
    size_t start = 0;
    for (size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = partial_.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
    }
    partial_.erase(0, start);
    return lines;
}

SpanWatch::SpanWatch(uint64_t log_offset)
    : tail_(log_file(), log_offset), own_thread_(platform::current_thread_id()) {}

int SpanWatch::result() {
    const int64_t now = steady_ms();
    if (result_ >= 0 || now - read_at_ms_ < 100) return result_;
    read_at_ms_ = now;
    for (const std::string& line : tail_.read()) {
        LogLine record;
        Span span;
        if (parse_line(line, record) && record.thread != own_thread_ && parse_span(record.text, span) &&
            !span.multi_turn) {
            result_ = span.ret;
            break;
        }
    }
    return result_;
}

TransferReport read_report(const LogMark& mark) {
    TransferReport r;
    flush_log("quillnet host: reading what the library logged");
    LogTail log(log_file(), mark.log);
    for (const std::string& line : log.read()) {
        LogLine parsed;
        if (!parse_line(line, parsed)) continue;
        r.log_lines.push_back(line);
        take_record(parsed.text, parsed.level, r);
    }
    LogTail trace(trace_file(), mark.trace);
    for (std::string& line : trace.read()) {
        const long status = status_of_trace_line(line);
        if (status != 0) r.http_status = status;
        r.trace_lines.push_back(std::move(line));
    }
    return r;
}

long traced_status(const LogMark& mark) {
    LogTail trace(trace_file(), mark.trace);
    long status = 0;
    for (const std::string& line : trace.read()) {
        const long s = status_of_trace_line(line);
        if (s != 0) status = s;
    }
    return status;
}

std::string explain(const TransferReport& r, const std::string& time_limit) {
    if (r.html_refused) {
        return "the server sent an HTML page, which the synchronous download refuses as an error page";
    }
    if (r.curl_code == 28 && !time_limit.empty()) return "timed out after " + time_limit;
    if (r.http_status >= 400) {
        std::string text = "HTTP " + std::to_string(r.http_status);
        if (r.curl_code == 22) text += " (libcurl 22, HTTP_RETURNED_ERROR)";
        return text;
    }
    if (r.curl_code > 0) return curl_code_text(r.curl_code);
    if (r.http_status > 0 && r.http_status != 200) {
        return "HTTP " + std::to_string(r.http_status) + ": the synchronous download takes only a 200 answer";
    }
    return r.failure_line;
}

void show_verbose(const TransferReport& r) {
    if (verbosity() != Verbosity::Verbose) return;
    for (const std::string& line : r.trace_lines) std::fprintf(err(), "%s\n", line.c_str());
    for (const std::string& line : r.log_lines) std::fprintf(err(), "log: %s\n", line.c_str());
    std::fflush(err());
}

void transfer_failed(const std::string& what, const LogMark& mark, const std::string& time_limit) {
    const TransferReport report = read_report(mark);
    show_verbose(report);
    const std::string reason = explain(report, time_limit);
    throw Failure{kExitFailed, what + " failed: " +
                                   (reason.empty() ? "the library logged no reason (see " + log_file() + ")" : reason)};
}

void transfer_succeeded(const LogMark& mark) {
    if (verbosity() == Verbosity::Verbose) show_verbose(read_report(mark));
}

}  // namespace cli
}  // namespace qn
