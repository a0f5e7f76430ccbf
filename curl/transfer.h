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
// the multi handle, the header list, the form, the easy handle, the multi
// handle. That is the order libcurl needs (lists and form are only read
// while the handle transfers) and the one the asynchronous workers use.
#ifndef QN_CURL_TRANSFER_H
#define QN_CURL_TRANSFER_H

#include <curl/curl.h>

namespace qn {
namespace curl {

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
    // For APIs that fill a list in place (getinfo, the option document).
    curl_slist** out() { return &list_; }
    // Appends a copy of `line`. On failure the list stays as it was and
    // false is returned, as libcurl's own append leaves it.
    bool append(const char* line);
    void reset();

private:
    curl_slist* list_ = nullptr;
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
};

// Connect time-out every request sets itself; the timed perform replaces
// it with kPerformConnectTimeoutSeconds for easy transfers.
constexpr long kConnectTimeoutSeconds = 20;
constexpr long kPerformConnectTimeoutSeconds = 5;

// How a request treats the server's certificate.
enum class TlsVerify {
    kOff,             // peer and host not verified (the hosts' devices use
                      // self-signed certificates)
    kEngineDefault,   // left to libcurl: verified against its store
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
};

// Sets URL, time-outs, signals, write callback and TLS verification, in
// that order, through the binding.
void setup_request(CURL* curl, const RequestOptions& options);

}  // namespace curl
}  // namespace qn

#endif  // QN_CURL_TRANSFER_H
