// Code page 936 (GBK) for the text converter: iconv in text_converter.cpp,
// the system's converter on Windows (text_converter_win32.cpp).
#ifndef MJBASE_CP936_H
#define MJBASE_CP936_H

#include <cstddef>

#include "mj/mj_interfaces.h"

namespace mjbase {

// Converts `src_len` units at `src` (bytes of code page 936 when `to_wide`,
// else UTF-16 units) into at most `room` units at `dst`, without a
// terminator, replacing what cannot be converted as the converter's
// contract says; sets *written. MJ_S_OK when all of it fitted,
// MJ_E_MORE_DATA when it was cut before a character, MJ_E_FAIL when the
// system cannot convert at all.
mj::result_t ConvertCp936(bool to_wide, const void* src, size_t src_len, void* dst, size_t room, size_t* written);

}  // namespace mjbase

#endif
