#include "Public/Helper/url_encode.h"

namespace {

// Bytes libcurl or servers reject in a URL. Everything else, the URL's own
// delimiters included, passes through, so that a whole URL can be encoded.
inline bool needs_escape(unsigned char byte) {
    if (byte >= 0x80) return true;
    switch (byte) {
        case '[':
        case ']':
        case '{':
        case '}':
        case '"':
        case '%':
        case ' ':
            return true;
        default:
            return false;
    }
}

}  // namespace

int url_encode(const char* input, int input_len, char* output, int capacity) {
    static const char kHex[] = "0123456789ABCDEF";
    if (output == nullptr || capacity < 1) return 0;
    if (input == nullptr) input_len = 0;
    int pos = 0;
    for (int i = 0; i < input_len; ++i) {
        const unsigned char byte = static_cast<unsigned char>(input[i]);
        // A piece is written only when it and the terminator fit: an escape
        // is never split. (Written as differences: capacity may be near
        // INT_MAX.)
        if (needs_escape(byte)) {
            if (capacity - pos <= 3) break;
            output[pos] = '%';
            output[pos + 1] = kHex[byte >> 4];
            output[pos + 2] = kHex[byte & 0x0F];
            pos += 3;
        } else {
            if (capacity - pos <= 1) break;
            output[pos++] = static_cast<char>(byte);
        }
    }
    output[pos] = '\0';
    return pos;
}
