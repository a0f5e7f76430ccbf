#include "submit/multipart_form.h"

#include <climits>
#include <cstdint>
#include <cstring>

#include "curl/libcurl_wrapper.h"
#include "log/log_record.h"

namespace qn {
namespace submit {

namespace {

constexpr const char kPartContentType[] = "multipart/form-data";

bool is_sent(const web_part* part) {
    return part != nullptr && (part->type == WEB_PART_FIELD_TYPED || part->type == WEB_PART_FIELD ||
                               part->type == WEB_PART_FILE || part->type == WEB_PART_SENDFILE);
}

bool is_file(const web_part* part) {
    return part->type == WEB_PART_FILE || part->type == WEB_PART_SENDFILE;
}

// A name goes into the part's Content-Disposition line, so it must end
// within its 260 characters and hold no line break. A file's length travels
// to libcurl as a 32-bit value, so it must be one: libcurl would take a
// negative one for a text to measure, or for an enormous size.
bool usable(const web_part* part) {
    if (std::memchr(part->name, '\0', sizeof(part->name)) == nullptr) {
        qn::log::Error() << "web_part name without its terminator, request not sent" << "\n";
        return false;
    }
    if (is_file(part) && (part->data_len < 0 || part->data_len > INT32_MAX)) {
        qn::log::Error() << "web_part data_len out of range, request not sent" << "\n";
        return false;
    }
    return !qn::curl::refuse_line_break(part->name, "web_part name");
}

}  // namespace

void add_web_part(qn::curl::Form& form, const WebPartView& part) {
    CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
    // The length travels as a 32-bit value (web_parts_usable checks it);
    // libcurl reads a long. For a length of 0 libcurl measures the buffer as
    // text, so an empty file gets an empty text rather than the host's
    // bytes, which need not end in a NUL.
    const long data_len = static_cast<long>(part.data_len);
    const char* file_data = data_len == 0 ? "" : part.data;
    switch (part.type) {
    case WEB_PART_FIELD_TYPED:
        curl_api.curl_formadd(form.first(), form.last(), CURLFORM_COPYNAME, part.name,
                              CURLFORM_COPYCONTENTS, part.data, CURLFORM_CONTENTTYPE,
                              kPartContentType, CURLFORM_END);
        break;
    case WEB_PART_FIELD:
        curl_api.curl_formadd(form.first(), form.last(), CURLFORM_COPYNAME, part.name,
                              CURLFORM_COPYCONTENTS, part.data, CURLFORM_END);
        break;
    case WEB_PART_FILE:
    case WEB_PART_SENDFILE:
        curl_api.curl_formadd(form.first(), form.last(), CURLFORM_COPYNAME,
                              part.type == WEB_PART_FILE ? "file" : "sendfile", CURLFORM_BUFFER,
                              part.name, CURLFORM_BUFFERPTR, file_data, CURLFORM_BUFFERLENGTH,
                              data_len, CURLFORM_CONTENTTYPE, kPartContentType, CURLFORM_END);
        break;
    default:
        break;
    }
}

bool web_parts_usable(const web_data* data) {
    const int count = data->header->count;
    for (int i = 0; i < count; ++i) {
        if (is_sent(data->parts[i]) && !usable(data->parts[i])) return false;
    }
    return true;
}

bool add_web_parts(qn::curl::Form& form, const web_data* data) {
    // Every name is checked before the first part is added, so a refused
    // description never builds half a form.
    if (!web_parts_usable(data)) return false;
    const int count = data->header->count;
    for (int i = 0; i < count; ++i) {
        const web_part* part = data->parts[i];
        if (part == nullptr) continue;
        add_web_part(form, WebPartView{part->type, part->data_len, part->name, part->data});
    }
    return true;
}

}  // namespace submit
}  // namespace qn
