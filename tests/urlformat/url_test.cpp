// URL rewriting against std::regex, GetNewUrl with a protocol table read once per process, percent-encoding.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <random>
#include <regex>
#include <thread>
#include <vector>

#include "Public/Helper/UrlDealwith.h"
#include "Public/Helper/url_encode.h"
#include "log_file.h"
#include "temp_dir.h"

using UrlFormat::HttpHeadDealwith;
using Lines = std::vector<std::string>;

// The URL rules written the straightforward way with std::regex: the scanners must agree.
namespace {

using Split = std::pair<std::string, std::string>;  // host, path
const auto kIcase = std::regex::ECMAScript | std::regex::icase;
const std::regex kScheme("(https?)://", kIcase), kIp(R"(^(\d{1,3}\.){3}\d{1,3}$)");
bool is_http_url(const std::string& url) { return url.find("://") == std::string::npos || std::regex_search(url, kScheme); }
bool is_ip_address(const std::string& text) { return std::regex_match(text, kIp); }

// With the scheme the port follows from it; without, 80 for an address up to the first "/".
Split split(const std::string& url, bool with_head) {
    static const std::regex head(R"((?:https?:\/\/)([^\/:]+:\d+|[^\/:]+)(.*))", kIcase),
        bare(R"(([^\/:]+:\d+|[^\/:]+)(.*))", std::regex::ECMAScript);
    std::smatch m;
    if (!std::regex_search(url, m, with_head ? head : bare)) return {};
    Split out = {m[1].str(), m[2].str()};
    const bool port_80 = with_head ? url.substr(0, 8) != "https://" : is_ip_address(url.substr(0, url.find('/')));
    if (out.first.find(':') == std::string::npos) out.first += port_80 ? ":80" : ":443";
    return out;
}

// Each ":80" or ":443" not followed by a digit turns into the other, left to right.
bool swap_default_port(std::string& host) {
    static const std::regex port(R"(:(80|443)(?!\d))");
    std::string out;
    auto copied = host.cbegin();
    for (std::sregex_iterator it(host.cbegin(), host.cend(), port), end; it != end; copied = (*it++)[0].second)
        out.append(copied, (*it)[0].first).append((*it)[1] == "80" ? ":443" : ":80");
    const bool changed = copied != host.cbegin();
    host = out.append(copied, host.cend());
    return changed;
}

std::string remove_default_port(const std::string& url) {
    const size_t sep = url.find("://"), colon = sep == std::string::npos ? sep : url.find(':', sep + 1);
    if (colon == std::string::npos) return url;
    const std::string scheme = url.substr(0, sep + 3), port = url.substr(colon + 1);
    return (scheme == "http://" && port == "443") || (scheme == "https://" && port == "80") ? url.substr(0, colon) : url;
}

// Where the protocol table knows no host the rewrite only drops default ports.
bool operations_agree(const std::string& text) {
    const auto same = [](const UrlFormat::UrlInfo& got, const Split& want) { return Split(got.strHost, got.strPath) == want; };
    std::string mine = text, theirs = text;
    return HttpHeadDealwith::isHttpUrl(text) == is_http_url(text) &&
           HttpHeadDealwith::isIpAddress(text) == is_ip_address(text) &&
           same(HttpHeadDealwith::splitHostAndPathFromUrlForWithHead(text), split(text, true)) &&
           same(HttpHeadDealwith::splitHostAndPathFromUrlForWithoutHead(text), split(text, false)) &&
           HttpHeadDealwith::removeDefaultPort(text) == remove_default_port(text) &&
           HttpHeadDealwith::swapDefaultPort(mine) == swap_default_port(theirs) && mine == theirs &&
           HttpHeadDealwith::GetNewUrl(text.c_str()) == (is_http_url(text) ? remove_default_port(text) : text);
}

const std::string kOrigin = "common/public/include/Public/Helper/UrlDealwithUrlFormat::HttpHeadDealwith::";

struct Home {  // the process's configuration directory: the protocol table (none when null) and mjlog.dat
    explicit Home(const char* protocol, const char* mjlog = nullptr) {
        if (protocol) dir.write("Resource/Protocol.json", protocol);
        if (mjlog) dir.write("mjlog.dat", mjlog);
        qntest::use_config_dir(dir.path());
    }
    qntest::TempDir dir;
    qntest::LogReader log{dir.path()};
};

void expect_rewrites(const std::vector<std::pair<std::string, std::string>>& cases) {
    for (const auto& c : cases) EXPECT_EQ(HttpHeadDealwith::GetNewUrl(c.first.c_str()), c.second) << c.first;
}

// Encodes `text` into `capacity` bytes, checking the terminator and nothing written past them.
std::string encode(const std::string& text, int capacity = 1024) {
    std::string out(static_cast<size_t>(capacity) + 16, '\x7F');
    const int n = url_encode(text.data(), static_cast<int>(text.size()), &out[0], capacity);
    EXPECT_TRUE(n >= 0 && n < capacity && out[static_cast<size_t>(n)] == '\0') << n;
    EXPECT_EQ(out.find_first_not_of('\x7F', static_cast<size_t>(capacity)), std::string::npos);
    return out.substr(0, static_cast<size_t>(n));
}

}  // namespace

// All URLs of up to three of these pieces, and many longer random ones and address-like texts, from
// four threads at once, the first rewrite included (which reads a table naming no host made of these).
TEST(UrlOperations, AgreeWithStdRegex) {
    Home home(R"({"zz:80": "https://"})", "log_level=40\n");  // the rewrite and the split log what is not HTTP
    const std::vector<std::string> p = {
        "http://", "https://", "HTTPS://", "hTtP://", "http:/", "http", "https", "s", "S", ":", "/", "//", "://", "80",
        "443", ":80", ":443", "8", "0", "1.2.3.4", ".", "999", "srv", "a", "\n", "\r", "\x80", "\xC3\xA9", " ", "x:1",
        "\xE2\x80\xA8"};
    std::vector<std::string> urls = {""};  // every run of up to three pieces, breadth first
    for (size_t i = 0, n = p.size(); urls.size() < 1 + n + n * n + n * n * n; ++i)
        for (const auto& a : p) urls.push_back(urls[i] + a);
    std::mt19937 rng(20240607);
    for (int i = 0; i < 20000; ++i) {
        std::string url, ip;
        for (int n = 4 + static_cast<int>(rng() % 7); n > 0; --n) url += p[rng() % p.size()];
        for (int n = static_cast<int>(rng() % 18); n > 0; --n) ip += "0123456789./"[rng() % 12];
        urls.insert(urls.end(), {url, ip});
    }
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (size_t i = t; i < urls.size() && bad < 10; i += 4)
                if (!operations_agree(urls[i])) bad += (ADD_FAILURE() << "differs on [" << urls[i] << "]", 1);
        });
    for (auto& thread : threads) thread.join();
}

TEST(GetNewUrl, ProtocolFileWithEntries) {  // errors only logged: the long URLs below would be logged whole
    Home home(R"({"srv:80": "https://", "only:443": "https://", "up:80": "http://", "up:443": "https://",
                  "bare:443": "https://", "10.0.0.1:80": "http://", "box:80": "", "num:80": 1, "arr:80": ["https://"]})",
              "log_level=30\n");
    expect_rewrites({
        {"http://srv", "https://srv"},                // the port that the split added goes again after https://
        {"http://srv/a", "https://srv:80/a"},         // but only when nothing follows it
        {"http://srv:80/a?q=1", "https://srv:80/a?q=1"}, {"https://srv/a", "https://srv:80/a"},  // found swapped
        {"http://only/a", "https://only:443/a"}, {"https://only", "https://only:443"},
        {"http://other/a", "http://other/a"}, {"http://srv:8080/a", "http://srv:8080/a"},
        {"http://SRV/a", "http://SRV/a"},             // keys are compared as written
        // Looked up under the port the split gives a host without one (80 or 443, the scheme or the address decide).
        {"https://up/a", "https://up:443/a"}, {"HTTPS://up/a", "http://up:80/a"}, {"xhttps://up/a", "http://up:80/a"},
        {"bare/a", "https://bare:443/a"}, {"10.0.0.1/a", "http://10.0.0.1:80/a"},
        {"", ""}, {"//:/", "//:/"},  // no host at all
        {"http://num/a", "http://num/a"}, {"http://arr/a", "http://arr/a"},  // only text entries count
        {"http://box/a", "box:80/a"},                 // an empty text is an entry
        {"ftp://x/?next=http://srv/a", "https://srv:80/a"}, {"http://srv/a\r\nHost: x", "https://srv:80/a"},
        {"ftp://srv/a.bin", "ftp://srv/a.bin"}, {"file://srv:80", "file://srv:80"},
    });
    EXPECT_EQ(HttpHeadDealwith::GetNewUrl(nullptr), "");
    const Lines errors = home.log.records(kOrigin + "GetNewUrl");
    ASSERT_EQ(errors.size(), 3u);  // the two URLs that are not HTTP, and the null
    EXPECT_EQ(errors[0], "35 " + kOrigin + "GetNewUrl275ftp://srv/a.binis not http/https format url!");
    EXPECT_EQ(errors[2], "35 " + kOrigin + "GetNewUrl268nullptr == _pstrUrl");
    home.dir.write("Resource/Protocol.json", R"({"srv:80": "ftp://"})");
    EXPECT_EQ(HttpHeadDealwith::GetNewUrl("http://srv/a"), "https://srv:80/a") << "the file is read once";
    // The split is linear: a recursive regex engine would run out of stack long before these.
    const std::string tail(100000, 'a'), host(100000, 'h'), slashes(4 * 1024 * 1024, '/');
    std::string schemes;
    while (schemes.size() < 160000) schemes += "http:///";
    expect_rewrites({{"http://srv/" + tail, "https://srv:80/" + tail}, {host + "/a", host + "/a"},
                     {"http://" + host + "/a", "http://" + host + "/a"}, {slashes, slashes},
                     {"http://srv" + slashes, "https://srv:80" + slashes}, {schemes + "http://srv", "https://srv"}});
}

TEST(GetNewUrl, MissingProtocolFileLogsItsPathAndTheSplit) {
    Home home(nullptr);
    EXPECT_EQ(HttpHeadDealwith::GetNewUrl("srv/a"), "srv/a");
    const std::string split = "25 " + kOrigin + "splitHostAndPathFromUrlForWithoutHead";
    EXPECT_EQ(home.log.records(kOrigin),
              (Lines{"25 " + kOrigin + "HttpHeadDealwith49strConfigFilePath:" + home.dir.path() + "Resource/Protocol.json",
                     split + "100strUrl:srv/a", split + "119tUrlInfo.strHost:srv:443tUrlInfo.strPath:/a"}));
}

TEST(UrlEncode, EncodesExactlyTheTableBytesAndCutsBeforeAPieceThatDoesNotFit) {
    EXPECT_EQ(encode(""), "");
    char out[8];
    EXPECT_EQ(url_encode(nullptr, 5, out, sizeof out), 0);  // no input, whatever its stated length
    EXPECT_EQ(url_encode("abcdef", 2, out, sizeof out), 2);  // the length counts, not a terminator
    EXPECT_STREQ(out, "ab");
    for (int b = 0; b < 256; ++b) {
        const std::string c(1, static_cast<char>(b));
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", b);
        EXPECT_EQ(encode(c), b >= 0x80 || std::string("[]{}\"% ").find(c) != std::string::npos ? hex : c) << b;
    }
    // At every capacity, the longest run of whole pieces that leaves room for the terminator.
    const std::string pieces[] = {"a", "%20", "%C3", "%A9", "%5B", "b", "%5D", "%25"};
    for (int capacity = 1; capacity <= 30; ++capacity) {
        std::string want;
        for (size_t i = 0; i < 8 && static_cast<int>(want.size() + pieces[i].size()) < capacity; ++i) want += pieces[i];
        EXPECT_EQ(encode("a \xC3\xA9[b]%", capacity), want) << capacity;
    }
    EXPECT_EQ(encode(std::string(341, '\xFF')).size(), 1023u) << "three bytes per byte and the terminator fit";
}
