#include <cstring>
#include <memory>

#include "calls.h"
#include "host.h"
#include "quillnet.h"
#include "request_options.h"

namespace qn {
namespace cli {

namespace {

// Body and cookie buffers belong to the library and go back through it.
struct LibraryBuffer {
    char* data = nullptr;
    ~LibraryBuffer() { library().quillnet_release(&data); }
};

// The cookie buffer: cookie-file lines, each of seven tab-separated fields,
// each line followed by one more tab.
std::vector<Cookie> parse_cookies(const char* buffer) {
    std::vector<Cookie> cookies;
    if (buffer == nullptr) return cookies;
    std::vector<std::string> fields;
    std::string field;
    for (const char* p = buffer; *p != 0; ++p) {
        if (*p != '\t') {
            field += *p;
            continue;
        }
        fields.push_back(field);
        field.clear();
        if (fields.size() == 7) {
            Cookie c{fields[0], fields[2], fields[5], fields[6], ""};
            for (size_t i = 0; i < 7; ++i) c.line += (i ? "\t" : "") + fields[i];
            cookies.push_back(c);
            fields.clear();
        }
    }
    return cookies;
}

}  // namespace

FormDescription::FormDescription(const std::vector<FormPart>& parts)
    : header_{0, static_cast<int>(parts.size())}, pointers_{&header_} {
    for (const FormPart& p : parts) {
        const size_t size = sizeof(web_part) + p.data.size() + 1;
        blocks_.emplace_back(new char[size]());
        auto* part = reinterpret_cast<web_part*>(blocks_.back().get());
        part->type = p.kind;
        part->data_len = static_cast<int64_t>(p.data.size());
        std::strncpy(part->name, p.name.c_str(), sizeof(part->name) - 1);
        std::memcpy(part->data, p.data.data(), p.data.size());
        pointers_.push_back(part);
    }
}

SubmitResult submit(const SubmitRequest& r) {
    Library& lib = library();
    // Content type: the library's own codes where they say what was asked
    // (0 form, 1 JSON); otherwise code 2, whose option document carries the
    // lines, the content type among them.
    std::vector<std::string> headers = r.headers;
    int conten_type = 2;
    if (headers.empty() && r.type == ContentType::Form) conten_type = 0;
    if (headers.empty() && r.type == ContentType::Json) conten_type = 1;
    if (conten_type == 2) {
        if (r.type == ContentType::Json) headers.push_back("Content-Type: application/json");
        if (r.type == ContentType::Form) headers.push_back("Content-Type: application/x-www-form-urlencoded");
        if (r.type == ContentType::Text) headers.push_back("Content-Type: text/plain");
        // A header without a value keeps libcurl from adding its own (the
        // form type it gives every body).
        if (r.type == ContentType::None) headers.push_back("Content-Type:");
    }
    const std::string doc = option_document(headers);

    SubmitResult result;
    LibraryBuffer body, cookies, redirect_holder;
    int body_len = 0;
    // The cookie length starts at 1: when the answer sets no cookie, the
    // library keeps the caller's length and judges by it, so the request
    // still counts as answered and the body is handed over.
    int cookies_len = 1;
    char* redirect = nullptr;
    result.rc = lib.quillnet_submit_ex7(r.url.c_str(), r.timeout, r.body.c_str(), 1, r.method, conten_type,
                                        doc.c_str(), &body.data, &body_len, &result.status, &redirect,
                                        r.want_cookies ? 1 : 0, &cookies.data, &cookies_len,
                                        r.cookie.empty() ? nullptr : r.cookie.c_str(), nullptr);
    if (redirect != nullptr) {
        result.redirect = redirect;
        lib.quillnet_release_redirect_url(redirect);
    }
    if (body.data != nullptr) result.body.assign(body.data, static_cast<size_t>(body_len));
    result.cookies = parse_cookies(cookies.data);
    // The program's own record, for the report page's byte counts.
    host_record("quillnet host: submit " + r.url + ": HTTP " + std::to_string(result.status) + ", " +
                std::to_string(result.body.size()) + " bytes");
    return result;
}

MultipartResult submit_multipart(const std::string& url, const std::vector<FormPart>& parts,
                                 const std::vector<std::string>& headers, int timeout) {
    FormDescription description(parts);
    const std::string doc = headers.empty() ? std::string() : option_document(headers);
    MultipartResult result;
    LibraryBuffer body;
    int body_len = 0;
    result.rc = library().quillnet_submit_multipart_ex(url.c_str(), timeout,
                                                       description.get(), 1,
                                                       doc.empty() ? nullptr : doc.c_str(), &body.data,
                                                       &body_len);
    if (body.data != nullptr) result.body.assign(body.data, static_cast<size_t>(body_len));
    host_record("quillnet host: multipart " + url + ": " + std::to_string(result.body.size()) + " bytes answered");
    return result;
}

}  // namespace cli
}  // namespace qn
