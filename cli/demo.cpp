// `quillnet demo`: a walk through every family of exports against servers
// it starts on 127.0.0.1, ending with the log and its report page.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "calls.h"
#include "commands.h"
#include "console.h"
#include "demo_servers.h"
#include "host.h"
#include "platform.h"
#include "report_command.h"

namespace qn {
namespace cli {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class Walk {
public:
    explicit Walk(const std::string& dir) : dir_(dir), files_(dir + "files/"), live_(show_progress()) {}

    int run();

private:
    void step(const char* title) {
        if (InterruptGuard::requested()) throw Failure{kExitInterrupted, "stopped by Ctrl-C"};
        std::printf("\n%s\n", title);
    }
    void line(const std::string& what, const std::string& outcome, bool ok) {
        std::printf("  %-40s %s%s\n", what.c_str(), ok ? "" : "FAILED: ", outcome.c_str());
        std::fflush(stdout);
        failures_ += ok ? 0 : 1;
    }
    void submits(const DemoHttpServer& http);
    void downloads(const DemoHttpServer& http, const DemoFtpServer& ftp);
    void uploads(const DemoHttpServer& http);
    std::string task_outcome(const TaskResult& r, const std::string& path, size_t expected);

    std::string dir_, files_;
    bool live_;
    int failures_ = 0;
};

std::string shown(const std::string& text) {
    return "\"" + (text.size() > 60 ? text.substr(0, 57) + "..." : text) + "\"";
}

void Walk::submits(const DemoHttpServer& http) {
    step("1. Submits (quillnet_submit_ex7), a cached tree query");
    SubmitRequest r;
    r.url = http.url("/echo");
    r.method = 2;
    r.body = "hello from quillnet";
    SubmitResult a = submit(r);
    line("POST /echo", "HTTP " + std::to_string(a.status) + " " + shown(a.body), a.rc == 0 && a.status == 200);

    r.url = http.url("/plume/device/queryDeviceOrgTree");
    r.body = R"({"parent":"root"})";
    r.type = ContentType::Json;
    for (const char* when : {"first", "again"}) {
        const int64_t start = steady_ms();
        a = submit(r);
        const int64_t ms = steady_ms() - start;
        const bool cached = http.tree_hits() == 1 && std::string(when) == "again";
        line(std::string("POST tree query, ") + when,
             (a.status == 0 ? std::string("no HTTP exchange") : "HTTP " + std::to_string(a.status)) + " in " + std::to_string(ms) + " ms, server asked " +
                 std::to_string(http.tree_hits()) + "x: " + (cached ? "from the request cache (by catch)" : "by net"),
             a.rc == 0 && http.tree_hits() == 1);
    }

    step("2. A redirect and cookies");
    r = SubmitRequest();
    r.url = http.url("/old");
    a = submit(r);
    line("GET /old", "HTTP " + std::to_string(a.status) + ", redirect to " + a.redirect,
         a.rc == 0 && a.status == 302 && a.redirect == http.url("/new"));
    r.url = http.url("/login");
    r.method = 2;
    r.body = "user=demo";
    r.want_cookies = true;
    a = submit(r);
    const std::string cookie = a.cookies.empty() ? "" : a.cookies[0].name + "=" + a.cookies[0].value;
    line("POST /login", "HTTP " + std::to_string(a.status) + ", cookie " + cookie, a.rc == 0 && !cookie.empty());
    r = SubmitRequest();
    r.url = http.url("/whoami");
    r.cookie = cookie;
    a = submit(r);
    line("GET /whoami with that cookie", shown(a.body), a.rc == 0 && a.body == "you sent: " + cookie);

    step("3. A multipart post (quillnet_submit_multipart_ex)");
    const std::vector<FormPart> parts = {{WEB_PART_FIELD, "title", "quarterly report"},
                                         {WEB_PART_FILE, "report.csv", "region,total\neast,42\nwest,17\n"}};
    const MultipartResult m = submit_multipart(http.url("/upload"), parts, {}, 10);
    line("POST /upload, a field and a file", shown(m.body), m.rc == 0 && m.body.find("report.csv") != std::string::npos);
    ProgressBar bar("  multipart", live_);
    const TaskResult t = submit_multipart_task(http.url("/upload"), parts, {}, bar);
    line("the same on a task (submit_multipart_asyn)", shown(t.answer), t.outcome == Outcome::Completed);
}

std::string Walk::task_outcome(const TaskResult& r, const std::string& path, size_t expected) {
    char text[160];
    std::snprintf(text, sizeof(text), "%s, %llu bytes in %.2f s", path.substr(path.rfind('/') + 1).c_str(),
                  static_cast<unsigned long long>(r.bytes), r.seconds);
    return text + std::string(r.bytes == expected ? "" : " (expected " + std::to_string(expected) + ")");
}

void Walk::downloads(const DemoHttpServer& http, const DemoFtpServer& ftp) {
    step("4. Downloads of a 4 MiB file served at about 3 MB/s");
    const size_t size = DemoHttpServer::kFileSize;
    DownloadRequest r;
    r.url = http.url("/files/demo.bin");
    for (const auto& kind : {std::make_pair(Mode::Sync, "synchronous (download_urlfile)"),
                             std::make_pair(Mode::Threaded, "threaded (download_urlfile_ex)"),
                             std::make_pair(Mode::Async, "asynchronous (download_asyn_urlfile)")}) {
        r.mode = kind.first;
        r.path = files_ + (kind.first == Mode::Sync ? "sync.bin" : kind.first == Mode::Threaded ? "threaded.bin" : "asyn.bin");
        ProgressBar bar("  download", live_ && kind.first != Mode::Sync);
        const TaskResult t = download(r, bar);
        line(kind.second, task_outcome(t, r.path, size), t.outcome == Outcome::Completed && t.bytes == size);
    }

    // Pause at a third, hold for a second and a half, resume.
    r.mode = Mode::Async;
    r.path = files_ + "paused.bin";
    int paused_at = -1, held_at = -1;
    int64_t paused_since = 0;
    ProgressBar bar("  download", live_);
    const TaskResult t = download(r, bar, [&](TaskWatch& w) {
        if (paused_at < 0 && w.percent() >= 30) {
            w.set_paused(true);
            paused_since = steady_ms();
            paused_at = w.percent();
        } else if (w.paused() && steady_ms() - paused_since >= 1500) {
            held_at = w.percent();
            w.set_paused(false);
        }
    });
    const bool held = paused_at >= 0 && held_at >= paused_at && held_at <= paused_at + 10;
    line("asynchronous, paused and resumed",
         "paused at " + std::to_string(paused_at) + "%, still " + std::to_string(held_at) + "% 1.5 s later; " +
             task_outcome(t, r.path, size),
         held && t.outcome == Outcome::Completed && t.bytes == size);

    if (!ftp.problem().empty()) {
        std::printf("  %-40s skipped: %s\n", "FTP (download_ftpfile)", ftp.problem().c_str());
        return;
    }
    r = DownloadRequest();
    r.mode = Mode::Sync;
    r.url = ftp.url("/demo.bin");
    r.user = r.password = "demo";
    r.path = files_ + "ftp.bin";
    ProgressBar none("", false);
    const TaskResult f = download(r, none);
    line("FTP as user demo (download_ftpfile)", task_outcome(f, r.path, size),
         f.outcome == Outcome::Completed && f.bytes == size);
}

void Walk::uploads(const DemoHttpServer& http) {
    step("5. Uploads of a 2 MiB file as a multipart post");
    UploadRequest r;
    r.url = http.url("/upload");
    r.path = files_ + "upload.bin";
    std::ofstream(r.path, std::ios::binary) << demo_bytes(2 * 1024 * 1024);
    for (const auto& kind : {std::make_pair(Mode::Threaded, "threaded (upload_urlfile_ex)"),
                             std::make_pair(Mode::Async, "asynchronous (upload_asyn_urlfile)")}) {
        r.mode = kind.first;
        ProgressBar bar("  upload", live_);
        const TaskResult t = upload(r, bar);
        const bool ok = t.outcome == Outcome::Completed;
        line(kind.second, t.answer.empty() ? task_outcome(t, r.path, 2 * 1024 * 1024) : shown(t.answer), ok);
    }
}

int Walk::run() {
    const int64_t start = steady_ms();
    std::error_code ec;
    fs::create_directories(files_, ec);
    std::ofstream(files_ + "demo.bin", std::ios::binary) << demo_bytes(DemoHttpServer::kFileSize);
    {
        DemoHttpServer http;
        DemoFtpServer ftp(files_);
        std::printf("quillnet demo: library %s, log %s\n", (platform::executable_dir() + platform::module_file_name("win32_quillnet.dll")).c_str(),
                    log_file().c_str());
        std::printf("servers: HTTP 127.0.0.1:%d (in this process)", http.port());
        if (ftp.problem().empty()) std::printf(", FTP 127.0.0.1:%d (pyftpdlib, process %ld)", ftp.port(), ftp.pid());
        std::printf("\n");
        InterruptGuard interrupts;
        submits(http);
        downloads(http, ftp);
        uploads(http);
        if (InterruptGuard::requested()) throw Failure{kExitInterrupted, "stopped by Ctrl-C"};
        const int http_port = http.port();
        const long ftp_pid = ftp.pid();
        // Leaving the block stops both servers.
        std::printf("\nservers stopping: HTTP port %d", http_port);
        if (ftp_pid > 0) std::printf(", FTP process %ld", ftp_pid);
        std::printf("\n");
    }
    fs::remove_all(files_, ec);

    step("6. The log and its report");
    flush_log("quillnet demo: the walk is over");
    const std::string log = log_file();
    const std::string page = dir_ + "report.html";
    std::printf("  log:    %s\n", log.c_str());
    std::printf("  report: %s\n", describe(write_report({log}, page), page).c_str());
#if defined(_WIN32)
    std::printf("  open it with a browser, e.g.: start %s\n", page.c_str());
#else
    std::printf("  open it with a browser, e.g.: xdg-open %s\n", page.c_str());
#endif
    std::printf("\ndemo %s in %.1f s\n", failures_ == 0 ? "complete" : "had failures",
                static_cast<double>(steady_ms() - start) / 1000.0);
    return failures_ == 0 ? kExitOk : kExitFailed;
}

// The demo's own configuration directory, so that its log holds this run
// only: the configuration beside the program, copied, and a fresh log.
std::string prepare(const std::string& dir_arg) {
    std::string dir = dir_arg.empty() ? platform::executable_dir() + "demo" : dir_arg;
    if (dir.back() != '/' && dir.back() != '\\') dir += '/';
    const std::string config = dir + "config/";
    std::error_code ec;
    fs::remove_all(config + "log", ec);
    fs::create_directories(config + "Resource", ec);
    if (ec) throw Failure{kExitFailed, "cannot make " + config + ": " + ec.message()};
    const std::string installed = platform::executable_dir() + "config/";
    for (const char* file : {"mjlog.dat", "Resource/Protocol.json"}) {
        fs::copy_file(installed + file, config + file, fs::copy_options::overwrite_existing, ec);
    }
#if defined(_WIN32)
    _putenv_s("MJ_CONFIG_DIR", config.c_str());
#else
    ::setenv("MJ_CONFIG_DIR", config.c_str(), 1);
#endif
    return dir;
}

}  // namespace

void add_demo_command(CLI::App& app, Action& action) {
    auto dir = std::make_shared<std::string>();
    CLI::App* cmd = app.add_subcommand("demo", "walk through every family of exports against local servers");
    cmd->add_option("--dir", *dir, "folder for the demo's configuration, log and report (default: demo/ beside the program)");
    cmd->footer("Needs no network: an HTTP server in this process and pyftpdlib as a child, both on 127.0.0.1,\n"
                "both gone when the demo ends.");
    cmd->callback([dir, &action] {
        action = [dir] {
            const std::string folder = prepare(*dir);
            return Walk(folder).run();
        };
    });
}

}  // namespace cli
}  // namespace qn
