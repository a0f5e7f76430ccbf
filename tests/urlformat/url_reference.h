// The URL rules written the straightforward way, with std::regex and the
// four ECMAScript patterns compiled as written. The library's scanners
// must agree with this on every input short enough for std::regex's
// recursive matcher; tests and fuzz targets compare the two.
#ifndef QN_TEST_URL_REFERENCE_H
#define QN_TEST_URL_REFERENCE_H

#include <map>
#include <regex>
#include <string>

#include "Public/Helper/UrlDealwith.h"

namespace urlref {

struct Split {
    std::string host;
    std::string path;
};

inline const std::regex& scheme_pattern() {
    static const std::regex re("(https?)://", std::regex::ECMAScript | std::regex::icase);
    return re;
}
inline const std::regex& with_head_pattern() {
    static const std::regex re(R"((?:https?:\/\/)([^\/:]+:\d+|[^\/:]+)(.*))",
                               std::regex::ECMAScript | std::regex::icase);
    return re;
}
inline const std::regex& without_head_pattern() {
    static const std::regex re(R"(([^\/:]+:\d+|[^\/:]+)(.*))", std::regex::ECMAScript);
    return re;
}
inline const std::regex& ip_pattern() {
    static const std::regex re(R"(^(\d{1,3}\.){3}\d{1,3}$)", std::regex::ECMAScript);
    return re;
}

inline bool is_http_url(const std::string& url) {
    if (url.find("://") == std::string::npos) return true;
    return std::regex_search(url, scheme_pattern());
}

inline bool is_ip_address(const std::string& text) { return std::regex_match(text, ip_pattern()); }

inline Split split_with_head(const std::string& url) {
    Split out;
    std::smatch m;
    if (std::regex_search(url, m, with_head_pattern())) {
        out.host = m[1].str();
        out.path = m[2].str();
        if (out.host.find(':') == std::string::npos) {
            out.host += url.substr(0, 8) == "https://" ? ":443" : ":80";
        }
    }
    return out;
}

inline Split split_without_head(const std::string& url) {
    Split out;
    std::smatch m;
    if (std::regex_search(url, m, without_head_pattern())) {
        out.host = m[1].str();
        out.path = m[2].str();
        if (out.host.find(':') == std::string::npos) {
            out.host += is_ip_address(url.substr(0, url.find('/'))) ? ":80" : ":443";
        }
    }
    return out;
}

inline Split split(const std::string& url) {
    Split out = split_with_head(url);
    return out.host.empty() ? split_without_head(url) : out;
}

// Replaces in place and rescans, exactly as the rule is worded.
inline bool swap_default_port(std::string& host) {
    bool changed = false;
    size_t pos = host.find(':');
    auto port_here = [&](const std::string& port) {
        const size_t after = pos + 1 + port.size();
        return host.compare(pos + 1, port.size(), port) == 0 &&
               (after >= host.size() || host[after] < '0' || host[after] > '9');
    };
    while (pos != std::string::npos) {
        if (port_here("80")) {
            host.replace(pos + 1, 2, "443");
            changed = true;
            pos = host.find(':', pos + 4);
        } else if (port_here("443")) {
            host.replace(pos + 1, 3, "80");
            changed = true;
            pos = host.find(':', pos + 3);
        } else {
            pos = host.find(':', pos + 1);
        }
    }
    return changed;
}

inline std::string remove_default_port(const std::string& url) {
    const size_t sep = url.find("://");
    if (sep == std::string::npos) return url;
    const std::string scheme = url.substr(0, sep + 3);
    const size_t colon = url.find(':', sep + 1);
    if (colon == std::string::npos) return url;
    const std::string port = url.substr(colon + 1);
    if ((scheme == "http://" && port == "443") || (scheme == "https://" && port == "80")) {
        return url.substr(0, colon);
    }
    return url;
}

// The whole rewrite against a protocol table held in memory.
inline std::string get_new_url(const std::string& url, const std::map<std::string, std::string>& table) {
    if (!is_http_url(url)) return url;
    const Split parts = split(url);
    if (parts.host.empty()) return url;
    std::string result = url;
    auto found = table.find(parts.host);
    if (found != table.end()) {
        result = found->second + parts.host + parts.path;
    } else {
        std::string swapped = parts.host;
        if (swap_default_port(swapped)) {
            found = table.find(swapped);
            if (found != table.end()) result = found->second + swapped + parts.path;
        }
    }
    return remove_default_port(result);
}

// True when every operation of the library's rewriter gives on `text` what
// the patterns give.
inline bool operations_agree(const std::string& text) {
    using UrlFormat::HttpHeadDealwith;
    const auto same = [](const UrlFormat::UrlInfo& got, const Split& want) {
        return got.strHost == want.host && got.strPath == want.path;
    };
    std::string mine = text, theirs = text;
    return HttpHeadDealwith::isHttpUrl(text) == is_http_url(text) &&
           HttpHeadDealwith::isIpAddress(text) == is_ip_address(text) &&
           same(HttpHeadDealwith::splitHostAndPathFromUrlForWithHead(text), split_with_head(text)) &&
           same(HttpHeadDealwith::splitHostAndPathFromUrlForWithoutHead(text), split_without_head(text)) &&
           HttpHeadDealwith::removeDefaultPort(text) == remove_default_port(text) &&
           HttpHeadDealwith::swapDefaultPort(mine) == swap_default_port(theirs) && mine == theirs;
}

}  // namespace urlref

#endif  // QN_TEST_URL_REFERENCE_H
