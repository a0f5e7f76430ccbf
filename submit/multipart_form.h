// A libcurl form built from the host's multipart description `web_data`.
// Shared by the synchronous multipart submit and the asynchronous one.
#ifndef QN_SUBMIT_MULTIPART_FORM_H
#define QN_SUBMIT_MULTIPART_FORM_H

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
void add_web_parts(qn::curl::Form& form, const web_data* data);

}  // namespace submit
}  // namespace qn

#endif  // QN_SUBMIT_MULTIPART_FORM_H
