// URL normalisation applied before every transfer: the scheme of a URL is
// chosen per host and port by the host's protocol table
// (<configuration directory>Resource/Protocol.json, read once per process),
// and a port that the rewrite left as the other scheme's default is dropped.
//
// The URL grammar is that of four ECMAScript patterns:
//   scheme test        (https?)://                                   case ignored
//   split with scheme  (?:https?:\/\/)([^\/:]+:\d+|[^\/:]+)(.*)      case ignored
//   split without      ([^\/:]+:\d+|[^\/:]+)(.*)                     case significant
//   IP address         ^(\d{1,3}\.){3}\d{1,3}$                       case significant
// They are matched by hand-written scanners that give exactly the results of
// a backtracking ECMAScript engine (leftmost match, first alternative first,
// "." stopping at "\n" and "\r"), in linear time and constant stack: a
// recursive regex engine overflows the stack on long URLs, and compiling
// patterns on every call would cost more than the rewrite itself.
#ifndef QN_PUBLIC_HELPER_URLDEALWITH_H
#define QN_PUBLIC_HELPER_URLDEALWITH_H

#include <string>

#include "host/mj_ref.h"
#include "mj/mj_interfaces.h"

namespace UrlFormat {

// A URL split into its server and the rest.
struct UrlInfo {
    std::string strHost;  // host name or address; ":" and a port once split
    std::string strPath;  // everything after host and port, up to a line break
};

class HttpHeadDealwith {
public:
    // The URL rewritten by the host's protocol table. Never fails: a null
    // URL gives empty text, a URL that is not HTTP(S) comes back unchanged.
    // Safe on any thread; the process-wide instance is made on first use.
    static std::string GetNewUrl(const char* _pstrUrl);

    // The process-wide instance, created at the first call.
    static HttpHeadDealwith& instance();

    // True when the URL has no "://" at all, or contains "http://" or
    // "https://" in any case.
    static bool isHttpUrl(const std::string& url);

    // The split with scheme, or, when that finds no host, the one without.
    static UrlInfo splitHostAndPathFromUrl(const std::string& url);
    // Host after the first "http://" or "https://" (any case) that is
    // followed by one; the port defaults to 443 only when the URL starts
    // with "https://" exactly, else to 80. Both empty without a match.
    static UrlInfo splitHostAndPathFromUrlForWithHead(const std::string& url);
    // Host from the first character that is neither "/" nor ":"; the port
    // defaults to 80 when the URL up to its first "/" is an IPv4 address,
    // else to 443. Logs the URL and the result at level 25.
    static UrlInfo splitHostAndPathFromUrlForWithoutHead(const std::string& url);

    // Four dot-separated groups of one to three digits; no range check.
    static bool isIpAddress(const std::string& text);

    // Turns every ":80" into ":443" and every ":443" into ":80" where the
    // port is not followed by another digit. True when anything changed.
    static bool swapDefaultPort(std::string& host);

    // "http://host:443" gives "http://host", "https://host:80" gives
    // "https://host"; a port with anything after it stays.
    static std::string removeDefaultPort(const std::string& url);

    // The scheme prefix the protocol table gives for "host:port", when it
    // holds one as text.
    bool getProtocolHead(const std::string& key, std::string& head) const;

    HttpHeadDealwith(const HttpHeadDealwith&) = delete;
    HttpHeadDealwith& operator=(const HttpHeadDealwith&) = delete;

private:
    HttpHeadDealwith();
    ~HttpHeadDealwith();

    std::string rewrite(const char* _pstrUrl) const;

    qn::host::MJRef<mj::IHubDocument> protocol_document_;  // empty when there is none
};

}  // namespace UrlFormat

#endif  // QN_PUBLIC_HELPER_URLDEALWITH_H
