// The page of `quillnet report`: one self-contained HTML file. The timeline
// is drawn on a canvas by the page's own script from compact column data,
// so that a log of a hundred thousand transfers still gives a page of a few
// megabytes that draws in a moment; the tables are plain HTML.
#include <json-c/json.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "report.h"

namespace qn {
namespace cli {

namespace {

std::string html_escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
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

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof(text), v == std::floor(v) ? "%.0f" : "%.1f", v);
    return text;
}

std::string bytes_text(double bytes) {
    static const char* const units[] = {"B", "KiB", "MiB", "GiB"};
    int unit = 0;
    while (bytes >= 1024.0 && unit < 3) {
        bytes /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof(text), unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return text;
}

// The URL rewriter writes its source file, function and line before its
// message, without separators: "common/.../UrlDealwithUrlFormat::Http
// HeadDealwith::GetNewUrl275ftp://h/ais not http/https format url!".
// Taken apart here into the message and where it comes from.
std::string readable_record(const std::string& text) {
    static const std::string kSource = "common/public/include/Public/Helper/UrlDealwith";
    if (text.compare(0, kSource.size(), kSource) != 0) return html_escape(text);
    size_t at = kSource.size();
    const size_t function_end = text.find_first_of("0123456789", at);
    if (function_end == std::string::npos) return html_escape(text);
    size_t line_end = function_end;
    while (line_end < text.size() && std::isdigit(static_cast<unsigned char>(text[line_end])) != 0) ++line_end;
    std::string message = text.substr(line_end);
    const size_t tail = message.find("is not http/https format url!");
    if (tail != std::string::npos && tail > 0) message.insert(tail, " ");
    return html_escape(message) + " <span class=\"muted\">(" + html_escape(text.substr(at, function_end - at)) +
           ", line " + text.substr(function_end, line_end - function_end) + ", " + html_escape(kSource) + ")</span>";
}

enum Outcome { kNet = 0, kCache = 1, kTask = 2, kFailed = 3, kTaskFailed = 4 };

int outcome(const Bar& b) {
    if (b.failed()) return b.task ? kTaskFailed : kFailed;
    return b.task ? kTask : b.cached ? kCache : kNet;
}

// Lanes: a user-interface thread keeps one of its own; every other thread
// that made transfers shares a lane with threads whose transfers came
// before its first, so that a task's short-lived worker does not get a
// near-empty lane of its own.
struct Lanes {
    std::vector<std::string> labels;
    std::vector<bool> ui;
    std::map<uint32_t, size_t> of_thread;
};

Lanes pack_lanes(const std::vector<Bar>& bars) {
    struct Extent {
        int64_t first = INT64_MAX, last = INT64_MIN;
        bool ui = false;
    };
    std::map<uint32_t, Extent> threads;
    int64_t t0 = INT64_MAX, t1 = INT64_MIN;
    for (const Bar& b : bars) {
        Extent& e = threads[b.thread];
        e.first = std::min(e.first, b.start_ms);
        e.last = std::max(e.last, b.end_ms);
        e.ui = e.ui || b.ui_thread;
        t0 = std::min(t0, b.start_ms);
        t1 = std::max(t1, b.end_ms);
    }
    // Threads closer than this stay apart, so that bars of two of them
    // never touch on the whole-log view.
    const int64_t gap = std::max<int64_t>(1, (t1 - t0) / 100);
    std::vector<std::pair<int64_t, uint32_t>> order;
    for (const auto& t : threads) order.push_back({t.second.ui ? INT64_MIN : t.second.first, t.first});
    std::sort(order.begin(), order.end());
    Lanes lanes;
    std::vector<int64_t> free_at;
    std::vector<size_t> count;
    for (const auto& entry : order) {
        const uint32_t thread = entry.second;
        const Extent& e = threads[thread];
        size_t lane = free_at.size();
        for (size_t i = 0; i < free_at.size() && !e.ui; ++i) {
            if (!lanes.ui[i] && free_at[i] + gap <= e.first) {
                lane = i;
                break;
            }
        }
        if (lane == free_at.size()) {
            free_at.push_back(e.last);
            count.push_back(0);
            lanes.ui.push_back(e.ui);
            lanes.labels.push_back("thread " + std::to_string(thread) + (e.ui ? " (UI)" : ""));
        }
        free_at[lane] = e.last;
        if (++count[lane] > 1) lanes.labels[lane] = std::to_string(count[lane]) + " threads, one after another";
        lanes.of_thread[thread] = lane;
    }
    return lanes;
}

json_object* int_array(const std::vector<int64_t>& values) {
    json_object* a = json_object_new_array();
    for (int64_t v : values) json_object_array_add(a, json_object_new_int64(v));
    return a;
}

// A URL as the page shows it: without its query and fragment, which are the
// bulk of a busy log's URLs and may carry tokens.
std::string without_query(const std::string& url) {
    return url.substr(0, url.find_first_of("?#"));
}

// The timeline's data for the page's script, column by column: starts as
// differences from the previous bar, rarely set fields as index-value pairs,
// the lane a thread's. '<' is written as an escape so that no text in it
// can end the script element.
std::string timeline_json(const std::vector<Bar>& in, const Lanes& lanes) {
    std::vector<const Bar*> bars;
    for (const Bar& b : in) bars.push_back(&b);
    std::stable_sort(bars.begin(), bars.end(), [](const Bar* a, const Bar* b) { return a->start_ms < b->start_ms; });
    std::map<std::string, int64_t> url_index;
    std::map<uint32_t, int64_t> thread_index;
    std::vector<int64_t> start, length, url, thread, thread_lane, kinds, codes, statuses, bytes, turns;
    json_object* urls = json_object_new_array();
    json_object* threads = json_object_new_array();
    std::set<int> seen_codes;
    int64_t previous = bars.empty() ? 0 : bars.front()->start_ms;
    for (size_t i = 0; i < bars.size(); ++i) {
        const Bar& b = *bars[i];
        const auto index = static_cast<int64_t>(i);
        start.push_back(b.start_ms - previous);
        previous = b.start_ms;
        length.push_back(b.end_ms - b.start_ms);
        auto u = url_index.emplace(without_query(b.url), static_cast<int64_t>(url_index.size()));
        if (u.second) json_object_array_add(urls, json_object_new_string(u.first->first.c_str()));
        url.push_back(u.first->second);
        auto t = thread_index.emplace(b.thread, static_cast<int64_t>(thread_index.size()));
        if (t.second) {
            json_object_array_add(threads, json_object_new_int64(b.thread));
            thread_lane.push_back(static_cast<int64_t>(lanes.of_thread.at(b.thread)));
        }
        thread.push_back(t.first->second);
        if (outcome(b) != kNet) kinds.insert(kinds.end(), {index, outcome(b)});
        if (b.code != 0) {
            codes.insert(codes.end(), {index, b.code});
            seen_codes.insert(b.code);
        }
        if (b.status != 0) statuses.insert(statuses.end(), {index, b.status});
        if (b.bytes >= 0) bytes.insert(bytes.end(), {index, b.bytes});
        if (b.task) turns.insert(turns.end(), {index, b.turns});
    }
    json_object* root = json_object_new_object();
    json_object* lane_labels = json_object_new_array();
    for (const std::string& label : lanes.labels) json_object_array_add(lane_labels, json_object_new_string(label.c_str()));
    json_object_object_add(root, "lanes", lane_labels);
    json_object_object_add(root, "urls", urls);
    json_object_object_add(root, "threads", threads);
    json_object* code_texts = json_object_new_object();
    for (int code : seen_codes) {
        json_object_object_add(code_texts, std::to_string(code).c_str(), json_object_new_string(curl_code_text(code).c_str()));
    }
    json_object_object_add(root, "codeText", code_texts);
    const std::pair<const char*, const std::vector<int64_t>*> columns[] = {
        {"s", &start},    {"d", &length},  {"u", &url},        {"t", &thread}, {"lane", &thread_lane},
        {"k", &kinds},    {"c", &codes},   {"h", &statuses},   {"b", &bytes},  {"n", &turns}};
    for (const auto& column : columns) json_object_object_add(root, column.first, int_array(*column.second));
    std::string text = json_object_to_json_string_ext(root, JSON_C_TO_STRING_PLAIN | JSON_C_TO_STRING_NOSLASHESCAPE);
    json_object_put(root);
    std::string safe;
    safe.reserve(text.size());
    for (char c : text) safe += c == '<' ? std::string("\\u003c") : std::string(1, c);
    return safe;
}

const char kStyle[] = R"(
body{font:14px/1.4 system-ui,sans-serif;margin:24px;color:#1f2328;background:#fff}
h1{font-size:20px;margin:0 0 4px}h2{font-size:16px;margin:24px 0 8px}
.muted{color:#656d76}.legend span{display:inline-block;margin-right:16px}
.sw{display:inline-block;width:14px;height:10px;margin-right:4px;vertical-align:middle;border-radius:2px}
table{border-collapse:collapse}td,th{border:1px solid #d0d7de;padding:3px 8px;text-align:left;vertical-align:top}
td.n{text-align:right;font-variant-numeric:tabular-nums}code{font:12px ui-monospace,monospace;overflow-wrap:anywhere}
td.line{font:12px ui-monospace,monospace;max-width:70em;overflow-wrap:anywhere}
#timeline{border:1px solid #d0d7de;position:relative}#timeline canvas{display:block;cursor:grab}
#zoom button{margin-right:4px}#tip{position:absolute;display:none;background:#fff;border:1px solid #8c959f;
padding:4px 8px;font:12px ui-monospace,monospace;white-space:pre;pointer-events:none;box-shadow:0 2px 6px #0003}
)";

// Zoom: the wheel over the timeline, or the buttons; drag to move. Colours
// by outcome: transfer, request cache, task, failed transfer, failed task.
// A bar is never drawn narrower than four pixels, and failures are drawn
// last, on top of what they overlap.
const char kScript[] = R"(
(function () {
  var begun = performance.now();
  var D = JSON.parse(document.getElementById('timeline-data').textContent);
  var box = document.getElementById('timeline'), tip = document.getElementById('tip');
  var n = D.d.length, MINW = 4, left = 190, laneH = 22, top = 24;
  if (!n) { box.textContent = 'No transfer in this log.'; box.dataset.bars = 0; return; }
  function sparse(pairs, fill) {
    var a = new Array(n).fill(fill);
    for (var i = 0; i < pairs.length; i += 2) a[pairs[i]] = pairs[i + 1];
    return a;
  }
  var start = new Array(n), t = 0, end = 0;
  for (var i = 0; i < n; i++) { t += D.s[i]; start[i] = t; end = Math.max(end, t + D.d[i]); }
  var code = sparse(D.c, 0), status = sparse(D.h, 0), bytes = sparse(D.b, -1), turns = sparse(D.n, 0);
  var kind = sparse(D.k, 0), laneOf = new Array(n), order = [];
  for (i = 0; i < n; i++) laneOf[i] = D.lane[D.t[i]];
  for (var k = 0; k < 5; k++) for (i = 0; i < n; i++) if (kind[i] === k) order.push(i);
  var colours = ['#3b82f6', '#16a34a', '#8b5cf6', '#dc2626', '#b91c1c'];
  var canvas = document.createElement('canvas'), ctx = canvas.getContext('2d');
  var width = Math.max(700, Math.min(1600, (window.innerWidth || 1300) - 60));
  var height = top + D.lanes.length * laneH + 4, ratio = window.devicePixelRatio || 1;
  canvas.width = width * ratio; canvas.height = height * ratio;
  canvas.style.width = width + 'px'; canvas.style.height = height + 'px';
  ctx.scale(ratio, ratio);
  box.appendChild(canvas);
  var whole = Math.max(1, end), v0 = 0, v1 = whole;
  function x(ms) { return left + (ms - v0) * (width - left - 10) / (v1 - v0); }
  function tickText(ms) { return ms >= 1000 ? (ms / 1000) + ' s' : ms + ' ms'; }
  function draw() {
    ctx.clearRect(0, 0, width, height);
    ctx.font = '11px ui-monospace,monospace';
    var span = v1 - v0, step = Math.pow(10, Math.floor(Math.log10(span / 6)));
    if (span / step > 12) step *= 5; else if (span / step > 6) step *= 2;
    ctx.fillStyle = '#656d76'; ctx.strokeStyle = '#eaeef2';
    for (var g = Math.ceil(v0 / step) * step; g <= v1; g += step) {
      var gx = Math.round(x(g)) + 0.5;
      ctx.beginPath(); ctx.moveTo(gx, 14); ctx.lineTo(gx, height); ctx.stroke();
      if (gx + 50 < width) ctx.fillText(tickText(Math.round(g * 1000) / 1000), gx + 2, 11);
    }
    ctx.fillStyle = '#444';
    D.lanes.forEach(function (label, l) { ctx.fillText(label, 4, top + l * laneH + 15); });
    ctx.save(); ctx.beginPath(); ctx.rect(left, 0, width - left, height); ctx.clip();
    var drawn = 0, narrowest = Infinity, byOutcome = [0, 0, 0, 0, 0];
    for (var o = 0; o < n; o++) {
      var b = order[o], x0 = x(start[b]), x1 = x(start[b] + D.d[b]);
      if (x1 < left - MINW || x0 > width) continue;
      var w = Math.max(MINW, x1 - x0);
      ctx.fillStyle = colours[kind[b]];
      ctx.fillRect(x0, top + laneOf[b] * laneH + 3, w, laneH - 6);
      drawn++; byOutcome[kind[b]]++; narrowest = Math.min(narrowest, w);
    }
    ctx.restore();
    box.dataset.bars = drawn;
    box.dataset.drawn = byOutcome.join(',');
    box.dataset.narrowest = drawn ? narrowest : 0;
  }
  function zoom(factor, at) {
    var span = Math.min(whole, Math.max(1, (v1 - v0) * factor));
    var c = at === undefined ? (v0 + v1) / 2 : at;
    var f = (c - v0) / (v1 - v0);
    v0 = Math.max(0, c - span * f); v1 = Math.min(whole, v0 + span); v0 = Math.max(0, v1 - span);
    draw();
  }
  function timeAt(px) { return v0 + (px - left) * (v1 - v0) / (width - left - 10); }
  canvas.addEventListener('wheel', function (e) {
    e.preventDefault();
    zoom(e.deltaY > 0 ? 1.25 : 0.8, timeAt(e.offsetX));
  }, {passive: false});
  var dragFrom = null;
  canvas.addEventListener('mousedown', function (e) { dragFrom = {x: e.offsetX, v0: v0, v1: v1}; });
  window.addEventListener('mouseup', function () { dragFrom = null; });
  function describe(b) {
    var ms = D.d[b], lines = [D.urls[D.u[b]]];
    var what = kind[b] === 1 ? 'request cache' : kind[b] === 2 || kind[b] === 4 ? 'task, ' + turns[b] + ' turns' : 'transfer';
    lines.push(what + ', ' + ms + ' ms, thread ' + D.threads[D.t[b]]);
    if (code[b]) lines.push(D.codeText[code[b]]);
    if (status[b]) lines.push('HTTP ' + status[b]);
    if (bytes[b] >= 0) lines.push(bytes[b] + ' bytes' + (ms > 0 ? ', ' + (bytes[b] / ms * 1000 / 1048576).toFixed(2) + ' MiB/s' : ''));
    return lines.join('\n');
  }
  canvas.addEventListener('mousemove', function (e) {
    if (dragFrom) {
      var shift = (e.offsetX - dragFrom.x) * (dragFrom.v1 - dragFrom.v0) / (width - left - 10);
      var span = dragFrom.v1 - dragFrom.v0;
      v0 = Math.min(Math.max(0, dragFrom.v0 - shift), whole - span); v1 = v0 + span; draw(); return;
    }
    var lane = Math.floor((e.offsetY - top) / laneH), hit = -1;
    for (var o = n - 1; o >= 0 && lane >= 0; o--) {
      var b = order[o];
      if (laneOf[b] !== lane) continue;
      var x0 = x(start[b]), w = Math.max(MINW, x(start[b] + D.d[b]) - x0);
      if (e.offsetX >= x0 - 1 && e.offsetX <= x0 + w + 1) { hit = b; break; }
    }
    if (hit < 0) { tip.style.display = 'none'; return; }
    tip.textContent = describe(hit);
    tip.style.display = 'block';
    tip.style.left = Math.min(e.offsetX + 12, width - 320) + 'px'; tip.style.top = (e.offsetY + 16) + 'px';
  });
  canvas.addEventListener('mouseleave', function () { tip.style.display = 'none'; });
  document.getElementById('zoom-in').onclick = function () { zoom(0.5); };
  document.getElementById('zoom-out').onclick = function () { zoom(2); };
  document.getElementById('zoom-all').onclick = function () { v0 = 0; v1 = whole; draw(); };
  draw();
  box.dataset.total = n;
  box.dataset.lanes = D.lanes.length;
  box.dataset.renderMs = Math.round(performance.now() - begun);
  box.dataset.pageMs = Math.round(performance.now());  // since the page began to load
})();
)";

struct FailureGroup {
    size_t count = 0;
    std::string first, last, line;
};

}  // namespace

std::string report_html(const LogContents& c, const std::string& source) {
    size_t cached = 0, failed = 0, ui = 0, tasks = 0, turns = 0;
    for (const Bar& b : c.bars) {
        cached += b.cached;
        failed += b.failed();
        ui += b.ui_thread;
        tasks += b.task;
        turns += static_cast<size_t>(b.turns);
    }
    const Lanes lanes = pack_lanes(c.bars);
    std::ostringstream h;
    h << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>quillnet log: "
      << html_escape(source) << "</title><style>" << kStyle << "</style></head><body>\n";
    h << "<h1>quillnet transfers</h1><p class=\"muted\">" << html_escape(source) << ": " << c.records << " records, "
      << c.bars.size() - tasks << " transfers and " << tasks << " asynchronous tasks (" << turns
      << " loop turns folded in), " << cached << " answered from the cache, " << failed << " failed, " << ui
      << " on the UI thread.</p>\n";
    h << "<h2>Timeline</h2><p class=\"legend\">"
         "<span><i class=\"sw\" style=\"background:#3b82f6\"></i>transfer</span>"
         "<span><i class=\"sw\" style=\"background:#16a34a\"></i>request cache (&ldquo;by catch&rdquo;)</span>"
         "<span><i class=\"sw\" style=\"background:#8b5cf6\"></i>asynchronous task</span>"
         "<span><i class=\"sw\" style=\"background:#dc2626\"></i>failed</span></p>\n"
         "<p id=\"zoom\"><button id=\"zoom-in\">zoom in</button><button id=\"zoom-out\">zoom out</button>"
         "<button id=\"zoom-all\">whole log</button> <span class=\"muted\">or the wheel over the timeline; drag "
         "to move; point at a bar for its details</span></p>\n";
    h << "<div id=\"timeline\"><noscript>The timeline needs JavaScript.</noscript><div id=\"tip\"></div></div>\n";
    h << "<script type=\"application/json\" id=\"timeline-data\">" << timeline_json(c.bars, lanes) << "</script>\n";

    // Failures, by URL and outcome: a retried request is one row.
    std::map<std::tuple<std::string, int, long>, FailureGroup> groups;
    for (const Bar& b : c.bars) {
        if (!b.failed()) continue;
        FailureGroup& g = groups[std::make_tuple(without_query(b.url), b.code, b.status)];
        const std::string when = clock_text(b.end_ms) + " [" + std::to_string(b.thread) + "]";
        if (g.count++ == 0) {
            g.first = when;
            g.line = b.errors.empty() ? std::string() : b.errors.front();
        }
        g.last = when;
    }
    h << "<h2>Failures</h2>\n";
    if (groups.empty()) {
        h << "<p>None.</p>\n";
    } else {
        h << "<table id=\"failures\"><tr><th>times</th><th>URL</th><th>libcurl</th><th>HTTP</th><th>first</th>"
             "<th>last</th><th>the library's line</th></tr>\n";
        for (const auto& g : groups) {
            const int code = std::get<1>(g.first);
            const long status = std::get<2>(g.first);
            h << "<tr><td class=\"n\">" << g.second.count << "</td><td><code>" << html_escape(std::get<0>(g.first))
              << "</code></td><td>" << (code != 0 ? html_escape(curl_code_text(code)) : "") << "</td><td class=\"n\">"
              << (status != 0 ? std::to_string(status) : "") << "</td><td>" << g.second.first << "</td><td>"
              << g.second.last << "</td><td class=\"line\">" << html_escape(g.second.line) << "</td></tr>\n";
        }
        h << "</table>\n";
    }
    if (!c.other_errors.empty()) {
        h << "<h2>Other lines at level 35</h2><table id=\"other-errors\"><tr><th>line</th><th>times</th>"
             "<th>first</th><th>last</th></tr>\n";
        for (const auto& e : c.other_errors) {
            h << "<tr><td class=\"line\">" << readable_record(e.first) << "</td><td class=\"n\">" << e.second.count
              << "</td><td>" << e.second.first << "</td><td>" << e.second.last << "</td></tr>\n";
        }
        h << "</table>\n";
    }
    std::map<std::pair<std::string, bool>, std::pair<int64_t, int64_t>> volume;  // bytes, ms
    for (const Bar& b : c.bars) {
        if (b.bytes < 0) continue;
        auto& v = volume[{url_path(b.url), b.task}];
        v.first += b.bytes;
        v.second += b.end_ms - b.start_ms;
    }
    h << "<h2>Time by URL path</h2>\n<table id=\"summary\"><tr><th>path</th><th>kind</th><th>count</th>"
         "<th>median ms</th><th>95th percentile ms</th><th>bytes</th><th>rate</th></tr>\n";
    for (const PathStats& p : path_stats(c.bars)) {
        const auto v = volume.find({p.path, p.task});
        h << "<tr><td><code>" << html_escape(p.path) << "</code></td><td>"
          << (p.task ? "asynchronous task" : "transfer") << "</td><td class=\"n\">" << p.count
          << "</td><td class=\"n\">" << number(p.median_ms) << "</td><td class=\"n\">" << number(p.p95_ms)
          << "</td><td class=\"n\">" << (v == volume.end() ? "" : bytes_text(static_cast<double>(v->second.first)))
          << "</td><td class=\"n\">"
          << (v == volume.end() || v->second.second <= 0
                  ? ""
                  : bytes_text(static_cast<double>(v->second.first) * 1000.0 / static_cast<double>(v->second.second)) + "/s")
          << "</td></tr>\n";
    }
    h << "</table>\n<p class=\"muted\">Percentiles interpolate linearly between the two nearest durations; bytes "
         "where the log names them (a cached path's answer, the quillnet program's own records).</p>\n";
    h << "<script>" << kScript << "</script>\n</body></html>\n";
    return h.str();
}

}  // namespace cli
}  // namespace qn
