#include "report.h"

#include <json-c/json.h>

#include <algorithm>
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

// "[" url "] perform ret:" code " spantime:" ms [" ** by UIThread."], or the
// same with "] curl_multi_perform ret:" for a turn of an asynchronous task.
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

}  // namespace

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

void read_log(std::istream& in, LogContents& contents) {
    // Per thread: the span its later lines belong to. The dump line of a
    // cached path comes right after its span line; the failure lines of a
    // transfer's caller come after it too, within a second.
    std::map<uint32_t, size_t> last_span;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        int64_t ms = 0;
        unsigned long thread = 0, level = 0;
        int text_at = 0;
        if (!parse_time(line, ms) ||
            std::sscanf(line.c_str() + 23, " [%lu] [%lu] %n", &thread, &level, &text_at) != 2 || text_at == 0) {
            continue;
        }
        ++contents.records;
        const std::string text = unescape_record(line.substr(23 + static_cast<size_t>(text_at)));
        const auto tid = static_cast<uint32_t>(thread);
        Span span;
        span.end_ms = ms;
        span.thread = tid;
        if (parse_span(text, span)) {
            last_span[tid] = contents.spans.size();
            contents.spans.push_back(span);
            continue;
        }
        const auto owner = last_span.find(tid);
        Span* previous = owner == last_span.end() ? nullptr : &contents.spans[owner->second];
        if (starts_with(text, "by net == Req:") || starts_with(text, "by catch == Req:")) {
            if (previous != nullptr && !previous->multi_turn) {
                previous->answer = text[3] == 'n' ? Span::Answer::Network : Span::Answer::Cache;
            }
            continue;
        }
        if (level < 35) continue;
        std::string error = text;
        while (!error.empty() && (error.back() == '\n' || error.back() == '\r')) error.pop_back();
        if (previous != nullptr && reports_failure(error) && ms - previous->end_ms <= 1000) {
            previous->errors.push_back(error);
        } else {
            contents.other_errors[error].push_back(line.substr(0, 23) + " [" + std::to_string(tid) + "]");
        }
    }
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

std::vector<PathStats> path_stats(const std::vector<Span>& spans) {
    std::map<std::pair<std::string, bool>, std::vector<double>> by_path;
    for (const Span& s : spans) by_path[{url_path(s.url), s.multi_turn}].push_back(static_cast<double>(s.span_ms));
    std::vector<PathStats> stats;
    for (auto& entry : by_path) {
        std::vector<double>& v = entry.second;
        std::sort(v.begin(), v.end());
        stats.push_back({entry.first.first, entry.first.second, v.size(), percentile(v, 50), percentile(v, 95)});
    }
    return stats;
}

namespace {

std::string html_escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string clock_text(int64_t ms) {
    const int64_t day = ((ms % 86400000) + 86400000) % 86400000;
    char text[16];
    std::snprintf(text, sizeof(text), "%02d:%02d:%02d.%03d", static_cast<int>(day / 3600000),
                  static_cast<int>(day / 60000 % 60), static_cast<int>(day / 1000 % 60), static_cast<int>(day % 1000));
    return text;
}

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof(text), v == std::floor(v) ? "%.0f" : "%.1f", v);
    return text;
}

// The timeline's data, for the page's script. '<' is written as an escape
// so that no text in it can end the script element.
std::string timeline_json(const std::vector<Span>& spans) {
    json_object* root = json_object_new_object();
    json_object* bars = json_object_new_array();
    for (const Span& s : spans) {
        json_object* b = json_object_new_object();
        json_object_object_add(b, "start", json_object_new_int64(s.start_ms()));
        json_object_object_add(b, "ms", json_object_new_int64(s.span_ms));
        json_object_object_add(b, "thread", json_object_new_int64(s.thread));
        json_object_object_add(b, "url", json_object_new_string(s.url.c_str()));
        json_object_object_add(b, "ret", json_object_new_int(s.ret));
        json_object_object_add(b, "ui", json_object_new_boolean(s.ui_thread));
        const char* kind = s.failed() ? "failed"
                           : s.answer == Span::Answer::Cache ? "cache"
                           : s.multi_turn ? "turn"
                                          : "net";
        json_object_object_add(b, "kind", json_object_new_string(kind));
        json_object_object_add(b, "at", json_object_new_string(clock_text(s.end_ms).c_str()));
        json_object_array_add(bars, b);
    }
    json_object_object_add(root, "bars", bars);
    std::string text = json_object_to_json_string_ext(root, JSON_C_TO_STRING_PLAIN | JSON_C_TO_STRING_NOSLASHESCAPE);
    json_object_put(root);
    std::string safe;
    for (char c : text) safe += c == '<' ? std::string("\\u003c") : std::string(1, c);
    return safe;
}

const char kStyle[] = R"(
body{font:14px/1.4 system-ui,sans-serif;margin:24px;color:#1f2328;background:#fff}
h1{font-size:20px;margin:0 0 4px}h2{font-size:16px;margin:24px 0 8px}
.muted{color:#656d76}.legend span{display:inline-block;margin-right:16px}
.sw{display:inline-block;width:14px;height:10px;margin-right:4px;vertical-align:middle;border-radius:2px}
.net{fill:#3b82f6;background:#3b82f6}.cache{fill:#16a34a;background:#16a34a}
.turn{fill:#a78bfa;background:#a78bfa}.failed{fill:#dc2626;background:#dc2626}
.ui{stroke:#111;stroke-width:1.5}.sw.ui{background:#fff;border:2px solid #111;width:10px;height:6px}
table{border-collapse:collapse}td,th{border:1px solid #d0d7de;padding:3px 8px;text-align:left;vertical-align:top}
td.n{text-align:right;font-variant-numeric:tabular-nums}code,pre{font:12px ui-monospace,monospace}
pre{margin:0;white-space:pre-wrap;word-break:break-all}#timeline{border:1px solid #d0d7de;overflow-x:auto}
.lane{font:11px ui-monospace,monospace;fill:#444}.axis{font:10px ui-monospace,monospace;fill:#656d76}
.grid{stroke:#eaeef2}
)";

// Lanes are threads in order of first appearance; a bar is placed by its
// start (line time less spantime) and is as long as its span.
const char kScript[] = R"(
(function () {
  var data = JSON.parse(document.getElementById('timeline-data').textContent);
  var bars = data.bars, ns = 'http://www.w3.org/2000/svg';
  var box = document.getElementById('timeline');
  if (!bars.length) { box.textContent = 'No transfer in this log.'; box.dataset.bars = 0; return; }
  var t0 = Infinity, t1 = -Infinity, lanes = [], laneOf = {}, uiLane = {};
  bars.forEach(function (b) {
    t0 = Math.min(t0, b.start); t1 = Math.max(t1, b.start + b.ms);
    if (!(b.thread in laneOf)) { laneOf[b.thread] = lanes.length; lanes.push(b.thread); }
    if (b.ui) uiLane[b.thread] = true;
  });
  var left = 170, width = Math.max(700, Math.min(1400, window.innerWidth - 80) - left);
  var laneH = 22, top = 22, span = Math.max(1, t1 - t0), scale = width / span;
  var svg = document.createElementNS(ns, 'svg');
  svg.setAttribute('width', left + width + 10); svg.setAttribute('height', top + lanes.length * laneH + 6);
  function el(name, attrs, text) {
    var e = document.createElementNS(ns, name);
    for (var k in attrs) e.setAttribute(k, attrs[k]);
    if (text !== undefined) e.textContent = text;
    svg.appendChild(e); return e;
  }
  var step = Math.pow(10, Math.floor(Math.log10(span / 6)));
  if (span / step > 12) step *= 5; else if (span / step > 6) step *= 2;
  for (var t = 0; t <= span; t += step) {
    var x = left + t * scale;
    el('line', {x1: x, x2: x, y1: 14, y2: top + lanes.length * laneH, 'class': 'grid'});
    if (x + 40 < left + width) el('text', {x: x + 2, y: 11, 'class': 'axis'}, t >= 1000 ? (t / 1000) + ' s' : t + ' ms');
  }
  lanes.forEach(function (thread, i) {
    el('text', {x: 4, y: top + i * laneH + 15, 'class': 'lane'},
       'thread ' + thread + (uiLane[thread] ? ' (UI)' : ''));
  });
  bars.forEach(function (b) {
    var r = el('rect', {x: left + (b.start - t0) * scale, y: top + laneOf[b.thread] * laneH + 3,
                        width: Math.max(2, b.ms * scale), height: laneH - 6, rx: 2,
                        'class': 'bar ' + b.kind + (b.ui ? ' ui' : '')});
    var title = document.createElementNS(ns, 'title');
    title.textContent = b.url + '\n' + b.kind + ', ret ' + b.ret + ', ' + b.ms + ' ms, ended ' + b.at +
                        (b.ui ? ', UI thread' : '');
    r.appendChild(title);
  });
  box.appendChild(svg);
  box.dataset.bars = bars.length;
})();
)";

}  // namespace

std::string report_html(const LogContents& c, const std::string& source) {
    size_t cached = 0, failed = 0, ui = 0, turns = 0;
    for (const Span& s : c.spans) {
        cached += s.answer == Span::Answer::Cache;
        failed += s.failed();
        ui += s.ui_thread;
        turns += s.multi_turn;
    }
    std::ostringstream h;
    h << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>quillnet log: "
      << html_escape(source) << "</title><style>" << kStyle << "</style></head><body>\n";
    h << "<h1>quillnet transfers</h1><p class=\"muted\">" << html_escape(source) << ": " << c.records << " records, "
      << c.spans.size() << " span lines (" << turns << " of them turns of asynchronous tasks), " << cached
      << " answered from the cache, " << failed << " failed, " << ui << " on the UI thread.</p>\n";
    h << "<h2>Timeline</h2><p class=\"legend\">"
         "<span><i class=\"sw net\"></i>network</span><span><i class=\"sw cache\"></i>request cache "
         "(&ldquo;by catch&rdquo;)</span><span><i class=\"sw turn\"></i>asynchronous task turn</span>"
         "<span><i class=\"sw failed\"></i>failed</span><span><i class=\"sw ui\"></i>on the UI thread</span></p>\n";
    h << "<div id=\"timeline\"><noscript>The timeline needs JavaScript.</noscript></div>\n";
    h << "<script type=\"application/json\" id=\"timeline-data\">" << timeline_json(c.spans) << "</script>\n";

    h << "<h2>Failures</h2>\n";
    if (failed == 0) h << "<p>None.</p>\n";
    else h << "<table id=\"failures\"><tr><th>ended</th><th>thread</th><th>URL</th><th>ret</th><th>error lines</th></tr>\n";
    for (const Span& s : c.spans) {
        if (!s.failed()) continue;
        h << "<tr><td>" << clock_text(s.end_ms) << "</td><td>" << s.thread << "</td><td><code>" << html_escape(s.url)
          << "</code></td><td class=\"n\">" << s.ret << "</td><td>";
        for (const std::string& e : s.errors) h << "<pre>" << html_escape(e) << "</pre>";
        h << "</td></tr>\n";
    }
    if (failed != 0) h << "</table>\n";
    if (!c.other_errors.empty()) {
        h << "<h2>Other lines at level 35</h2><table id=\"other-errors\"><tr><th>line</th><th>times</th>"
             "<th>first</th></tr>\n";
        for (const auto& e : c.other_errors) {
            h << "<tr><td><pre>" << html_escape(e.first) << "</pre></td><td class=\"n\">" << e.second.size()
              << "</td><td>" << html_escape(e.second.front()) << "</td></tr>\n";
        }
        h << "</table>\n";
    }
    h << "<h2>Span time by URL path</h2>\n<table id=\"summary\"><tr><th>path</th><th>kind</th><th>count</th>"
         "<th>median ms</th><th>95th percentile ms</th></tr>\n";
    for (const PathStats& p : path_stats(c.spans)) {
        h << "<tr><td><code>" << html_escape(p.path) << "</code></td><td>"
          << (p.multi_turn ? "asynchronous turn" : "transfer") << "</td><td class=\"n\">" << p.count
          << "</td><td class=\"n\">" << number(p.median_ms) << "</td><td class=\"n\">" << number(p.p95_ms)
          << "</td></tr>\n";
    }
    h << "</table>\n<p class=\"muted\">Percentiles interpolate linearly between the two nearest spans.</p>\n";
    h << "<script>" << kScript << "</script>\n</body></html>\n";
    return h.str();
}

}  // namespace cli
}  // namespace qn
