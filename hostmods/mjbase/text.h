// Text helpers inside MJBase: UTF-8 / UTF-16 conversions into strings, for
// names and paths (the text converter object works on the caller's
// buffers), and the configuration directory.
#ifndef MJBASE_TEXT_H
#define MJBASE_TEXT_H

#include <string>

#include "mj/mj_interfaces.h"

namespace mjbase {

using WideString = std::basic_string<mj::wchar>;

// Both conversions replace what cannot be decoded (lone surrogates,
// malformed UTF-8) with U+FFFD instead of failing, as utf.h describes.
std::string WideToUtf8(const mj::wchar* text);
WideString Utf8ToWide(const std::string& text);

// The configuration directory, always ending in "/": $MJ_CONFIG_DIR when it
// is set and not empty, else "config/" beside the host executable.
std::string ConfigDir();

}  // namespace mjbase

#endif  // MJBASE_TEXT_H
