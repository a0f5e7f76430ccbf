// One owner for everything a transfer takes from libcurl, and the one place
// where a request's common options are set.
//
//     qn::curl::Transfer t;                 // easy handle made here
//     if (t.easy() == nullptr) return -1;   // nothing to free
//     t.append_header("Expect:");
//     qn::curl::setup_request(t.easy(), options);
//     ...                                   // every way out frees it all
//
// The destructor releases, in this order: the easy handle's membership of
// the multi handle, the header list, the form, the easy handle (and with it
// its use of the connection share), the multi handle. That is the order libcurl needs (lists and form are only read
// while the handle transfers) and the one the asynchronous workers use.
#ifndef QN_CURL_TRANSFER_H
#define QN_CURL_TRANSFER_H

#include <curl/curl.h>

namespace qn {
namespace curl {

// True when `text` holds a carriage return or a line feed: such text would
// end a line of the request head (or of an FTP command) and start another
// of the sender's choosing, so none of it is ever sent.
bool has_line_break(const char* text);

// When `text` has a line break: logs "<what> with CR or LF, request not
// sent" at level 35 and returns true; the caller then abandons its request.
bool refuse_line_break(const char* text, const char* what);

// A libcurl string list (header lines, or the cookie lines getinfo hands
// out), freed through the binding when the owner goes.
class StringList {
public:
    StringList() = default;
    explicit StringList(curl_slist* adopted) : list_(adopted) {}
    ~StringList() { reset(); }
    StringList(const StringList&) = delete;
    StringList& operator=(const StringList&) = delete;

    curl_slist* get() const { return list_; }
    // For APIs that fill a list in place (getinfo).
    curl_slist** out() {
        tail_ = nullptr;
        return &list_;
    }
    // Appends a copy of `line` in constant time: libcurl's own append walks
    // the whole list each time, which makes a list of n lines cost n^2/2
    // steps. A line with a CR or LF is refused (see has_line_break). On
    // failure the list stays as it was and false is returned.
    bool append(const char* line);
    void reset();

private:
    curl_slist* list_ = nullptr;
    curl_slist* tail_ = nullptr;  // the last node; null when not known yet
};

// A libcurl form built with curl_formadd, freed with curl_formfree.
class Form {
public:
    Form() = default;
    ~Form() { reset(); }
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    curl_httppost* get() const { return first_; }
    curl_httppost** first() { return &first_; }
    curl_httppost** last() { return &last_; }
    void reset();

private:
    curl_httppost* first_ = nullptr;
    curl_httppost* last_ = nullptr;
};

// The libcurl objects of one transfer.
class Transfer {
public:
    // Makes the easy handle; easy() is null when libcurl could not.
    Transfer();
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    CURL* easy() const { return easy_; }
    StringList& headers() { return headers_; }
    Form& form() { return form_; }
    CURLM* multi() const { return multi_; }

    bool append_header(const char* line) { return headers_.append(line); }
    // Sets the header list built so far as CURLOPT_HTTPHEADER.
    void use_headers();

    // Makes the multi handle for an asynchronous transfer; false when
    // libcurl could not. Call once.
    bool create_multi();
    // Adds the easy handle to the multi handle; the destructor takes it out
    // again. Returns the CURLMcode.
    int attach();

private:
    // Declared in reverse order of release; the destructor detaches first.
    CURLM* multi_ = nullptr;
    CURL* easy_ = nullptr;
    Form form_;
    StringList headers_;
    bool attached_ = false;
    // The handle uses the process's connection share (curl/share.h). It is
    // attached where the handle is made, so that no transfer misses it.
    bool shared_ = false;
};

// Connect time-out every request sets itself; the timed perform replaces
// it with kPerformConnectTimeoutSeconds for easy transfers.
constexpr long kConnectTimeoutSeconds = 20;
constexpr long kPerformConnectTimeoutSeconds = 5;

// How a request treats the server's certificate.
enum class TlsVerify {
    kOff,             // peer and host not verified (the hosts' devices use
                      // self-signed certificates), unless the host asked for
                      // verification (QUILLNET_TLS_VERIFY, curl/host_settings.h)
    kEngineDefault,   // left to libcurl: verified against its store
};

// The schemes a request may use, and may be redirected to. An export
// allows only what it exists for; any other scheme (file, gopher, dict, ...)
// fails in libcurl before anything is sent, with CURLE_UNSUPPORTED_PROTOCOL.
enum class Protocols {
    kHttp,  // http and https: the submits and the HTTP downloads and uploads
    kFtp,   // ftp: the name-only listing and the FTP download
};

// The options every request sets the same way. Fields left at their
// "not set" value are not set on the handle.
struct RequestOptions {
    const char* url = nullptr;                      // CURLOPT_URL
    long timeout = -1;                              // CURLOPT_TIMEOUT, seconds
    long nosignal = -1;                             // CURLOPT_NOSIGNAL
    long connect_timeout = kConnectTimeoutSeconds;  // CURLOPT_CONNECTTIMEOUT
    curl_write_callback write_function = nullptr;   // CURLOPT_WRITEFUNCTION
    void* write_data = nullptr;                     // CURLOPT_WRITEDATA
    TlsVerify tls = TlsVerify::kEngineDefault;
    Protocols protocols = Protocols::kHttp;         // always set
};

// Sets URL, time-outs, signals, write callback and TLS verification, in
// that order, through the binding; then the allowed protocols, for the
// request and for any redirect, and the host's certificate store when it
// named one (QUILLNET_TLS_CA_FILE). An engine that refuses every way of
// restricting the protocols gets no URL either (logged at level 35), so the
// transfer fails before it connects rather than run unrestricted.
void setup_request(CURL* curl, const RequestOptions& options);

// Sets CURLOPT_COOKIE, unless `cookie` holds a CR or LF: then nothing is
// set, the refusal is logged (refuse_line_break) and false returned; the
// caller abandons its request before the transfer.
bool set_cookie(CURL* curl, const char* cookie, const char* what);

}  // namespace curl
}  // namespace qn

#endif  // QN_CURL_TRANSFER_H
