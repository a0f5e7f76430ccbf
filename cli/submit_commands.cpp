#include <CLI/CLI.hpp>

#include <cstdio>
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

const std::vector<std::string> kWebSchemes = {"http", "https"};

struct SubmitOptions {
    std::string url;
    std::vector<std::string> headers;
    std::string type;
    std::vector<std::string> data;
    std::string data_file;
    std::string cookie;
    bool show_cookies = false;
    std::string cookie_jar;
    std::string output;
    bool remote_name = false;
    std::string user;
    bool digest = false;
    int timeout = 30;
    bool fail = false;
};

void check_headers(const std::vector<std::string>& headers) {
    for (const std::string& h : headers) check_header(h);
}

std::string time_limit_text(int seconds) {
    return std::to_string(seconds) + " s (--max-time)";
}

// HTTP Digest through the library's one Digest road for HTTP: the
// asynchronous download, into a file that is then the answer. It offers no
// redirect or cookies and posts its body as JSON.
std::string digest_submit(const SubmitOptions& o, const SubmitRequest& r, const char* name, const LogMark& mark) {
    const auto refuse = [](const std::string& m) { throw Failure{kExitUsage, m}; };
    if (r.method != 1 && r.method != 2) refuse("--digest works with get, post and download");
    if (o.show_cookies || !o.cookie_jar.empty()) refuse("--digest cannot show or save cookies");
    if (r.method == 2 && !o.type.empty() && o.type != "json") refuse("post --digest sends its body as JSON: give -t json");
    if (r.body.find('\0') != std::string::npos) refuse("post --digest cannot send a body with NUL bytes");
    DownloadRequest d;
    d.url = r.url;
    d.path = temp_path();
    d.mode = Mode::Async;
    d.headers = r.headers;
    d.digest = o.user;
    d.cookie = r.cookie;
    d.post = r.body;
    d.post_given = r.method == 2;
    d.timeout = o.timeout;
    ProgressBar bar(name, false);
    const TaskResult result = download(d, bar);
    std::string body;
    if (result.outcome == Outcome::Completed && result.bytes > 0) body = read_whole_file(d.path);
    std::error_code ec;
    std::filesystem::remove(d.path, ec);
    if (result.outcome != Outcome::Completed) transfer_failed(name, mark, time_limit_text(o.timeout));
    const long status = traced_status(mark);
    if (status != 0) note("HTTP " + std::to_string(status));
    return body;
}

int run_submit(const SubmitOptions& o, int method, const char* name) {
    check_url(o.url, kWebSchemes);
    check_headers(o.headers);
    const std::string output = output_path(o.output, o.remote_name, o.url);
    if (!o.cookie_jar.empty()) output_path(o.cookie_jar, false, o.url);
    if (!o.data.empty() && !o.data_file.empty()) throw Failure{kExitUsage, "give -d or --data-file, not both"};
    if (method == 1 && (!o.data.empty() || !o.data_file.empty())) {
        throw Failure{kExitUsage, "get sends no body; use post or put for -d"};
    }
    if (o.digest && o.user.empty()) throw Failure{kExitUsage, "--digest needs -u USER:PASSWORD"};
    if (!o.user.empty()) check_credentials(o.user);
    SubmitRequest r;
    r.url = o.url;
    r.method = method;
    r.body = o.data_file.empty() ? data_argument(o.data) : read_whole_file(o.data_file);
    static const std::map<std::string, ContentType> types = {
        {"form", ContentType::Form}, {"json", ContentType::Json}, {"text", ContentType::Text}, {"none", ContentType::None}};
    r.type = o.type.empty() ? (method == 2 || method == 4 ? ContentType::Form : ContentType::None) : types.at(o.type);
    r.headers = o.headers;
    if (!o.user.empty() && !o.digest) r.headers.push_back(basic_authorization(o.user));
    r.cookie = cookie_argument(o.cookie, o.url);
    check_plain("cookie", r.cookie);
    r.want_cookies = o.show_cookies || !o.cookie_jar.empty();
    r.timeout = o.timeout;

    const LogMark mark = mark_logs();
    if (o.digest) {
        write_answer(output, digest_submit(o, r, name, mark));
        transfer_succeeded(mark);
        return kExitOk;
    }
    const SubmitResult result = submit(r);
    if (result.rc != 0) transfer_failed(name, mark, time_limit_text(o.timeout));
    if (o.fail && result.status >= 400) {
        throw Failure{kExitFailed, std::string(name) + " failed: HTTP " + std::to_string(result.status)};
    }
    // The answer first: a write that fails is then the only line.
    write_answer(output, result.body);
    if (!o.cookie_jar.empty()) {
        std::string jar = "# Netscape HTTP Cookie File\n";
        for (const Cookie& c : result.cookies) jar += c.line + "\n";
        write_answer(o.cookie_jar, jar);
    }
    note("HTTP " + std::to_string(result.status));
    if (!result.redirect.empty()) note("redirect: " + result.redirect);
    for (const Cookie& c : result.cookies) {
        note("cookie: " + c.name + "=" + c.value + " (domain " + c.domain + ", path " + c.path + ")");
    }
    if (r.want_cookies && result.cookies.empty()) note("cookie: none set");
    transfer_succeeded(mark);
    return kExitOk;
}

void add_submit(CLI::App& app, Action& action, const char* name, int method, const char* description) {
    auto o = std::make_shared<SubmitOptions>();
    CLI::App* cmd = app.add_subcommand(name, description);
    cmd->add_option("url", o->url, "http:// or https:// URL")->required();
    cmd->add_option("-H,--header", o->headers, "extra header line 'Name: value' (repeatable)");
    cmd->add_option("-t,--type", o->type, "content type of the body: form, json, text or none")
        ->check(CLI::IsMember({"form", "json", "text", "none"}));
    cmd->add_option("-d,--data", o->data,
                    "request body; @FILE reads a file without its line breaks, @- standard input; several are "
                    "joined with &");
    cmd->add_option("--data-file", o->data_file, "send a file's bytes unchanged as the body ('-': standard input)");
    cmd->add_option("-b,--cookie", o->cookie, "send cookies: 'name=value; name2=value2', or a cookie file (as -c writes)");
    cmd->add_flag("--cookies", o->show_cookies, "show the cookies the server set");
    cmd->add_option("-c,--cookie-jar", o->cookie_jar, "write the cookies the server set to a cookie file");
    cmd->add_option("-o,--output", o->output, "write the body to a file ('-': standard output, the default)");
    cmd->add_flag("-O,--remote-name", o->remote_name, "write the body to a file named after the URL");
    cmd->add_option("-u,--user", o->user, "USER:PASSWORD, sent with HTTP Basic authentication (see --digest)");
    if (method == 1 || method == 2) {
        cmd->add_flag("--digest", o->digest, "use HTTP Digest authentication for -u (the body is posted as JSON)");
    }
    cmd->add_option("-m,--max-time,--timeout", o->timeout, "seconds for the whole request (default 30)")
        ->check(CLI::Range(0, 86400));
    cmd->add_flag("-f,--fail", o->fail, "exit 1 without writing the body when the HTTP status is 400 or more");
    cmd->callback([o, method, name, &action] { action = [o, method, name] { return run_submit(*o, method, name); }; });
}

struct MultipartOptions {
    std::string url;
    std::vector<std::string> fields;
    std::vector<std::string> files;
    std::vector<std::string> sendfiles;
    std::vector<std::string> headers;
    bool async = false;
    int timeout = 30;
    std::string output;
    bool remote_name = false;
    bool fail = false;
    const CLI::App* command = nullptr;
};

std::string base_name(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// curl's -F: name=value, name=<FILE (a field holding the file's text) and
// name=@FILE (a file part). The library names its file parts "file" and
// "sendfile" itself.
FormPart form_field(const std::string& f) {
    const size_t eq = f.find('=');
    if (eq == std::string::npos || eq == 0) throw Failure{kExitUsage, "bad field '" + f + "': expected name=value"};
    const std::string name = f.substr(0, eq), value = f.substr(eq + 1);
    if (!value.empty() && value[0] == '<') return {WEB_PART_FIELD, name, read_whole_file(value.substr(1))};
    if (value.empty() || value[0] != '@') return {WEB_PART_FIELD, name, value};
    const std::string path = value.substr(1);
    if (name == "file") return {WEB_PART_FILE, base_name(path), read_whole_file(path)};
    if (name == "sendfile") return {WEB_PART_SENDFILE, base_name(path), read_whole_file(path)};
    throw Failure{kExitUsage, "-F '" + f + "': the library posts files only as \"file\" or \"sendfile\"; use -F file=@" +
                                  path + " or -F sendfile=@" + path};
}

// The parts in the order the command line gave them, whatever their kind.
std::vector<FormPart> form_parts(const MultipartOptions& o) {
    std::vector<FormPart> parts;
    size_t field = 0, file = 0, sendfile = 0;
    for (const CLI::Option* opt : o.command->parse_order()) {
        const std::string name = opt->get_name();
        if (name == "--field") parts.push_back(form_field(o.fields.at(field++)));
        if (name == "--file") {
            const std::string& f = o.files.at(file++);
            parts.push_back({WEB_PART_FILE, base_name(f), read_whole_file(f)});
        }
        if (name == "--sendfile") {
            const std::string& f = o.sendfiles.at(sendfile++);
            parts.push_back({WEB_PART_SENDFILE, base_name(f), read_whole_file(f)});
        }
    }
    return parts;
}

int run_multipart(const MultipartOptions& o) {
    check_url(o.url, kWebSchemes);
    check_headers(o.headers);
    const std::string output = output_path(o.output, o.remote_name, o.url);
    if (o.fail) {
        throw Failure{kExitUsage, "--fail: the multipart submits do not report the HTTP status; use post or upload"};
    }
    if (o.async && o.command->count("--max-time") > 0) {
        throw Failure{kExitUsage, "--max-time: the asynchronous multipart submit has no time limit"};
    }
    const std::vector<FormPart> parts = form_parts(o);
    if (parts.empty()) throw Failure{kExitUsage, "nothing to post: give -F, --file or --sendfile"};

    const LogMark mark = mark_logs();
    std::string answer;
    if (o.async) {
        InterruptGuard interrupts;
        ProgressBar bar("multipart", show_progress());
        const TaskResult result = submit_multipart_task(o.url, parts, o.headers, bar);
        if (result.outcome == Outcome::Interrupted) throw Failure{kExitInterrupted, "stopped by Ctrl-C"};
        if (result.outcome != Outcome::Completed) transfer_failed("multipart post", mark, "");
        answer = result.answer;
    } else {
        const MultipartResult result = submit_multipart(o.url, parts, o.headers, o.timeout);
        if (result.rc != 0) transfer_failed("multipart post", mark, time_limit_text(o.timeout));
        answer = result.body;
    }
    write_answer(output, answer);
    transfer_succeeded(mark);
    return kExitOk;
}

}  // namespace

void add_submit_commands(CLI::App& app, Action& action) {
    add_submit(app, action, "get", 1, "GET a URL and print the body");
    add_submit(app, action, "post", 2, "POST a body to a URL and print the answer");
    add_submit(app, action, "put", 4, "PUT a body to a URL and print the answer");
    add_submit(app, action, "delete", 5, "DELETE a URL and print the answer");

    auto o = std::make_shared<MultipartOptions>();
    CLI::App* mp = app.add_subcommand("multipart", "post a multipart form of text fields and files");
    o->command = mp;
    mp->add_option("url", o->url, "http:// or https:// URL")->required();
    mp->add_option("-F,--field", o->fields,
                   "name=value, name=<FILE (the file's text), file=@FILE or sendfile=@FILE (repeatable)");
    mp->add_option("--file", o->files, "a file, posted under the field name \"file\" (repeatable)");
    mp->add_option("--sendfile", o->sendfiles, "a file, posted under the field name \"sendfile\" (repeatable)");
    mp->add_option("-H,--header", o->headers, "extra header line 'Name: value' (repeatable)");
    mp->add_flag("--async", o->async, "post on a task of its own, with progress");
    mp->add_option("-m,--max-time,--timeout", o->timeout, "seconds for the whole request (default 30)")
        ->check(CLI::Range(0, 86400));
    mp->add_option("-o,--output", o->output, "write the answer to a file ('-': standard output, the default)");
    mp->add_flag("-O,--remote-name", o->remote_name, "write the answer to a file named after the URL");
    mp->add_flag("-f,--fail", o->fail, "refused: the multipart submits do not report the HTTP status");
    mp->footer("Parts go out in the order given.");
    mp->callback([o, &action] { action = [o] { return run_multipart(*o); }; });

    app.add_subcommand("clear-cache", "empty the library's request cache")->callback([&action] {
        action = [] {
            const int rc = library().quillnet_clear_cache(nullptr);
            if (rc != 0) throw Failure{kExitFailed, "quillnet_clear_cache returned " + std::to_string(rc)};
            note("request cache cleared");
            return kExitOk;
        };
    });
}

}  // namespace cli
}  // namespace qn
