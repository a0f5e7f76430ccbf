// UTF-8 and UTF-16 one code point at a time, for every conversion inside
// MJBase: the text converter, the log sink's record lines and the lenient
// helpers of text.h.
//
// Decoding never fails. What is not well formed becomes U+FFFD:
// - UTF-16: a surrogate without its partner, one U+FFFD per unit;
// - UTF-8: one U+FFFD per maximal subpart of an ill-formed sequence, the
//   practice Unicode recommends (and the one browsers follow): the longest
//   run of bytes that starts a well-formed sequence is replaced as one, and
//   decoding goes on at the next byte. A byte below 0x80 is never swallowed,
//   so text after a bad byte always survives.
#ifndef MJBASE_UTF_H
#define MJBASE_UTF_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "mj/mj_interfaces.h"

namespace mjbase {
namespace utf {

constexpr char32_t kReplacement = 0xFFFD;

inline bool IsHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool IsLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// The code point at *p (p < end), moving p past it.
inline char32_t NextFromUtf16(const mj::wchar*& p, const mj::wchar* end) {
    const uint32_t u = static_cast<uint16_t>(*p++);
    if (!IsHighSurrogate(u) && !IsLowSurrogate(u)) return u;
    if (IsHighSurrogate(u) && p < end && IsLowSurrogate(static_cast<uint16_t>(*p))) {
        const uint32_t low = static_cast<uint16_t>(*p++);
        return 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
    }
    return kReplacement;
}

// The code point at *p (p < end), moving p past it, or past the maximal
// subpart replaced by U+FFFD.
inline char32_t NextFromUtf8(const unsigned char*& p, const unsigned char* end) {
    const unsigned char b = *p++;
    if (b < 0x80) return b;
    size_t len;
    char32_t c;
    // The second byte's range narrows for E0, ED, F0 and F4 so that
    // overlong forms, surrogates and values above U+10FFFF are never
    // well formed; the other continuation bytes are 80..BF.
    unsigned char lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2, c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3, c = b & 0x0F;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4, c = b & 0x07;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
    } else {
        return kReplacement;  // 80..C1, F5..FF never start a sequence
    }
    for (size_t k = 1; k < len; ++k, lo = 0x80, hi = 0xBF) {
        if (p == end || *p < lo || *p > hi) return kReplacement;
        c = (c << 6) | (*p++ & 0x3F);
    }
    return c;
}

inline size_t Utf8Length(char32_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4; }
inline size_t Utf16Length(char32_t c) { return c < 0x10000 ? 1 : 2; }

// Writes c (a code point, not a surrogate) and returns the end.
inline char* PutUtf8(char32_t c, char* out) {
    if (c < 0x80) {
        *out++ = static_cast<char>(c);
    } else if (c < 0x800) {
        *out++ = static_cast<char>(0xC0 | (c >> 6));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (c >> 12));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (c >> 18));
        *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

inline mj::wchar* PutUtf16(char32_t c, mj::wchar* out) {
    if (c < 0x10000) {
        *out++ = static_cast<mj::wchar>(c);
    } else {
        c -= 0x10000;
        *out++ = static_cast<mj::wchar>(0xD800 + (c >> 10));
        *out++ = static_cast<mj::wchar>(0xDC00 + (c & 0x3FF));
    }
    return out;
}

// Copies the units [from, to), all below 0x80, to out as units of another
// width, and returns the end. Blocks go through a local copy that the
// stores cannot alias, so the loop compiles to vector instructions.
template <class In, class Out>
Out* CopyAscii(const In* from, const In* to, Out* out) {
    constexpr size_t kBlock = 16;
    for (; static_cast<size_t>(to - from) >= kBlock; from += kBlock, out += kBlock) {
        In units[kBlock];
        std::memcpy(units, from, sizeof units);
        for (size_t k = 0; k < kBlock; ++k) out[k] = static_cast<Out>(units[k]);
    }
    while (from < to) *out++ = static_cast<Out>(*from++);
    return out;
}

}  // namespace utf
}  // namespace mjbase

#endif  // MJBASE_UTF_H
