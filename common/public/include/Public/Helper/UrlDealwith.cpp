#include "Public/Helper/UrlDealwith.h"

#include <utility>

#include "host/host_objects.h"
#include "host/text_convert.h"
#include "log/log_record.h"

namespace UrlFormat {

namespace {

// The log lines of this class name their origin this way, and log readers
// on the host side search for exactly these texts.
const char kSourceFile[] = "common/public/include/Public/Helper/UrlDealwith";

constexpr size_t npos = std::string::npos;

// ECMAScript "\d" (ASCII digits only: the library never changes the C locale).
inline bool isDigit(char c) { return c >= '0' && c <= '9'; }
// What ECMAScript "." refuses in narrow text.
inline bool isLineTerminator(char c) { return c == '\n' || c == '\r'; }
// "[^/:]": every other byte, line terminators included.
inline bool isHostChar(char c) { return c != '/' && c != ':'; }
// Case folding of a case-ignoring pattern in the C locale.
inline char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Length of "https?://" (case ignored) at `pos`, or 0. The optional "s" is
// unambiguous: after "http" comes either "s" or ":", never both.
size_t schemeLengthAt(const std::string& s, size_t pos) {
    static const char kHttp[] = "http";
    if (s.size() - pos < 7) return 0;
    for (size_t k = 0; k < 4; ++k) {
        if (lowerAscii(s[pos + k]) != kHttp[k]) return 0;
    }
    size_t end = pos + 4;
    if (lowerAscii(s[end]) == 's') ++end;
    if (s.compare(end, 3, "://") != 0) return 0;
    return end + 3 - pos;
}

// End of group "([^/:]+:\d+|[^/:]+)" matched at `pos`, or npos when neither
// alternative matches there. A shorter run of "[^/:]+" is always followed by
// another host character, never by ":", so only the longest run can carry
// the port of the first alternative; the port then takes every digit.
size_t hostGroupEnd(const std::string& s, size_t pos) {
    const size_t n = s.size();
    size_t end = pos;
    while (end < n && isHostChar(s[end])) ++end;
    if (end == pos) return npos;
    if (end + 1 < n && s[end] == ':' && isDigit(s[end + 1])) {
        end += 2;
        while (end < n && isDigit(s[end])) ++end;
    }
    return end;
}

// End of "(.*)" matched at `pos`.
size_t lineEnd(const std::string& s, size_t pos) {
    while (pos < s.size() && !isLineTerminator(s[pos])) ++pos;
    return pos;
}

UrlInfo splitAt(const std::string& s, size_t hostBegin, size_t hostEnd) {
    UrlInfo info;
    info.strHost.assign(s, hostBegin, hostEnd - hostBegin);
    info.strPath.assign(s, hostEnd, lineEnd(s, hostEnd) - hostEnd);
    return info;
}

// `port` (digits) after the colon at `colon`, and no further digit.
bool portAt(const std::string& s, size_t colon, const char* port, size_t length) {
    const size_t after = colon + 1 + length;
    return s.compare(colon + 1, length, port) == 0 && (after == s.size() || !isDigit(s[after]));
}

}  // namespace

HttpHeadDealwith::HttpHeadDealwith() {
    MJRef<mj::IMJEnvironment> environment = qn::host::CreateEnvironment();
    if (environment) {
        // The directory comes with its own trailing separator.
        std::string strConfigFilePath =
            qn::WideToUtf8(environment->GetValue(mj::MJ_ENV_CONFIG_DIR, 0)) + "Resource/Protocol.json";
        qn::log::Info() << kSourceFile << "UrlFormat::HttpHeadDealwith::HttpHeadDealwith" << 49
                        << "strConfigFilePath:" << strConfigFilePath << "\n";
        m_protocolDocument = qn::host::OpenConfigDocument(strConfigFilePath);
    }
    MJRef<mj::IHubHostCall> host = qn::host::HostCallObject();
    if (host) host->Notify("HttpHead", nullptr, nullptr);
}

HttpHeadDealwith::~HttpHeadDealwith() = default;

HttpHeadDealwith& HttpHeadDealwith::instance() {
    static HttpHeadDealwith s_instance;
    return s_instance;
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
    std::string strUrl(_pstrUrl);
    if (!isHttpUrl(strUrl)) {
        qn::log::Error() << kSourceFile << "UrlFormat::HttpHeadDealwith::GetNewUrl" << 275 << strUrl
                         << "is not http/https format url!" << "\n";
        return strUrl;
    }
    UrlInfo tUrlInfo = splitHostAndPathFromUrl(strUrl);
    if (tUrlInfo.strHost.empty()) return strUrl;

    std::string strHead;
    if (getProtocolHead(tUrlInfo.strHost, strHead)) {
        strUrl = strHead + tUrlInfo.strHost + tUrlInfo.strPath;
    } else {
        // The table may know the server only under the other scheme's port.
        std::string strSwapped = tUrlInfo.strHost;
        if (swapDefaultPort(strSwapped) && getProtocolHead(strSwapped, strHead)) {
            strUrl = strHead + strSwapped + tUrlInfo.strPath;
        }
    }
    return removeDefaultPort(strUrl);
}

bool HttpHeadDealwith::isHttpUrl(const std::string& strUrl) {
    if (strUrl.find("://") == npos) return true;
    for (size_t pos = 0; pos < strUrl.size(); ++pos) {
        if (schemeLengthAt(strUrl, pos) != 0) return true;
    }
    return false;
}

UrlInfo HttpHeadDealwith::splitHostAndPathFromUrl(const std::string& strUrl) {
    UrlInfo tUrlInfo = splitHostAndPathFromUrlForWithHead(strUrl);
    if (tUrlInfo.strHost.empty()) tUrlInfo = splitHostAndPathFromUrlForWithoutHead(strUrl);
    return tUrlInfo;
}

UrlInfo HttpHeadDealwith::splitHostAndPathFromUrlForWithHead(const std::string& strUrl) {
    UrlInfo tUrlInfo;
    // Leftmost start of a match: a scheme followed by a non-empty host.
    for (size_t pos = 0; pos < strUrl.size(); ++pos) {
        const size_t schemeLength = schemeLengthAt(strUrl, pos);
        if (schemeLength == 0) continue;
        const size_t hostBegin = pos + schemeLength;
        const size_t hostEnd = hostGroupEnd(strUrl, hostBegin);
        if (hostEnd == npos) continue;
        tUrlInfo = splitAt(strUrl, hostBegin, hostEnd);
        if (tUrlInfo.strHost.find(':') == npos) {
            // Deliberately case-sensitive and anchored at the start of the
            // URL, not at the scheme that matched.
            tUrlInfo.strHost += strUrl.compare(0, 8, "https://") == 0 ? ":443" : ":80";
        }
        break;
    }
    return tUrlInfo;
}

UrlInfo HttpHeadDealwith::splitHostAndPathFromUrlForWithoutHead(const std::string& strUrl) {
    qn::log::Info() << kSourceFile << "UrlFormat::HttpHeadDealwith::splitHostAndPathFromUrlForWithoutHead"
                    << 100 << "strUrl:" << strUrl;
    UrlInfo tUrlInfo;
    // The leftmost match starts at the first host character; the host group
    // always matches there.
    const size_t hostBegin = strUrl.find_first_not_of("/:");
    if (hostBegin != npos) {
        tUrlInfo = splitAt(strUrl, hostBegin, hostGroupEnd(strUrl, hostBegin));
        if (tUrlInfo.strHost.find(':') == npos) {
            const std::string strServer = strUrl.substr(0, strUrl.find('/'));
            tUrlInfo.strHost += isIpAddress(strServer) ? ":80" : ":443";
        }
    }
    qn::log::Info() << kSourceFile << "UrlFormat::HttpHeadDealwith::splitHostAndPathFromUrlForWithoutHead"
                    << 119 << "tUrlInfo.strHost:" << tUrlInfo.strHost << "tUrlInfo.strPath:"
                    << tUrlInfo.strPath << "\n";
    return tUrlInfo;
}

bool HttpHeadDealwith::isIpAddress(const std::string& strText) {
    const size_t n = strText.size();
    size_t pos = 0;
    for (int group = 0; group < 4; ++group) {
        const size_t begin = pos;
        while (pos < n && pos - begin < 3 && isDigit(strText[pos])) ++pos;
        if (pos == begin) return false;
        if (group < 3) {
            if (pos == n || strText[pos] != '.') return false;
            ++pos;
        }
    }
    return pos == n;
}

bool HttpHeadDealwith::swapDefaultPort(std::string& strHost) {
    // Built into a new string so that a text full of ports stays linear.
    std::string strSwapped;
    size_t copied = 0;
    size_t colon = strHost.find(':');
    while (colon != npos) {
        if (portAt(strHost, colon, "80", 2)) {
            strSwapped.append(strHost, copied, colon + 1 - copied).append("443");
            copied = colon + 3;
            colon = strHost.find(':', copied);
        } else if (portAt(strHost, colon, "443", 3)) {
            strSwapped.append(strHost, copied, colon + 1 - copied).append("80");
            copied = colon + 4;
            colon = strHost.find(':', copied);
        } else {
            colon = strHost.find(':', colon + 1);
        }
    }
    if (copied == 0) return false;
    strSwapped.append(strHost, copied, npos);
    strHost = std::move(strSwapped);
    return true;
}

std::string HttpHeadDealwith::removeDefaultPort(const std::string& strUrl) {
    const size_t schemeColon = strUrl.find("://");
    if (schemeColon == npos) return strUrl;
    const size_t portColon = strUrl.find(':', schemeColon + 1);
    if (portColon == npos) return strUrl;
    const size_t schemeLength = schemeColon + 3;
    const size_t portLength = strUrl.size() - portColon - 1;
    const bool httpOn443 = schemeLength == 7 && strUrl.compare(0, 7, "http://") == 0 && portLength == 3 &&
                           strUrl.compare(portColon + 1, 3, "443") == 0;
    const bool httpsOn80 = schemeLength == 8 && strUrl.compare(0, 8, "https://") == 0 && portLength == 2 &&
                           strUrl.compare(portColon + 1, 2, "80") == 0;
    if (httpOn443 || httpsOn80) return strUrl.substr(0, portColon);
    return strUrl;
}

bool HttpHeadDealwith::getProtocolHead(const std::string& strKey, std::string& strHead) const {
    if (!m_protocolDocument) return false;
    return qn::host::ReadDocumentText(m_protocolDocument.get(), strKey.c_str(), &strHead);
}

}  // namespace UrlFormat
