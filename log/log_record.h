// Log records: text built by chained appends and handed to the logger when
// the statement that built it ends.
//
//     qn::log::Warn() << "url == NULL" << "\n";
//
// Appends add no separators; callers write their own spaces and the final
// line feed. Every ended record is sent; the sink decides what to keep.
#ifndef QN_LOG_LOG_RECORD_H
#define QN_LOG_LOG_RECORD_H

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <type_traits>

namespace qn {
namespace log {

// Text a record refers to instead of copying it; see Record.
struct Borrowed {
    const char* text;
};

constexpr uint32_t kLevelInfo = 25;
constexpr uint32_t kLevelWarn = 30;
constexpr uint32_t kLevelError = 35;

class Record {
public:
    explicit Record(uint32_t level) : level_(level), uncaught_(std::uncaught_exceptions()) {}
    ~Record();
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;

    // A null pointer appends "(null)".
    Record& operator<<(const char* text);
    Record& operator<<(const std::string& text) {
        text_ += text;
        return *this;
    }
    // Integers (and enums such as CURLcode) in plain decimal.
    template <class T,
              typename std::enable_if<(std::is_integral<T>::value || std::is_enum<T>::value) &&
                                          !std::is_same<T, bool>::value &&
                                          !std::is_same<T, char>::value,
                                      int>::type = 0>
    Record& operator<<(T value) {
        using Wide = typename std::conditional<
            std::is_enum<T>::value, long long,
            typename std::conditional<std::is_signed<T>::value, long long,
                                      unsigned long long>::type>::type;
        text_ += std::to_string(static_cast<Wide>(value));
        return *this;
    }

    // Appends `text` (a null pointer: "(null)") without copying it: the
    // record refers to the caller's text until it ends, at the end of the
    // statement that built it, so only text that outlives that statement
    // may be lent, such as a buffer the caller holds. Made for the dump
    // line, whose response body (of any size) would otherwise be copied
    // into the record once more. Beyond kMaxBorrowed texts, the rest are
    // copied.
    Record& operator<<(Borrowed text);

    // A lent text and where it stands in the record's own text.
    struct Lent {
        size_t at;
        const char* text;
        size_t size;
    };
    static constexpr size_t kMaxBorrowed = 2;

    uint32_t level() const { return level_; }
    // The record's own text; the whole text is this with the lent texts
    // inserted at their places, in order.
    const std::string& text() const { return text_; }
    const Lent* lent() const { return lent_; }
    size_t lent_count() const { return lent_count_; }

private:
    uint32_t level_;
    int uncaught_;  // exceptions in flight when the record was begun
    std::string text_;
    Lent lent_[kMaxBorrowed] = {};
    size_t lent_count_ = 0;
};

// The three levels the library writes at.
inline Record Info() { return Record(kLevelInfo); }
inline Record Warn() { return Record(kLevelWarn); }
inline Record Error() { return Record(kLevelError); }

}  // namespace log
}  // namespace qn

#endif  // QN_LOG_LOG_RECORD_H
