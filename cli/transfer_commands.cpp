#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "calls.h"
#include "commands.h"
#include "console.h"
#include "host.h"
#include "request_options.h"

namespace qn {
namespace cli {

namespace {

struct DownloadOptions {
    std::string url, output, mode, digest, cookie, user, password, post;
    std::vector<std::string> headers;
    int timeout = 0;
    double stall = 5;
};

const std::map<std::string, Mode> kModes = {{"sync", Mode::Sync}, {"threaded", Mode::Threaded}, {"async", Mode::Async}};

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof(text), "%g", seconds);
    return text;
}

std::string rate_text(const TaskResult& r) {
    char text[96];
    std::snprintf(text, sizeof(text), "%.2f s", r.seconds);
    std::string s = text;
    if (r.seconds > 0) s += ", " + format_bytes(static_cast<double>(r.bytes) / r.seconds) + "/s";
    return s;
}

// After a stop: what the library promised, as this process sees it.
std::string after_stop(const std::string& path) {
    const int open = open_descriptors(path);
    const int tasks = task_threads();
    std::string text;
    if (open >= 0) text += open == 0 ? "; file closed" : "; FILE STILL OPEN";
    if (tasks >= 0) text += tasks == 0 ? ", no task running" : ", " + std::to_string(tasks) + " task(s) still running";
    return text;
}

[[noreturn]] void interrupted(const std::string& what, const TaskResult& r, const std::string& path) {
    throw Failure{kExitInterrupted, "stopped by Ctrl-C: " + what + " " + std::to_string(r.bytes) + " bytes" +
                                        (path.empty() ? "" : " in " + path) + (r.stopped == 1 ? after_stop(path) : "")};
}

[[noreturn]] void failed(const std::string& what, uint64_t log_offset) {
    const std::string reason = last_error_since(log_offset);
    throw Failure{kExitFailed, what + " failed" + (reason.empty() ? " (nothing in the log)" : ": " + reason)};
}

int run_download(const DownloadOptions& o) {
    const bool ftp = url_scheme(o.url) == "ftp";
    check_url(o.url, {"http", "https", "ftp"});
    for (const std::string& h : o.headers) check_header(h);
    check_plain("cookie", o.cookie);
    check_plain("credentials", o.digest + o.user + o.password);
    DownloadRequest r;
    r.url = o.url;
    r.mode = o.mode.empty() ? (ftp ? Mode::Sync : Mode::Async) : kModes.at(o.mode);
    r.path = o.output.empty() ? url_file_name(o.url) : o.output;
    if (r.path.empty()) throw Failure{kExitUsage, "the URL names no file; give -o FILE"};
    const auto usage = [](const std::string& m) { throw Failure{kExitUsage, m}; };
    if (ftp && r.mode != Mode::Sync) usage("FTP downloads run synchronously (--mode sync)");
    if (!ftp && (!o.user.empty() || !o.password.empty())) usage("--user and --password are for ftp:// URLs; use --digest for HTTP");
    if (ftp && (!o.headers.empty() || !o.digest.empty() || !o.cookie.empty())) usage("FTP downloads take no headers, Digest or cookie");
    if (r.mode == Mode::Threaded && (!o.headers.empty() || !o.digest.empty() || !o.cookie.empty())) {
        usage("the threaded download takes no headers, Digest or cookie; use --mode sync or async");
    }
    if (r.mode != Mode::Async && (!o.post.empty() || o.timeout > 0)) usage("--post and --timeout need --mode async");
    if (!o.digest.empty() && o.digest.find(':') == std::string::npos) usage("--digest takes USER:PASSWORD");
    r.headers = o.headers;
    r.digest = o.digest;
    r.cookie = o.cookie;
    r.user = o.user;
    r.password = o.password;
    r.post = o.post;
    r.post_given = !o.post.empty();
    r.timeout = o.timeout;
    r.stall = std::chrono::milliseconds(static_cast<int64_t>(o.stall * 1000));

    const uint64_t log_offset = log_size();
    // A synchronous download cannot be stopped: Ctrl-C ends the program.
    std::unique_ptr<InterruptGuard> interrupts;
    if (r.mode != Mode::Sync) interrupts = std::make_unique<InterruptGuard>();
    ProgressBar bar("download", r.mode != Mode::Sync && stdout_is_terminal());
    const TaskResult result = download(r, bar);
    if (result.outcome == Outcome::Interrupted) interrupted("download", result, r.path);
    if (result.outcome == Outcome::Stalled) {
        throw Failure{kExitFailed, "no data for " + seconds_text(o.stall) + " s; stopped with " +
                                       std::to_string(result.bytes) + " bytes in " + r.path};
    }
    if (result.outcome != Outcome::Completed) failed("download", log_offset);
    std::printf("downloaded %s: %llu bytes in %s\n", r.path.c_str(), static_cast<unsigned long long>(result.bytes),
                rate_text(result).c_str());
    return kExitOk;
}

struct UploadOptions {
    std::string url, file, mode;
    std::vector<std::string> headers;
    double stall = 5;
};

int run_upload(const UploadOptions& o) {
    check_url(o.url, {"http", "https"});
    for (const std::string& h : o.headers) check_header(h);
    read_whole_file(o.file);  // the worker would end without a word on a file it cannot open
    UploadRequest r;
    r.url = o.url;
    r.path = o.file;
    r.mode = o.mode == "threaded" ? Mode::Threaded : Mode::Async;
    if (r.mode == Mode::Threaded && !o.headers.empty()) throw Failure{kExitUsage, "the threaded upload takes no headers"};
    r.headers = o.headers;
    r.stall = std::chrono::milliseconds(static_cast<int64_t>(o.stall * 1000));

    const uint64_t log_offset = log_size();
    InterruptGuard interrupts;
    ProgressBar bar("upload", stdout_is_terminal());
    const TaskResult result = upload(r, bar);
    if (result.outcome == Outcome::Interrupted) {
        if (r.mode == Mode::Threaded) {
            // The library offers no stop for this task; leave at once,
            // without running exit-time destructors under a live worker.
            std::fprintf(err(), "quillnet: stopped by Ctrl-C (the threaded upload has no stop; its worker ends with the process)\n");
            std::fflush(stdout);
            std::_Exit(kExitInterrupted);
        }
        interrupted("upload", result, "");
    }
    if (result.outcome == Outcome::Stalled) {
        throw Failure{kExitFailed, "upload made no progress for " + seconds_text(o.stall) + " s"};
    }
    if (result.outcome != Outcome::Completed) failed("upload", log_offset);
    std::fwrite(result.answer.data(), 1, result.answer.size(), stdout);
    if (!result.answer.empty() && result.answer.back() != '\n') std::fputc('\n', stdout);
    std::printf("uploaded %s: %llu bytes in %s\n", r.path.c_str(), static_cast<unsigned long long>(result.bytes),
                rate_text(result).c_str());
    return kExitOk;
}

}  // namespace

void add_transfer_commands(CLI::App& app, Action& action) {
    auto d = std::make_shared<DownloadOptions>();
    CLI::App* dl = app.add_subcommand("download", "download a URL (HTTP, HTTPS or FTP) into a file");
    dl->add_option("url", d->url, "http://, https:// or ftp:// URL")->required();
    dl->add_option("-o,--output", d->output, "the local file (default: the URL's file name)");
    dl->add_option("-m,--mode", d->mode, "sync, threaded or async (default async; FTP: sync)")
        ->check(CLI::IsMember({"sync", "threaded", "async"}));
    dl->add_option("-H,--header", d->headers, "extra header line 'Name: value' (repeatable; sync, async)");
    dl->add_option("--digest", d->digest, "HTTP Digest credentials USER:PASSWORD (sync, async)");
    dl->add_option("-b,--cookie", d->cookie, "send the Cookie header 'name=value; ...' (sync, async)");
    dl->add_option("-u,--user", d->user, "FTP user name");
    dl->add_option("-p,--password", d->password, "FTP password");
    dl->add_option("--post", d->post, "POST this JSON body instead of a GET (async)");
    dl->add_option("--timeout", d->timeout, "seconds for the whole transfer (async)")->check(CLI::Range(1, 86400));
    dl->add_option("--stall", d->stall, "threaded: seconds without data that end the wait (default 5)")
        ->check(CLI::Range(0.1, 3600.0));
    dl->footer("On a terminal: a live progress line; space pauses and resumes an asynchronous download,\n"
               "Ctrl-C stops it through the library and exits with status 130.");
    dl->callback([d, &action] { action = [d] { return run_download(*d); }; });

    auto u = std::make_shared<UploadOptions>();
    CLI::App* up = app.add_subcommand("upload", "upload a file as a multipart form post");
    up->add_option("url", u->url, "http:// or https:// URL")->required();
    up->add_option("file", u->file, "the local file to send")->required();
    up->add_option("-m,--mode", u->mode, "threaded or async (default async)")->check(CLI::IsMember({"threaded", "async"}));
    up->add_option("-H,--header", u->headers, "extra header line 'Name: value' (repeatable; async)");
    up->add_option("--stall", u->stall, "seconds without progress that end the wait (default 5)")->check(CLI::Range(0.1, 3600.0));
    up->footer("Needs a library with the upload exports; Ctrl-C stops an asynchronous upload through the library.");
    up->callback([u, &action] { action = [u] { return run_upload(*u); }; });
}

}  // namespace cli
}  // namespace qn
