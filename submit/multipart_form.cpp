#include "submit/multipart_form.h"

#include <cstdint>

#include "curl/libcurl_wrapper.h"

namespace qn {
namespace submit {

namespace {

constexpr const char kPartContentType[] = "multipart/form-data";

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

void add_web_parts(qn::curl::Form& form, const web_data* data) {
    const int count = data->header->count;
    for (int i = 0; i < count; ++i) {
        const web_part* part = data->parts[i];
        if (part == nullptr) continue;
        add_web_part(form, WebPartView{part->type, part->data_len, part->name, part->data});
    }
}

}  // namespace submit
}  // namespace qn
