#include <cstdio>
#include <filesystem>
#include <memory>

#include "calls.h"
#include "console.h"
#include "host.h"
#include "library_log.h"
#include "request_options.h"

namespace qn {
namespace cli {

namespace {

struct Timer {
    int64_t start = steady_ms();
    double seconds() const { return static_cast<double>(steady_ms() - start) / 1000.0; }
};

void check_started(int64_t fd) {
    if (fd == -1) throw Failure{kExitFailed, "the library started no task (see its log: " + log_file() + ")"};
}

// A threaded task's end is known only from its worker's span line, which
// the sink drops when the log is set above level 30.
void require_span_lines(const char* what) {
    const int level = log_level();
    if (level > 30) {
        throw Failure{kExitUsage, std::string(what) + " reports its end only in the library's log, and mjlog.dat's "
                                  "log_level=" + std::to_string(level) + " drops those lines: use --mode async, "
                                  "or log_level=30"};
    }
}

int body_length(const std::string& text) {
    return static_cast<int>(text.size());
}

// The program's own record of a transfer in the library's log: the report
// page takes its bytes (which the library does not log) from it.
void record(const std::string& what, const TaskResult& r) {
    char seconds[32];
    std::snprintf(seconds, sizeof(seconds), "%.3f", r.seconds);
    host_record("quillnet host: " + what + ": " + std::to_string(r.bytes) + " bytes in " + seconds + " s");
}

}  // namespace

uint64_t size_on_disk(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0 : static_cast<uint64_t>(size);
}

TaskResult download(const DownloadRequest& r, ProgressBar& bar, const TurnHook& hook) {
    Library& lib = library();
    TaskResult result;
    Timer timer;
    if (r.mode == Mode::Sync) {
        int rc = 0;
        if (url_scheme(r.url) == "ftp") {
            const bool login = !r.user.empty() || !r.password.empty();
            rc = lib.quillnet_download_ftpfile(r.url.c_str(), r.path.c_str(), login ? r.user.c_str() : nullptr,
                                               login ? r.password.c_str() : nullptr);
        } else if (r.headers.empty() && r.digest.empty() && r.cookie.empty()) {
            rc = lib.quillnet_download_urlfile(r.url.c_str(), r.path.c_str());
        } else {
            rc = lib.quillnet_download_urlfile_ex3(r.url.c_str(), r.path.c_str(),
                                                   option_document(r.headers, r.digest).c_str(),
                                                   r.cookie.empty() ? nullptr : r.cookie.c_str());
        }
        result.outcome = rc == 1 ? Outcome::Completed : Outcome::Failed;
    } else if (r.mode == Mode::Threaded) {
        require_span_lines("the threaded download");
        TaskEvents events(TaskEvents::Kind::Download);
        SpanWatch span(log_size());
        const int64_t fd = lib.quillnet_download_urlfile_ex(r.url.c_str(), r.path.c_str(), &events, on_task_event);
        check_started(fd);
        TaskControl control{[fd] { return library().quillnet_getpos_download_urlfile(fd); }, {}, EndRule::SpanLine,
                            [&span] { return span.result(); }};
        TaskWatch watch(events, control, bar);
        result.outcome = watch.run(hook);
        result.received = events.bytes;
        result.stopped = lib.quillnet_stop_download_urlfile(fd);
    } else {
        // Code 2 with a document: exactly the lines asked for (a Cookie line
        // too, which this download has no parameter of its own for).
        std::vector<std::string> headers = r.headers;
        if (!r.cookie.empty()) headers.push_back("Cookie: " + r.cookie);
        const std::string doc = option_document(headers, r.digest, r.timeout);
        TaskEvents events(TaskEvents::Kind::Download);
        const int64_t fd = lib.quillnet_download_asyn_urlfile(
            r.url.c_str(), r.path.c_str(), r.post_given ? r.post.c_str() : nullptr, body_length(r.post),
            r.post_given ? 2 : 1, 2, doc.c_str(), body_length(doc), &events, on_task_event);
        check_started(fd);
        TaskControl control{[fd] { return library().quillnet_getpos_download_asyn_urlfile(fd); },
                            [fd](int mask) { return library().quillnet_control_download_asyn_urlfile(fd, mask); },
                            EndRule::DoneEvent, {}};
        TaskWatch watch(events, control, bar);
        result.outcome = watch.run(hook);
        result.received = events.bytes;
        result.stopped = lib.quillnet_stop_download_asyn_urlfile(fd);
    }
    bar.close();
    result.bytes = size_on_disk(r.path);
    result.seconds = timer.seconds();
    record("download " + r.url + " -> " + r.path, result);
    return result;
}

TaskResult upload(const UploadRequest& r, ProgressBar& bar) {
    Library& lib = library();
    TaskResult result;
    Timer timer;
    // No stop exists for the threaded upload: its worker is never joined and
    // may report after this function returns, so what it reports to lives,
    // with the handle, for the rest of the process.
    struct Kept {
        int64_t fd;
        TaskEvents* events;
    };
    static auto* const threaded = new std::vector<Kept>();
    TaskEvents local(TaskEvents::Kind::Upload);
    TaskEvents& events = r.mode == Mode::Threaded ? *new TaskEvents(TaskEvents::Kind::Upload) : local;
    std::unique_ptr<StdoutCapture> answer;
    if (r.mode == Mode::Threaded) {
        require_span_lines("the threaded upload");
        // The worker hands the server's answer to libcurl's default output,
        // this process's standard output: it is taken from there, so that
        // it reaches the user like the asynchronous upload's.
        answer = std::make_unique<StdoutCapture>(config_dir() + "log/upload-answer.tmp");
        SpanWatch span(log_size());
        const int64_t fd = lib.quillnet_upload_urlfile_ex(r.url.c_str(), r.path.c_str(), &events, on_task_event);
        threaded->push_back({fd, &events});
        check_started(fd);
        TaskControl control{[fd] { return library().quillnet_getpos_upload_urlfile(fd); }, {}, EndRule::SpanLine,
                            [&span] { return span.result(); }};
        TaskWatch watch(events, control, bar);
        result.outcome = watch.run();
    } else {
        const std::string doc = option_document(r.headers);
        events.total = size_on_disk(r.path);
        const int64_t fd = lib.quillnet_upload_asyn_urlfile(r.url.c_str(), r.path.c_str(), nullptr, 0, 2, 2,
                                                            doc.c_str(), body_length(doc), &events, on_task_event);
        check_started(fd);
        TaskControl control{[fd] { return library().quillnet_getpos_upload_asyn_urlfile(fd); }, {},
                            EndRule::DoneEvent, {}};
        TaskWatch watch(events, control, bar);
        result.outcome = watch.run();
        result.stopped = lib.quillnet_stop_upload_asyn_urlfile(fd);
    }
    bar.close();
    result.bytes = size_on_disk(r.path);
    result.answer = answer ? answer->finish() : events.take_answer();
    result.seconds = timer.seconds();
    record("upload " + r.path + " -> " + r.url, result);
    return result;
}

TaskResult submit_multipart_task(const std::string& url, const std::vector<FormPart>& parts,
                                 const std::vector<std::string>& headers, ProgressBar& bar) {
    Library& lib = library();
    TaskResult result;
    Timer timer;
    TaskEvents events(TaskEvents::Kind::Upload);
    for (const FormPart& p : parts) events.total += p.data.size();
    FormDescription description(parts);
    const std::string doc = headers.empty() ? std::string() : option_document(headers);
    const int64_t fd = lib.quillnet_submit_multipart_asyn(url.c_str(), description.get(), 1, 2, 2,
                                                          doc.empty() ? nullptr : doc.c_str(), body_length(doc),
                                                          &events, on_task_event);
    check_started(fd);
    TaskControl control{[fd] { return library().quillnet_getpos_multipart_asyn(fd); }, {}, EndRule::DoneEvent, {}};
    TaskWatch watch(events, control, bar);
    result.outcome = watch.run();
    result.stopped = lib.quillnet_stop_multipart_asyn(fd);
    bar.close();
    result.bytes = events.total;
    result.answer = events.take_answer();
    result.seconds = timer.seconds();
    record("multipart " + url, result);
    return result;
}

}  // namespace cli
}  // namespace qn
