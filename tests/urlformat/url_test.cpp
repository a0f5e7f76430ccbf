// URL rewriting and percent-encoding. The rewriter's operations against
// std::regex running the four patterns; GetNewUrl end to end with a protocol
// table that the stand-in hubcore reads from a real file once per process
// (every test is a process of its own), from one thread and from many.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Public/Helper/UrlDealwith.h"
#include "Public/Helper/url_encode.h"
#include "log_file.h"
#include "temp_dir.h"
#include "url_reference.h"

using UrlFormat::HttpHeadDealwith;
using Lines = std::vector<std::string>;

namespace {

// How the rewriter's log lines name their source file and class.
const std::string kOrigin = "common/public/include/Public/Helper/UrlDealwithUrlFormat::HttpHeadDealwith::";

// A configuration directory for the test's process: the protocol table
// (none when null), mjlog.dat when given, and the log.
struct Home {
    explicit Home(const char* protocol, const char* mjlog = nullptr) {
        if (protocol != nullptr) dir.write("Resource/Protocol.json", protocol);
        if (mjlog != nullptr) dir.write("mjlog.dat", mjlog);
        qntest::use_config_dir(dir.path());
    }
    qntest::TempDir dir;
    qntest::LogReader log{dir.path()};
};

void expect_rewrites(std::initializer_list<std::pair<std::string, std::string>> cases) {
    for (const auto& c : cases) EXPECT_EQ(HttpHeadDealwith::GetNewUrl(c.first.c_str()), c.second) << c.first;
}

// Encodes `text` into a buffer of `capacity`, checking the return value, the
// terminator and that nothing is written past the capacity.
std::string encode(const std::string& text, int capacity = 1024) {
    std::string out(static_cast<size_t>(capacity) + 16, '\x7F');
    const int n = url_encode(text.data(), static_cast<int>(text.size()), &out[0], capacity);
    EXPECT_TRUE(n >= 0 && n < capacity && out[static_cast<size_t>(n)] == '\0') << n;
    EXPECT_EQ(out.find_first_not_of('\x7F', static_cast<size_t>(capacity)), std::string::npos);
    return out.substr(0, static_cast<size_t>(n));
}

}  // namespace

// Every operation against the reference: all URLs of up to three of the
// pieces below, and many longer random ones and address-like texts.
TEST(UrlOperations, AgreeWithStdRegex) {
    Home home(nullptr, "log_level=35\n");  // the split without scheme logs every call
    const std::vector<std::string> p = {
        "http://", "https://", "HTTPS://", "hTtP://", "http:/", "http", "https", "s", "S", ":", "/", "//", "://", "80",
        "443", ":80", ":443", "8", "0", "1.2.3.4", ".", "999", "srv", "a", "\n", "\r", "\x80", "\xC3\xA9", " ", "x:1",
        "\xE2\x80\xA8"};
    std::vector<std::string> urls = {""};
    for (const auto& a : p) {
        for (const auto& b : p) {
            for (const auto& c : p) urls.push_back(a + b + c);
            urls.push_back(a + b);
        }
        urls.push_back(a);
    }
    std::mt19937 rng(20240607);
    for (int i = 0; i < 20000; ++i) {
        std::string url, ip;
        for (int n = 4 + static_cast<int>(rng() % 7); n > 0; --n) url += p[rng() % p.size()];
        for (int n = static_cast<int>(rng() % 18); n > 0; --n) ip += "0123456789./"[rng() % 12];
        urls.push_back(url);
        urls.push_back(ip);
    }
    int mismatches = 0;
    for (const std::string& url : urls) {
        if (urlref::operations_agree(url)) continue;
        ADD_FAILURE() << "differs on [" << url << "]";
        if (++mismatches == 10) break;
    }
}

TEST(GetNewUrl, ProtocolFileWithEntries) {
    // Errors only: the long URLs below would otherwise be logged whole.
    Home home(R"({"srv:80": "https://", "only:443": "https://", "up:80": "http://", "up:443": "https://",
                  "bare:443": "https://", "10.0.0.1:80": "http://", "10.0.0.1:443": "https://",
                  "999.999.999.999:80": "http://", "box:80": "", "num:80": 1, "arr:80": ["https://"]})",
              "log_level=30\n");
    expect_rewrites({
        {"http://srv", "https://srv"},                // the port that the split added goes again after https://
        {"http://srv/a", "https://srv:80/a"},         // but only when nothing follows it
        {"http://srv:80/a?q=1", "https://srv:80/a?q=1"}, {"https://srv/a", "https://srv:80/a"},  // found swapped
        {"http://only/a", "https://only:443/a"}, {"https://only", "https://only:443"},
        {"http://other/a", "http://other/a"}, {"http://srv:8080/a", "http://srv:8080/a"},
        {"http://SRV/a", "http://SRV/a"},             // keys are compared as written
        // The port of a host without one: 443 only when the URL starts with
        // exactly "https://"; without a scheme, 80 only when the URL up to its
        // first "/" is an address (not range-checked).
        {"https://up/a", "https://up:443/a"}, {"HTTPS://up/a", "http://up:80/a"}, {"HtTp://up", "http://up:80"},
        {"xhttps://up/a", "http://up:80/a"}, {"https://up/http://b", "https://up:443/http://b"},
        {"bare/a", "https://bare:443/a"}, {"10.0.0.1/a", "http://10.0.0.1:80/a"},
        {"/10.0.0.1/a", "https://10.0.0.1:443/a"}, {"999.999.999.999", "http://999.999.999.999:80"},
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

    // The split is linear in the URL: a recursive regex engine would run out
    // of stack long before these lengths.
    const std::string tail(100000, 'a'), host(100000, 'h'), slashes(4 * 1024 * 1024, '/');
    std::string schemes;
    for (int i = 0; i < 20000; ++i) schemes += "http:///";
    expect_rewrites({{"http://srv/" + tail, "https://srv:80/" + tail}, {host + "/a", host + "/a"},
                     {"http://" + host + "/a", "http://" + host + "/a"}, {slashes, slashes},
                     {"http://srv" + slashes, "https://srv:80" + slashes}, {schemes + "http://srv", "https://srv"}});
}

TEST(GetNewUrl, ProtocolFileWithoutEntries) {
    Home home("{}");
    expect_rewrites({
        {"http://srv:443", "http://srv"}, {"https://srv:80", "https://srv"}, {"http://srv:443/a", "http://srv:443/a"},
        {"http://srv:80", "http://srv:80"}, {"http://srv/a", "http://srv/a"},
        {"HTTP://srv:443", "HTTP://srv:443"},      // the scheme comparison is case-sensitive
        {"http://u@srv/x:443", "http://u@srv/x"},  // the first colon after the scheme decides
        {"http://u:p@srv:443", "http://u:p@srv:443"},
    });
    EXPECT_EQ(home.log.records("strConfigFilePath:"),
              Lines{"25 " + kOrigin + "HttpHeadDealwith49strConfigFilePath:" + home.dir.path() + "Resource/Protocol.json"});
}

TEST(GetNewUrl, MissingProtocolFileOnlyDropsDefaultPorts) {
    Home home(nullptr);
    expect_rewrites({{"http://srv", "http://srv"}, {"http://srv:443", "http://srv"},
                     {"https://srv:80/a", "https://srv:80/a"}, {"srv/a", "srv/a"}});
    const std::string function = "25 " + kOrigin + "splitHostAndPathFromUrlForWithoutHead";
    EXPECT_EQ(home.log.records(kOrigin + "split"),
              (Lines{function + "100strUrl:srv/a", function + "119tUrlInfo.strHost:srv:443tUrlInfo.strPath:/a"}));
}

TEST(GetNewUrl, ConcurrentFirstUseAndRewrites) {
    Home home(R"({"srv:80": "https://", "box:443": "http://"})");
    const std::pair<const char*, std::string> cases[] = {
        {"http://srv", "https://srv"}, {"http://srv/a", "https://srv:80/a"}, {"https://box/b", "http://box:443/b"},
        {"https://box:80", "http://box"},  // found as box:443, whose port then goes after http://
        {"box/c", "http://box:443/c"}, {"ftp://srv/x", "ftp://srv/x"}, {"http://other:443", "http://other"},
        {nullptr, ""}};
    constexpr int kThreads = 8;
    std::atomic<int> ready{0}, failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (++ready; ready.load() < kThreads;) std::this_thread::yield();
            for (int i = 0; i < 300; ++i) {
                const auto& c = cases[static_cast<size_t>(i + t) % (sizeof cases / sizeof cases[0])];
                failures += HttpHeadDealwith::GetNewUrl(c.first) != c.second ? 1 : 0;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(home.log.records("strConfigFilePath:").size(), 1u) << "made once";
}

TEST(UrlEncode, EncodesExactlyTheTableBytes) {
    EXPECT_EQ(encode("a b"), "a%20b");
    EXPECT_EQ(encode("a%20b"), "a%2520b");  // already encoded text is encoded again
    EXPECT_EQ(encode("caf\xC3\xA9"), "caf%C3%A9");
    EXPECT_EQ(encode(R"(http://h:80/p#f?a=[1]&b={"c"}<>^|\`~')"), "http://h:80/p#f?a=%5B1%5D&b=%7B%22c%22%7D<>^|\\`~'");
    EXPECT_EQ(encode(""), "");
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", b);
        const bool escaped = b >= 0x80 || std::string("[]{}\"% ").find(c) != std::string::npos;
        EXPECT_EQ(encode(std::string(1, c)), escaped ? std::string(hex) : std::string(1, c)) << b;
    }
    // The input need not be terminated: its length counts.
    char out[8];
    EXPECT_EQ(url_encode("abcdef", 2, out, sizeof out), 2);
    EXPECT_STREQ(out, "ab");
}

TEST(UrlEncode, CutBeforeThePieceThatDoesNotFit) {
    EXPECT_EQ(encode("ab c", 4), "ab");
    EXPECT_EQ(encode("abc", 1), "");
    // At every capacity, the longest run of whole pieces that leaves room for
    // the terminator: never half an escape.
    const std::string pieces[] = {"a", "%20", "%C3", "%A9", "%5B", "b", "%5D", "%25"};
    for (int capacity = 1; capacity <= 30; ++capacity) {
        std::string want;
        for (const std::string& piece : pieces) {
            if (static_cast<int>(want.size() + piece.size()) >= capacity) break;
            want += piece;
        }
        EXPECT_EQ(encode("a \xC3\xA9[b]%", capacity), want) << capacity;
    }
    EXPECT_EQ(encode(std::string(341, '\xFF')).size(), 1023u) << "three bytes per byte and the terminator fit";
}
