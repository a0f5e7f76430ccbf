// Building the header list of an option document with many lines: the
// library's list (kept tail, constant time per line) for 100000 and 1000000
// lines, against libcurl's own append (which walks the list each time) for
// the same 100000 lines. Linear work shows as a tenfold time for tenfold
// lines.
#include <chrono>
#include <cstdio>
#include <string>

#include "bench_report.h"
#include "curl/libcurl_wrapper.h"
#include "curl/transfer.h"
#include "submit/param_doc.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string document(int lines) {
    std::string doc = R"({"headers":[)";
    for (int i = 0; i < lines; ++i) doc += (i == 0 ? "\"X-" : ",\"X-") + std::to_string(i) + ": v\"";
    return doc + "]}";
}

// Milliseconds to turn the document into a header list.
double library_ms(const std::string& doc) {
    const Clock::time_point start = Clock::now();
    qn::curl::StringList headers;
    qn::submit::add_param_ex_headers(doc.c_str(), headers, qn::submit::AuthDigestMode::kSendAsHeader, nullptr);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The same lines through curl_slist_append, from the head each time.
double libcurl_ms(int lines) {
    CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
    const Clock::time_point start = Clock::now();
    curl_slist* list = nullptr;
    for (int i = 0; i < lines; ++i) list = curl_api.curl_slist_append(list, ("X-" + std::to_string(i) + ": v").c_str());
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    curl_api.curl_slist_free_all(list);
    return ms;
}

}  // namespace

int main() {
    const std::string config = qnbench::make_config_dir(100);  // the log's work is not measured here
    const double hundred_thousand = library_ms(document(100000));
    const double million = library_ms(document(1000000));
    const double appended = libcurl_ms(100000);
    qnbench::print({
        {"header list of 100000 document lines (ms)", hundred_thousand, appended,
         "curl_slist_append, the same lines"},
        {"header list, 1000000 lines against 100000 (x)", million / hundred_thousand, 10, "linear (10x)",
         qnbench::Goal::kRatioAtMost, 1.5},
    });
    qnbench::remove_dir(config);
    return 0;
}
