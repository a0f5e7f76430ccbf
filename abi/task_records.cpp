// The task records in a form abidw can see.
//
// Hosts get a task's record as its handle (an int64_t) and as the first
// argument of its callback (a void*), and read `callback`, `user_data` and
// the fields after them in place, so the records' layout belongs to the
// binary interface as much as the exports' signatures do. Because no
// export names them, abidw leaves them out of the library's description
// (and abidiff does not look at record types reached only from the
// library's internal functions). This module names all five in one
// exported signature, compiled from the library's own headers with the
// library's own flags, so that abi/task_records.abi describes exactly the
// layouts the library is built with. It is never installed or shipped.
#include "transfer/download_task.h"
#include "transfer/upload_task.h"

extern "C" __attribute__((visibility("default"))) void quillnet_abi_task_records(
    qn::transfer::download_info* threaded_download,
    qn::transfer::asyn_download_info* asyn_download,
    qn::transfer::upload_info* threaded_upload,
    qn::transfer::asyn_upload_info* asyn_upload,
    qn::transfer::multipart_asyn_info* multipart_asyn) {
    static_cast<void>(threaded_download);
    static_cast<void>(asyn_download);
    static_cast<void>(threaded_upload);
    static_cast<void>(asyn_upload);
    static_cast<void>(multipart_asyn);
}
