// The extended submits (method, content type, option document, status,
// redirect target, cookies, TLS curves) and the versioned submit, which
// runs the same pipeline from two caller-filled records.
#include <cstdlib>
#include <cstring>
#include <string>

#include "Public/Helper/UrlDealwith.h"
#include "api/export_guard.h"
#include "cache/timed_perform.h"
#include "curl/libcurl_wrapper.h"
#include "curl/transfer.h"
#include "log/log_record.h"
#include "quillnet.h"
#include "submit/param_doc.h"
#include "submit/recv_data.h"
#include "submit/submit_internal.h"

namespace {

constexpr int kSupportedVersion = 0;
constexpr const char kEmptyContent[] = "";

// Everything the pipeline needs, whichever export it came from. The
// versioned submit differs from quillnet_submit_ex7 in a few fixed ways,
// selected by `versioned`.
struct SubmitRequest {
    bool versioned = false;
    const char* url = nullptr;  // as the caller gave it
    int timeout = 0;
    const char* content = kEmptyContent;
    int nosignal = 0;
    int submit_type = 0;
    int conten_type = 0;
    const char* param_ex = nullptr;
    char** ret_buf = nullptr;
    int* ret_buf_len = nullptr;
    long* http_code = nullptr;
    char** redirect_url = nullptr;
    int need_get_cookie = 0;
    char** cookie_buf = nullptr;
    int* cookie_buf_len = nullptr;
    const char* need_set_cookie = nullptr;
    const char* need_ssl_ec_curves = nullptr;
};

// The content-type line, or the document's lines. Returns false when the
// request is to be abandoned before the transfer.
bool add_content_type(const SubmitRequest& req, qn::curl::Transfer& transfer) {
    switch (req.conten_type) {
    case qn::submit::kContentJson:
        transfer.append_header(qn::submit::kJsonContentLine);
        return true;
    case qn::submit::kContentFromDocument:
        if (req.param_ex == nullptr) {
            qn::log::Warn() << (req.versioned ? "param_ex->param_ex == NULL" : "param_ex == NULL")
                            << "\n";
            return false;
        }
        return qn::submit::add_param_ex_headers(req.param_ex, transfer.headers(),
                                                qn::submit::AuthDigestMode::kSendAsHeader,
                                                transfer.easy()) == qn::submit::ParamDocOutcome::kOk;
    case qn::submit::kContentForm:
        if (!req.versioned) {
            transfer.append_header(qn::submit::kFormContentLine);
            qn::log::Info() << "CONTENT_APP_STANDARD conten_type:" << req.conten_type << "\n";
            return true;
        }
        break;
    default:
        break;
    }
    if (req.versioned) {
        qn::log::Error() << "unknown param->conten_type:" << req.conten_type << "\n";
    } else {
        transfer.append_header(qn::submit::kTextContentLine);
        qn::log::Info() << "unknown conten_type:" << req.conten_type << "\n";
    }
    return true;
}

// The status, and for a 3xx answer a heap copy of the target libcurl
// reports. Without a target, or when the copy cannot be made, the caller's
// `*redirect_url` is left as it was.
void read_redirect(const SubmitRequest& req, CURL* curl) {
    if (req.http_code == nullptr || req.redirect_url == nullptr) return;
    CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
    curl_api.curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, req.http_code);
    if (*req.http_code / 100 != 3) return;
    char* target = nullptr;
    curl_api.curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &target);
    if (target == nullptr) return;
    const size_t size = std::strlen(target) + 1;
    char* copy = static_cast<char*>(std::malloc(size));
    if (copy == nullptr) return;
    std::memcpy(copy, target, size);
    *req.redirect_url = copy;
    if (req.versioned) {
        qn::log::Warn() << "param_ex->redirect_url " << copy << " pcUrl:" << target << "\n";
    } else {
        qn::log::Info() << "redirect_url :" << copy << "\n";
    }
}

// From the receive buffer to the hand-over of the answer; the arguments
// have been checked.
int run_submit(const SubmitRequest& req) {
    qn::submit::ReceiveBuffer recv;
    if (!recv.create()) return -1;
    qn::curl::Transfer transfer;
    CURL* curl = transfer.easy();
    if (curl == nullptr) return -1;
    CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();

    // The versioned submit requests its URL as given.
    const std::string url = req.versioned ? std::string(req.url)
                                          : UrlFormat::HttpHeadDealwith::GetNewUrl(req.url);
    // The name-only listing is the one FTP request of the family.
    const bool ftp_listing = !req.versioned && req.submit_type == qn::submit::kSubmitDirList;
    qn::submit::setup_submit(curl, url, req.timeout, req.nosignal, recv.get(), qn::curl::TlsVerify::kOff,
                             ftp_listing ? qn::curl::Protocols::kFtp : qn::curl::Protocols::kHttp);
    qn::submit::apply_submit_type(curl, req.submit_type, req.content, !req.versioned);
    if (!req.versioned && req.need_ssl_ec_curves != nullptr) {
        qn::log::Info() << "---------------need_ssl_ec_curves:---------------" << req.need_ssl_ec_curves
                        << "\n";
        curl_api.curl_easy_setopt(curl, CURLOPT_SSL_EC_CURVES, req.need_ssl_ec_curves);
    }
    // A cookie that would break the Cookie line abandons the request.
    bool ready = true;
    if (!req.versioned && req.need_set_cookie != nullptr) {
        qn::log::Info() << "---------------need_set_cookie:---------------" << req.need_set_cookie
                        << "\n";
        ready = qn::curl::set_cookie(curl, req.need_set_cookie, "need_set_cookie");
    }

    qn::submit::start_headers(transfer);
    int result = -1;
    if (ready && add_content_type(req, transfer)) {
        transfer.use_headers();
        // An empty file name switches the cookie engine on without reading
        // anything.
        if (req.need_get_cookie != 0) curl_api.curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");

        const int code = timed_easy_perform(curl, url, req.content, recv.get(), req.timeout);
        read_redirect(req, curl);
        if (code != CURLE_OK) {
            if (req.versioned) {
                qn::log::Error() << qn::submit::kPerformFailed << code
                                 << "] != CURLE_OK, url:" << req.url << " content:" << req.content
                                 << "\n";
            } else {
                qn::log::Error() << qn::submit::kPerformFailed << code << "] != CURLE_OK,"
                                 << req.url << "," << req.content << "\n";
            }
        } else {
            result = collect_cookies(req.need_get_cookie, curl, req.cookie_buf, req.cookie_buf_len);
        }
    }
    recv.finish(result, req.ret_buf, req.ret_buf_len);
    return result;
}

}  // namespace

// ex2 to ex6 only fill in defaults; they run inside ex7's guard.
extern "C" QUILLNET_API int quillnet_submit_ex2(const char* url, int timeout, const char* content,
                                                int nosignal, int submit_type, char** ret_buf,
                                                int* ret_buf_len) {
    return quillnet_submit_ex3(url, timeout, content, nosignal, 0, submit_type, ret_buf,
                               ret_buf_len);
}

extern "C" QUILLNET_API int quillnet_submit_ex3(const char* url, int timeout, const char* content,
                                                int nosignal, int conten_type, int submit_type,
                                                char** ret_buf, int* ret_buf_len) {
    return quillnet_submit_ex4(url, timeout, content, nosignal, submit_type, conten_type, nullptr,
                               ret_buf, ret_buf_len);
}

extern "C" QUILLNET_API int quillnet_submit_ex4(const char* url, int timeout, const char* content,
                                                int nosignal, int submit_type, int conten_type,
                                                const char* param_ex, char** ret_buf,
                                                int* ret_buf_len) {
    return quillnet_submit_ex5(url, timeout, content, nosignal, submit_type, conten_type, param_ex,
                               ret_buf, ret_buf_len, nullptr, nullptr);
}

extern "C" QUILLNET_API int quillnet_submit_ex5(const char* url, int timeout, const char* content,
                                                int nosignal, int submit_type, int conten_type,
                                                const char* param_ex, char** ret_buf,
                                                int* ret_buf_len, long* http_code,
                                                char** redirect_url) {
    return quillnet_submit_ex6(url, timeout, content, nosignal, submit_type, conten_type, param_ex,
                               ret_buf, ret_buf_len, http_code, redirect_url, 0, nullptr, nullptr);
}

extern "C" QUILLNET_API int quillnet_submit_ex6(const char* url, int timeout, const char* content,
                                                int nosignal, int submit_type, int conten_type,
                                                const char* param_ex, char** ret_buf,
                                                int* ret_buf_len, long* http_code,
                                                char** redirect_url, int need_get_cookie,
                                                char** cookie_buf, int* cookie_buf_len) {
    return quillnet_submit_ex7(url, timeout, content, nosignal, submit_type, conten_type, param_ex,
                               ret_buf, ret_buf_len, http_code, redirect_url, need_get_cookie,
                               cookie_buf, cookie_buf_len, nullptr, nullptr);
}

extern "C" QUILLNET_API int quillnet_submit_ex7(const char* url, int timeout, const char* content,
                                                int nosignal, int submit_type, int conten_type,
                                                const char* param_ex, char** ret_buf,
                                                int* ret_buf_len, long* http_code,
                                                char** redirect_url, int need_get_cookie,
                                                char** cookie_buf, int* cookie_buf_len,
                                                const char* need_set_cookie,
                                                const char* need_ssl_ec_curves) {
    return qn::api::guarded("quillnet_submit_ex7", -1, [&]() -> int {
        if (!qn::submit::check_url_and_timeout(url, timeout, qn::log::kLevelWarn)) return -1;
        if (need_get_cookie != 0 && (cookie_buf == nullptr || cookie_buf_len == nullptr)) {
            qn::log::Warn() << "cookie_buf == NULL || cookie_buf_len == NULL" << "\n";
            return -1;
        }
        if (ret_buf == nullptr) qn::log::Warn() << "ret_buf == NULL" << "\n";

        SubmitRequest req;
        req.url = url;
        req.timeout = timeout;
        req.content = content == nullptr ? kEmptyContent : content;
        req.nosignal = nosignal;
        req.submit_type = submit_type;
        req.conten_type = conten_type;
        req.param_ex = param_ex;
        req.ret_buf = ret_buf;
        req.ret_buf_len = ret_buf_len;
        req.http_code = http_code;
        req.redirect_url = redirect_url;
        req.need_get_cookie = need_get_cookie;
        req.cookie_buf = cookie_buf;
        req.cookie_buf_len = cookie_buf_len;
        req.need_set_cookie = need_set_cookie;
        req.need_ssl_ec_curves = need_ssl_ec_curves;
        return run_submit(req);
    });
}

extern "C" QUILLNET_API int quillnet_submit_common(QuillnetSubmitParam* param,
                                                   QuillnetSubmitParamEx* param_ex) {
    return qn::api::guarded("quillnet_submit_common", -1, [&]() -> int {
        if (param == nullptr) {
            qn::log::Warn() << "param == NULL" << "\n";
            return -1;
        }
        if (param_ex == nullptr) {
            qn::log::Warn() << "param_ex == NULL" << "\n";
            return -1;
        }
        if (param->url == nullptr) {
            qn::log::Warn() << "param->url == NULL" << "\n";
            return -1;
        }
        if (param->timeout < 0) {
            qn::log::Warn() << "timeout < 0" << "\n";
            return -1;
        }
        if (param_ex->need_get_cookie != 0 &&
            (param_ex->cookie_buf == nullptr || param_ex->cookie_buf_len == nullptr)) {
            qn::log::Warn() << "cookie_buf == NULL || cookie_buf_len == NULL" << "\n";
            return -1;
        }
        // Written back into the caller's record, as documented in the header.
        if (param->content == nullptr) param->content = kEmptyContent;
        if (param_ex->ret_buf == nullptr) qn::log::Warn() << "param_ex->ret_buf == NULL" << "\n";

        if (param->version > kSupportedVersion) {
            qn::log::Error() << "not support version:" << param->version
                             << " cur support version :" << kSupportedVersion << "\n";
            return -1;
        }
        if (param->version < 0) {
            qn::log::Warn() << "param->version < 0" << "\n";
            return -1;
        }
        if (param->size != static_cast<int>(sizeof(QuillnetSubmitParam))) {
            qn::log::Warn() << "param->size != sizeof(QuillnetSubmitParam)" << "\n";
            return -1;
        }
        if (param_ex->size != static_cast<int>(sizeof(QuillnetSubmitParamEx))) {
            qn::log::Warn() << "param_ex->size != sizeof(QuillnetSubmitParamEx)" << "\n";
            return -1;
        }

        SubmitRequest req;
        req.versioned = true;
        req.url = param->url;
        req.timeout = param->timeout;
        req.content = param->content;
        req.nosignal = param->nosignal;
        req.submit_type = param->submit_type;
        req.conten_type = param->conten_type;
        req.param_ex = param_ex->param_ex;
        req.ret_buf = param_ex->ret_buf;
        req.ret_buf_len = param_ex->ret_buf_len;
        req.http_code = param_ex->http_code;
        req.redirect_url = param_ex->redirect_url;
        req.need_get_cookie = param_ex->need_get_cookie;
        req.cookie_buf = param_ex->cookie_buf;
        req.cookie_buf_len = param_ex->cookie_buf_len;
        return run_submit(req);
    });
}
