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

    // Room for `bytes` of text in all, so that a record of known size is
    // built without a reallocation (and copy) on the way.
    Record& reserve(size_t bytes) {
        text_.reserve(bytes);
        return *this;
    }

    uint32_t level() const { return level_; }
    const std::string& text() const { return text_; }

private:
    uint32_t level_;
    int uncaught_;  // exceptions in flight when the record was begun
    std::string text_;
};

// The three levels the library writes at.
inline Record Info() { return Record(kLevelInfo); }
inline Record Warn() { return Record(kLevelWarn); }
inline Record Error() { return Record(kLevelError); }

}  // namespace log
}  // namespace qn

#endif  // QN_LOG_LOG_RECORD_H
