#include "text.h"

#include <cstdlib>

#include "platform.h"
#include "utf.h"

namespace mjbase {

std::string WideToUtf8(const mj::wchar* text) {
    std::string out;
    if (text == nullptr) return out;
    const mj::wchar* p = text;
    const mj::wchar* end = p + std::char_traits<mj::wchar>::length(text);
    char bytes[4];
    while (p < end) out.append(bytes, utf::PutUtf8(utf::NextFromUtf16(p, end), bytes));
    return out;
}

WideString Utf8ToWide(const std::string& text) {
    WideString out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    mj::wchar units[2];
    while (p < end) out.append(units, utf::PutUtf16(utf::NextFromUtf8(p, end), units));
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
