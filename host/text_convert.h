// Conversions between the library's UTF-8, the host's wide (UTF-16) text and
// code page 936. All of them are done by MJBase's text converter; each
// returns empty text on any failure.
#ifndef QN_HOST_TEXT_CONVERT_H
#define QN_HOST_TEXT_CONVERT_H

#include <string>

#include "mj/mj_interfaces.h"

namespace qn {

using mjwstring = std::basic_string<mj::wchar>;

std::string WideToUtf8(const mj::wchar* text);
mjwstring Utf8ToWide(const char* text);
std::string WideToCp936(const mj::wchar* text);

inline std::string WideToUtf8(const mjwstring& text) { return WideToUtf8(text.c_str()); }
inline mjwstring Utf8ToWide(const std::string& text) { return Utf8ToWide(text.c_str()); }

}  // namespace qn

#endif  // QN_HOST_TEXT_CONVERT_H
