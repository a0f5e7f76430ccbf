#include "Public/Helper/UrlDealwith.h"

#include <utility>

#include "host/host_objects.h"
#include "host/text_convert.h"
#include "log/log_record.h"
#include "transfer/task.h"

namespace UrlFormat {

namespace {

// The log lines of this class name their origin this way, and log readers
// on the host side search for exactly these texts.
const char kSourceFile[] = "common/public/include/Public/Helper/UrlDealwith";

constexpr size_t npos = std::string::npos;

// ECMAScript "\d" (ASCII digits only: the library never changes the C locale).
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }
// What ECMAScript "." refuses in narrow text.
inline bool is_line_terminator(char c) { return c == '\n' || c == '\r'; }
// "[^/:]": every other byte, line terminators included.
inline bool is_host_char(char c) { return c != '/' && c != ':'; }
// Case folding of a case-ignoring pattern in the C locale.
inline char lower_ascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Length of "https?://" (case ignored) at `pos`, or 0. The optional "s" is
// unambiguous: after "http" comes either "s" or ":", never both.
size_t scheme_length_at(const std::string& s, size_t pos) {
    static const char kHttp[] = "http";
    if (s.size() - pos < 7) return 0;
    for (size_t k = 0; k < 4; ++k) {
        if (lower_ascii(s[pos + k]) != kHttp[k]) return 0;
    }
    size_t end = pos + 4;
    if (lower_ascii(s[end]) == 's') ++end;
    if (s.compare(end, 3, "://") != 0) return 0;
    return end + 3 - pos;
}

// End of group "([^/:]+:\d+|[^/:]+)" matched at `pos`, or npos when neither
// alternative matches there. A shorter run of "[^/:]+" is always followed by
// another host character, never by ":", so only the longest run can carry
// the port of the first alternative; the port then takes every digit.
size_t host_group_end(const std::string& s, size_t pos) {
    const size_t n = s.size();
    size_t end = pos;
    while (end < n && is_host_char(s[end])) ++end;
    if (end == pos) return npos;
    if (end + 1 < n && s[end] == ':' && is_digit(s[end + 1])) {
        end += 2;
        while (end < n && is_digit(s[end])) ++end;
    }
    return end;
}

// End of "(.*)" matched at `pos`.
size_t line_end(const std::string& s, size_t pos) {
    while (pos < s.size() && !is_line_terminator(s[pos])) ++pos;
    return pos;
}

UrlInfo split_at(const std::string& s, size_t host_begin, size_t host_end) {
    UrlInfo info;
    info.strHost.assign(s, host_begin, host_end - host_begin);
    info.strPath.assign(s, host_end, line_end(s, host_end) - host_end);
    return info;
}

// `port` (digits) after the colon at `colon`, and no further digit.
bool port_at(const std::string& s, size_t colon, const char* port, size_t length) {
    const size_t after = colon + 1 + length;
    return s.compare(colon + 1, length, port) == 0 && (after == s.size() || !is_digit(s[after]));
}

}  // namespace

HttpHeadDealwith::HttpHeadDealwith() {
    qn::host::MJRef<mj::IMJEnvironment> environment = qn::host::CreateEnvironment();
    if (environment) {
        // The directory comes with its own trailing separator.
        std::string config_path =
            qn::WideToUtf8(environment->GetValue(mj::MJ_ENV_CONFIG_DIR, 0)) + "Resource/Protocol.json";
        qn::log::Info() << kSourceFile << "UrlFormat::HttpHeadDealwith::HttpHeadDealwith" << 49
                        << "strConfigFilePath:" << config_path << "\n";
        protocol_document_ = qn::host::OpenConfigDocument(config_path);
    }
    qn::host::MJRef<mj::IHubHostCall> host = qn::host::HostCallObject();
    if (host) host->Notify("HttpHead", nullptr, nullptr);
}

// Task workers rewrite their URLs, and the rewriter is usually first made
// on one of them, after the task registry: it would end before the registry
// ends the workers. So it ends them itself first.
HttpHeadDealwith::~HttpHeadDealwith() {
    qn::transfer::end_all_tasks();
}

HttpHeadDealwith& HttpHeadDealwith::instance() {
    // Unlike the other process-wide objects, which are never destroyed, the
    // rewriter ends at process exit and releases its protocol document then.
    static HttpHeadDealwith rewriter;
    return rewriter;
}

std::string HttpHeadDealwith::GetNewUrl(const char* _pstrUrl) {
    return instance().rewrite(_pstrUrl);
}

std::string HttpHeadDealwith::rewrite(const char* _pstrUrl) const {
    if (_pstrUrl == nullptr) {
        qn::log::Error() << kSourceFile << "UrlFormat::HttpHeadDealwith::GetNewUrl" << 268
                         << "nullptr == _pstrUrl" << "\n";
        return std::string();
    }
    std::string url(_pstrUrl);
    if (!isHttpUrl(url)) {
        qn::log::Error() << kSourceFile << "UrlFormat::HttpHeadDealwith::GetNewUrl" << 275 << url
                         << "is not http/https format url!" << "\n";
        return url;
    }
    UrlInfo info = splitHostAndPathFromUrl(url);
    if (info.strHost.empty()) return url;

    std::string head;
    if (getProtocolHead(info.strHost, head)) {
        url = head + info.strHost + info.strPath;
    } else {
        // The table may know the server only under the other scheme's port.
        std::string swapped = info.strHost;
        if (swapDefaultPort(swapped) && getProtocolHead(swapped, head)) {
            url = head + swapped + info.strPath;
        }
    }
    return removeDefaultPort(url);
}

bool HttpHeadDealwith::isHttpUrl(const std::string& url) {
    if (url.find("://") == npos) return true;
    for (size_t pos = 0; pos < url.size(); ++pos) {
        if (scheme_length_at(url, pos) != 0) return true;
    }
    return false;
}

UrlInfo HttpHeadDealwith::splitHostAndPathFromUrl(const std::string& url) {
    UrlInfo info = splitHostAndPathFromUrlForWithHead(url);
    if (info.strHost.empty()) info = splitHostAndPathFromUrlForWithoutHead(url);
    return info;
}

UrlInfo HttpHeadDealwith::splitHostAndPathFromUrlForWithHead(const std::string& url) {
    UrlInfo info;
    // Leftmost start of a match: a scheme followed by a non-empty host.
    for (size_t pos = 0; pos < url.size(); ++pos) {
        const size_t scheme_length = scheme_length_at(url, pos);
        if (scheme_length == 0) continue;
        const size_t host_begin = pos + scheme_length;
        const size_t host_end = host_group_end(url, host_begin);
        if (host_end == npos) continue;
        info = split_at(url, host_begin, host_end);
        if (info.strHost.find(':') == npos) {
            // Deliberately case-sensitive and anchored at the start of the
            // URL, not at the scheme that matched.
            info.strHost += url.compare(0, 8, "https://") == 0 ? ":443" : ":80";
        }
        break;
    }
    return info;
}

UrlInfo HttpHeadDealwith::splitHostAndPathFromUrlForWithoutHead(const std::string& url) {
    qn::log::Info() << kSourceFile << "UrlFormat::HttpHeadDealwith::splitHostAndPathFromUrlForWithoutHead"
                    << 100 << "strUrl:" << url;
    UrlInfo info;
    // The leftmost match starts at the first host character; the host group
    // always matches there.
    const size_t host_begin = url.find_first_not_of("/:");
    if (host_begin != npos) {
        info = split_at(url, host_begin, host_group_end(url, host_begin));
        if (info.strHost.find(':') == npos) {
            const std::string server = url.substr(0, url.find('/'));
            info.strHost += isIpAddress(server) ? ":80" : ":443";
        }
    }
    qn::log::Info() << kSourceFile << "UrlFormat::HttpHeadDealwith::splitHostAndPathFromUrlForWithoutHead"
                    << 119 << "tUrlInfo.strHost:" << info.strHost << "tUrlInfo.strPath:"
                    << info.strPath << "\n";
    return info;
}

bool HttpHeadDealwith::isIpAddress(const std::string& text) {
    const size_t n = text.size();
    size_t pos = 0;
    for (int group = 0; group < 4; ++group) {
        const size_t begin = pos;
        while (pos < n && pos - begin < 3 && is_digit(text[pos])) ++pos;
        if (pos == begin) return false;
        if (group < 3) {
            if (pos == n || text[pos] != '.') return false;
            ++pos;
        }
    }
    return pos == n;
}

bool HttpHeadDealwith::swapDefaultPort(std::string& host) {
    // Built into a new string so that a text full of ports stays linear.
    std::string swapped;
    size_t copied = 0;
    size_t colon = host.find(':');
    while (colon != npos) {
        if (port_at(host, colon, "80", 2)) {
            swapped.append(host, copied, colon + 1 - copied).append("443");
            copied = colon + 3;
            colon = host.find(':', copied);
        } else if (port_at(host, colon, "443", 3)) {
            swapped.append(host, copied, colon + 1 - copied).append("80");
            copied = colon + 4;
            colon = host.find(':', copied);
        } else {
            colon = host.find(':', colon + 1);
        }
    }
    if (copied == 0) return false;
    swapped.append(host, copied, npos);
    host = std::move(swapped);
    return true;
}

std::string HttpHeadDealwith::removeDefaultPort(const std::string& url) {
    const size_t scheme_colon = url.find("://");
    if (scheme_colon == npos) return url;
    const size_t port_colon = url.find(':', scheme_colon + 1);
    if (port_colon == npos) return url;
    const size_t scheme_length = scheme_colon + 3;
    const size_t port_length = url.size() - port_colon - 1;
    const bool http_on_443 = scheme_length == 7 && url.compare(0, 7, "http://") == 0 && port_length == 3 &&
                           url.compare(port_colon + 1, 3, "443") == 0;
    const bool https_on_80 = scheme_length == 8 && url.compare(0, 8, "https://") == 0 && port_length == 2 &&
                           url.compare(port_colon + 1, 2, "80") == 0;
    if (http_on_443 || https_on_80) return url.substr(0, port_colon);
    return url;
}

bool HttpHeadDealwith::getProtocolHead(const std::string& key, std::string& head) const {
    if (!protocol_document_) return false;
    return qn::host::ReadDocumentText(protocol_document_.get(), key.c_str(), &head);
}

}  // namespace UrlFormat
