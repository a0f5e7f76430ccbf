#include "request_options.h"

#include <json-c/json.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "host.h"

namespace qn {
namespace cli {

namespace {

[[noreturn]] void usage(const std::string& message) {
    throw Failure{kExitUsage, message};
}

bool is_token_char(unsigned char c) {
    return std::isalnum(c) != 0 || std::string("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string::npos;
}

bool has_control(const std::string& text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

}  // namespace

std::string url_scheme(const std::string& url) {
    const size_t colon = url.find("://");
    if (colon == std::string::npos) return std::string();
    std::string scheme = url.substr(0, colon);
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return scheme;
}

void check_url(const std::string& url, const std::vector<std::string>& schemes) {
    std::string allowed;
    for (const std::string& s : schemes) allowed += (allowed.empty() ? "" : ", ") + s;
    const std::string scheme = url_scheme(url);
    if (scheme.empty()) usage("malformed URL '" + url + "': expected " + allowed + "://host/...");
    if (std::find(schemes.begin(), schemes.end(), scheme) == schemes.end()) {
        usage("unsupported URL scheme '" + scheme + "' in '" + url + "' (this command takes " + allowed + ")");
    }
    if (has_control(url) || url.find(' ') != std::string::npos) {
        usage("malformed URL: blanks and control characters must be percent-encoded");
    }
    const size_t host_at = scheme.size() + 3;
    const size_t host_end = std::min(url.find_first_of("/?#", host_at), url.size());
    std::string authority = url.substr(host_at, host_end - host_at);
    authority.erase(0, authority.rfind('@') == std::string::npos ? 0 : authority.rfind('@') + 1);
    std::string host = authority, port;
    const size_t bracket = authority.rfind(']');
    const size_t colon = authority.rfind(':');
    if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (host.empty()) usage("malformed URL '" + url + "': no host");
    if (!port.empty()) {
        const bool digits = std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!digits || port.size() > 5 || std::stoi(port) < 1 || std::stoi(port) > 65535) {
            usage("malformed URL '" + url + "': bad port '" + port + "'");
        }
    }
}

void check_header(const std::string& header) {
    const size_t colon = header.find(':');
    if (colon == std::string::npos || colon == 0) {
        usage("bad header '" + header + "': expected 'Name: value'");
    }
    for (size_t i = 0; i < colon; ++i) {
        if (!is_token_char(static_cast<unsigned char>(header[i]))) {
            usage("bad header '" + header + "': the name may not contain '" + header.substr(i, 1) + "'");
        }
    }
    if (has_control(header)) usage("bad header: line breaks and control characters are not allowed");
}

void check_plain(const std::string& what, const std::string& value) {
    if (has_control(value)) usage("bad " + what + ": line breaks and control characters are not allowed");
}

std::string option_document(const std::vector<std::string>& headers, const std::string& digest,
                            int time_out) {
    json_object* doc = json_object_new_object();
    json_object* lines = json_object_new_array();
    if (!digest.empty()) json_object_array_add(lines, json_object_new_string(("auth_digest:" + digest).c_str()));
    for (const std::string& h : headers) json_object_array_add(lines, json_object_new_string(h.c_str()));
    json_object_object_add(doc, "headers", lines);
    if (time_out > 0) json_object_object_add(doc, "time_out", json_object_new_int(time_out));
    std::string text = json_object_to_json_string_ext(doc, JSON_C_TO_STRING_PLAIN | JSON_C_TO_STRING_NOSLASHESCAPE);
    json_object_put(doc);
    return text;
}

std::string read_whole_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) usage("cannot read '" + path + "'");
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

std::string url_file_name(const std::string& url) {
    std::string path = url.substr(0, url.find_first_of("?#"));
    const size_t host_at = path.find("://");
    const size_t slash = path.find('/', host_at == std::string::npos ? 0 : host_at + 3);
    if (slash == std::string::npos) return std::string();
    return path.substr(path.rfind('/') + 1);
}

}  // namespace cli
}  // namespace qn
