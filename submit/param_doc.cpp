#include "submit/param_doc.h"

#include <json-c/json.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

#include "curl/libcurl_wrapper.h"
#include "log/log_record.h"

namespace qn {
namespace submit {

namespace {

constexpr const char kAuthDigest[] = "auth_digest";
constexpr int kDefaultTimeOut = 20000;

// Releases the parsed document on every way out.
class ParsedDoc {
public:
    explicit ParsedDoc(json_object* root) : root_(root) {}
    ~ParsedDoc() {
        if (root_ != nullptr) json_object_put(root_);
    }
    ParsedDoc(const ParsedDoc&) = delete;
    ParsedDoc& operator=(const ParsedDoc&) = delete;
    json_object* get() const { return root_; }

private:
    json_object* root_;
};

// In Digest mode an "auth_digest" element is turned into credentials on the
// handle; returns true when the element was one (and is not to be sent).
bool take_digest_credentials(const char* line, CURL* curl) {
    // Split as strtok_s splits: leading colons are skipped.
    const char* name = line + std::strspn(line, ":");
    const char* colon = std::strchr(name, ':');
    const size_t name_len = colon == nullptr ? std::strlen(name) : static_cast<size_t>(colon - name);
    if (name_len != sizeof(kAuthDigest) - 1 || std::strncmp(name, kAuthDigest, name_len) != 0) {
        return false;
    }
    // Everything after the first colon, further colons included; a bare
    // "auth_digest" gives empty credentials.
    const std::string credentials = colon == nullptr ? std::string() : std::string(colon + 1);
    if (curl != nullptr) {
        CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
        curl_api.curl_easy_setopt(curl, CURLOPT_USERPWD, credentials.c_str());
        curl_api.curl_easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_DIGEST));
    }
    return true;
}

}  // namespace

ParamDocOutcome add_param_ex_headers(const char* param_ex, qn::curl::StringList& headers,
                                     AuthDigestMode mode, CURL* curl) {
    ParsedDoc doc(param_ex == nullptr ? nullptr : json_tokener_parse(param_ex));
    if (doc.get() == nullptr) {
        qn::log::Warn() << "is_error(jso)" << "\n";
        return ParamDocOutcome::kUnparsable;
    }
    // A document that parses to something other than an object (an array,
    // a number) has no members, so it has no "headers" either.
    json_object* jso_headers = json_object_object_get(doc.get(), "headers");
    if (jso_headers == nullptr || !json_object_is_type(jso_headers, json_type_array)) {
        qn::log::Warn() << "is_error(jso_headers)" << "\n";
        return ParamDocOutcome::kNoHeaders;
    }
    const size_t count = json_object_array_length(jso_headers);
    for (size_t i = 0; i < count; ++i) {
        json_object* jso_header = json_object_array_get_idx(jso_headers, i);
        if (jso_header == nullptr) {
            qn::log::Warn() << "is_error(jso_header)" << "\n";
            continue;
        }
        const char* header = json_object_get_string(jso_header);
        if (header == nullptr) {
            qn::log::Warn() << "header == NULL" << "\n";
            continue;
        }
        // A line break would let the element write header lines of its own
        // (or, as credentials, break the Authorization line). The element is
        // treated like the other unusable ones: logged and skipped, the
        // request goes on without it, and the text itself stays out of the
        // log.
        if (qn::curl::has_line_break(header)) {
            qn::log::Warn() << "header with CR or LF dropped, index:" << i << "\n";
            continue;
        }
        if (mode == AuthDigestMode::kDigestCredentials && take_digest_credentials(header, curl)) {
            continue;
        }
        headers.append(header);
    }
    return ParamDocOutcome::kOk;
}

int param_ex_time_out(const char* param_ex) {
    if (param_ex == nullptr) return kDefaultTimeOut;
    ParsedDoc doc(json_tokener_parse(param_ex));
    return json_object_get_field_int(doc.get(), "time_out", kDefaultTimeOut);
}

}  // namespace submit
}  // namespace qn

int json_object_get_field_int(json_object* obj, const char* key, int default_value) {
    if (obj == nullptr || key == nullptr || !json_object_is_type(obj, json_type_object)) {
        return default_value;
    }
    json_object* member = nullptr;
    if (!json_object_object_get_ex(obj, key, &member) || !json_object_is_type(member, json_type_int)) {
        return default_value;
    }
    const int64_t value = json_object_get_int64(member);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}
