// Hosts read the task records (the handle is a record's address, and every
// callback gets it) and write the multipart description, so their layouts
// are part of the interface: every field's offset and each record's size,
// pinned here for the two builds that hosts use, 64-bit (x86_64, Windows
// and Linux) and 32-bit Windows (i686). Fields are laid out in their
// documented order with natural alignment: pointers 8 or 4 bytes, doubles
// and 64-bit integers on 8 bytes in both. A change that moves a field fails
// the build.
#include <cstddef>

#include "quillnet.h"
#include "transfer/download_task.h"
#include "transfer/upload_task.h"

namespace qn {
namespace transfer {
namespace {

#if defined(__x86_64__) || defined(_M_X64)
constexpr bool kPinned = true;
constexpr bool k64 = true;
#elif (defined(__i386__) || defined(_M_IX86)) && defined(_WIN32)
constexpr bool kPinned = true;
constexpr bool k64 = false;
#else
constexpr bool kPinned = false;  // no host of this library runs there
constexpr bool k64 = sizeof(void*) == 8;
#endif

// `at64` on 64-bit builds, `at32` on 32-bit Windows.
constexpr bool at(size_t actual, size_t at64, size_t at32) {
    return !kPinned || actual == (k64 ? at64 : at32);
}

#define QN_PIN(record, field, at64, at32) \
    static_assert(at(offsetof(record, field), at64, at32), #record "::" #field " has moved")
#define QN_PIN_SIZE(record, size64, size32) \
    static_assert(at(sizeof(record), size64, size32), "sizeof(" #record ") has changed")

QN_PIN(download_info, callback, 0, 0);
QN_PIN(download_info, user_data, 8, 4);
QN_PIN(download_info, url, 16, 8);
QN_PIN(download_info, pos, 276, 268);
QN_PIN(download_info, status, 280, 272);
QN_PIN(download_info, thread, 288, 276);
QN_PIN(download_info, path, 296, 280);
QN_PIN(download_info, fp, 560, 540);
QN_PIN(download_info, finished, 568, 544);
QN_PIN(download_info, total_size, 576, 552);
QN_PIN_SIZE(download_info, 584, 560);

QN_PIN(asyn_download_info, callback, 0, 0);
QN_PIN(asyn_download_info, user_data, 8, 4);
QN_PIN(asyn_download_info, url, 16, 8);
QN_PIN(asyn_download_info, pos, 1040, 1032);
QN_PIN(asyn_download_info, thread, 1048, 1036);
QN_PIN(asyn_download_info, path, 1056, 1040);
QN_PIN(asyn_download_info, fp, 2080, 2064);
QN_PIN(asyn_download_info, finished, 2088, 2068);
QN_PIN(asyn_download_info, submit_type, 2092, 2072);
QN_PIN(asyn_download_info, body, 2096, 2076);
QN_PIN(asyn_download_info, body_len, 2104, 2080);
QN_PIN(asyn_download_info, conten_type, 2108, 2084);
QN_PIN(asyn_download_info, param_ex, 2112, 2088);
QN_PIN(asyn_download_info, param_ex_len, 2120, 2092);
QN_PIN(asyn_download_info, exit_thr, 2124, 2096);
QN_PIN(asyn_download_info, control, 2128, 2100);
QN_PIN(asyn_download_info, total_size, 2136, 2104);
QN_PIN_SIZE(asyn_download_info, 2144, 2112);

QN_PIN(upload_info, callback, 0, 0);
QN_PIN(upload_info, user_data, 8, 4);
QN_PIN(upload_info, pos, 16, 8);
QN_PIN(upload_info, url, 20, 12);
QN_PIN(upload_info, path, 280, 272);
QN_PIN(upload_info, thread, 544, 532);
QN_PIN_SIZE(upload_info, 552, 536);

QN_PIN(asyn_upload_info, callback, 0, 0);
QN_PIN(asyn_upload_info, user_data, 8, 4);
QN_PIN(asyn_upload_info, pos, 16, 8);
QN_PIN(asyn_upload_info, url, 20, 12);
QN_PIN(asyn_upload_info, path, 1044, 1036);
QN_PIN(asyn_upload_info, thread, 1304, 1296);
QN_PIN(asyn_upload_info, finished, 1312, 1300);
QN_PIN(asyn_upload_info, nosignal, 1316, 1304);
QN_PIN(asyn_upload_info, submit_type, 1320, 1308);
QN_PIN(asyn_upload_info, body, 1328, 1312);
QN_PIN(asyn_upload_info, body_len, 1336, 1316);
QN_PIN(asyn_upload_info, conten_type, 1340, 1320);
QN_PIN(asyn_upload_info, param_ex, 1344, 1324);
QN_PIN(asyn_upload_info, param_ex_len, 1352, 1328);
QN_PIN(asyn_upload_info, exit_thr, 1356, 1332);
QN_PIN_SIZE(asyn_upload_info, 1360, 1336);

QN_PIN(multipart_asyn_info, upload_info, 0, 0);
QN_PIN(multipart_asyn_info, web_data, 1360, 1336);
QN_PIN(multipart_asyn_info, parts, 1368, 1340);
QN_PIN_SIZE(multipart_asyn_info, 1368 + 1024 * 8, 1340 + 1024 * 4);

// The multipart description, as hosts build it.
QN_PIN(web_data_header, reserved, 0, 0);
QN_PIN(web_data_header, count, 4, 4);
QN_PIN_SIZE(web_data_header, 8, 8);
QN_PIN(web_data, header, 0, 0);
QN_PIN(web_data, parts, 8, 4);
QN_PIN(web_part, type, 0, 0);
QN_PIN(web_part, data_len, 8, 8);
QN_PIN(web_part, name, 16, 16);
QN_PIN(web_part, data, 276, 276);
QN_PIN_SIZE(web_part, 280, 280);

#undef QN_PIN
#undef QN_PIN_SIZE

}  // namespace
}  // namespace transfer
}  // namespace qn
