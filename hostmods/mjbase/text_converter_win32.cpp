// Code page 936 on Windows, with the system's own converters
// (MultiByteToWideChar, WideCharToMultiByte), for the text converter of
// text_converter.cpp, whose contract this keeps. The system's replacements
// differ from it (a surrogate pair lacking in code page 936 would become
// "??", a byte that starts no character a private-use character), so what
// the system cannot convert is found here and replaced as the contract says.
#include <windows.h>

#include <string>

#include "cp936.h"
#include "utf.h"

namespace mjbase {

namespace {

constexpr UINT kCodePage = 936;
constexpr char kNarrowReplacement = '?';

// One character of code page 936 (one or two bytes) as UTF-16; false when
// the bytes form no character.
bool DecodeOne(const char* bytes, int count, wchar_t* out) {
    return ::MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes, count, out, 1) == 1;
}

// Appends the code page 936 bytes of one UTF-16 character (one unit), or
// "?" when the code page lacks it.
void EncodeOne(wchar_t c, std::string* out) {
    char bytes[2];
    BOOL lacking = FALSE;
    const int n = ::WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, &c, 1, bytes, sizeof bytes, nullptr,
                                        &lacking);
    if (n <= 0 || lacking) {
        out->push_back(kNarrowReplacement);
    } else {
        out->append(bytes, static_cast<size_t>(n));
    }
}

// Whole characters from `text` into `room` units at `dst`; `starts` marks
// where each character begins (and text.size() its end).
template <class Char>
mj::result_t Emit(const std::basic_string<Char>& text, const std::basic_string<size_t>& starts, Char* dst,
                  size_t room, size_t* written) {
    size_t keep = text.size();
    if (keep > room) {
        keep = 0;
        for (size_t start : starts) {
            if (start > room) break;
            keep = start;
        }
    }
    std::char_traits<Char>::copy(dst, text.data(), keep);
    *written = keep;
    return keep == text.size() ? mj::MJ_S_OK : mj::MJ_E_MORE_DATA;
}

mj::result_t ToWide(const char* src, size_t len, wchar_t* dst, size_t room, size_t* written) {
    std::wstring text;
    std::basic_string<size_t> starts;
    for (size_t i = 0; i < len;) {
        const auto byte = static_cast<unsigned char>(src[i]);
        starts.push_back(text.size());
        wchar_t c = 0;
        if (byte < 0x80) {
            c = static_cast<wchar_t>(byte);
            ++i;
        } else if (::IsDBCSLeadByteEx(kCodePage, byte) && i + 1 < len && DecodeOne(src + i, 2, &c)) {
            i += 2;
        } else if (!::IsDBCSLeadByteEx(kCodePage, byte) && DecodeOne(src + i, 1, &c)) {
            ++i;
        } else {
            // Starts no character: replaced alone, the next byte read afresh.
            c = static_cast<wchar_t>(utf::kReplacement);
            ++i;
        }
        text.push_back(c);
    }
    return Emit(text, starts, dst, room, written);
}

mj::result_t FromWide(const wchar_t* src, size_t len, char* dst, size_t room, size_t* written) {
    std::string text;
    std::basic_string<size_t> starts;
    for (size_t i = 0; i < len; ++i) {
        starts.push_back(text.size());
        const auto unit = static_cast<uint16_t>(src[i]);
        if (utf::IsHighSurrogate(unit) || utf::IsLowSurrogate(unit)) {
            // Beyond the BMP (none of it in code page 936), or a lone half:
            // one "?" either way.
            if (utf::IsHighSurrogate(unit) && i + 1 < len && utf::IsLowSurrogate(static_cast<uint16_t>(src[i + 1]))) {
                ++i;
            }
            text.push_back(kNarrowReplacement);
        } else {
            EncodeOne(src[i], &text);
        }
    }
    return Emit(text, starts, dst, room, written);
}

}  // namespace

mj::result_t ConvertCp936(bool to_wide, const void* src, size_t src_len, void* dst, size_t room, size_t* written) {
    *written = 0;
    try {
        return to_wide ? ToWide(static_cast<const char*>(src), src_len, static_cast<wchar_t*>(dst), room, written)
                       : FromWide(static_cast<const wchar_t*>(src), src_len, static_cast<char*>(dst), room, written);
    } catch (...) {  // no memory for the converted text
        return mj::MJ_E_FAIL;
    }
}

}  // namespace mjbase
