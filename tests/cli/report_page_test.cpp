// `quillnet report` on logs of known lines, and the page in headless
// Chromium: the bars its script drew, the failures and the tables. A
// screenshot of the page is kept under the build tree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>

#include "cli_run.h"
#include "temp_dir.h"

namespace {

std::string line(const std::string& time, int thread, int level, const std::string& text) {
    return "2026-12-05 " + time + " [" + std::to_string(thread) + "] [" + std::to_string(level) + "] " + text + "\n";
}

const char* chromium() {
    for (const char* path : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
        if (qntest::file_exists(path)) return path;
    }
    return nullptr;
}

// Runs headless Chromium on `page` with `what` ("--dump-dom" or
// "--screenshot=FILE"); its standard output.
std::string browse(const qntest::TempDir& dir, const std::string& page, const std::string& what) {
    const std::string out = dir.file("browser.out");
    const std::string command = std::string(chromium()) +
                                " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
                                " --disable-background-networking --disable-component-update --disable-sync"
                                " --user-data-dir=" + dir.path() + "profile --window-size=1300,900 " + what +
                                " file://" + page + " > " + out + " 2>/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return qntest::read_file(out);
}

// An attribute the page's script set on the timeline.
std::string timeline(const std::string& dom, const std::string& attribute) {
    std::smatch m;
    const std::regex pattern("id=\"timeline\"[^>]*" + attribute + "=\"([^\"]*)\"");
    return std::regex_search(dom, m, pattern) ? m[1].str() : "(none)";
}

TEST(ReportPage, OneBarPerTransferAndTaskWithTheirOutcomes) {
    if (chromium() == nullptr) GTEST_SKIP() << "chromium is not installed (scripts/deps.sh installs it)";
    qntest::TempDir dir;
    const std::string tree = "http://10.0.0.1:8080/plume/device/queryDeviceOrgTree";
    const std::string log =
        line("10:00:00.010", 7, 30, "[" + tree + "] perform ret:0 spantime:10 ** by UIThread.") +
        line("10:00:00.010", 7, 25, "by net == Req:{\\\"a\\\":1} Rep:{}\\n<script>") +
        line("10:00:00.030", 7, 30, "[" + tree + "] perform ret:0 spantime:20 ** by UIThread.") +
        line("10:00:00.030", 7, 25, "by catch == Req:{} Rep:{}") +
        line("10:00:00.100", 7, 30, "[" + tree + "] perform ret:0 spantime:30") +
        line("10:00:00.200", 7, 30, "[" + tree + "?x=1] perform ret:0 spantime:40") +
        line("10:00:00.300", 9, 30, "[http://h/files/a.bin] perform ret:0 spantime:90") +
        line("10:00:00.300", 9, 30, "HTTP Response Code:404") +
        line("10:00:00.301", 9, 35, "error: HTTP url:http://h/files/a.bin path:[a] request failed with code:404") +
        line("10:00:00.400", 11, 30, "[http://h] curl_multi_perform ret:0 spantime:1") +
        line("10:00:00.401", 11, 35, "dltotal <= 0") +
        line("10:00:00.900", 11, 30, "[http://h] curl_multi_perform ret:0 spantime:0") +
        line("10:00:00.950", 7, 30, "quillnet host: download http://h/b.bin -> b.bin: 4096 bytes in 0.55 s") +
        line("10:00:01.600", 12, 30, "[http://127.0.0.1:1/x] perform ret:7 spantime:0") +
        line("10:00:01.600", 12, 35, "error: CLibcurlWrapper::instance().curl_easy_perform(curl)[7] != CURLE_OK,x") +
        line("10:00:01.700", 7, 35, "common/public/include/Public/Helper/UrlDealwithUrlFormat::HttpHeadDealwith::"
                                    "GetNewUrl275ftp://h/ais not http/https format url!") +
        "not a record line\n";
    const std::string log_path = dir.write("q.log", log);
    qntest::Cli cli(dir.path());
    const std::string page = dir.file("page.html");
    const qntest::CliResult r = cli.run({"report", log_path, "-o", page});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "report: 6 transfers and 1 tasks (1 from the cache, 2 failed, 2 on the UI thread) -> " + page + "\n");
    const std::string html = qntest::read_file(page);
    EXPECT_EQ(html.find("<script>\""), std::string::npos);  // record text cannot end the data element
    EXPECT_FALSE(std::regex_search(html, std::regex(R"(src=|href=|url\()")));  // nothing fetched at view time

    const std::string dom = browse(dir, page, "--dump-dom");
    EXPECT_EQ(timeline(dom, "data-total"), "7") << dom.substr(0, 3000);
    EXPECT_EQ(timeline(dom, "data-bars"), "7");
    EXPECT_EQ(timeline(dom, "data-drawn"), "3,1,1,2,0");  // by outcome: network, cache, task, failed, failed task
    EXPECT_GE(std::atof(timeline(dom, "data-narrowest").c_str()), 4.0);
    // The UI thread alone; the three workers one after another in one lane.
    EXPECT_EQ(timeline(dom, "data-lanes"), "2");
    for (const char* shown : {">connection refused (libcurl 7, COULDNT_CONNECT)<", "<td class=\"n\">404</td>",
                              "ftp://h/a is not http/https format url! <span class=\"muted\">(UrlFormat::HttpHeadDealwith"
                              "::GetNewUrl, line 275,",
                              "queryDeviceOrgTree</code></td><td>transfer</td><td class=\"n\">4</td>"
                              "<td class=\"n\">25</td><td class=\"n\">38.5</td>",
                              // The task: its two turns folded, the program's record giving its bytes.
                              "<code>http://h</code></td><td>asynchronous task</td><td class=\"n\">1</td><td class=\"n\">"
                              "501</td><td class=\"n\">501</td><td class=\"n\">4.0 KiB</td>"}) {
        EXPECT_NE(dom.find(shown), std::string::npos) << shown;
    }

    const std::string shot = std::string(QN_TEST_ARTEFACTS) + "report_page.png";
    std::system(("mkdir -p " + std::string(QN_TEST_ARTEFACTS)).c_str());
    browse(dir, page, "--screenshot=" + shot);
    EXPECT_TRUE(qntest::file_exists(shot));
}

// A log of ten megabytes as a day of use writes it: tree queries with their
// answers, asynchronous downloads of a hundred turns, threaded downloads on
// workers of their own, now and then a refused connection.
TEST(ReportPage, ATenMegabyteLogGivesASmallPageThatDrawsEveryBar) {
    if (chromium() == nullptr) GTEST_SKIP() << "chromium is not installed (scripts/deps.sh installs it)";
    qntest::TempDir dir;
    const std::string log_path = dir.file("big.log");
    std::ofstream out(log_path, std::ios::binary);
    const std::string answer(1500, 'x');
    size_t bars = 0, size = 0;
    int64_t ms = 0;
    for (int i = 0; size < 10u * 1024 * 1024; ++i) {
        std::string chunk;
        const auto at = [&ms](int64_t step) {
            ms += step;
            char text[32];
            std::snprintf(text, sizeof(text), "%02d:%02d:%02d.%03d", static_cast<int>(ms / 3600000 % 24),
                          static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000));
            return std::string(text);
        };
        const std::string query = "http://10.0.0.1:8080/plume/device/query" + std::to_string(i % 6);
        chunk += line(at(40), 1000, 30, "[" + query + "] perform ret:0 spantime:35 ** by UIThread.");
        chunk += line(at(0), 1000, 25, "by net == Req:{\\\"id\\\":" + std::to_string(i) + "} Rep:" + answer);
        ++bars;
        if (i % 10 == 0) {
            const int worker = 20000 + i;
            for (int turn = 0; turn < 100; ++turn) {
                chunk += line(at(6), worker, 30, "[http://10.0.0.2:8080] curl_multi_perform ret:0 spantime:1");
                if (turn < 3) chunk += line(at(0), worker, 35, "dltotal <= 0");
            }
            ++bars;
        }
        if (i % 25 == 0) {
            const bool refused = i % 100 == 0;
            chunk += line(at(5), 30000 + i, 30, "[http://10.0.0.3/files/f.bin] perform ret:" +
                                                     std::string(refused ? "7" : "0") + " spantime:300");
            if (refused) {
                chunk += line(at(0), 30000 + i, 35,
                              "error: CLibcurlWrapper::instance().curl_easy_perform(curl)[7] != CURLE_OK, url:x");
            }
            ++bars;
        }
        out << chunk;
        size += chunk.size();
    }
    out.close();
    qntest::Cli cli(dir.path());
    const std::string page = dir.file("big.html");
    const qntest::CliResult r = cli.run({"report", log_path, "-o", page});
    ASSERT_EQ(r.code, 0) << r.err;
    const size_t page_size = qntest::read_file(page).size();
    EXPECT_LT(page_size, 2u * 1024 * 1024);
    const double started = qntest::now_seconds();
    const std::string dom = browse(dir, page, "--dump-dom");
    const double seconds = qntest::now_seconds() - started;
    EXPECT_EQ(timeline(dom, "data-total"), std::to_string(bars));
    EXPECT_EQ(timeline(dom, "data-bars"), std::to_string(bars));
    // The browser's own start, on a page of nothing, for comparison.
    const double empty_started = qntest::now_seconds();
    browse(dir, dir.write("empty.html", "<!DOCTYPE html><title>-</title>"), "--dump-dom");
    std::printf("report of a %zu-byte log: %zu bars, page %zu bytes (%.1f%% of the log); in Chromium the page "
                "loaded and drew in %s ms (its script %s ms); browser run %.2f s, on an empty page %.2f s\n",
                size, bars, page_size, 100.0 * static_cast<double>(page_size) / static_cast<double>(size),
                timeline(dom, "data-page-ms").c_str(), timeline(dom, "data-render-ms").c_str(), seconds,
                qntest::now_seconds() - empty_started);
}

}  // namespace
