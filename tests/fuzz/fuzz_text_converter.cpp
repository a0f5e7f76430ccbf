// MJBase's text converter on arbitrary text, both directions, both code
// pages, any capacity. The output is terminated inside the capacity; bad
// input is replaced, never the end of the output (text after it, and every
// ASCII character, arrives); a smaller capacity gives a prefix cut before a
// whole character; valid UTF-8 converts as iconv does and round-trips.
#include <iconv.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "object.h"

namespace {

using Wide = std::basic_string<mj::wchar>;

void check(bool condition) {
    if (!condition) std::abort();
}

mj::IMJTextConverter* converter() {
    static auto* made = static_cast<mj::IMJTextConverter*>(mjbase::NewTextConverter());
    return made;
}

// Converts into a buffer of exactly `cap` units, so that AddressSanitizer
// sees any write past it; checks the terminator and returns the output.
template <class Out, class In>
std::basic_string<Out> convert(uint32_t request, uint32_t code_page, const std::basic_string<In>& src, uint32_t cap,
                               mj::result_t* rc) {
    std::vector<Out> dst(cap);
    mj::MJConvertRequest req{code_page, static_cast<uint32_t>(src.size()), cap, 7, src.data(), dst.data()};
    *rc = converter()->Convert(request, &req);
    check(req.result < cap && dst[req.result] == Out(0));
    return std::basic_string<Out>(dst.data(), req.result);
}

template <class S>
size_t ascii_count(const S& s) {
    size_t n = 0;
    for (auto unit : s) n += static_cast<uint32_t>(unit) < 0x80;
    return n;
}

// Units of the character that starts at unit `u`; 0 inside one.
size_t char_units(mj::wchar u) { return u >= 0xDC00 && u <= 0xDFFF ? 0 : u >= 0xD800 && u <= 0xDBFF ? 2 : 1; }
size_t char_units(char b) {
    const auto c = static_cast<unsigned char>(b);
    return c < 0x80 ? 1 : c < 0xC0 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
}

Wide without_lone_surrogates(const Wide& s) {
    Wide out = s;
    for (size_t i = 0; i < out.size(); ++i) {
        const bool high = out[i] >= 0xD800 && out[i] <= 0xDBFF, low = out[i] >= 0xDC00 && out[i] <= 0xDFFF;
        if (high && i + 1 < out.size() && out[i + 1] >= 0xDC00 && out[i + 1] <= 0xDFFF) {
            ++i;
        } else if (high || low) {
            out[i] = 0xFFFD;
        }
    }
    return out;
}

// iconv's UTF-16 for valid UTF-8; false for anything else.
bool iconv_utf16(const std::string& utf8, Wide* out) {
    iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
    std::vector<char> buf(utf8.size() * 2 + 2);
    char* in = const_cast<char*>(utf8.data());
    char* o = buf.data();
    size_t in_left = utf8.size(), out_left = buf.size();
    const bool ok = iconv(cd, &in, &in_left, &o, &out_left) != static_cast<size_t>(-1);
    iconv_close(cd);
    out->resize((buf.size() - out_left) / 2);
    std::memcpy(&(*out)[0], buf.data(), out->size() * 2);
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
    check(rc == mj::MJ_S_OK && full.size() >= 2 && full.compare(full.size() - 2, 2, std::basic_string<Out>{Out('0'), Out('9')}) == 0);
    if (code_page == mj::MJ_CP_UTF8) check(ascii_count(full) == ascii_count(src));

    const uint32_t cap = 1 + selector % full_cap;
    const std::basic_string<Out> cut = convert<Out>(request, code_page, src, cap, &rc);
    check(full.compare(0, cut.size(), cut) == 0);
    check(rc == (cut.size() == full.size() ? mj::MJ_S_OK : mj::MJ_E_MORE_DATA));
    if (cut.size() < full.size() && (code_page == mj::MJ_CP_UTF8 || sizeof(Out) == 2)) {
        const size_t next = char_units(full[cut.size()]);
        check(next != 0 && cut.size() + next > cap - 1);  // a boundary, and only what did not fit left out
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const uint32_t code_page = (data[0] & 1) != 0 ? mj::MJ_CP_GBK : mj::MJ_CP_UTF8;
    const uint32_t selector = data[1] | (data[2] << 8);
    const std::string narrow(reinterpret_cast<const char*>(data + 3), size - 3);
    if ((data[0] & 2) != 0) {
        Wide wide(narrow.size() / 2, 0);
        std::memcpy(&wide[0], narrow.data(), wide.size() * 2);
        run<char>(mj::MJ_CONVERT_FROM_WIDE, code_page, wide, selector);
        if (code_page != mj::MJ_CP_UTF8) return 0;
        mj::result_t rc = 0;
        const std::string utf8 = convert<char>(mj::MJ_CONVERT_FROM_WIDE, code_page, wide, uint32_t(wide.size() * 3 + 1), &rc);
        check(convert<mj::wchar>(mj::MJ_CONVERT_TO_WIDE, code_page, utf8, uint32_t(utf8.size() + 1), &rc) ==
              without_lone_surrogates(wide));
        return 0;
    }
    run<mj::wchar>(mj::MJ_CONVERT_TO_WIDE, code_page, narrow, selector);
    Wide expected;
    if (code_page != mj::MJ_CP_UTF8 || !iconv_utf16(narrow, &expected)) return 0;
    mj::result_t rc = 0;
    const Wide wide = convert<mj::wchar>(mj::MJ_CONVERT_TO_WIDE, code_page, narrow, uint32_t(narrow.size() + 1), &rc);
    check(wide == expected);
    check(convert<char>(mj::MJ_CONVERT_FROM_WIDE, code_page, wide, uint32_t(narrow.size() + 1), &rc) == narrow);
    return 0;
}
