#include "record_escape.h"

#include <cstdint>
#include <cstring>

#include "utf.h"

namespace mjbase {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

inline bool Plain(uint32_t u) { return u >= 0x20 && u < 0x7F && u != '\\'; }

// Plain text is scanned four units at a time, in one 64-bit word (the
// lanes are whole units whatever the byte order).
constexpr uint64_t Lanes(uint64_t v) { return v * 0x0001000100010001u; }

// Whether all four units in w are plain. A unit of 0x80 or more shows in
// its high bits; below that each unit is 7 bits wide and adding to it
// cannot carry out of its lane, so bit 7 answers each question:
// x + 0x60 sets it when x >= 0x20, x + 1 when x >= 0x7F, and
// (x ^ '\\') + 0x7F when x != '\\'.
inline bool PlainWord(uint64_t w) {
    const uint64_t other = (w & Lanes(0xFF80)) | (~(w + Lanes(0x60)) & Lanes(0x80)) | ((w + Lanes(1)) & Lanes(0x80)) |
                           (~((w ^ Lanes('\\')) + Lanes(0x7F)) & Lanes(0x80));
    return other == 0;
}

// The end of the run of plain units at p.
const mj::wchar* PlainRun(const mj::wchar* p, const mj::wchar* end) {
    static_assert(sizeof(mj::wchar) == 2, "four units to a word");
    for (; end - p >= 4; p += 4) {
        uint64_t w;
        std::memcpy(&w, p, sizeof w);
        if (!PlainWord(w)) break;
    }
    while (p < end && Plain(static_cast<uint16_t>(*p))) ++p;
    return p;
}

// One pass over the text, either counting (Measure) or writing (Emit) the
// bytes: both sizes and contents come from the same decisions.
struct Measure {
    size_t size = 0;
    void Ascii(const mj::wchar* from, const mj::wchar* to) { size += static_cast<size_t>(to - from); }
    void Bytes(const char*, size_t n) { size += n; }
    void Code(char32_t c) { size += utf::Utf8Length(c); }
};

struct Emit {
    char* out;
    void Ascii(const mj::wchar* from, const mj::wchar* to) { out = utf::CopyAscii(from, to, out); }
    void Bytes(const char* bytes, size_t n) {
        std::memcpy(out, bytes, n);
        out += n;
    }
    void Code(char32_t c) { out = utf::PutUtf8(c, out); }
};

template <class Out>
void Escape(const mj::wchar* p, const mj::wchar* end, Out& out) {
    while (p < end) {
        const mj::wchar* run = p;
        p = PlainRun(p, end);
        out.Ascii(run, p);
        if (p == end) break;
        const char32_t c = utf::NextFromUtf16(p, end);
        char esc[6] = {'\\'};
        switch (c) {
        case '\\': esc[1] = '\\'; out.Bytes(esc, 2); continue;
        case '\n': esc[1] = 'n'; out.Bytes(esc, 2); continue;
        case '\r': esc[1] = 'r'; out.Bytes(esc, 2); continue;
        case '\t': esc[1] = 't'; out.Bytes(esc, 2); continue;
        default: break;
        }
        if (c < 0x20 || c == 0x7F) {
            esc[1] = 'x', esc[2] = kHex[c >> 4], esc[3] = kHex[c & 0xF];
            out.Bytes(esc, 4);
        } else if ((c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029) {
            esc[1] = 'u', esc[2] = kHex[c >> 12], esc[3] = kHex[(c >> 8) & 0xF];
            esc[4] = kHex[(c >> 4) & 0xF], esc[5] = kHex[c & 0xF];
            out.Bytes(esc, 6);
        } else {
            out.Code(c);
        }
    }
}

}  // namespace

size_t EscapedSize(const mj::wchar* text, size_t n) {
    Measure measure;
    Escape(text, text + n, measure);
    return measure.size;
}

char* EscapeRecord(const mj::wchar* text, size_t n, char* out) {
    Emit emit{out};
    Escape(text, text + n, emit);
    return emit.out;
}

}  // namespace mjbase
