// Cost of one GetNewUrl on ordinary URLs, in three builds of the same rules:
//   scanners      - the library as shipped (no regex at all);
//   regex once    - std::regex with the patterns compiled once per process;
//   regex per call - std::regex compiled on every call, as a rewrite that
//                    builds its patterns per call would do.
// All three use the same protocol table through the same hubcore document,
// so the differences are the pattern work alone. Ratios are measured in
// this run; absolute numbers depend on the machine.
//
// The log is configured to drop every record: the split without scheme
// logs each call, and the sink's disk work is not what is measured here.
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "Public/Helper/UrlDealwith.h"
#include "bench_report.h"

using UrlFormat::HttpHeadDealwith;
using UrlFormat::UrlInfo;

namespace {

struct Patterns {
    std::regex scheme;
    std::regex with_head;
    std::regex without_head;
};

Patterns compile() {
    return Patterns{
        std::regex("(https?)://", std::regex::ECMAScript | std::regex::icase),
        std::regex(R"((?:https?:\/\/)([^\/:]+:\d+|[^\/:]+)(.*))", std::regex::ECMAScript | std::regex::icase),
        std::regex(R"(([^\/:]+:\d+|[^\/:]+)(.*))", std::regex::ECMAScript)};
}

bool is_ip(const std::string& text) {
    static const std::regex ip(R"(^(\d{1,3}\.){3}\d{1,3}$)", std::regex::ECMAScript);
    return std::regex_match(text, ip);
}

// The rewrite with std::regex doing the pattern work.
std::string regex_rewrite(const char* url_text, const Patterns& p) {
    if (url_text == nullptr) return std::string();
    const std::string url(url_text);
    if (url.find("://") != std::string::npos && !std::regex_search(url, p.scheme)) return url;
    UrlInfo info;
    std::smatch m;
    if (std::regex_search(url, m, p.with_head)) {
        info.strHost = m[1].str();
        info.strPath = m[2].str();
        if (info.strHost.find(':') == std::string::npos) {
            info.strHost += url.compare(0, 8, "https://") == 0 ? ":443" : ":80";
        }
    }
    if (info.strHost.empty() && std::regex_search(url, m, p.without_head)) {
        info.strHost = m[1].str();
        info.strPath = m[2].str();
        if (info.strHost.find(':') == std::string::npos) {
            info.strHost += is_ip(url.substr(0, url.find('/'))) ? ":80" : ":443";
        }
    }
    if (info.strHost.empty()) return url;
    const HttpHeadDealwith& table = HttpHeadDealwith::instance();
    std::string head;
    std::string result = url;
    if (table.getProtocolHead(info.strHost, head)) {
        result = head + info.strHost + info.strPath;
    } else {
        std::string swapped = info.strHost;
        if (HttpHeadDealwith::swapDefaultPort(swapped) && table.getProtocolHead(swapped, head)) {
            result = head + swapped + info.strPath;
        }
    }
    return HttpHeadDealwith::removeDefaultPort(result);
}

std::string regex_once(const char* url) {
    static const Patterns patterns = compile();
    return regex_rewrite(url, patterns);
}

std::string regex_per_call(const char* url) { return regex_rewrite(url, compile()); }

const std::vector<std::string>& urls() {
    static const std::vector<std::string> u = {
        "http://srv/api/v1/tree/nodes?depth=2",
        "https://box:443/files/report%20final.pdf",
        "http://10.0.0.1:8080/upload",
        "http://srv:443",
        "https://other.example.org/a/b/c/d/e/f/index.html?q=a&r=b",
        "box/c/d",
    };
    return u;
}

// Nanoseconds per call, over whole passes of the URL list for about
// `budget` of wall time.
template <class F>
double ns_per_call(F rewrite, std::chrono::milliseconds budget) {
    using Clock = std::chrono::steady_clock;
    size_t calls = 0;
    size_t sink = 0;
    const auto start = Clock::now();
    auto now = start;
    do {
        for (int pass = 0; pass < 10; ++pass) {
            for (const std::string& url : urls()) sink += rewrite(url.c_str()).size();
            calls += urls().size();
        }
        now = Clock::now();
    } while (now - start < budget);
    if (sink == 0) std::puts("");  // keeps the results alive
    return std::chrono::duration<double, std::nano>(now - start).count() / static_cast<double>(calls);
}

}  // namespace

int main() {
    char dir_template[] = "/tmp/qn_url_bench_XXXXXX";
    if (::mkdtemp(dir_template) == nullptr) return 1;
    const std::filesystem::path dir(dir_template);
    std::filesystem::create_directories(dir / "Resource");
    std::ofstream(dir / "Resource" / "Protocol.json")
        << R"({"srv:80": "https://", "box:443": "http://", "10.0.0.1:8080": "https://"})";
    std::ofstream(dir / "mjlog.dat") << "log_level=100\n";
    ::setenv("MJ_CONFIG_DIR", (dir.string() + "/").c_str(), 1);

    // Same answers from all three, before anything is timed.
    int mismatches = 0;
    for (const std::string& url : urls()) {
        const std::string ours = HttpHeadDealwith::GetNewUrl(url.c_str());
        if (ours != regex_once(url.c_str()) || ours != regex_per_call(url.c_str())) {
            std::printf("MISMATCH on %s: %s\n", url.c_str(), ours.c_str());
            ++mismatches;
        }
    }

    const std::chrono::milliseconds budget(1500);
    const double scanners = ns_per_call(HttpHeadDealwith::GetNewUrl, budget);
    const double once = ns_per_call(regex_once, budget);
    const double per_call = ns_per_call(regex_per_call, budget);

    std::printf("GetNewUrl, %zu ordinary URLs, ns per call:\n", urls().size());
    std::printf("  scanners (shipped)          %10.0f\n", scanners);
    std::printf("  std::regex compiled once    %10.0f\n", once);
    std::printf("  std::regex compiled per call%10.0f\n", per_call);
    std::printf("ratio regex-per-call / scanners: %.1fx\n", per_call / scanners);
    std::printf("ratio regex-per-call / regex-once: %.1fx\n", per_call / once);
    std::printf("ratio regex-once / scanners: %.1fx\n", once / scanners);
    qnbench::print({{"URL rewriting, GetNewUrl (ns per call)", scanners, once, "std::regex, compiled once"},
                    {"URL rewriting, GetNewUrl (ns per call) ", scanners, per_call, "std::regex, compiled per call"}});

    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return mismatches == 0 ? 0 : 1;
}
