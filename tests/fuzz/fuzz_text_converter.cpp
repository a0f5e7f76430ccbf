// MJBase's text converter on arbitrary text, both directions, both code
// pages, any capacity. The output is terminated inside the capacity; bad
// input is replaced, never the end of the output (text after it, and every
// ASCII character, arrives); a smaller capacity gives a prefix cut before a
// whole character; valid text converts as iconv does and round-trips.
#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "object.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

// Converts into a buffer of exactly `cap` units, so that AddressSanitizer
// sees any write past it; checks the terminator and returns the output.
template <class Out, class In>
std::basic_string<Out> convert(uint32_t request, uint32_t code_page, const std::basic_string<In>& src, uint32_t cap,
                               mj::result_t* rc) {
    static auto* converter = static_cast<mj::IMJTextConverter*>(mjbase::NewTextConverter());
    std::vector<Out> dst(cap);
    mj::MJConvertRequest req{code_page, static_cast<uint32_t>(src.size()), cap, 7, src.data(), dst.data()};
    *rc = converter->Convert(request, &req);
    check(req.result < cap && dst[req.result] == Out(0));
    return std::basic_string<Out>(dst.data(), req.result);
}

template <class S>
long ascii_count(const S& s) {
    return std::count_if(s.begin(), s.end(), [](auto unit) { return static_cast<uint32_t>(unit) < 0x80; });
}

// Units of the character that starts at unit `u`; 0 inside one.
size_t char_units(mj::wchar u) { return u >= 0xDC00 && u <= 0xDFFF ? 0 : u >= 0xD800 && u <= 0xDBFF ? 2 : 1; }
size_t char_units(char b) {
    const auto c = static_cast<unsigned char>(b);
    return c < 0x80 ? 1 : c < 0xC0 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
}

template <class S>
std::string bytes_of(const S& s) {
    return std::string(reinterpret_cast<const char*>(s.data()), s.size() * sizeof s[0]);
}

// iconv's conversion of valid text; false for text that is not.
bool by_iconv(const char* to, const char* from, const std::string& in, std::string* out) {
    iconv_t cd = iconv_open(to, from);
    out->assign(in.size() * 2 + 4, '\0');
    char* src = const_cast<char*>(in.data());
    char* dst = &(*out)[0];
    size_t left = in.size(), room = out->size();
    const bool ok = iconv(cd, &src, &left, &dst, &room) != static_cast<size_t>(-1);
    iconv_close(cd);
    out->resize(out->size() - room);
    return ok;
}

template <class Out, class In>
void run(uint32_t request, uint32_t code_page, std::basic_string<In> src, uint32_t selector) {
    // A sentinel below 0x40 ends the source: no UTF-8 sequence or code page
    // 936 pair can take it in, so it must come out last, unless bad input cut.
    src += In('0'), src += In('9');
    const auto full_cap = static_cast<uint32_t>(src.size() * 3 + 1);  // any unit's worst case
    mj::result_t rc = 0;
    const std::basic_string<Out> full = convert<Out>(request, code_page, src, full_cap, &rc);
    const std::basic_string<Out> sentinel{Out('0'), Out('9')};
    check(rc == mj::MJ_S_OK && full.size() >= 2 && full.compare(full.size() - 2, 2, sentinel) == 0);

    const uint32_t cap = 1 + selector % full_cap;
    const std::basic_string<Out> cut = convert<Out>(request, code_page, src, cap, &rc);
    check(full.compare(0, cut.size(), cut) == 0);
    check(rc == (cut.size() == full.size() ? mj::MJ_S_OK : mj::MJ_E_MORE_DATA));
    if (cut.size() < full.size() && (code_page == mj::MJ_CP_UTF8 || sizeof(Out) == 2)) {
        const size_t next = char_units(full[cut.size()]);
        check(next != 0 && cut.size() + next > cap - 1);  // a boundary, and only what did not fit left out
    }

    if (code_page != mj::MJ_CP_UTF8) return;
    check(ascii_count(full) == ascii_count(src));  // replacements never take ASCII along
    std::string reference;
    const char* to = sizeof(Out) == 2 ? "UTF-16LE" : "UTF-8";
    if (!by_iconv(to, sizeof(In) == 2 ? "UTF-16LE" : "UTF-8", bytes_of(src), &reference)) return;
    check(bytes_of(full) == reference);
    const uint32_t back = request == mj::MJ_CONVERT_TO_WIDE ? mj::MJ_CONVERT_FROM_WIDE : mj::MJ_CONVERT_TO_WIDE;
    check(convert<In>(back, code_page, full, static_cast<uint32_t>(src.size() + 1), &rc) == src);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const uint32_t code_page = (data[0] & 1) != 0 ? mj::MJ_CP_GBK : mj::MJ_CP_UTF8;
    const uint32_t selector = static_cast<uint32_t>(data[1]) | (static_cast<uint32_t>(data[2]) << 8);
    const std::string narrow(reinterpret_cast<const char*>(data + 3), size - 3);
    if ((data[0] & 2) != 0) {
        std::basic_string<mj::wchar> wide(narrow.size() / 2, 0);
        std::memcpy(&wide[0], narrow.data(), wide.size() * 2);
        run<char>(mj::MJ_CONVERT_FROM_WIDE, code_page, wide, selector);
    } else {
        run<mj::wchar>(mj::MJ_CONVERT_TO_WIDE, code_page, narrow, selector);
    }
    return 0;
}
