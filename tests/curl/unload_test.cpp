// The library unloaded after use leaves no connection open and no thread
// of its own running. This executable does not link the library: it loads
// it, as a host that unloads it does.
#include <dirent.h>
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "http_server.h"
#include "log_file.h"
#include "platform/platform.h"
#include "temp_dir.h"

namespace {

size_t count_threads() {
    size_t n = 0;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (dirent* e = ::readdir(d)) n += e->d_name[0] != '.' ? 1 : 0;
        ::closedir(d);
    }
    return n;
}

// This process's established TCP connections to `port` on 127.0.0.1.
int open_connections_to(int port) {
    char want[16];
    std::snprintf(want, sizeof want, ":%04X 01", port);  // remote port, then state ESTABLISHED
    std::ifstream tcp("/proc/self/net/tcp");
    int n = 0;
    for (std::string line; std::getline(tcp, line);) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (remote.size() > 5 && remote.substr(remote.size() - 5) + " " + state == std::string(want + 0)) ++n;
    }
    return n;
}

// Loads the library, makes requests that keep a connection and start the
// cache's thread, unloads it (without a clean-up); reports what was open and
// running.
std::string load_use_unload() {
    qntest::TempDir config;
    qntest::use_config_dir(config.path());
    qntest::LogReader log(config.path());  // MJBase and its writer thread stay loaded
    qntest::HttpServer server;
    server.server().Post(".*", [](const httplib::Request&, httplib::Response& res) { res.set_content("a", "text/plain"); });
    server.keep_alive(30);
    server.start();
    log.records();
    // The server starts its pool of workers only once it is listening, on
    // its own thread: the count waits until that has settled.
    size_t threads = count_threads();
    for (int still = 0, i = 0; still < 5 && i < 200; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const size_t now = count_threads();
        still = now == threads ? still + 1 : 0;
        threads = now;
    }
    void* lib = ::dlopen((qn::platform::executable_dir() + "libquillnet.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return std::string("dlopen: ") + ::dlerror();
    using Submit = int (*)(const char*, int, const char*, int, char**, int*);
    using Call = int (*)();
    using Release = int (*)(char**);
    auto submit_ex = reinterpret_cast<Submit>(::dlsym(lib, "quillnet_submit_ex"));
    auto startup = reinterpret_cast<Call>(::dlsym(lib, "quillnet_startup"));
    auto cleanup = reinterpret_cast<Call>(::dlsym(lib, "quillnet_cleanup"));
    auto release = reinterpret_cast<Release>(::dlsym(lib, "quillnet_release"));
    std::ostringstream report;
    auto submit = [&](const char* path) {
        char* body = nullptr;
        int len = 0;
        report << submit_ex(server.url(path).c_str(), 10, "q", 0, &body, &len) << " ";
        release(&body);
    };
    // The clean-up closes the kept connection; a new start-up makes one again.
    startup();
    submit("/a");
    report << "open:" << open_connections_to(server.port()) << " ";
    cleanup();
    report << "after clean-up:" << open_connections_to(server.port()) << " ";
    startup();
    for (const char* path : {"/b", "/plume/device/queryDeviceOrgTree"}) submit(path);
    report << "open while loaded:" << open_connections_to(server.port()) << " threads:" << count_threads() - threads;
    ::dlclose(lib);
    const bool unloaded = ::dlopen("libquillnet.so", RTLD_NOW | RTLD_NOLOAD) == nullptr;
    report << "; unloaded:" << unloaded << " open:" << open_connections_to(server.port())
           << " threads:" << count_threads() - threads;
    return report.str();
}

}  // namespace

// In a child process, so that what the unloaded library never frees (its
// process-wide objects) is not held against the test by the leak check.
TEST(SharingUnload, LeavesNoConnectionOpenAndNoThreadRunning) {
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const std::string report = load_use_unload();
        if (::write(out[1], report.data(), report.size()) < 0) std::_Exit(2);
        std::_Exit(0);
    }
    ::close(out[1]);
    std::string report;
    char buf[256];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) report.append(buf, static_cast<size_t>(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(report,
              "0 open:1 after clean-up:0 0 0 open while loaded:1 threads:1; unloaded:1 open:0 threads:0");
}
