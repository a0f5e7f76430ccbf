#include "submit/multipart_form.h"

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

// A name goes into the part's Content-Disposition line, so it must end
// within its 260 characters and hold no line break.
bool usable_name(const web_part* part) {
    if (std::memchr(part->name, '\0', sizeof(part->name)) == nullptr) {
        qn::log::Error() << "web_part name without its terminator, request not sent" << "\n";
        return false;
    }
    return !qn::curl::refuse_line_break(part->name, "web_part name");
}

}  // namespace

void add_web_part(qn::curl::Form& form, const WebPartView& part) {
    CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
    // The length travels as a 32-bit value; libcurl reads a long.
    const long data_len = static_cast<long>(static_cast<int32_t>(part.data_len));
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
                              part.name, CURLFORM_BUFFERPTR, part.data, CURLFORM_BUFFERLENGTH,
                              data_len, CURLFORM_CONTENTTYPE, kPartContentType, CURLFORM_END);
        break;
    default:
        break;
    }
}

bool web_parts_usable(const web_data* data) {
    const int count = data->header->count;
    for (int i = 0; i < count; ++i) {
        if (is_sent(data->parts[i]) && !usable_name(data->parts[i])) return false;
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
