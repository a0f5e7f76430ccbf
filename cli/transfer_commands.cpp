#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "calls.h"
#include "commands.h"
#include "console.h"
#include "host.h"
#include "library_log.h"
#include "request_options.h"

namespace qn {
namespace cli {

namespace {

struct DownloadOptions {
    std::string url, output, mode, user, cookie, post;
    std::vector<std::string> headers;
    bool remote_name = false, digest = false, fail = false;
    int timeout = 0;
    const CLI::App* command = nullptr;
};

const std::map<std::string, Mode> kModes = {{"sync", Mode::Sync}, {"threaded", Mode::Threaded}, {"async", Mode::Async}};

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

[[noreturn]] void usage(const std::string& message) {
    throw Failure{kExitUsage, message};
}

// The limit a time-out of this download hit. The synchronous and threaded
// downloads have fixed ones.
std::string time_limit(const DownloadRequest& r) {
    if (r.mode == Mode::Sync) {
        return url_scheme(r.url) == "ftp" ? "10 s (the FTP download's limit)"
                                          : "30 s (the synchronous download's limit; use --mode async)";
    }
    if (r.mode == Mode::Threaded) return "300 s (the threaded download's limit; use --mode async)";
    return r.timeout > 0 ? std::to_string(r.timeout) + " s (--max-time)"
                         : "20000 s (the asynchronous download's default limit)";
}

// Removes a file of the program's own when the scope ends.
struct TempFile {
    std::string path;
    ~TempFile() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove(path, ec);
    }
};

int run_download(const DownloadOptions& o) {
    const bool ftp = url_scheme(o.url) == "ftp";
    check_url(o.url, {"http", "https", "ftp"});
    for (const std::string& h : o.headers) check_header(h);
    DownloadRequest r;
    r.url = o.url;
    r.mode = o.mode.empty() ? (ftp ? Mode::Sync : Mode::Async) : kModes.at(o.mode);
    const std::string name = o.output.empty() ? url_file_name(o.url) : o.output;
    if (name.empty()) usage("the URL names no file; give -o FILE (-o - for standard output)");
    const std::string target = output_path(name, false, o.url);
    if (!o.user.empty()) check_credentials(o.user);
    const bool timed = o.command->count("--max-time") > 0;
    const bool posts = o.command->count("--data") > 0;
    if (ftp && r.mode != Mode::Sync) usage("FTP downloads run synchronously (--mode sync)");
    if (ftp && (!o.headers.empty() || o.digest || !o.cookie.empty() || posts || timed)) {
        usage("FTP downloads take no headers, --digest, cookie, -d or --max-time (they stop at 10 s)");
    }
    if (o.digest && o.user.empty()) usage("--digest needs -u USER:PASSWORD");
    if (r.mode == Mode::Threaded && (!o.headers.empty() || !o.user.empty() || !o.cookie.empty())) {
        usage("the threaded download takes no headers, credentials or cookie; use --mode sync or async");
    }
    if (r.mode != Mode::Async && (posts || timed)) {
        usage(std::string(posts ? "-d" : "--max-time") + " needs --mode async (the synchronous download stops at " +
              "30 s, the threaded one at 300 s)");
    }
    if (r.mode == Mode::Threaded && o.fail) {
        usage("--fail: the threaded download does not see the HTTP status; use --mode async or sync, which fail on it");
    }
    r.headers = o.headers;
    if (!ftp && !o.user.empty() && !o.digest) r.headers.push_back(basic_authorization(o.user));
    if (o.digest) r.digest = o.user;
    if (ftp && !o.user.empty()) {
        r.user = o.user.substr(0, o.user.find(':'));
        r.password = o.user.substr(o.user.find(':') + 1);
    }
    r.cookie = cookie_argument(o.cookie, o.url);
    check_plain("cookie", r.cookie);
    r.post = o.post;
    r.post_given = posts;
    r.timeout = o.timeout;

    // Standard output and devices get a finished file, written and checked
    // here: the library's own writes to them are not seen.
    std::error_code ec;
    TempFile temp;
    if (target == "-" || (std::filesystem::exists(target, ec) && !std::filesystem::is_regular_file(target, ec))) {
        temp.path = temp_path();
    }
    r.path = temp.path.empty() ? target : temp.path;

    const LogMark mark = mark_logs();
    // A synchronous download cannot be stopped: Ctrl-C ends the program.
    std::unique_ptr<InterruptGuard> interrupts;
    if (r.mode != Mode::Sync) interrupts = std::make_unique<InterruptGuard>();
    ProgressBar bar("download", r.mode != Mode::Sync && show_progress());
    const TaskResult result = download(r, bar);
    if (result.outcome == Outcome::Interrupted) interrupted("download", result, r.path);
    if (result.outcome != Outcome::Completed) transfer_failed("download", mark, time_limit(r));
    // The threaded and asynchronous downloads take a chunk as written when
    // their file cannot be opened: what reached the file is checked here. An
    // empty body opens no file, and leaves one that was there untouched.
    if (r.mode != Mode::Sync && result.received != 0 && result.received != result.bytes) {
        throw Failure{kExitFailed, "cannot write '" + r.path + "': " + std::to_string(result.bytes) + " of " +
                                       std::to_string(result.received) + " bytes received reached it"};
    }
    if (!temp.path.empty()) copy_to_answer(temp.path, target);
    const long status = r.mode == Mode::Async ? traced_status(mark) : r.mode == Mode::Sync && !ftp ? 200 : 0;
    if (status != 0) note("HTTP " + std::to_string(status));
    const std::string shown = target == "-" ? "standard output" : target;
    note("downloaded " + shown + ": " + std::to_string(result.bytes) + " bytes in " + rate_text(result));
    transfer_succeeded(mark);
    return kExitOk;
}

struct UploadOptions {
    std::string url, file, mode, output;
    std::vector<std::string> headers;
    bool remote_name = false, fail = false;
};

int run_upload(const UploadOptions& o) {
    check_url(o.url, {"http", "https"});
    for (const std::string& h : o.headers) check_header(h);
    // The worker would end without a word on a file it cannot open.
    check_readable_file(o.file);
    const std::string output = output_path(o.output, o.remote_name, o.url);
    UploadRequest r;
    r.url = o.url;
    r.path = o.file;
    r.mode = o.mode == "threaded" ? Mode::Threaded : Mode::Async;
    if (r.mode == Mode::Threaded && !o.headers.empty()) usage("the threaded upload takes no headers; use --mode async");
    if (r.mode == Mode::Threaded && o.fail) {
        usage("--fail: the threaded upload does not see the HTTP status; use --mode async");
    }
    r.headers = o.headers;

    const LogMark mark = mark_logs();
    InterruptGuard interrupts;
    ProgressBar bar("upload", show_progress());
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
    if (result.outcome != Outcome::Completed) transfer_failed("upload", mark, "");
    // The asynchronous upload's trace holds the status; the threaded one
    // leaves no word of it.
    const long status = r.mode == Mode::Async ? traced_status(mark) : 0;
    if (o.fail && status >= 400) throw Failure{kExitFailed, "upload failed: HTTP " + std::to_string(status)};
    write_answer(output, result.answer);
    if (status != 0) note("HTTP " + std::to_string(status));
    note("uploaded " + r.path + ": " + std::to_string(result.bytes) + " bytes in " + rate_text(result));
    transfer_succeeded(mark);
    return kExitOk;
}

}  // namespace

void add_transfer_commands(CLI::App& app, Action& action) {
    auto d = std::make_shared<DownloadOptions>();
    CLI::App* dl = app.add_subcommand("download", "download a URL (HTTP, HTTPS or FTP) into a file");
    d->command = dl;
    dl->add_option("url", d->url, "http://, https:// or ftp:// URL")->required();
    dl->add_option("-o,--output", d->output, "the local file ('-': standard output; default: the URL's file name)");
    dl->add_flag("-O,--remote-name", d->remote_name, "name the file after the URL (the default)");
    dl->add_option("--mode", d->mode,
                   "sync: stops at 30 s (FTP: 10 s), the library's fixed limit; threaded: stops at 300 s; "
                   "async (default for HTTP): --max-time, else 20000 s")
        ->check(CLI::IsMember({"sync", "threaded", "async"}));
    dl->add_option("-H,--header", d->headers, "extra header line 'Name: value' (repeatable; sync, async)");
    dl->add_option("-u,--user", d->user, "USER:PASSWORD: HTTP Basic (see --digest) or the FTP login");
    dl->add_flag("--digest", d->digest, "HTTP Digest authentication for -u (sync, async)");
    dl->add_option("-b,--cookie", d->cookie, "send cookies: 'name=value; ...' or a cookie file (sync, async)");
    dl->add_option("-d,--data,--post", d->post, "POST this JSON body instead of a GET (async)");
    dl->add_option("-m,--max-time,--timeout", d->timeout, "seconds for the whole transfer (async)")
        ->check(CLI::Range(1, 86400));
    dl->add_flag("-f,--fail", d->fail, "fail on an HTTP status of 400 or more (sync and async always do)");
    dl->footer("Time limits: the synchronous HTTP download stops at 30 s and the FTP download at 10 s, the\n"
               "threaded download at 300 s; only the asynchronous one takes --max-time.\n"
               "On a terminal: a live progress line on standard error; space pauses and resumes an\n"
               "asynchronous download, Ctrl-C stops it through the library and exits with status 130.");
    dl->callback([d, &action] { action = [d] { return run_download(*d); }; });

    auto u = std::make_shared<UploadOptions>();
    CLI::App* up = app.add_subcommand("upload", "upload a file as a multipart form post");
    up->add_option("url", u->url, "http:// or https:// URL")->required();
    up->add_option("file", u->file, "the local file to send")->required();
    up->add_option("--mode", u->mode, "threaded or async (default async)")->check(CLI::IsMember({"threaded", "async"}));
    up->add_option("-H,--header", u->headers, "extra header line 'Name: value' (repeatable; async)");
    up->add_option("-o,--output", u->output, "write the server's answer to a file ('-': standard output, the default)");
    up->add_flag("-O,--remote-name", u->remote_name, "write the answer to a file named after the URL");
    up->add_flag("-f,--fail", u->fail, "exit 1 without the answer when the HTTP status is 400 or more (async)");
    up->footer("Ctrl-C stops an asynchronous upload through the library; the threaded upload has no stop.");
    up->callback([u, &action] { action = [u] { return run_upload(*u); }; });
}

}  // namespace cli
}  // namespace qn
