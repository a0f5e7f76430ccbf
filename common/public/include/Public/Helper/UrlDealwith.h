// URL normalisation applied before every transfer.
#ifndef QN_PUBLIC_HELPER_URLDEALWITH_H
#define QN_PUBLIC_HELPER_URLDEALWITH_H

#include <string>

namespace UrlFormat {

class HttpHeadDealwith {
public:
    // The URL rewritten by the host's protocol table. Never fails: a null
    // URL gives empty text, a URL that is not HTTP(S) comes back unchanged.
    static std::string GetNewUrl(const char* _pstrUrl);
};

}  // namespace UrlFormat

#endif  // QN_PUBLIC_HELPER_URLDEALWITH_H
