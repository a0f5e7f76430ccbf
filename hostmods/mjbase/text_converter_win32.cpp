// The text converter on Windows: the operating system's own converters,
// MultiByteToWideChar and WideCharToMultiByte, for UTF-8 (65001) and the
// Simplified Chinese code page 936.
//
// What cannot be converted is replaced, never a reason to stop: malformed
// UTF-8 and lone surrogates become U+FFFD, characters code page 936 lacks
// become its default character "?". Output that does not fit is cut at the
// last whole character (a surrogate pair, a UTF-8 sequence or a double-byte
// character is never split) and MJ_E_MORE_DATA says so. The output is always
// terminated within dst_cap; `result` counts the units before the terminator.
#include <windows.h>

#include <cstring>
#include <string>

#include "object.h"

namespace mjbase {

namespace {

bool KnownCodePage(uint32_t code_page) {
    return code_page == mj::MJ_CP_UTF8 || code_page == mj::MJ_CP_GBK;
}

// How many of the first `room` bytes of `text` (in `code_page`) end on a
// character boundary.
size_t NarrowBoundary(uint32_t code_page, const std::string& text, size_t room) {
    if (code_page == mj::MJ_CP_UTF8) {
        size_t cut = room;
        // Back off continuation bytes to the lead byte of a cut sequence.
        while (cut > 0 && cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
        return cut;
    }
    size_t at = 0;
    while (at < room) {
        const size_t width = ::IsDBCSLeadByteEx(code_page, static_cast<BYTE>(text[at])) ? 2 : 1;
        if (at + width > room) break;
        at += width;
    }
    return at;
}

int ToWide(uint32_t code_page, const char* src, int src_len, wchar_t* dst, int dst_len) {
    return ::MultiByteToWideChar(code_page, 0, src, src_len, dst, dst_len);
}

int FromWide(uint32_t code_page, const wchar_t* src, int src_len, char* dst, int dst_len) {
    return ::WideCharToMultiByte(code_page, 0, src, src_len, dst, dst_len, nullptr, nullptr);
}

struct Outcome {
    size_t units;  // written, terminator excluded
    mj::result_t rc;
};

// Converts into the `room` units left before the terminator. Text that fits
// is converted in place (its size is asked only when it may not have
// fitted); longer text is converted aside and cut.
Outcome ConvertToWide(uint32_t code_page, const char* src, int src_len, wchar_t* dst, int room) {
    if (room > 0) {
        // Less than the room used: all of it fitted. A full room may hold
        // a cut text (Wine then reports success).
        const int n = ToWide(code_page, src, src_len, dst, room);
        if (n > 0 && n < room) return {static_cast<size_t>(n), mj::MJ_S_OK};
        if (n == 0 && ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {0, mj::MJ_E_FAIL};
    }
    const int need = ToWide(code_page, src, src_len, nullptr, 0);
    if (need <= 0) return {0, mj::MJ_E_FAIL};
    if (need <= room) return {static_cast<size_t>(ToWide(code_page, src, src_len, dst, room)), mj::MJ_S_OK};
    std::wstring all(static_cast<size_t>(need), L'\0');
    ToWide(code_page, src, src_len, &all[0], need);
    size_t keep = static_cast<size_t>(room);
    if (keep > 0 && IS_HIGH_SURROGATE(all[keep - 1])) --keep;
    std::memcpy(dst, all.data(), keep * sizeof(wchar_t));
    return {keep, mj::MJ_E_MORE_DATA};
}

Outcome ConvertFromWide(uint32_t code_page, const wchar_t* src, int src_len, char* dst, int room) {
    if (room > 0) {
        const int n = FromWide(code_page, src, src_len, dst, room);
        if (n > 0 && n < room) return {static_cast<size_t>(n), mj::MJ_S_OK};
        if (n == 0 && ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {0, mj::MJ_E_FAIL};
    }
    const int need = FromWide(code_page, src, src_len, nullptr, 0);
    if (need <= 0) return {0, mj::MJ_E_FAIL};
    if (need <= room) return {static_cast<size_t>(FromWide(code_page, src, src_len, dst, room)), mj::MJ_S_OK};
    std::string all(static_cast<size_t>(need), '\0');
    FromWide(code_page, src, src_len, &all[0], need);
    const size_t keep = NarrowBoundary(code_page, all, static_cast<size_t>(room));
    std::memcpy(dst, all.data(), keep);
    return {keep, mj::MJ_E_MORE_DATA};
}

class TextConverter final : public Object<TextConverter, mj::IMJTextConverter> {
public:
    mj::result_t MJ_CALL Convert(uint32_t request, mj::MJConvertRequest* req) override {
        if (req == nullptr) return mj::MJ_E_POINTER;
        req->result = 0;
        if (req->dst_cap > 0 && req->dst == nullptr) return mj::MJ_E_POINTER;
        const bool to_wide = request == mj::MJ_CONVERT_TO_WIDE;
        const size_t dst_unit = to_wide ? sizeof(wchar_t) : 1;

        if (request != mj::MJ_CONVERT_FROM_WIDE && !to_wide) {
            // The destination unit is unknown; two zero bytes end the text
            // either way, one is all a one-unit narrow buffer can take.
            if (req->dst_cap > 0) std::memset(req->dst, 0, req->dst_cap >= 2 ? 2 : 1);
            return mj::MJ_E_FAIL;
        }
        if (req->dst_cap == 0) return req->src_len == 0 ? mj::MJ_S_OK : mj::MJ_E_MORE_DATA;
        std::memset(req->dst, 0, dst_unit);
        if (!KnownCodePage(req->code_page)) return mj::MJ_E_FAIL;
        if (req->src_len == 0) return mj::MJ_S_OK;
        if (req->src == nullptr) return mj::MJ_E_POINTER;
        // The system converters count in int.
        if (req->src_len > INT32_MAX || req->dst_cap > INT32_MAX) return mj::MJ_E_FAIL;

        const int src_len = static_cast<int>(req->src_len);
        const int room = static_cast<int>(req->dst_cap) - 1;
        Outcome out{0, mj::MJ_E_FAIL};
        try {
            out = to_wide ? ConvertToWide(req->code_page, static_cast<const char*>(req->src), src_len,
                                          static_cast<wchar_t*>(req->dst), room)
                          : ConvertFromWide(req->code_page, static_cast<const wchar_t*>(req->src), src_len,
                                            static_cast<char*>(req->dst), room);
        } catch (...) {  // no memory to set a long text aside
            out = Outcome{0, mj::MJ_E_FAIL};
        }
        std::memset(static_cast<char*>(req->dst) + out.units * dst_unit, 0, dst_unit);
        req->result = static_cast<uint32_t>(out.units);
        return out.rc;
    }
};

}  // namespace

mj::IMJObject* NewTextConverter() {
    return mj::NewObject<TextConverter>();
}

}  // namespace mjbase
