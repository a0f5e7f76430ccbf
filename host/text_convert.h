// Conversions between the library's UTF-8, the host's wide (UTF-16) text and
// code page 936. All of them are done by MJBase's text converter; each
// returns empty text on any failure.
#ifndef QN_HOST_TEXT_CONVERT_H
#define QN_HOST_TEXT_CONVERT_H

#include <cstddef>
#include <string>

#include "mj/mj_interfaces.h"

namespace qn {

using mjwstring = std::basic_string<mj::wchar>;

std::string WideToUtf8(const mj::wchar* text);
mjwstring Utf8ToWide(const char* text);
std::string WideToCp936(const mj::wchar* text);

inline std::string WideToUtf8(const mjwstring& text) { return WideToUtf8(text.c_str()); }
inline mjwstring Utf8ToWide(const std::string& text) { return Utf8ToWide(text.c_str()); }

// UTF-8 text in pieces that are not joined in memory.
struct TextPiece {
    const char* text;
    size_t size;
};

// Wide text in a block that moves without a copy, NUL-terminated: what the
// logger hands the sink. A short record's text lives in a block of the
// converting thread's own, a longer one's up to about 256 KB in a block
// from a small pool the conversions reuse, so converting a record
// allocates nothing (and touches no fresh page) in the common case; a
// longer one gets a block of its own. A WideText therefore ends on the
// thread that made it. Throws std::bad_alloc when no block can be had.
class WideText {
public:
    WideText() = default;
    ~WideText();
    WideText(WideText&& other) noexcept;
    WideText& operator=(WideText&& other) noexcept;
    WideText(const WideText&) = delete;
    WideText& operator=(const WideText&) = delete;

    const mj::wchar* c_str() const;
    size_t size() const { return size_; }

private:
    friend WideText Utf8ToWideText(const TextPiece* pieces, size_t count);
    void reset();

    enum class Owner { kHeap, kPool, kThread };

    mj::wchar* block_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    Owner owner_ = Owner::kHeap;
};

// Utf8ToWide for text of any size, the log records above all: the same
// conversion and result, converted straight into the block that is
// returned rather than into a buffer that is then copied.
WideText Utf8ToWideText(const char* text);

// The same for the text the pieces make when joined (up to its first NUL),
// without joining them: each piece is converted where the one before ended.
// Should a piece end inside a multi-byte sequence that the next continues,
// the pieces are joined first, so the result is always the joined text's.
WideText Utf8ToWideText(const TextPiece* pieces, size_t count);

}  // namespace qn

#endif  // QN_HOST_TEXT_CONVERT_H
