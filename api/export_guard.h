// The boundary every export body runs inside. No exception crosses the C
// interface: running out of memory, or anything else thrown below an
// export, becomes that export's documented failure value and, where the
// logger can still write, one level-35 line naming the export. The one
// exception let through is the engine's load failure (CLibcurlLoadError),
// which by design leaves the export that made the first load.
//
//     extern "C" int quillnet_x(...) {
//         return qn::api::guarded("quillnet_x", -1, [&] { ... });
//     }
#ifndef QN_API_EXPORT_GUARD_H
#define QN_API_EXPORT_GUARD_H

#include <exception>
#include <new>

#include "curl/libcurl_wrapper.h"

namespace qn {
namespace api {

// Logs "<export>: <what>" at level 35; never throws (a logger that cannot
// build the line, for want of memory, drops it).
void log_escaped_exception(const char* export_name, const char* what) noexcept;

template <class Result, class Fn>
Result guarded(const char* export_name, Result failure, Fn&& body) noexcept(false) {
    try {
        return body();
    } catch (const CLibcurlLoadError&) {
        throw;
    } catch (const std::bad_alloc&) {
        log_escaped_exception(export_name, "out of memory");
    } catch (const std::exception& e) {
        log_escaped_exception(export_name, e.what());
    } catch (...) {
        log_escaped_exception(export_name, "unknown exception");
    }
    return failure;
}

// For the exports that return nothing.
template <class Fn>
void guarded_void(const char* export_name, Fn&& body) {
    guarded(export_name, 0, [&] {
        body();
        return 0;
    });
}

}  // namespace api
}  // namespace qn

#endif  // QN_API_EXPORT_GUARD_H
