#include <CLI/CLI.hpp>

#include <cstdio>
#include <fstream>
#include <memory>

#include "calls.h"
#include "commands.h"
#include "console.h"
#include "host.h"
#include "request_options.h"

namespace qn {
namespace cli {

namespace {

const std::vector<std::string> kWebSchemes = {"http", "https"};

struct SubmitOptions {
    std::string url;
    std::vector<std::string> headers;
    std::string type;
    std::string data;
    std::string data_file;
    std::string cookie;
    bool show_cookies = false;
    std::string cookie_jar;
    std::string output;
    int timeout = 30;
    bool fail = false;
};

void write_output(const std::string& path, const std::string& bytes) {
    if (path.empty()) {
        std::fwrite(bytes.data(), 1, bytes.size(), stdout);
        std::fflush(stdout);
        return;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
        throw Failure{kExitFailed, "cannot write '" + path + "'"};
    }
    std::fprintf(err(), "saved %zu bytes to %s\n", bytes.size(), path.c_str());
}

[[noreturn]] void request_failed(const char* what, uint64_t log_offset) {
    const std::string reason = last_error_since(log_offset);
    throw Failure{kExitFailed, std::string(what) + " failed" + (reason.empty() ? "" : ": " + reason)};
}

void check_headers(const std::vector<std::string>& headers) {
    for (const std::string& h : headers) check_header(h);
}

int run_submit(const SubmitOptions& o, int method, const char* name) {
    check_url(o.url, kWebSchemes);
    check_headers(o.headers);
    check_plain("cookie", o.cookie);
    if (!o.data.empty() && !o.data_file.empty()) throw Failure{kExitUsage, "give --data or --data-file, not both"};
    if (method == 1 && (!o.data.empty() || !o.data_file.empty())) {
        throw Failure{kExitUsage, "get sends no body; use post or put for --data"};
    }
    SubmitRequest r;
    r.url = o.url;
    r.method = method;
    r.body = o.data_file.empty() ? o.data : read_whole_file(o.data_file);
    static const std::map<std::string, ContentType> types = {
        {"form", ContentType::Form}, {"json", ContentType::Json}, {"text", ContentType::Text}, {"none", ContentType::None}};
    r.type = o.type.empty() ? (method == 2 || method == 4 ? ContentType::Form : ContentType::None) : types.at(o.type);
    r.headers = o.headers;
    r.cookie = o.cookie;
    r.want_cookies = o.show_cookies || !o.cookie_jar.empty();
    r.timeout = o.timeout;

    const uint64_t log_offset = log_size();
    const SubmitResult result = submit(r);
    if (result.rc != 0) request_failed(name, log_offset);
    std::fprintf(err(), "HTTP %ld\n", result.status);
    if (!result.redirect.empty()) std::fprintf(err(), "redirect: %s\n", result.redirect.c_str());
    for (const Cookie& c : result.cookies) {
        std::fprintf(err(), "cookie: %s=%s (domain %s, path %s)\n", c.name.c_str(), c.value.c_str(), c.domain.c_str(),
                     c.path.c_str());
    }
    if (r.want_cookies && result.cookies.empty()) std::fprintf(err(), "cookie: none set\n");
    if (!o.cookie_jar.empty()) {
        std::string jar = "# Netscape HTTP Cookie File\n";
        for (const Cookie& c : result.cookies) jar += c.line + "\n";
        std::ofstream(o.cookie_jar, std::ios::binary | std::ios::trunc) << jar;
    }
    write_output(o.output, result.body);
    if (o.fail && result.status >= 400) throw Failure{kExitFailed, "HTTP status " + std::to_string(result.status)};
    return kExitOk;
}

void add_submit(CLI::App& app, Action& action, const char* name, int method, const char* description) {
    auto o = std::make_shared<SubmitOptions>();
    CLI::App* cmd = app.add_subcommand(name, description);
    cmd->add_option("url", o->url, "http:// or https:// URL")->required();
    cmd->add_option("-H,--header", o->headers, "extra header line 'Name: value' (repeatable)");
    cmd->add_option("-t,--type", o->type, "content type of the body: form, json, text or none")
        ->check(CLI::IsMember({"form", "json", "text", "none"}));
    if (method != 1) {
        cmd->add_option("-d,--data", o->data, "request body");
        cmd->add_option("--data-file", o->data_file, "read the request body from a file");
    }
    cmd->add_option("-b,--cookie", o->cookie, "send the Cookie header 'name=value; name2=value2'");
    cmd->add_flag("--cookies", o->show_cookies, "show the cookies the server set");
    cmd->add_option("-c,--cookie-jar", o->cookie_jar, "write the cookies the server set to a cookie file");
    cmd->add_option("-o,--output", o->output, "write the body to a file instead of standard output");
    cmd->add_option("--timeout", o->timeout, "seconds for the whole request (default 30)")->check(CLI::Range(0, 86400));
    cmd->add_flag("--fail", o->fail, "exit 1 when the HTTP status is 400 or more");
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
};

std::string base_name(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int run_multipart(const MultipartOptions& o) {
    check_url(o.url, kWebSchemes);
    check_headers(o.headers);
    std::vector<FormPart> parts;
    for (const std::string& f : o.fields) {
        const size_t eq = f.find('=');
        if (eq == std::string::npos || eq == 0) throw Failure{kExitUsage, "bad field '" + f + "': expected name=value"};
        parts.push_back({WEB_PART_FIELD, f.substr(0, eq), f.substr(eq + 1)});
    }
    for (const std::string& f : o.files) parts.push_back({WEB_PART_FILE, base_name(f), read_whole_file(f)});
    for (const std::string& f : o.sendfiles) parts.push_back({WEB_PART_SENDFILE, base_name(f), read_whole_file(f)});
    if (parts.empty()) throw Failure{kExitUsage, "nothing to post: give -F, --file or --sendfile"};

    const uint64_t log_offset = log_size();
    std::string answer;
    if (o.async) {
        InterruptGuard interrupts;
        ProgressBar bar("multipart", stdout_is_terminal());
        const TaskResult result = submit_multipart_task(o.url, parts, o.headers, bar);
        if (result.outcome == Outcome::Interrupted) throw Failure{kExitInterrupted, "stopped by Ctrl-C"};
        if (result.outcome != Outcome::Completed) request_failed("multipart post", log_offset);
        answer = result.answer;
    } else {
        const MultipartResult result = submit_multipart(o.url, parts, o.headers, o.timeout);
        if (result.rc != 0) request_failed("multipart post", log_offset);
        answer = result.body;
    }
    write_output(o.output, answer);
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
    mp->add_option("url", o->url, "http:// or https:// URL")->required();
    mp->add_option("-F,--field", o->fields, "text field name=value (repeatable)");
    mp->add_option("--file", o->files, "a file, posted under the field name \"file\" (repeatable)");
    mp->add_option("--sendfile", o->sendfiles, "a file, posted under the field name \"sendfile\" (repeatable)");
    mp->add_option("-H,--header", o->headers, "extra header line 'Name: value' (repeatable)");
    mp->add_flag("--async", o->async, "post on a task of its own, with progress");
    mp->add_option("--timeout", o->timeout, "seconds for the whole request (default 30)")->check(CLI::Range(0, 86400));
    mp->add_option("-o,--output", o->output, "write the answer to a file instead of standard output");
    mp->callback([o, &action] { action = [o] { return run_multipart(*o); }; });

    app.add_subcommand("clear-cache", "empty the library's request cache")->callback([&action] {
        action = [] {
            const int rc = library().quillnet_clear_cache(nullptr);
            if (rc != 0) throw Failure{kExitFailed, "quillnet_clear_cache returned " + std::to_string(rc)};
            std::printf("request cache cleared\n");
            return kExitOk;
        };
    });
}

}  // namespace cli
}  // namespace qn
