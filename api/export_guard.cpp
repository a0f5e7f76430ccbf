#include "api/export_guard.h"

#include "log/log_record.h"

namespace qn {
namespace api {

void log_escaped_exception(const char* export_name, const char* what) noexcept {
    try {
        qn::log::Error() << export_name << ": " << what << "\n";
    } catch (...) {
        // Nothing left to report with.
    }
}

}  // namespace api
}  // namespace qn
