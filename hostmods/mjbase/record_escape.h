// How a record's wide text becomes the text of one log line: UTF-8 in which
// nothing can end the line or pass for another record.
//
//   \   -> \\             (so every other backslash in a line starts an escape)
//   LF  -> \n,  CR -> \r,  TAB -> \t
//   any other byte below 0x20, and 0x7F     -> \xNN    (two upper-case hex digits)
//   C1 controls U+0080..U+009F (NEL among them), LINE SEPARATOR U+2028,
//   PARAGRAPH SEPARATOR U+2029, which some readers take for line ends
//                                           -> \uNNNN  (four upper-case hex digits)
//   a surrogate without its partner         -> U+FFFD
//   everything else                         -> itself, in UTF-8
//
// Reading a line back is the reverse: "\\" is one backslash, and a backslash
// never stands alone. The record's own final line feed is not part of what
// is escaped; the sink drops it and ends the line itself.
#ifndef MJBASE_RECORD_ESCAPE_H
#define MJBASE_RECORD_ESCAPE_H

#include <cstddef>

#include "mj/mj_interfaces.h"

namespace mjbase {

// No unit becomes more than this many bytes (\uNNNN).
constexpr size_t kMaxEscapedBytesPerUnit = 6;

// The bytes EscapeRecord writes for `n` units at `text`.
size_t EscapedSize(const mj::wchar* text, size_t n);

// Writes the escaped form of `n` units at `text` to `out`, which has room
// for EscapedSize(text, n) bytes, and returns the end of what it wrote.
char* EscapeRecord(const mj::wchar* text, size_t n, char* out);

}  // namespace mjbase

#endif  // MJBASE_RECORD_ESCAPE_H
