#include "log/log_record.h"

#include "log/logger.h"

namespace qn {
namespace log {

Record::~Record() {
    // A record whose building was cut short by an exception (an append that
    // ran out of memory) is not written half-made.
    if (std::uncaught_exceptions() > uncaught_) return;
    // A destructor must not throw; a record that cannot be written is lost.
    try {
        CLogger::instance().Write(*this);
    } catch (...) {
    }
}

Record& Record::operator<<(const char* text) {
    text_ += text != nullptr ? text : "(null)";
    return *this;
}

Record& Record::operator<<(Borrowed lent) {
    if (lent.text == nullptr || lent_count_ == kMaxBorrowed) return *this << lent.text;
    lent_[lent_count_++] = Lent{text_.size(), lent.text, std::char_traits<char>::length(lent.text)};
    return *this;
}

}  // namespace log
}  // namespace qn
