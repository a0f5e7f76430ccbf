// `quillnet report` on a log of known lines, and the page in headless
// Chromium: the bars it rendered, the failures and the summary table. A
// screenshot of the page is kept under the build tree.
#include <gtest/gtest.h>

#include <cstdlib>
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

size_t count(const std::string& text, const std::regex& pattern) {
    return static_cast<size_t>(std::distance(std::sregex_iterator(text.begin(), text.end(), pattern),
                                             std::sregex_iterator()));
}

TEST(ReportPage, RendersOneBarPerSpanLine) {
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
        line("10:00:00.301", 9, 35, "error: HTTP url:http://h/files/a.bin path:[a] request failed with code:404") +
        line("10:00:00.400", 11, 30, "[http://h] curl_multi_perform ret:0 spantime:1") +
        line("10:00:00.401", 11, 35, "dltotal <= 0") +
        line("10:00:00.500", 11, 30, "[http://h] curl_multi_perform ret:0 spantime:0") +
        line("10:00:00.600", 12, 30, "[http://127.0.0.1:1/x] perform ret:7 spantime:0 ** by UIThread.") +
        line("10:00:00.600", 12, 35, "error: CLibcurlWrapper::instance().curl_easy_perform(curl)[7] != CURLE_OK,x,") +
        "not a record line\n";
    const std::string log_path = dir.write("q.log", log);
    qntest::Cli cli(dir.path());
    const std::string page = dir.file("page.html");
    const qntest::CliResult r = cli.run({"report", log_path, "-o", page});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("8 span lines (1 from the cache, 2 failed, 3 on the UI thread) -> " + page), std::string::npos)
        << r.out;
    const std::string html = qntest::read_file(page);
    EXPECT_EQ(html.find("<script>\""), std::string::npos);  // record text cannot end the data element
    EXPECT_EQ(html.find("http-equiv"), std::string::npos);
    EXPECT_EQ(count(html, std::regex(R"(src=|href=|url\()")), 0u);  // nothing fetched at view time

    const std::string dom = browse(dir, page, "--dump-dom");
    EXPECT_EQ(count(dom, std::regex("<rect [^>]*class=\"bar ")), 8u) << dom.substr(0, 2000);
    EXPECT_NE(dom.find("data-bars=\"8\""), std::string::npos);
    EXPECT_EQ(count(dom, std::regex("class=\"bar cache")), 1u);
    EXPECT_EQ(count(dom, std::regex("class=\"bar failed")), 2u);
    EXPECT_EQ(count(dom, std::regex("class=\"bar turn")), 2u);
    EXPECT_EQ(count(dom, std::regex("class=\"bar [a-z]+ ui\"")), 3u);
    EXPECT_NE(dom.find("thread 7 (UI)"), std::string::npos);
    EXPECT_NE(dom.find("request failed with code:404"), std::string::npos);
    EXPECT_NE(dom.find("curl_easy_perform(curl)[7]"), std::string::npos);
    // The tree path: four spans of 10, 20, 30 and 40 ms, the query dropped.
    EXPECT_NE(dom.find("queryDeviceOrgTree</code></td><td>transfer</td><td class=\"n\">4</td>"
                       "<td class=\"n\">25</td><td class=\"n\">38.5</td>"),
              std::string::npos);
    EXPECT_NE(dom.find("dltotal &lt;= 0</pre></td><td class=\"n\">1</td>"), std::string::npos);

    const std::string shot = std::string(QN_TEST_ARTEFACTS) + "report_page.png";
    std::system(("mkdir -p " + std::string(QN_TEST_ARTEFACTS)).c_str());
    browse(dir, page, "--screenshot=" + shot);
    EXPECT_TRUE(qntest::file_exists(shot));
}

}  // namespace
