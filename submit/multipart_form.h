// A libcurl form built from the host's multipart description `web_data`.
// Shared by the synchronous multipart submit and the asynchronous one.
#ifndef QN_SUBMIT_MULTIPART_FORM_H
#define QN_SUBMIT_MULTIPART_FORM_H

#include <cstdint>

#include "curl/transfer.h"
#include "quillnet.h"

namespace qn {
namespace submit {

// Adds the description's parts to `form` in order, one curl_formadd each:
//   0  field `name` = text `data`, content type "multipart/form-data"
//   1  field `name` = text `data`
//   4  field "file", file name `name`, `data_len` bytes of `data`,
//      content type "multipart/form-data"
//   5  as 4 under the field name "sendfile"
// Other kinds are skipped; a part libcurl refuses is simply missing.
// Kinds 4 and 5 refer to the caller's bytes without copying them, so the
// description must outlive the transfer. `data` and its header must not
// be null; a count of zero or less adds nothing.
//
// A part of a sent kind whose name holds a CR or LF, or does not end within
// its 260 characters, or a file part whose length is not a 32-bit length
// (negative, or 2 GB and more), makes the whole description unusable:
// nothing is added, the reason is logged at level 35 and false is returned,
// and the caller sends nothing.
bool add_web_parts(qn::curl::Form& form, const web_data* data);

// The name check of add_web_parts on its own, for a caller that copies the
// description before it builds the form: true when every sent part's name
// may go on the wire, otherwise the reason is logged and false returned.
bool web_parts_usable(const web_data* data);

// One part, wherever its fields lie: a host's web_part, or a copy of one
// that is not aligned for the record (the asynchronous multipart's).
struct WebPartView {
    int type;
    int64_t data_len;
    const char* name;  // zero-terminated
    const char* data;  // text for kinds 0 and 1, data_len bytes for 4 and 5
};

// Adds one part to `form` as add_web_parts does.
void add_web_part(qn::curl::Form& form, const WebPartView& part);

}  // namespace submit
}  // namespace qn

#endif  // QN_SUBMIT_MULTIPART_FORM_H
