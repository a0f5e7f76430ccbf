#include "text.h"

#include <cstdint>
#include <cstdlib>

#include "platform.h"

namespace mjbase {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendWide(WideString& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<mj::wchar>(c);
    } else {
        c -= 0x10000;
        out += static_cast<mj::wchar>(0xD800 + (c >> 10));
        out += static_cast<mj::wchar>(0xDC00 + (c & 0x3FF));
    }
}

bool IsHigh(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

std::string WideToUtf8(const mj::wchar* text) {
    std::string out;
    if (text == nullptr) return out;
    for (const mj::wchar* p = text; *p != 0; ++p) {
        const uint32_t u = static_cast<uint16_t>(*p);
        if (IsHigh(u) && IsLow(static_cast<uint16_t>(p[1]))) {
            const uint32_t low = static_cast<uint16_t>(*++p);
            AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        } else if (IsHigh(u) || IsLow(u)) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

WideString Utf8ToWide(const std::string& text) {
    WideString out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char b = s[i];
        size_t len;
        char32_t c;
        char32_t min;
        if (b < 0x80) {
            out += static_cast<mj::wchar>(b);
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            len = 2, c = b & 0x1F, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3, c = b & 0x0F, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4, c = b & 0x07, min = 0x10000;
        } else {
            AppendWide(out, kReplacement);
            ++i;
            continue;
        }
        size_t k = 1;
        for (; k < len && i + k < n && (s[i + k] & 0xC0) == 0x80; ++k) c = (c << 6) | (s[i + k] & 0x3F);
        if (k < len || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            // Skip only the bytes that looked like part of the sequence, so
            // a following valid character survives.
            AppendWide(out, kReplacement);
            i += k;
            continue;
        }
        AppendWide(out, c);
        i += len;
    }
    return out;
}

std::string ConfigDir() {
    const char* env = std::getenv("MJ_CONFIG_DIR");
    std::string dir;
    if (env != nullptr && *env != '\0') {
        dir = env;
    } else {
        dir = qn::platform::executable_dir() + "config/";
    }
#if defined(_WIN32)
    if (dir.back() != '/' && dir.back() != '\\') dir += '/';
#else
    if (dir.back() != '/') dir += '/';
#endif
    return dir;
}

}  // namespace mjbase
