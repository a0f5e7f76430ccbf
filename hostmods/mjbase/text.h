// Text helpers inside MJBase: the lenient UTF-8 / UTF-16 conversions used
// for paths and log text (the strict, code-page-aware conversions are the
// text converter's job), and the configuration directory.
#ifndef MJBASE_TEXT_H
#define MJBASE_TEXT_H

#include <string>

#include "mj/mj_interfaces.h"

namespace mjbase {

using WideString = std::basic_string<mj::wchar>;

// Both conversions replace what cannot be decoded (lone surrogates,
// malformed UTF-8) with U+FFFD instead of failing: a log line or a path
// with one bad character is still worth keeping.
std::string WideToUtf8(const mj::wchar* text);
WideString Utf8ToWide(const std::string& text);

// The configuration directory, always ending in "/": $MJ_CONFIG_DIR when it
// is set and not empty, else "config/" beside the host executable.
std::string ConfigDir();

}  // namespace mjbase

#endif  // MJBASE_TEXT_H
