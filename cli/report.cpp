#include "report.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

namespace qn {
namespace cli {

namespace {

bool starts_with(const std::string& s, const char* prefix) {
    return s.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

bool ends_with(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// "YYYY-MM-DD HH:MM:SS.mmm" as milliseconds; the sink writes local time,
// which the page shows as it is.
bool parse_time(const std::string& line, int64_t& ms) {
    int y, mo, d, h, mi, s, milli;
    char tail;
    if (line.size() < 23 ||
        std::sscanf(line.c_str(), "%4d-%2d-%2d %2d:%2d:%2d.%3d%c", &y, &mo, &d, &h, &mi, &s, &milli, &tail) != 8) {
        return false;
    }
    ms = ((days_from_civil(y, mo, d) * 24 + h) * 60 + mi) * 60000 + s * 1000 + milli;
    return true;
}

void put_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool parse_int(const std::string& text, int64_t& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return end != nullptr && *end == 0;
}

}  // namespace

bool parse_span(std::string text, Span& span) {
    static const std::string kUi = " ** by UIThread.";
    if (text.empty() || text[0] != '[') return false;
    span.ui_thread = ends_with(text, kUi);
    if (span.ui_thread) text.resize(text.size() - kUi.size());
    const size_t spantime = text.rfind(" spantime:");
    if (spantime == std::string::npos || !parse_int(text.substr(spantime + 10), span.span_ms)) return false;
    text.resize(spantime);
    size_t ret = text.rfind("] perform ret:");
    size_t ret_at = ret + 14;
    span.multi_turn = false;
    const size_t multi = text.rfind("] curl_multi_perform ret:");
    if (multi != std::string::npos && (ret == std::string::npos || multi > ret)) {
        ret = multi;
        ret_at = multi + 25;
        span.multi_turn = true;
    }
    int64_t code = 0;
    if (ret == std::string::npos || !parse_int(text.substr(ret_at), code)) return false;
    span.ret = static_cast<int>(code);
    span.url = text.substr(1, ret - 1);
    return true;
}

bool parse_line(const std::string& line, LogLine& record) {
    unsigned long thread = 0, level = 0;
    int text_at = 0;
    if (!parse_time(line, record.ms) ||
        std::sscanf(line.c_str() + 23, " [%lu] [%lu] %n", &thread, &level, &text_at) != 2 || text_at == 0) {
        return false;
    }
    record.thread = static_cast<uint32_t>(thread);
    record.level = static_cast<int>(level);
    record.text = unescape_record(line.substr(23 + static_cast<size_t>(text_at)));
    return true;
}

// The library writes more than failures at level 35 (a progress callback
// that does not know the size yet, a stop seen by a callback, the URL
// rewriter's complaints). These are the lines with which the callers of a
// transfer report that it failed: a libcurl or multi code that is not OK, an
// HTTP status a download refused, an asynchronous task ending without a
// result.
bool reports_failure(const std::string& text) {
    for (const char* mark : {"!= CURLE_OK", "!= CURLM_OK", "request failed with code", "NULL == curl_multi_info_read"}) {
        if (text.find(mark) != std::string::npos) return true;
    }
    return false;
}

std::string unescape_record(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'n') {
            out += '\n';
        } else if (c == 'r') {
            out += '\r';
        } else if (c == 't') {
            out += '\t';
        } else if ((c == 'x' && i + 2 < text.size()) || (c == 'u' && i + 4 < text.size())) {
            const size_t digits = c == 'x' ? 2 : 4;
            const uint32_t cp = static_cast<uint32_t>(std::strtoul(text.substr(i + 1, digits).c_str(), nullptr, 16));
            put_utf8(out, cp);
            i += digits;
        } else {
            out += c;  // "\\" and anything unknown
        }
    }
    return out;
}

namespace {

// The number that ends `text`; -1 when it does not end in digits.
long trailing_number(const std::string& text) {
    size_t start = text.size();
    while (start > 0 && text[start - 1] >= '0' && text[start - 1] <= '9') --start;
    if (start == text.size() || text.size() - start > 9) return -1;
    return std::strtol(text.c_str() + start, nullptr, 10);
}

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

struct CodeText {
    int code;
    const char* name;
    const char* text;
};

// The codes a user meets, in libcurl's numbering (curl/curl.h, CURLcode).
constexpr CodeText kCodes[] = {
    {1, "UNSUPPORTED_PROTOCOL", "unsupported protocol"},
    {3, "URL_MALFORMAT", "malformed URL"},
    {5, "COULDNT_RESOLVE_PROXY", "proxy not found"},
    {6, "COULDNT_RESOLVE_HOST", "host not found"},
    {7, "COULDNT_CONNECT", "connection refused"},
    {8, "WEIRD_SERVER_REPLY", "the server's answer makes no sense"},
    {9, "REMOTE_ACCESS_DENIED", "access denied"},
    {18, "PARTIAL_FILE", "the transfer was cut short"},
    {22, "HTTP_RETURNED_ERROR", "the server answered with an error status"},
    {23, "WRITE_ERROR", "the received data could not be written"},
    {25, "UPLOAD_FAILED", "the upload failed"},
    {26, "READ_ERROR", "the file to send could not be read"},
    {27, "OUT_OF_MEMORY", "out of memory"},
    {28, "OPERATION_TIMEDOUT", "timed out"},
    {35, "SSL_CONNECT_ERROR", "the TLS handshake failed"},
    {42, "ABORTED_BY_CALLBACK", "stopped"},
    {47, "TOO_MANY_REDIRECTS", "too many redirects"},
    {52, "GOT_NOTHING", "the server closed the connection without an answer"},
    {55, "SEND_ERROR", "sending failed"},
    {56, "RECV_ERROR", "receiving failed"},
    {60, "PEER_FAILED_VERIFICATION", "the server's certificate is not trusted"},
    {67, "LOGIN_DENIED", "login denied"},
    {78, "REMOTE_FILE_NOT_FOUND", "no such file on the server"},
};

}  // namespace

std::string curl_code_text(int code) {
    for (const CodeText& c : kCodes) {
        if (c.code == code) return std::string(c.text) + " (libcurl " + std::to_string(code) + ", " + c.name + ")";
    }
    return "failed (libcurl " + std::to_string(code) + ")";
}


int record_code(const std::string& text) {
    const size_t bracket = text.find("curl_easy_perform(curl)[");
    if (bracket != std::string::npos) return std::atoi(text.c_str() + bracket + 24);
    if (contains(text, "curl_msg->data.result") || contains(text, " curlcode:") || contains(text, " curl_ret=")) {
        return static_cast<int>(trailing_number(text));
    }
    return -1;
}

long record_status(const std::string& text) {
    if (!contains(text, "request failed with code") && !contains(text, "HTTP Response Code:")) return 0;
    return std::max(0L, trailing_number(text));
}

namespace {

// The host program's record of a transfer it made ("quillnet host:
// download URL -> FILE: 4194304 bytes in 1.52 s, ..."): its byte count and
// status belong to the transfer or task that ended last before it.
void take_host_record(const LogLine& record, LogContents& c) {
    const size_t bytes_at = record.text.find(" bytes");
    if (bytes_at == std::string::npos) return;
    size_t digits = bytes_at;
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(record.text[digits - 1])) != 0) --digits;
    if (digits == bytes_at) return;
    for (auto bar = c.bars.rbegin(); bar != c.bars.rend(); ++bar) {
        if (bar->end_ms > record.ms) continue;
        if (bar->host_seen || record.ms - bar->end_ms > 10000) return;
        bar->host_seen = true;
        bar->bytes = std::atoll(record.text.c_str() + digits);
        const size_t http = record.text.find("HTTP ");
        if (bar->status == 0 && http != std::string::npos) bar->status = std::atol(record.text.c_str() + http + 5);
        return;
    }
}

// How far apart two turns of one task may lie: the loop turns at least
// every 600 ms, paused or not.
constexpr int64_t kTurnGapMs = 5000;

}  // namespace

void read_log(std::istream& in, LogContents& c) {
    // Per thread: the bar its later lines belong to. The dump line of a
    // cached path comes right after its span line; the failure lines and the
    // response code of a transfer's caller come after it too, within a
    // second.
    std::map<uint32_t, size_t> last_bar;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        LogLine record;
        if (!parse_line(line, record)) continue;
        ++c.records;
        const std::string& text = record.text;
        const auto owner = last_bar.find(record.thread);
        Bar* previous = owner == last_bar.end() ? nullptr : &c.bars[owner->second];
        Span span;
        if (parse_span(text, span)) {
            const int64_t start = record.ms - span.span_ms;
            if (span.multi_turn && previous != nullptr && previous->task && previous->url == span.url &&
                start - previous->end_ms <= kTurnGapMs) {
                previous->end_ms = record.ms;
                ++previous->turns;
                previous->ui_thread = previous->ui_thread || span.ui_thread;
                if (span.ret != 0) previous->errors.push_back(text);
                continue;
            }
            Bar bar;
            bar.start_ms = start;
            bar.end_ms = record.ms;
            bar.thread = record.thread;
            bar.url = span.url;
            bar.task = span.multi_turn;
            bar.turns = span.multi_turn ? 1 : 0;
            bar.code = span.multi_turn ? 0 : span.ret;
            if (span.multi_turn && span.ret != 0) bar.errors.push_back(text);
            bar.ui_thread = span.ui_thread;
            last_bar[record.thread] = c.bars.size();
            c.bars.push_back(std::move(bar));
            continue;
        }
        if (starts_with(text, "quillnet host: ")) {
            take_host_record(record, c);
            continue;
        }
        const bool recent = previous != nullptr && record.ms - previous->end_ms <= 1000;
        if (starts_with(text, "by net == Req:") || starts_with(text, "by catch == Req:")) {
            if (recent && !previous->task) {
                previous->cached = text[3] == 'c';
                const size_t rep = text.find(" Rep:");
                if (rep != std::string::npos) previous->bytes = static_cast<int64_t>(text.size() - rep - 5);
            }
            continue;
        }
        const long status = record_status(text);
        if (recent && status > 0) previous->status = status;
        if (record.level < 35) continue;
        std::string error = text;
        while (!error.empty() && (error.back() == '\n' || error.back() == '\r')) error.pop_back();
        if (recent && reports_failure(error)) {
            const int code = record_code(error);
            if (code > 0) previous->code = code;
            previous->errors.push_back(error);
            continue;
        }
        OtherLine& other = c.other_errors[error];
        const std::string when = clock_text(record.ms) + " [" + std::to_string(record.thread) + "]";
        if (other.count++ == 0) other.first = when;
        other.last = when;
    }
}

std::string clock_text(int64_t ms) {
    const int64_t day = ((ms % 86400000) + 86400000) % 86400000;
    char text[16];
    std::snprintf(text, sizeof(text), "%02d:%02d:%02d.%03d", static_cast<int>(day / 3600000),
                  static_cast<int>(day / 60000 % 60), static_cast<int>(day / 1000 % 60), static_cast<int>(day % 1000));
    return text;
}

std::string url_path(const std::string& url) {
    const size_t scheme = url.find("://");
    const size_t path = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    if (path == std::string::npos) return url;
    return url.substr(path, url.find_first_of("?#", path) - path);
}

double percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0.0;
    const double rank = p / 100.0 * static_cast<double>(sorted.size() - 1);
    const auto below = static_cast<size_t>(std::floor(rank));
    const size_t above = std::min(below + 1, sorted.size() - 1);
    return sorted[below] + (sorted[above] - sorted[below]) * (rank - static_cast<double>(below));
}

std::vector<PathStats> path_stats(const std::vector<Bar>& bars) {
    std::map<std::pair<std::string, bool>, std::vector<double>> by_path;
    for (const Bar& b : bars) by_path[{url_path(b.url), b.task}].push_back(static_cast<double>(b.end_ms - b.start_ms));
    std::vector<PathStats> stats;
    for (auto& entry : by_path) {
        std::vector<double>& v = entry.second;
        std::sort(v.begin(), v.end());
        stats.push_back({entry.first.first, entry.first.second, v.size(), percentile(v, 50), percentile(v, 95)});
    }
    return stats;
}

}  // namespace cli
}  // namespace qn
