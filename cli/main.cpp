// quillnet host program: loads the library at run time from beside itself,
// the way a desktop host does, and drives it against a server it starts on
// 127.0.0.1.
#include <httplib.h>

#if !defined(_WIN32)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "mj/mj_interfaces.h"
#include "platform.h"
#include "quillnet.h"

#if !defined(_WIN32)
extern char** environ;
#endif

namespace {

namespace fs = std::filesystem;

// The demo's download: a few megabytes of varying bytes.
std::string demo_file() {
    std::string data(4 * 1024 * 1024 + 123, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 % 251);
    return data;
}

// The exports this host uses, bound by name from the loaded library.
struct Library {
    qn::platform::ModuleHandle module = nullptr;
#define QN_EXPORT(name) decltype(&::name) name = nullptr;
#define QN_EXPORTS(X)                \
    X(quillnet_startup)              \
    X(quillnet_cleanup)              \
    X(quillnet_release)              \
    X(quillnet_release_redirect_url) \
    X(quillnet_submit_ex)            \
    X(quillnet_submit_ex6)           \
    X(quillnet_submit_ex7)           \
    X(quillnet_submit_common)        \
    X(quillnet_submit_multipart)     \
    X(quillnet_download_urlfile)     \
    X(quillnet_download_ftpfile)     \
    X(quillnet_download_urlfile_ex)  \
    X(quillnet_getpos_download_urlfile) \
    X(quillnet_stop_download_urlfile) \
    X(quillnet_download_asyn_urlfile) \
    X(quillnet_getpos_download_asyn_urlfile) \
    X(quillnet_stop_download_asyn_urlfile) \
    X(quillnet_clear_cache)
    QN_EXPORTS(QN_EXPORT)
#undef QN_EXPORT

    template <class Fn>
    bool bind(const char* name, Fn& slot) {
        slot = reinterpret_cast<Fn>(qn::platform::find_symbol(module, name));
        if (slot == nullptr) std::fprintf(stderr, "quillnet: %s missing from the library\n", name);
        return slot != nullptr;
    }

    bool load() {
        const std::string file = qn::platform::module_file_name("win32_quillnet.dll");
        module = qn::platform::load_module(file.c_str());
        if (module == nullptr) {
            std::fprintf(stderr, "quillnet: cannot load %s beside %s\n", file.c_str(),
                         qn::platform::executable_dir().c_str());
            return false;
        }
        bool ok = true;
#define QN_BIND(name) ok = bind(#name, name) && ok;
        QN_EXPORTS(QN_BIND)
#undef QN_BIND
        return ok;
    }
};

// Where the host's log sink writes, asked of MJBase's environment object.
std::string log_file_path() {
    const std::string file = qn::platform::module_file_name("MJBase.dll");
    qn::platform::ModuleHandle mjbase = qn::platform::load_module(file.c_str());
    auto factory = reinterpret_cast<mj::PFN_CreateMJObject>(
        qn::platform::find_symbol(mjbase, mj::kFactoryName));
    if (factory == nullptr) return std::string();
    void* object = nullptr;
    if (factory(&mj::CLSID_MJEnvironment, &object) != mj::MJ_S_OK || object == nullptr) {
        return std::string();
    }
    auto* env = static_cast<mj::IMJEnvironment*>(object);
    std::string dir;
    if (const mj::wchar* w = env->GetValue(mj::MJ_ENV_CONFIG_DIR, 0)) {
        for (; *w != 0; ++w) dir += static_cast<char>(*w);  // the folder is ASCII here
    }
    env->Release();
    return dir + "log/quillnet.log";
}

// The demo's server: a few endpoints on a free loopback port.
class DemoServer {
public:
    DemoServer() {
        server_.Post("/echo", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content("echo: " + req.body, "text/plain");
        });
        server_.Post("/plume/device/queryDeviceOrgTree",
                     [this](const httplib::Request&, httplib::Response& res) {
                         ++tree_hits_;
                         res.set_content(R"({"org":"root","children":[{"org":"east"},{"org":"west"}]})",
                                         "application/json");
                     });
        server_.Get("/old", [](const httplib::Request&, httplib::Response& res) {
            res.status = 302;
            res.set_header("Location", "/new");
        });
        server_.Post("/login", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Set-Cookie", "session=abc123; Path=/");
            res.set_content("welcome", "text/plain");
        });
        server_.Post("/upload", [](const httplib::Request& req, httplib::Response& res) {
            std::string listing;
            for (const auto& f : req.files) {
                listing += f.first + (f.second.filename.empty() ? "" : "(" + f.second.filename + ")") +
                           "=" + std::to_string(f.second.content.size()) + " bytes; ";
            }
            res.set_content(listing, "text/plain");
        });
        server_.Get("/files/demo.bin", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(demo_file(), "application/octet-stream");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::yield();
    }
    ~DemoServer() {
        server_.stop();
        thread_.join();
    }
    std::string url(const char* path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    int tree_hits() const { return tree_hits_; }

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::atomic<int> tree_hits_{0};
};

#if !defined(_WIN32)
// A port nobody listens on right now.
int free_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    int port = 2121;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        port = ntohs(addr.sin_port);
    }
    ::close(fd);
    return port;
}

// An FTP server on 127.0.0.1 for the demo: the distribution's pyftpdlib,
// serving `root` to the user "demo" with the password "demo".
class DemoFtpServer {
public:
    explicit DemoFtpServer(const std::string& root) {
        const int port = free_port();
        std::string args[] = {"/usr/bin/python3", "-m", "pyftpdlib", "-i", "127.0.0.1", "-p",
                              std::to_string(port), "-d", root, "-u", "demo", "-P", "demo"};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t quiet;
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        if (::posix_spawn(&pid_, argv[0], &quiet, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&quiet);
        // Ready once it answers a download: pyftpdlib needs a moment to start.
        url_ = "ftp://127.0.0.1:" + std::to_string(port) + "/demo.bin";
    }
    ~DemoFtpServer() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    bool started() const { return pid_ > 0; }
    const std::string& url() const { return url_; }

private:
    pid_t pid_ = -1;
    std::string url_;
};

#endif

size_t file_size(const std::string& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    return ec ? 0 : static_cast<size_t>(size);
}

void run_downloads(Library& lib, const DemoServer& server) {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::string dir = (fs::temp_directory_path() / ("quillnet-demo-" + std::to_string(stamp))).string() + "/";
    std::error_code ec;
    if (!fs::create_directories(dir, ec)) return;
    const std::string url = server.url("/files/demo.bin");

    std::string target = dir + "sync.bin";
    int rc = lib.quillnet_download_urlfile(url.c_str(), target.c_str());
    std::printf("download (synchronous) /files/demo.bin: rc=%d, %zu bytes on disk\n", rc,
                file_size(target));

    target = dir + "threaded.bin";
    std::atomic<size_t> chunks{0};
    const TaskCallback count_chunks = [](void*, int, void*, unsigned int, void* user) {
        ++*static_cast<std::atomic<size_t>*>(user);
    };
    int64_t fd = lib.quillnet_download_urlfile_ex(url.c_str(), target.c_str(), &chunks, count_chunks);
    while (lib.quillnet_getpos_download_urlfile(fd) < 100) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the worker's last steps
    rc = lib.quillnet_stop_download_urlfile(fd);
    std::printf("download (threaded): position 100, %zu chunks to the callback, stop=%d, %zu bytes\n",
                chunks.load(), rc, file_size(target));

    struct Events {
        std::atomic<int> progress{0};
        std::atomic<int> done{-1};
    } events;
    const TaskCallback on_event = [](void*, int event, void* data, unsigned int, void* user) {
        auto* e = static_cast<Events*>(user);
        if (event == TASK_EVENT_PROGRESS) ++e->progress;
        if (event == TASK_EVENT_DONE) e->done = *static_cast<int*>(data);
    };
    target = dir + "asyn.bin";
    fd = lib.quillnet_download_asyn_urlfile(url.c_str(), target.c_str(), nullptr, 0, 1, 1, nullptr, 0,
                                            &events, on_event);
    while (events.done == -1) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const int pos = lib.quillnet_getpos_download_asyn_urlfile(fd);
    rc = lib.quillnet_stop_download_asyn_urlfile(fd);
    std::printf("download (asynchronous): %d progress events, end result %d, position %d, stop=%d, "
                "%zu bytes\n", events.progress.load(), events.done.load(), pos, rc, file_size(target));

#if defined(_WIN32)
    std::printf("download (FTP): skipped, the demo's FTP server needs Python's pyftpdlib\n");
#else
    std::ofstream(dir + "demo.bin", std::ios::binary) << demo_file();
    DemoFtpServer ftp(dir);
    target = dir + "ftp.bin";
    rc = 0;
    for (int attempt = 0; ftp.started() && rc == 0 && attempt < 50; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        rc = lib.quillnet_download_ftpfile(ftp.url().c_str(), target.c_str(), "demo", "demo");
    }
    std::printf("download (FTP, user demo) demo.bin: rc=%d, %zu bytes on disk\n", rc, file_size(target));
#endif
    fs::remove_all(dir, ec);
}

// A multipart part with room for its data after the record.
std::vector<char> make_part(int type, const char* name, const void* data, size_t len) {
    std::vector<char> block(sizeof(web_part) + len + 1, 0);
    web_part* part = reinterpret_cast<web_part*>(block.data());
    part->type = type;
    part->data_len = static_cast<int64_t>(len);
    std::snprintf(part->name, sizeof(part->name), "%s", name);
    std::memcpy(part->data, data, len);
    return block;
}

int run_demo(Library& lib) {
    DemoServer server;
    std::printf("quillnet_startup() = %d\n", lib.quillnet_startup());

    char* body = nullptr;
    int len = 0;
    int rc = lib.quillnet_submit_ex(server.url("/echo").c_str(), 10, "hello", 1, &body, &len);
    std::printf("submit /echo: rc=%d len=%d body=\"%s\"\n", rc, len, body ? body : "");
    lib.quillnet_release(&body);

    long http_code = 0;
    char* redirect = nullptr;
    rc = lib.quillnet_submit_ex7(server.url("/old").c_str(), 10, nullptr, 1, 1, 1, nullptr, &body,
                                 &len, &http_code, &redirect, 0, nullptr, nullptr, nullptr, nullptr);
    std::printf("GET /old: rc=%d http_code=%ld redirect_url=%s\n", rc, http_code,
                redirect ? redirect : "(none)");
    lib.quillnet_release(&body);
    lib.quillnet_release_redirect_url(redirect);

    char* cookies = nullptr;
    int cookies_len = 0;
    rc = lib.quillnet_submit_ex6(server.url("/login").c_str(), 10, "user=demo", 1, 2, 0, nullptr,
                                 &body, &len, nullptr, nullptr, 1, &cookies, &cookies_len);
    std::printf("POST /login: rc=%d cookie_buf_len=%d cookie line: %s\n", rc, cookies_len,
                cookies ? cookies : "");
    lib.quillnet_release(&body);
    lib.quillnet_release(&cookies);

    const std::string tree = server.url("/plume/device/queryDeviceOrgTree");
    for (int i = 0; i < 3; ++i) {
        rc = lib.quillnet_submit_ex(tree.c_str(), 10, R"({"parent":"root"})", 1, &body, &len);
        lib.quillnet_release(&body);
    }
    std::printf("tree query sent 3 times: rc=%d, requests that reached the server: %d\n", rc,
                server.tree_hits());

    QuillnetSubmitParam param = {};
    param.size = static_cast<int>(sizeof(param));
    const std::string echo = server.url("/echo");
    param.url = echo.c_str();
    param.timeout = 10;
    param.content = R"({"versioned":true})";
    param.nosignal = 1;
    param.submit_type = 2;
    param.conten_type = 1;
    QuillnetSubmitParamEx param_ex = {};
    param_ex.size = static_cast<int>(sizeof(param_ex));
    param_ex.ret_buf = &body;
    param_ex.ret_buf_len = &len;
    rc = lib.quillnet_submit_common(&param, &param_ex);
    std::printf("submit_common: rc=%d body=\"%s\"\n", rc, body ? body : "");
    lib.quillnet_release(&body);

    std::vector<char> field = make_part(WEB_PART_FIELD, "title", "report", 7);
    const char binary[] = {'P', 'K', 0, 3, 4};
    std::vector<char> file = make_part(WEB_PART_FILE, "data.bin", binary, sizeof(binary));
    web_data_header header = {0, 2};
    struct {
        web_data_header* header;
        web_part* parts[2];
    } form = {&header, {reinterpret_cast<web_part*>(field.data()), reinterpret_cast<web_part*>(file.data())}};
    rc = lib.quillnet_submit_multipart(server.url("/upload").c_str(), 10,
                                       reinterpret_cast<web_data*>(&form), 1, &body, &len);
    std::printf("multipart /upload: rc=%d body=\"%s\"\n", rc, body ? body : "");
    lib.quillnet_release(&body);

    run_downloads(lib, server);

    std::printf("quillnet_clear_cache(NULL) = %d\n", lib.quillnet_clear_cache(nullptr));
    std::printf("quillnet_cleanup() = %d\n", lib.quillnet_cleanup());

    const std::string log = log_file_path();
    std::printf("log: %s\n", log.empty() ? "(no log sink)" : log.c_str());
    if (!log.empty()) {
        // The sink writes in the background and flushes at least every second.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        std::ifstream in(log);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        const size_t from = lines.size() > 8 ? lines.size() - 8 : 0;
        std::printf("last lines of the log:\n");
        for (size_t i = from; i < lines.size(); ++i) std::printf("  %s\n", lines[i].c_str());
    }
    return 0;
}

}  // namespace

int main() {
    Library lib;
    if (!lib.load()) return 2;
    try {
        return run_demo(lib);
    } catch (const std::exception& e) {
        // The library's only exceptions: libcurl could not be loaded.
        std::fprintf(stderr, "quillnet: %s\n", e.what());
        return 1;
    }
}
