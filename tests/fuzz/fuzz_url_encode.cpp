// url_encode on arbitrary bytes and capacities: the output stays inside the
// capacity, is terminated, holds only whole escapes, and decodes back to
// the input (or to the longest prefix that fit).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "Public/Helper/url_encode.h"

namespace {

bool escaped(unsigned char b) {
    static const char kSet[] = "[]{}\"% ";
    return b >= 0x80 || (b != 0 && std::memchr(kSet, b, sizeof kSet - 1) != nullptr);
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;  // lower case never appears
}

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // The first two bytes choose the capacity, the rest is the input.
    const int capacity = 1 + ((data[0] | (data[1] << 8)) % 4096);
    const char* input = reinterpret_cast<const char*>(data + 2);
    const int length = static_cast<int>(size - 2);

    // Exactly `capacity` bytes, so that AddressSanitizer sees any overrun.
    std::unique_ptr<char[]> out(new char[static_cast<size_t>(capacity)]);
    const int n = url_encode(input, length, out.get(), capacity);
    check(n >= 0 && n < capacity);
    check(out[static_cast<size_t>(n)] == '\0');

    std::string decoded;
    for (int i = 0; i < n;) {
        const char c = out[static_cast<size_t>(i)];
        if (c == '%') {
            check(i + 2 < n);
            const int hi = hex_value(out[static_cast<size_t>(i) + 1]);
            const int lo = hex_value(out[static_cast<size_t>(i) + 2]);
            check(hi >= 0 && lo >= 0);
            const unsigned char b = static_cast<unsigned char>(hi * 16 + lo);
            check(escaped(b));
            decoded += static_cast<char>(b);
            i += 3;
        } else {
            check(!escaped(static_cast<unsigned char>(c)));
            decoded += c;
            ++i;
        }
    }
    check(decoded.size() <= static_cast<size_t>(length));
    check(std::memcmp(decoded.data(), input, decoded.size()) == 0);
    if (decoded.size() < static_cast<size_t>(length)) {
        // Cut only where the next piece and the terminator did not fit.
        const int next = escaped(static_cast<unsigned char>(input[decoded.size()])) ? 3 : 1;
        check(n + next >= capacity);
    }
    return 0;
}
