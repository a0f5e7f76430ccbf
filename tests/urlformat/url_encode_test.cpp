// Percent-encoding into a caller's buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Public/Helper/url_encode.h"

namespace {

// Encodes `text` into a buffer of `capacity`, checking the terminator and
// the return value on the way.
std::string encode(const std::string& text, int capacity = 1024) {
    std::string out(static_cast<size_t>(capacity) + 16, '\x7F');
    const int n = url_encode(text.data(), static_cast<int>(text.size()), &out[0], capacity);
    EXPECT_GE(n, 0);
    EXPECT_LT(n, capacity);
    EXPECT_EQ(out[static_cast<size_t>(n)], '\0');
    // Nothing written past the capacity.
    EXPECT_EQ(out.find_first_not_of('\x7F', static_cast<size_t>(capacity)), std::string::npos);
    out.resize(std::strlen(out.c_str()));
    EXPECT_EQ(static_cast<int>(out.size()), n);
    return out;
}

}  // namespace

TEST(UrlEncode, Examples) {
    EXPECT_EQ(encode("a b"), "a%20b");
    EXPECT_EQ(url_encode("a b", 3, std::string(16, ' ').data(), 16), 5);
    // Already encoded text is encoded again.
    EXPECT_EQ(encode("a%20b"), "a%2520b");
    EXPECT_EQ(encode("caf\xC3\xA9"), "caf%C3%A9");
    EXPECT_EQ(encode(R"(x?a=[1]&b={"c"})"), "x?a=%5B1%5D&b=%7B%22c%22%7D");
    // Delimiters and the rest of ASCII stay as they are.
    EXPECT_EQ(encode("http://h:8080/p#f?q=1&r=<>^|\\`~'"), "http://h:8080/p#f?q=1&r=<>^|\\`~'");
    // The input need not be terminated; its length counts, NULs included.
    char out[8];
    EXPECT_EQ(url_encode("a\0 ", 3, out, sizeof out), 5);
    EXPECT_EQ(std::string(out, 6), std::string("a\0%20\0", 6));
    EXPECT_EQ(url_encode("abcdef", 2, out, sizeof out), 2);
    EXPECT_STREQ(out, "ab");
}

TEST(UrlEncode, EveryByte) {
    const std::string escaped = "[]{}\"% ";
    for (int b = 1; b < 256; ++b) {
        const char c = static_cast<char>(b);
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", b);
        const bool encoded = b >= 0x80 || escaped.find(c) != std::string::npos;
        EXPECT_EQ(encode(std::string(1, c)), encoded ? std::string(hex) : std::string(1, c)) << "byte " << b;
    }
    // NUL is copied like any other control byte (and so ends the text).
    char out[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(url_encode("\0", 1, out, sizeof out), 1);
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(out[1], '\0');
}

TEST(UrlEncode, CutBeforeThePieceThatDoesNotFit) {
    char out[16];
    EXPECT_EQ(url_encode("ab c", 4, out, 4), 2);
    EXPECT_STREQ(out, "ab");
    EXPECT_EQ(encode("ab c", 5), "ab");
    EXPECT_EQ(encode("ab c", 6), "ab%20");
    EXPECT_EQ(encode("ab c", 7), "ab%20c");
    EXPECT_EQ(encode("abc", 1), "");
    EXPECT_EQ(encode("abc", 3), "ab");

    // At every capacity the output is the longest run of whole pieces that
    // leaves room for the terminator: never half an escape.
    const std::string input = "a \xC3\xA9[b]%";
    const std::string pieces[] = {"a", "%20", "%C3", "%A9", "%5B", "b", "%5D", "%25"};
    for (int capacity = 1; capacity <= 30; ++capacity) {
        std::string want;
        for (const std::string& piece : pieces) {
            if (static_cast<int>(want.size() + piece.size()) >= capacity) break;
            want += piece;
        }
        EXPECT_EQ(encode(input, capacity), want) << "capacity " << capacity;
    }
}

TEST(UrlEncode, EmptyInput) {
    char out[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(url_encode("", 0, out, sizeof out), 0);
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(url_encode("abc", 0, out, 1), 0);
    EXPECT_EQ(out[0], '\0');
}

TEST(UrlEncode, WorstCaseFitsThreeTimesPlusOne) {
    const std::string input(341, '\xFF');
    std::string out(3 * input.size() + 1, 'x');
    EXPECT_EQ(url_encode(input.data(), static_cast<int>(input.size()), &out[0], static_cast<int>(out.size())),
              1023);
    EXPECT_EQ(out.back(), '\0');
}
