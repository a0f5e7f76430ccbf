// The member operations of the rewriter one by one, and a comparison with
// std::regex running the four patterns on many generated short URLs.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "Public/Helper/UrlDealwith.h"
#include "url_reference.h"
#include "url_test_home.h"

using UrlFormat::HttpHeadDealwith;
using UrlFormat::UrlInfo;
using urltest::kSource;

namespace {

::testing::AssertionResult same_split(const UrlInfo& got, const urlref::Split& want) {
    if (got.strHost == want.host && got.strPath == want.path) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got [" << got.strHost << "][" << got.strPath << "] want ["
                                         << want.host << "][" << want.path << "]";
}

UrlInfo with_head(const std::string& url) { return HttpHeadDealwith::splitHostAndPathFromUrlForWithHead(url); }
UrlInfo without_head(const std::string& url) {
    return HttpHeadDealwith::splitHostAndPathFromUrlForWithoutHead(url);
}

std::string swapped(std::string host) {
    HttpHeadDealwith::swapDefaultPort(host);
    return host;
}

// Pieces that make the scanners take every branch: schemes in several
// cases and broken forms, separators, ports, addresses, line breaks,
// non-ASCII bytes.
const std::vector<std::string>& pieces() {
    static const std::vector<std::string> p = {
        "http://", "https://", "HTTPS://", "hTtP://", "http:/", "http", "https", "s", "S", ":", "/", "//",
        "://", "80", "443", "8", "0", "1.2.3.4", ".", "999", "srv", "a", "\n", "\r", "\x80", "\xC3\xA9",
        " ", "x:1", "\xE2\x80\xA8"};
    return p;
}

class UrlSplit : public ::testing::Test {
protected:
    // The split without scheme logs every call; keep the log quiet.
    urltest::Home home_{nullptr, "log_level=35\n"};
};

}  // namespace

TEST_F(UrlSplit, SchemeTest) {
    EXPECT_TRUE(HttpHeadDealwith::isHttpUrl("http://srv"));
    EXPECT_TRUE(HttpHeadDealwith::isHttpUrl("HTTPS://srv"));
    EXPECT_TRUE(HttpHeadDealwith::isHttpUrl("srv/a"));  // no "://" at all
    EXPECT_TRUE(HttpHeadDealwith::isHttpUrl(""));
    EXPECT_TRUE(HttpHeadDealwith::isHttpUrl("ftp://x?u=https://y"));  // searched anywhere
    EXPECT_TRUE(HttpHeadDealwith::isHttpUrl("xhttp://"));
    EXPECT_FALSE(HttpHeadDealwith::isHttpUrl("ftp://srv"));
    EXPECT_FALSE(HttpHeadDealwith::isHttpUrl("httpx://srv"));
    EXPECT_FALSE(HttpHeadDealwith::isHttpUrl("http:/ /://"));
    EXPECT_FALSE(HttpHeadDealwith::isHttpUrl("htt://p://"));
}

TEST_F(UrlSplit, WithScheme) {
    EXPECT_TRUE(same_split(with_head("http://srv"), {"srv:80", ""}));
    EXPECT_TRUE(same_split(with_head("https://srv/a/b?c#d"), {"srv:443", "/a/b?c#d"}));
    EXPECT_TRUE(same_split(with_head("http://srv:8080x/y"), {"srv:8080", "x/y"}));
    // A colon without digits is not a port: the host ends before it.
    EXPECT_TRUE(same_split(with_head("http://srv:abc/x"), {"srv:80", ":abc/x"}));
    // The port default looks at the start of the URL, case-sensitively.
    EXPECT_TRUE(same_split(with_head("HTTPS://srv"), {"srv:80", ""}));
    EXPECT_TRUE(same_split(with_head("xhttps://srv"), {"srv:80", ""}));
    EXPECT_TRUE(same_split(with_head("https://a/http://b"), {"a:443", "/http://b"}));
    // A scheme with an empty host is passed over for the next one.
    EXPECT_TRUE(same_split(with_head("http:///a https://b"), {"b:80", ""}));
    EXPECT_TRUE(same_split(with_head("http://:80/a"), {"", ""}));
    EXPECT_TRUE(same_split(with_head("srv/a"), {"", ""}));
    // Line breaks belong to a host, but end the path.
    EXPECT_TRUE(same_split(with_head("http://s\nv/a\nb"), {"s\nv:80", "/a"}));
    EXPECT_TRUE(same_split(with_head("http://srv:80\r/a"), {"srv:80", ""}));
}

TEST_F(UrlSplit, WithoutScheme) {
    EXPECT_TRUE(same_split(without_head("srv/a"), {"srv:443", "/a"}));
    EXPECT_TRUE(same_split(without_head("10.0.0.1/a"), {"10.0.0.1:80", "/a"}));
    EXPECT_TRUE(same_split(without_head("999.999.999.999"), {"999.999.999.999:80", ""}));
    EXPECT_TRUE(same_split(without_head("srv:8080/a"), {"srv:8080", "/a"}));
    // The address test looks at the URL up to its first "/", not at the host.
    EXPECT_TRUE(same_split(without_head("/10.0.0.1/a"), {"10.0.0.1:443", "/a"}));
    EXPECT_TRUE(same_split(without_head("10.0.0.1:x/a"), {"10.0.0.1:443", ":x/a"}));
    EXPECT_TRUE(same_split(without_head("::srv"), {"srv:443", ""}));
    EXPECT_TRUE(same_split(without_head("http:///a"), {"http:443", ":///a"}));
    EXPECT_TRUE(same_split(without_head("/:/"), {"", ""}));
    EXPECT_TRUE(same_split(without_head(""), {"", ""}));

    // The whole chain: the split with scheme first, this one when it finds
    // no host.
    EXPECT_TRUE(same_split(HttpHeadDealwith::splitHostAndPathFromUrl("http://srv/a"), {"srv:80", "/a"}));
    EXPECT_TRUE(same_split(HttpHeadDealwith::splitHostAndPathFromUrl("srv/a"), {"srv:443", "/a"}));
    EXPECT_TRUE(same_split(HttpHeadDealwith::splitHostAndPathFromUrl("http:///a"), {"http:443", ":///a"}));
}

TEST(UrlSplitLog, WithoutSchemeLogsUrlAndResult) {
    urltest::Home home(nullptr);
    without_head("srv/a");
    const std::string function = "UrlFormat::HttpHeadDealwith::splitHostAndPathFromUrlForWithoutHead";
    const std::string first = home.line("strUrl:");
    EXPECT_EQ(qntest::record_text(first), kSource + function + "100strUrl:srv/a");
    EXPECT_EQ(qntest::record_level(first), 25);
    const std::string second = home.line("tUrlInfo.strHost:");
    EXPECT_EQ(qntest::record_text(second), kSource + function + "119tUrlInfo.strHost:srv:443tUrlInfo.strPath:/a");
    EXPECT_EQ(qntest::record_level(second), 25);
}

TEST_F(UrlSplit, IpAddressTest) {
    EXPECT_TRUE(HttpHeadDealwith::isIpAddress("10.0.0.1"));
    EXPECT_TRUE(HttpHeadDealwith::isIpAddress("999.999.999.999"));  // no range check
    EXPECT_TRUE(HttpHeadDealwith::isIpAddress("0.00.000.1"));
    for (const char* text : {"", "1.2.3", "1.2.3.4.5", "1234.1.1.1", "1.1.1.1234", " 1.2.3.4", "1.2.3.4\n",
                             "1..2.3", "1.2.3.", "a.b.c.d", "1.2.3.4:80", "\xD9\xA1.1.1.1"}) {
        EXPECT_FALSE(HttpHeadDealwith::isIpAddress(text)) << text;
    }
}

TEST_F(UrlSplit, SwapDefaultPort) {
    EXPECT_EQ(swapped("srv:80"), "srv:443");
    EXPECT_EQ(swapped("srv:443"), "srv:80");
    EXPECT_EQ(swapped("srv:80a"), "srv:443a");
    EXPECT_EQ(swapped("a:80:443:8080:4430:1"), "a:443:80:8080:4430:1");
    // The scan goes on after the replaced port, not inside it.
    EXPECT_EQ(swapped("a:80:80"), "a:443:443");
    std::string host = "srv:8080";
    EXPECT_FALSE(HttpHeadDealwith::swapDefaultPort(host));
    EXPECT_EQ(host, "srv:8080");
    host = "srv";
    EXPECT_FALSE(HttpHeadDealwith::swapDefaultPort(host));
    host = "srv:";
    EXPECT_FALSE(HttpHeadDealwith::swapDefaultPort(host));
    host = "srv:443";
    EXPECT_TRUE(HttpHeadDealwith::swapDefaultPort(host));
}

TEST_F(UrlSplit, RemoveDefaultPort) {
    EXPECT_EQ(HttpHeadDealwith::removeDefaultPort("http://srv:443"), "http://srv");
    EXPECT_EQ(HttpHeadDealwith::removeDefaultPort("https://srv:80"), "https://srv");
    EXPECT_EQ(HttpHeadDealwith::removeDefaultPort("http://srv:80"), "http://srv:80");
    EXPECT_EQ(HttpHeadDealwith::removeDefaultPort("https://srv:443"), "https://srv:443");
    EXPECT_EQ(HttpHeadDealwith::removeDefaultPort("http://srv:443/a"), "http://srv:443/a");
    EXPECT_EQ(HttpHeadDealwith::removeDefaultPort("HTTP://srv:443"), "HTTP://srv:443");
    EXPECT_EQ(HttpHeadDealwith::removeDefaultPort("xhttp://srv:443"), "xhttp://srv:443");
    EXPECT_EQ(HttpHeadDealwith::removeDefaultPort("srv:443"), "srv:443");
    EXPECT_EQ(HttpHeadDealwith::removeDefaultPort("http://srv"), "http://srv");
    // The first colon after the scheme decides, whatever stands before it.
    EXPECT_EQ(HttpHeadDealwith::removeDefaultPort("http://u@srv/x:443"), "http://u@srv/x");
    EXPECT_EQ(HttpHeadDealwith::removeDefaultPort("http://u:p@srv:443"), "http://u:p@srv:443");
}

// Every operation against std::regex and the literal rules: all URLs of up
// to three pieces, and many longer random ones.
TEST_F(UrlSplit, AgreesWithStdRegex) {
    const std::vector<std::string>& p = pieces();
    std::vector<std::string> urls;
    urls.emplace_back();
    for (const auto& a : p) {
        urls.push_back(a);
        for (const auto& b : p) {
            urls.push_back(a + b);
            for (const auto& c : p) urls.push_back(a + b + c);
        }
    }
    std::mt19937 rng(20240607);
    std::uniform_int_distribution<size_t> piece(0, p.size() - 1);
    std::uniform_int_distribution<int> count(4, 10);
    for (int i = 0; i < 20000; ++i) {
        std::string url;
        for (int n = count(rng); n > 0; --n) url += p[piece(rng)];
        urls.push_back(url);
    }
    // Addresses and near misses.
    std::uniform_int_distribution<int> ip_char(0, 11);
    std::uniform_int_distribution<int> ip_length(0, 17);
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        for (int n = ip_length(rng); n > 0; --n) text += "0123456789./"[ip_char(rng)];
        urls.push_back(text);
    }

    int mismatches = 0;
    for (const std::string& url : urls) {
        const bool ok = HttpHeadDealwith::isHttpUrl(url) == urlref::is_http_url(url) &&
                        HttpHeadDealwith::isIpAddress(url) == urlref::is_ip_address(url) &&
                        same_split(with_head(url), urlref::split_with_head(url)) &&
                        same_split(without_head(url), urlref::split_without_head(url)) &&
                        HttpHeadDealwith::removeDefaultPort(url) == urlref::remove_default_port(url);
        std::string mine = url;
        std::string theirs = url;
        const bool swap_ok = HttpHeadDealwith::swapDefaultPort(mine) == urlref::swap_default_port(theirs) &&
                             mine == theirs;
        if (!ok || !swap_ok) {
            ADD_FAILURE() << "differs on [" << url << "]";
            if (++mismatches == 10) break;
        }
    }
}
