#include "log/log_record.h"

#include "log/logger.h"

namespace qn {
namespace log {

Record::~Record() {
    // A destructor must not throw; a record that cannot be written is lost.
    try {
        CLogger::instance().Write(text_, level_);
    } catch (...) {
    }
}

Record& Record::operator<<(const char* text) {
    text_ += text != nullptr ? text : "(null)";
    return *this;
}

}  // namespace log
}  // namespace qn
