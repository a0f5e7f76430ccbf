// The text converter: UTF-16 <-> UTF-8 converted here directly, UTF-16 <->
// code page 936 (GBK) through iconv, or on Windows through the system's
// converter (text_converter_win32.cpp); both keep this contract.
//
// Convert(request, req):
// - req null: MJ_E_POINTER. Otherwise req->result is set: the units written,
//   terminator excluded (0 on every failure).
// - dst_cap > 0 with dst null, or src_len > 0 with src null: MJ_E_POINTER.
// - dst_cap == 0: nothing written; MJ_S_OK for an empty source, else
//   MJ_E_MORE_DATA.
// - An unknown request or code page: empty output, MJ_E_FAIL.
// - Otherwise the output is always terminated within dst_cap. The whole
//   source converted: MJ_S_OK. When it does not fit, the output ends before
//   the first character that does not fit along with the terminator:
//   MJ_E_MORE_DATA. A character is never split (no half surrogate pair, no
//   part of a UTF-8 or code page 936 multi-byte sequence).
// - Nothing in the source stops a conversion; what cannot be converted is
//   replaced and the conversion goes on:
//     UTF-8 -> UTF-16: U+FFFD for each maximal subpart of an ill-formed
//       sequence (see utf.h); the bytes after it are converted as usual.
//     UTF-16 -> UTF-8: U+FFFD for each surrogate without its partner.
//     UTF-16 -> 936: "?" for each character code page 936 lacks (a
//       surrogate pair is one character) and for each lone surrogate.
//     936 -> UTF-16: U+FFFD for each byte that starts no character of code
//       page 936 (a lead byte whose trail byte is missing or does not form a
//       character with it: the lead byte alone is replaced, the next byte is
//       read afresh).
// - A U+0000 in the source is converted like any other character.
#if !defined(_WIN32)
#include <iconv.h>
#endif

#include <cerrno>
#include <cstring>

#include "cp936.h"
#include "object.h"
#include "utf.h"

namespace mjbase {

namespace {

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr const char kWideEncoding[] = "UTF-16BE";
#else
constexpr const char kWideEncoding[] = "UTF-16LE";
#endif

constexpr char kNarrowReplacement = '?';

// ---- UTF-8 <-> UTF-16 -----------------------------------------------------

inline char32_t Next(const unsigned char*& p, const unsigned char* end) { return utf::NextFromUtf8(p, end); }
inline char32_t Next(const mj::wchar*& p, const mj::wchar* end) { return utf::NextFromUtf16(p, end); }
inline size_t Units(char32_t c, const char*) { return utf::Utf8Length(c); }
inline size_t Units(char32_t c, const mj::wchar*) { return utf::Utf16Length(c); }
inline char* Put(char32_t c, char* out) { return utf::PutUtf8(c, out); }
inline mj::wchar* Put(char32_t c, mj::wchar* out) { return utf::PutUtf16(c, out); }

// The end of the run of units below 0x80 at p, found a word at a time.
template <class In>
const In* AsciiRun(const In* p, const In* end) {
    // The bits that are zero in every unit below 0x80, 8 or 16 bits wide.
    constexpr uint64_t kHighBits = sizeof(In) == 1 ? 0x8080808080808080u : 0xFF80FF80FF80FF80u;
    constexpr size_t kPerWord = sizeof(uint64_t) / sizeof(In);
    for (; static_cast<size_t>(end - p) >= kPerWord; p += kPerWord) {
        uint64_t word;
        std::memcpy(&word, p, sizeof word);
        if ((word & kHighBits) != 0) break;
    }
    while (p < end && static_cast<uint32_t>(*p) < 0x80) ++p;
    return p;
}

// Converts [p, end) into at most `room` units at `out`; sets *written.
template <class In, class Out>
mj::result_t Transcode(const In* p, const In* end, Out* out, size_t room, size_t* written) {
    Out* const begin = out;
    Out* const limit = out + room;
    while (p < end) {
        // ASCII, most of any text, needs no decoding.
        const In* run = AsciiRun(p, end - p > limit - out ? p + (limit - out) : end);
        out = utf::CopyAscii(p, run, out);
        p = run;
        if (p == end || out == limit) break;
        const In* at = p;
        const char32_t c = Next(p, end);
        if (static_cast<size_t>(limit - out) < Units(c, out)) {
            p = at;
            break;
        }
        out = Put(c, out);
    }
    *written = static_cast<size_t>(out - begin);
    return p == end ? mj::MJ_S_OK : mj::MJ_E_MORE_DATA;
}

// ---- code page 936 ---------------------------------------------------------
#if !defined(_WIN32)

// iconv descriptors carry conversion state and must not be shared between
// threads; opening one per call costs a module lookup under a global lock.
// So every thread keeps its own pair, opened on first use and closed when
// the thread ends.
class ThreadDescriptors {
public:
    ThreadDescriptors() = default;
    ThreadDescriptors(const ThreadDescriptors&) = delete;
    ThreadDescriptors& operator=(const ThreadDescriptors&) = delete;
    ~ThreadDescriptors() {
        for (iconv_t& cd : slots_) {
            if (cd != kNone) iconv_close(cd);
        }
    }

    // kNone when the system cannot convert this pair.
    iconv_t Get(bool to_wide) {
        iconv_t& cd = slots_[to_wide ? 1 : 0];
        if (cd == kNone) {
            cd = to_wide ? iconv_open(kWideEncoding, "GBK") : iconv_open("GBK", kWideEncoding);
        } else {
            iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
        }
        return cd;
    }

    static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);

private:
    iconv_t slots_[2] = {kNone, kNone};
};

// Converts with iconv, replacing what it rejects (see the contract above).
// iconv only ever writes whole characters, so running out of room cuts at a
// boundary.
mj::result_t ConvertGbk(iconv_t cd, bool to_wide, const char* src, size_t src_bytes, char* dst, size_t room,
                        size_t* written) {
    char* in = const_cast<char*>(src);
    char* out = dst;
    size_t out_left = room;
    mj::result_t rc = mj::MJ_S_OK;
    while (src_bytes > 0) {
        if (iconv(cd, &in, &src_bytes, &out, &out_left) != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) {
            rc = mj::MJ_E_MORE_DATA;
            break;
        }
        if (errno != EILSEQ && errno != EINVAL) {
            rc = mj::MJ_E_FAIL;
            break;
        }
        // EILSEQ: a sequence iconv rejects; EINVAL: one cut off at the end.
        size_t skip = 1;
        if (to_wide) {
            if (out_left < sizeof(mj::wchar)) {
                rc = mj::MJ_E_MORE_DATA;
                break;
            }
            const mj::wchar replacement = static_cast<mj::wchar>(utf::kReplacement);
            std::memcpy(out, &replacement, sizeof replacement);
            out += sizeof replacement, out_left -= sizeof replacement;
        } else {
            if (out_left < 1) {
                rc = mj::MJ_E_MORE_DATA;
                break;
            }
            *out++ = kNarrowReplacement, --out_left;
            mj::wchar unit[2] = {0, 0};
            std::memcpy(unit, in, src_bytes >= sizeof unit ? sizeof unit : sizeof(mj::wchar));
            const bool pair = src_bytes >= sizeof unit && utf::IsHighSurrogate(static_cast<uint16_t>(unit[0])) &&
                              utf::IsLowSurrogate(static_cast<uint16_t>(unit[1]));
            skip = (pair ? 2 : 1) * sizeof(mj::wchar);
        }
        in += skip, src_bytes -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    *written = room - out_left;
    return rc;
}

}  // namespace

mj::result_t ConvertCp936(bool to_wide, const void* src, size_t src_len, void* dst, size_t room, size_t* written) {
    *written = 0;
    thread_local ThreadDescriptors descriptors;
    iconv_t cd = descriptors.Get(to_wide);
    if (cd == ThreadDescriptors::kNone) return mj::MJ_E_FAIL;
    const size_t src_unit = to_wide ? 1 : sizeof(mj::wchar);
    const size_t dst_unit = to_wide ? sizeof(mj::wchar) : 1;
    const mj::result_t rc = ConvertGbk(cd, to_wide, static_cast<const char*>(src), src_len * src_unit,
                                       static_cast<char*>(dst), room * dst_unit, written);
    *written /= dst_unit;
    return rc;
}

namespace {

#endif  // !_WIN32

class TextConverter final : public Object<TextConverter, mj::IMJTextConverter> {
public:
    mj::result_t MJ_CALL Convert(uint32_t request, mj::MJConvertRequest* req) override {
        if (req == nullptr) return mj::MJ_E_POINTER;
        req->result = 0;
        if (req->dst_cap > 0 && req->dst == nullptr) return mj::MJ_E_POINTER;

        if (request != mj::MJ_CONVERT_FROM_WIDE && request != mj::MJ_CONVERT_TO_WIDE) {
            // The destination unit is unknown; two zero bytes end the text
            // either way, one is all a one-unit narrow buffer can take.
            if (req->dst_cap > 0) std::memset(req->dst, 0, req->dst_cap >= 2 ? 2 : 1);
            return mj::MJ_E_FAIL;
        }
        const bool to_wide = request == mj::MJ_CONVERT_TO_WIDE;
        const size_t dst_unit = to_wide ? sizeof(mj::wchar) : 1;
        if (req->dst_cap == 0) return req->src_len == 0 ? mj::MJ_S_OK : mj::MJ_E_MORE_DATA;
        std::memset(req->dst, 0, dst_unit);

        if (req->code_page != mj::MJ_CP_UTF8 && req->code_page != mj::MJ_CP_GBK) return mj::MJ_E_FAIL;
        if (req->src_len == 0) return mj::MJ_S_OK;
        if (req->src == nullptr) return mj::MJ_E_POINTER;

        // One unit stays free for the terminator.
        const size_t room = static_cast<size_t>(req->dst_cap) - 1;
        size_t written = 0;
        mj::result_t rc;
        if (req->code_page == mj::MJ_CP_UTF8 && to_wide) {
            const auto* src = static_cast<const unsigned char*>(req->src);
            rc = Transcode(src, src + req->src_len, static_cast<mj::wchar*>(req->dst), room, &written);
        } else if (req->code_page == mj::MJ_CP_UTF8) {
            const auto* src = static_cast<const mj::wchar*>(req->src);
            rc = Transcode(src, src + req->src_len, static_cast<char*>(req->dst), room, &written);
        } else {
            rc = ConvertCp936(to_wide, req->src, req->src_len, req->dst, room, &written);
        }
        std::memset(static_cast<char*>(req->dst) + written * dst_unit, 0, dst_unit);
        req->result = static_cast<uint32_t>(written);
        return rc;
    }
};

}  // namespace

mj::IMJObject* NewTextConverter() {
    return mj::NewObject<TextConverter>();
}

}  // namespace mjbase
