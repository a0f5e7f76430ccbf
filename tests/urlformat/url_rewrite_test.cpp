// GetNewUrl end to end: the protocol table is read by the stand-in hubcore
// from a real file, once per process; every test runs in a process of its
// own and so gets its own table.
#include <gtest/gtest.h>

#include <string>

#include "Public/Helper/UrlDealwith.h"
#include "url_test_home.h"

using UrlFormat::HttpHeadDealwith;
using urltest::kSource;

namespace {

std::string rewrite(const std::string& url) { return HttpHeadDealwith::GetNewUrl(url.c_str()); }

}  // namespace

TEST(GetNewUrl, EntryForPort80) {
    urltest::Home home(R"({"srv:80": "https://"})");
    // The port 80 that the split added goes again after "https://"...
    EXPECT_EQ(rewrite("http://srv"), "https://srv");
    // ...but only when nothing follows it.
    EXPECT_EQ(rewrite("http://srv/a"), "https://srv:80/a");
    EXPECT_EQ(rewrite("http://srv:80/a?q=1"), "https://srv:80/a?q=1");
    // Found under the swapped port: https://srv means srv:443.
    EXPECT_EQ(rewrite("https://srv/a"), "https://srv:80/a");
    // Other servers and ports are left alone.
    EXPECT_EQ(rewrite("http://other/a"), "http://other/a");
    EXPECT_EQ(rewrite("http://srv:8080/a"), "http://srv:8080/a");
    // Keys are compared as written: host names are not folded.
    EXPECT_EQ(rewrite("http://SRV/a"), "http://SRV/a");
}

TEST(GetNewUrl, EntryOnlyForPort443IsFoundThroughTheSwap) {
    urltest::Home home(R"({"srv:443": "https://"})");
    EXPECT_EQ(rewrite("http://srv/a"), "https://srv:443/a");
    EXPECT_EQ(rewrite("http://srv:443/a"), "https://srv:443/a");
    EXPECT_EQ(rewrite("https://srv"), "https://srv:443");
}

TEST(GetNewUrl, WithoutEntriesOnlyDefaultPortsGo) {
    urltest::Home home("{}");
    EXPECT_EQ(rewrite("http://srv:443"), "http://srv");
    EXPECT_EQ(rewrite("https://srv:80"), "https://srv");
    EXPECT_EQ(rewrite("http://srv:443/a"), "http://srv:443/a");
    EXPECT_EQ(rewrite("http://srv:80"), "http://srv:80");
    EXPECT_EQ(rewrite("http://srv/a"), "http://srv/a");
    // The scheme comparison of the port removal is case-sensitive.
    EXPECT_EQ(rewrite("HTTP://srv:443"), "HTTP://srv:443");
}

TEST(GetNewUrl, MissingProtocolFileMeansNoRewriting) {
    urltest::Home home(nullptr);
    EXPECT_EQ(rewrite("http://srv"), "http://srv");
    EXPECT_EQ(rewrite("http://srv:443"), "http://srv");
    EXPECT_EQ(rewrite("https://srv:80/a"), "https://srv:80/a");
}

TEST(GetNewUrl, OnlyTextEntriesCount) {
    urltest::Home home(R"({"srv:80": 1, "srv:443": null, "box:80": "", "ip:80": ["https://"]})");
    EXPECT_EQ(rewrite("http://srv/a"), "http://srv/a");
    EXPECT_EQ(rewrite("http://ip/a"), "http://ip/a");
    // An empty text is an entry: nothing is put in front of the host.
    EXPECT_EQ(rewrite("http://box/a"), "box:80/a");
}

TEST(GetNewUrl, UpperCaseSchemeGetsPort80) {
    urltest::Home home(R"({"srv:80": "http://", "srv:443": "https://"})");
    // Passes the scheme test and the split, but the port choice only knows
    // a lower-case "https://".
    EXPECT_EQ(rewrite("HTTPS://srv/a"), "http://srv:80/a");
    EXPECT_EQ(rewrite("https://srv/a"), "https://srv:443/a");
    EXPECT_EQ(rewrite("HtTp://srv"), "http://srv:80");
}

TEST(GetNewUrl, UrlsWithoutScheme) {
    urltest::Home home(R"({"srv:443": "https://", "10.0.0.1:80": "http://"})");
    EXPECT_EQ(rewrite("srv/a"), "https://srv:443/a");
    EXPECT_EQ(rewrite("10.0.0.1/a"), "http://10.0.0.1:80/a");
    // No host at all: the URL comes back as given.
    EXPECT_EQ(rewrite(""), "");
    EXPECT_EQ(rewrite("//:/"), "//:/");
}

TEST(GetNewUrl, SchemeIsSearchedAnywhere) {
    urltest::Home home(R"({"srv:80": "https://"})");
    // Not at the start, but present: the first http URL inside is the one
    // rewritten, and what stood before it is dropped.
    EXPECT_EQ(rewrite("ftp://x/?next=http://srv/a"), "https://srv:80/a");
    // The path ends at a line break.
    EXPECT_EQ(rewrite("http://srv/a\r\nHost: x"), "https://srv:80/a");
}

TEST(GetNewUrl, NullUrlGivesEmptyTextAndIsLogged) {
    urltest::Home home(nullptr);
    EXPECT_EQ(HttpHeadDealwith::GetNewUrl(nullptr), "");
    const std::string line = home.line("nullptr == _pstrUrl");
    EXPECT_EQ(qntest::record_text(line), kSource + "UrlFormat::HttpHeadDealwith::GetNewUrl268nullptr == _pstrUrl");
    EXPECT_EQ(qntest::record_level(line), 35);
}

TEST(GetNewUrl, NonHttpUrlsComeBackUnchangedAndAreLogged) {
    urltest::Home home(R"({"srv:80": "https://"})");
    EXPECT_EQ(rewrite("ftp://srv/a.bin"), "ftp://srv/a.bin");
    EXPECT_EQ(rewrite("file://srv:80"), "file://srv:80");
    const std::string line = home.line("ftp://srv/a.bin");
    EXPECT_EQ(qntest::record_text(line),
              kSource + "UrlFormat::HttpHeadDealwith::GetNewUrl275ftp://srv/a.binis not http/https format url!");
    EXPECT_EQ(qntest::record_level(line), 35);
}

TEST(GetNewUrl, ConstructionLogsTheProtocolFilePath) {
    urltest::Home home("{}");
    rewrite("http://srv");
    const std::string line = home.line("strConfigFilePath:");
    EXPECT_EQ(qntest::record_text(line), kSource + "UrlFormat::HttpHeadDealwith::HttpHeadDealwith49strConfigFilePath:" +
                                             home.path() + "Resource/Protocol.json");
    EXPECT_EQ(qntest::record_level(line), 25);
}

TEST(GetNewUrl, ProtocolFileIsReadOnce) {
    urltest::Home home(R"({"srv:80": "https://"})");
    EXPECT_EQ(rewrite("http://srv/a"), "https://srv:80/a");
    home.write("Resource/Protocol.json", R"({"srv:80": "ftp://"})");
    EXPECT_EQ(rewrite("http://srv/a"), "https://srv:80/a");
}

// The split is linear in the URL: a recursive regex engine would run out of
// stack long before these lengths.
TEST(GetNewUrl, VeryLongUrls) {
    urltest::Home home(R"({"srv:80": "https://"})", "log_level=30\n");
    const std::string tail(100000, 'a');
    EXPECT_EQ(rewrite("http://srv/" + tail), "https://srv:80/" + tail);

    const std::string host(100000, 'h');
    EXPECT_EQ(rewrite("http://" + host + "/a"), "http://" + host + "/a");
    EXPECT_EQ(rewrite(host + "/a"), host + "/a");

    const std::string huge(4 * 1024 * 1024, '/');
    EXPECT_EQ(rewrite(huge), huge);
    EXPECT_EQ(rewrite("http://srv" + huge), "https://srv:80" + huge);
    std::string many_schemes;
    for (int i = 0; i < 20000; ++i) many_schemes += "http:///";
    EXPECT_EQ(rewrite(many_schemes + "http://srv"), "https://srv");
}
