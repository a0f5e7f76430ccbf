// The library calls behind the commands, shared by the commands and the
// demo: each takes what the user asked for and hands back what the library
// answered, without printing.
#ifndef QN_CLI_CALLS_H
#define QN_CLI_CALLS_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "quillnet.h"
#include "task_watch.h"

namespace qn {
namespace cli {

// ---- submits --------------------------------------------------------------

enum class ContentType { Form, Json, Text, None };

struct SubmitRequest {
    std::string url;
    int method = 1;                 // submit_type: 1 GET, 2 POST, 4 PUT, 5 DELETE
    std::string body;
    ContentType type = ContentType::Form;
    std::vector<std::string> headers;
    std::string cookie;             // sent as the Cookie header when not empty
    bool want_cookies = false;
    int timeout = 30;
};

struct Cookie {
    std::string domain, path, name, value;
    std::string line;  // the engine's cookie-file line
};

struct SubmitResult {
    int rc = -1;                    // the export's result
    long status = 0;
    std::string redirect;
    std::string body;
    std::vector<Cookie> cookies;
};

SubmitResult submit(const SubmitRequest& request);

struct FormPart {
    int kind;                       // WEB_PART_FIELD, WEB_PART_FILE, WEB_PART_SENDFILE
    std::string name;               // field name, or the file's name
    std::string data;
};

// The library's multipart description of `parts`: a header, then one
// pointer per part; each part a web_part record with its data right after.
class FormDescription {
public:
    explicit FormDescription(const std::vector<FormPart>& parts);
    web_data* get() { return reinterpret_cast<web_data*>(pointers_.data()); }

private:
    std::vector<std::unique_ptr<char[]>> blocks_;
    web_data_header header_;
    std::vector<void*> pointers_;
};

struct MultipartResult {
    int rc = -1;
    std::string body;
};

MultipartResult submit_multipart(const std::string& url, const std::vector<FormPart>& parts,
                                 const std::vector<std::string>& headers, int timeout);

// ---- tasks ----------------------------------------------------------------

struct TaskResult {
    Outcome outcome = Outcome::Failed;
    uint64_t bytes = 0;             // on disk (downloads) or sent (uploads)
    uint64_t received = 0;          // handed to the callback (threaded and asynchronous downloads)
    double seconds = 0;
    std::string answer;             // the server's answer to an upload
    int stopped = -1;               // the stop export's result, when it has one
};

using TurnHook = std::function<void(TaskWatch&)>;

enum class Mode { Sync, Threaded, Async };

struct DownloadRequest {
    std::string url, path;
    Mode mode = Mode::Async;
    std::vector<std::string> headers;
    std::string digest;             // "user:password"
    std::string cookie;
    std::string user, password;     // FTP
    std::string post;               // asynchronous POST body
    bool post_given = false;
    int timeout = 0;                // asynchronous: 0 keeps the library's default
};

TaskResult download(const DownloadRequest& request, ProgressBar& bar, const TurnHook& hook = {});

struct UploadRequest {
    std::string url, path;
    Mode mode = Mode::Async;
    std::vector<std::string> headers;
};

TaskResult upload(const UploadRequest& request, ProgressBar& bar);

TaskResult submit_multipart_task(const std::string& url, const std::vector<FormPart>& parts,
                                 const std::vector<std::string>& headers, ProgressBar& bar);

uint64_t size_on_disk(const std::string& path);

}  // namespace cli
}  // namespace qn

#endif
