// The synchronous downloads: one URL into one local file on the caller's
// thread, over HTTP(S) or FTP, written through the host's file object.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "Public/Helper/UrlDealwith.h"
#include "Public/Helper/url_encode.h"
#include "api/export_guard.h"
#include "cache/timed_perform.h"
#include "curl/libcurl_wrapper.h"
#include "curl/transfer.h"
#include "host/simple_file.h"
#include "host/text_convert.h"
#include "log/log_record.h"
#include "quillnet.h"
#include "submit/param_doc.h"
#include "transfer/download_task.h"

namespace qn {
namespace transfer {

namespace {

constexpr long kHttpTimeoutSeconds = 30;
constexpr long kFtpTimeoutSeconds = 10;
constexpr size_t kUrlBufferSize = 1024;
constexpr size_t kCredentialBufferSize = 260;
constexpr char kHtmlStart[] = "<html>";
constexpr mj::wchar kWriteBinary[] = {'w', 'b', 0};

// Where one call's chunks go: the wide path, and the file wrapper, made when
// the first acceptable chunk arrives.
struct file_sink {
    qn::mjwstring path;
    std::shared_ptr<MJBase::CSimpleFile> file;
};

// The rewritten URL, percent-encoded into the fixed URL buffer.
void encode_url(const std::string& new_url, char (&buffer)[kUrlBufferSize]) {
    url_encode(new_url.c_str(), static_cast<int>(new_url.size()), buffer,
               static_cast<int>(kUrlBufferSize));
}

// The log texts that tell the HTTP variants apart.
struct HttpLogTexts {
    uint32_t code_level;
    const char* code;
    const char* perform_failed;  // before the result
    const char* perform_url;     // between result and URL buffer
    bool url_before_result;
    const char* http_url;
    const char* http_path;
    const char* http_path_end;
    const char* http_code;
};

constexpr HttpLogTexts kPlainTexts = {
    qn::log::kLevelWarn,
    "HTTP Response Code:",
    "error: CLibcurlWrapper::instance().curl_easy_perform(curl)[",
    "] != CURLE_OK, url:",
    false,
    "error: HTTP url:",
    " path:[",
    "]",
    " request failed with code:",
};

constexpr HttpLogTexts kExTexts = {
    qn::log::kLevelInfo,
    "HTTP Response Code: ",
    "CLibcurlWrapper::instance().curl_easy_perform(curl) != CURLE_OK, ",
    " curl_ret=",
    true,
    "HTTP url:",
    " path:",
    "",
    " request failed with code",
};

// What quillnet_download_urlfile_ex3 adds to the request.
struct Ex3Extras {
    const char* param_ex;
    const char* cookie;
};

int download_http(const char* url, const char* path, const HttpLogTexts& texts,
                  const Ex3Extras* extras) {
    if (url == nullptr || path == nullptr) {
        qn::log::Info() << "url == NULL || path == NULL" << "\n";
        return 0;
    }
    // A cookie is sent as a header value as it stands: a line break in it
    // would start a header of the caller's making.
    if (extras != nullptr && qn::curl::refuse_line_break(extras->cookie, "cookie")) return 0;
    file_sink sink{qn::Utf8ToWide(path), nullptr};
    qn::curl::Transfer transfer;
    CURL* curl = transfer.easy();
    if (curl == nullptr) {
        qn::log::Info() << "curl == NULL" << "\n";
        return 0;
    }
    const std::string new_url = UrlFormat::HttpHeadDealwith::GetNewUrl(url);
    char url_buffer[kUrlBufferSize] = {};
    encode_url(new_url, url_buffer);

    qn::curl::RequestOptions options;
    options.url = url_buffer;
    options.timeout = kHttpTimeoutSeconds;
    options.nosignal = 1;
    options.write_function = &on_curl_write_file;
    options.write_data = &sink;
    options.tls = qn::curl::TlsVerify::kOff;
    qn::curl::setup_request(curl, options);

    CLibcurlWrapper& curl_api = CLibcurlWrapper::instance();
    curl_api.curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
    if (extras != nullptr) {
        if (extras->cookie != nullptr) curl_api.curl_easy_setopt(curl, CURLOPT_COOKIE, extras->cookie);
        // No document is a document without header lines: nothing to add,
        // and nothing worth a log line, since leaving it out is legitimate.
        if (extras->param_ex != nullptr) {
            qn::submit::add_param_ex_headers(extras->param_ex, transfer.headers(),
                                             qn::submit::AuthDigestMode::kDigestCredentials, curl);
        }
    }
    transfer.append_header(qn::submit::kAcceptCharset);
    transfer.append_header(qn::submit::kAcceptEncoding);
    curl_api.curl_easy_setopt(curl, CURLOPT_HTTPHEADER, transfer.headers().get());

    const int result = timed_easy_perform(curl, new_url, nullptr, nullptr);
    long response_code = 0;
    curl_api.curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response_code);
    const int32_t code = static_cast<int32_t>(response_code);
    qn::log::Record(texts.code_level) << texts.code << code << "\n";

    int ok = 0;
    if (code != 200) {
        qn::log::Error() << texts.http_url << url << texts.http_path << path << texts.http_path_end
                         << texts.http_code << code << "\n";
    } else if (result != CURLE_OK) {
        if (texts.url_before_result) {
            qn::log::Error() << texts.perform_failed << url_buffer << texts.perform_url << result << "\n";
        } else {
            qn::log::Error() << texts.perform_failed << result << texts.perform_url << url_buffer << "\n";
        }
    } else {
        ok = 1;
    }
    if (sink.file) sink.file->Close();
    return ok;
}

}  // namespace

// Refuses a body that begins like an HTML page (an error page where a file
// was expected), on every chunk; writes everything else through the host's
// file object, which the first acceptable chunk opens, replacing an existing
// file only then. A short count ends the transfer with libcurl's write error.
size_t on_curl_write_file(char* data, size_t size, size_t count, void* sink_ptr) {
    return guard_callback<size_t>(0, [&]() -> size_t {
        auto* sink = static_cast<file_sink*>(sink_ptr);
        if (data == nullptr || sink == nullptr) return 0;
        const size_t length = size * count;
        if (length == 0) return 0;
        if (length >= sizeof(kHtmlStart) - 1 &&
            std::memcmp(data, kHtmlStart, sizeof(kHtmlStart) - 1) == 0) {
            qn::log::Info() << "Received HTML content, probably an error page" << "\n";
            return 0;
        }
        if (!sink->file) {
            sink->file = std::make_shared<MJBase::CSimpleFile>();
            if (!sink->file->Open(sink->path.c_str(), kWriteBinary)) return 0;
        }
        return sink->file->Write(data, static_cast<uint32_t>(length));
    });
}

}  // namespace transfer
}  // namespace qn

using qn::transfer::download_http;

extern "C" QUILLNET_API int quillnet_download_urlfile(const char* url, const char* path) {
    return qn::api::guarded("quillnet_download_urlfile", 0, [&] {
        return download_http(url, path, qn::transfer::kPlainTexts, nullptr);
    });
}

extern "C" QUILLNET_API int quillnet_download_urlfile_ex2(const char* url, const char* path) {
    return qn::api::guarded("quillnet_download_urlfile_ex2", 0, [&] {
        return download_http(url, path, qn::transfer::kExTexts, nullptr);
    });
}

extern "C" QUILLNET_API int quillnet_download_urlfile_ex3(const char* url, const char* path,
                                                          const char* param_ex, const char* cookie) {
    return qn::api::guarded("quillnet_download_urlfile_ex3", 0, [&] {
        const qn::transfer::Ex3Extras extras{param_ex, cookie};
        return download_http(url, path, qn::transfer::kExTexts, &extras);
    });
}

extern "C" QUILLNET_API int quillnet_download_ftpfile(const char* ftp, const char* path,
                                                      const char* user, const char* password) {
    return qn::api::guarded("quillnet_download_ftpfile", 0, [&]() -> int {
        if (ftp == nullptr || path == nullptr) {
            qn::log::Info() << "ftp == NULL || path == NULL" << "\n";
            return 0;
        }
        const bool with_credentials = user != nullptr && password != nullptr;
        // The pair goes into USER and PASS commands as it stands: a line
        // break would start a command of the caller's making.
        if (with_credentials &&
            (qn::curl::refuse_line_break(user, "user") || qn::curl::refuse_line_break(password, "password"))) {
            return 0;
        }
        // The credential buffer holds 259 characters. A longer pair is
        // refused rather than cut: a cut password fails the login at best
        // and counts against the account at worst.
        char credentials[qn::transfer::kCredentialBufferSize] = {};
        if (with_credentials &&
            std::snprintf(credentials, sizeof(credentials), "%s:%s", user, password) >=
                static_cast<int>(sizeof(credentials))) {
            qn::log::Info() << "strlen(user) + strlen(password) + 1 > 259" << "\n";
            return 0;
        }
        qn::transfer::file_sink sink{qn::Utf8ToWide(path), nullptr};
        qn::curl::Transfer transfer;
        CURL* curl = transfer.easy();
        if (curl == nullptr) {
            qn::log::Info() << "curl == NULL" << "\n";
            return 0;
        }
        const std::string new_url = UrlFormat::HttpHeadDealwith::GetNewUrl(ftp);
        char url_buffer[qn::transfer::kUrlBufferSize] = {};
        qn::transfer::encode_url(new_url, url_buffer);

        qn::curl::RequestOptions options;
        options.url = url_buffer;
        options.timeout = qn::transfer::kFtpTimeoutSeconds;
        options.nosignal = 1;
        options.write_function = &qn::transfer::on_curl_write_file;
        options.write_data = &sink;
        options.protocols = qn::curl::Protocols::kFtp;
        qn::curl::setup_request(curl, options);
        CLibcurlWrapper::instance().curl_easy_setopt(curl, CURLOPT_BUFFERSIZE,
                                                     qn::transfer::kReceiveBufferSize);
        if (with_credentials) {
            CLibcurlWrapper::instance().curl_easy_setopt(curl, CURLOPT_USERPWD, credentials);
        }

        int ok = 1;
        if (timed_easy_perform(curl, new_url, nullptr, nullptr) != CURLE_OK) {
            qn::log::Error() << "CLibcurlWrapper::instance().curl_easy_perform(curl) != CURLE_OK,"
                             << url_buffer << "\n";
            ok = 0;
        }
        if (sink.file) sink.file->Close();
        return ok;
    });
}
