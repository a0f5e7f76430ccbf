// The request option document ("param_ex"): a JSON object whose "headers"
// array carries extra header lines, and whose "time_out" member carries a
// transfer time-out for the asynchronous download.
//
// Every entry point that reads "headers" goes through add_param_ex_headers,
// so the lines, their order, the log lines and the "auth_digest" handling
// are the same everywhere; only what an entry point does with the outcome
// differs (a submit abandons its request, a download carries on).
#ifndef QN_SUBMIT_PARAM_DOC_H
#define QN_SUBMIT_PARAM_DOC_H

#include <curl/curl.h>

#include "curl/transfer.h"

struct json_object;

namespace qn {
namespace submit {

// Method codes (`submit_type`), as the synchronous submits apply them.
constexpr int kSubmitGet = 1;
constexpr int kSubmitPost = 2;
constexpr int kSubmitPut = 4;
constexpr int kSubmitDelete = 5;
constexpr int kSubmitDirList = 6;  // FTP name-only listing

// Content-type codes (`conten_type`) and the header lines they add.
constexpr int kContentForm = 0;
constexpr int kContentJson = 1;
constexpr int kContentFromDocument = 2;  // the document's "headers" lines
constexpr const char kFormContentLine[] = "Content-Type: application/x-www-form-urlencoded";
constexpr const char kJsonContentLine[] = "Content-Type: application/json";
constexpr const char kTextContentLine[] = "Content-Type: text/plain";

// The two header lines every synchronous submit starts its list with.
constexpr const char kAcceptCharset[] = "Accept-Charset: utf-8";
constexpr const char kAcceptEncoding[] = "Accept-Encoding: utf-8";

// What becomes of a "headers" element whose text before its first ":" is
// exactly "auth_digest".
enum class AuthDigestMode {
    // Sent like any other line (the submits and the multipart submits).
    kSendAsHeader,
    // Not sent: the text after the first ":" (user, ":", password) becomes
    // CURLOPT_USERPWD and CURLOPT_HTTPAUTH becomes CURLAUTH_DIGEST on the
    // handle (the downloads that take a document).
    kDigestCredentials,
};

enum class ParamDocOutcome {
    kOk,          // every usable element appended (an empty array included)
    kUnparsable,  // "is_error(jso)" was logged
    kNoHeaders,   // "is_error(jso_headers)" was logged
};

// Appends the document's "headers" lines, in array order, to `headers`
// (which may start empty). Null elements ("is_error(jso_header)"),
// elements without text ("header == NULL") and elements holding a CR or LF
// ("header with CR or LF dropped, index:" + index; an "auth_digest" element
// included) are logged and skipped: such an element is one optional line
// gone, never a reason to abandon the request or to send it as is. A
// non-string element is sent as its JSON text. All log lines are level 30.
// Time and memory are linear in the number of elements.
//
// `curl` is only used in kDigestCredentials mode and may be null otherwise.
// A null `param_ex` counts as unparsable; callers for which an absent
// document means something else test for it first. When libcurl cannot
// append a line, that line is dropped and the list built so far is kept.
ParamDocOutcome add_param_ex_headers(const char* param_ex, qn::curl::StringList& headers,
                                     AuthDigestMode mode, CURL* curl);

// The document's "time_out" in seconds: 20000 when the document is null,
// cannot be parsed or has no such member (see json_object_get_field_int for
// members that are not integers).
int param_ex_time_out(const char* param_ex);

}  // namespace submit
}  // namespace qn

// The integer member `key` of the JSON object `obj`, json-c having no such
// accessor. Returns `default_value` when `obj` is null or not an object, when
// the member is missing, and when the member is not a JSON integer: a double
// such as 1.5, a numeric string such as "30", a boolean and null all give the
// default rather than a guessed conversion. An integer outside the 32-bit
// range is clamped to INT32_MIN or INT32_MAX.
int json_object_get_field_int(json_object* obj, const char* key, int default_value);

#endif  // QN_SUBMIT_PARAM_DOC_H
