#include "request_options.h"

#include <json-c/json.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "console.h"
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

void check_readable_file(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) usage("'" + path + "' is a folder, not a file");
    if (!std::ifstream(path, std::ios::binary)) usage("cannot read '" + path + "'");
}

std::string read_whole_file(const std::string& path) {
    if (path == "-") return read_stdin();
    check_readable_file(path);
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

std::string data_argument(const std::vector<std::string>& data) {
    std::string body;
    for (const std::string& d : data) {
        std::string part = d;
        if (!d.empty() && d[0] == '@') {
            part = read_whole_file(d.substr(1));
            part.erase(std::remove_if(part.begin(), part.end(), [](char c) { return c == '\r' || c == '\n'; }),
                       part.end());
        }
        body += (body.empty() ? "" : "&") + part;
    }
    return body;
}

namespace {

// Lower-case host and path (without query) of a URL that check_url took.
std::pair<std::string, std::string> host_and_path(const std::string& url) {
    const size_t host_at = url.find("://") + 3;
    const size_t path_at = std::min(url.find_first_of("/?#", host_at), url.size());
    std::string host = url.substr(host_at, path_at - host_at);
    host.erase(0, host.rfind('@') == std::string::npos ? 0 : host.rfind('@') + 1);
    if (host.rfind(']') == std::string::npos || host.rfind(':') > host.rfind(']')) host = host.substr(0, host.rfind(':'));
    for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string path = url.substr(path_at, url.find_first_of("?#", path_at) - path_at);
    return {host, path.empty() ? "/" : path};
}

}  // namespace

std::string cookie_argument(const std::string& argument, const std::string& url) {
    if (argument.empty() || argument.find('=') != std::string::npos) return argument;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(argument, ec)) {
        usage("-b '" + argument + "': neither name=value nor a cookie file");
    }
    const auto target = host_and_path(url);
    const bool https = url_scheme(url) == "https";
    const auto now = static_cast<long long>(std::time(nullptr));
    std::string cookies;
    std::istringstream lines(read_whole_file(argument));
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, 10, "#HttpOnly_") == 0) line.erase(0, 10);
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
        if (f.size() != 7) continue;
        std::string domain = f[0];
        for (char& c : domain) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!domain.empty() && domain[0] == '.') domain.erase(0, 1);
        const std::string& host = target.first;
        const bool tail = f[1] == "TRUE" && host.size() > domain.size() &&
                          host.compare(host.size() - domain.size() - 1, std::string::npos, "." + domain) == 0;
        const long long expires = std::atoll(f[4].c_str());
        if ((host != domain && !tail) || target.second.compare(0, f[2].size(), f[2]) != 0 ||
            (f[3] == "TRUE" && !https) || (expires != 0 && expires < now)) {
            continue;
        }
        cookies += (cookies.empty() ? "" : "; ") + f[5] + "=" + f[6];
    }
    return cookies;
}

void check_credentials(const std::string& user_password) {
    if (user_password.find(':') == std::string::npos) usage("-u takes USER:PASSWORD");
    check_plain("credentials", user_password);
}

std::string basic_authorization(const std::string& user_password) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (const char c : user_password) {
        bits = (bits << 8) | static_cast<unsigned char>(c);
        count += 8;
        while (count >= 6) out += digits[(bits >> (count -= 6)) & 0x3F];
    }
    if (count > 0) out += digits[(bits << (6 - count)) & 0x3F];
    while (out.size() % 4 != 0) out += '=';
    return "Authorization: Basic " + out;
}

std::string url_file_name(const std::string& url) {
    std::string path = url.substr(0, url.find_first_of("?#"));
    const size_t host_at = path.find("://");
    const size_t slash = path.find('/', host_at == std::string::npos ? 0 : host_at + 3);
    if (slash == std::string::npos) return std::string();
    return path.substr(path.rfind('/') + 1);
}

std::string output_path(const std::string& output, bool remote_name, const std::string& url) {
    if (!output.empty() && remote_name) usage("give -o FILE or -O, not both");
    std::string path = output;
    if (remote_name) {
        path = url_file_name(url);
        if (path.empty()) usage("-O: the URL names no file; give -o FILE");
    }
    if (path.empty() || path == "-") return path;
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::is_directory(path, ec)) usage("-o '" + path + "' is a folder; name a file");
    const fs::path folder = fs::path(path).parent_path();
    if (!folder.empty() && !fs::is_directory(folder, ec)) usage("-o '" + path + "': no folder '" + folder.string() + "'");
    return path;
}

std::string temp_path() {
    std::random_device random;
    return (std::filesystem::temp_directory_path() /
            ("quillnet-" + std::to_string(random()) + "-" + std::to_string(random()) + ".part"))
        .string();
}

namespace {

[[noreturn]] void write_failed(const std::string& path, int error) {
    const std::string target = path.empty() || path == "-" ? std::string("standard output") : "'" + path + "'";
    throw Failure{kExitFailed, "cannot write " + target + ": " + std::strerror(error)};
}

// Opens the answer's target: standard output, or the file.
std::FILE* open_answer(const std::string& path) {
    if (path.empty() || path == "-") return stdout;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) write_failed(path, errno);
    return file;
}

void close_answer(const std::string& path, std::FILE* file, bool ok) {
    errno = 0;
    ok = ok && std::fflush(file) == 0;
    const int error = errno;
    if (file != stdout && std::fclose(file) != 0) ok = false;
    if (!ok) write_failed(path, error != 0 ? error : errno);
}

}  // namespace

void write_answer(const std::string& path, const std::string& bytes) {
    std::FILE* file = open_answer(path);
    errno = 0;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    close_answer(path, file, ok);
    if (file != stdout) note("saved " + std::to_string(bytes.size()) + " bytes to " + path);
}

void copy_to_answer(const std::string& from, const std::string& path) {
    std::ifstream in(from, std::ios::binary);
    std::FILE* file = open_answer(path);
    std::vector<char> block(1 << 16);
    bool ok = true;
    errno = 0;
    while (ok && in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        const auto n = static_cast<size_t>(in.gcount());
        ok = std::fwrite(block.data(), 1, n, file) == n;
    }
    close_answer(path, file, ok);
}

}  // namespace cli
}  // namespace qn
