// The library, loaded and unloaded in a child, leaves no connection open and no thread running.
#include <dlfcn.h>

#include <fstream>
#include <sstream>

#include "harness.h"
#include "http_server.h"
#include "platform/platform.h"

namespace {

// Established TCP connections to `port`.
int open_connections_to(int port) {
    char want[16];
    std::snprintf(want, sizeof want, ":%04X 01", port);  // remote port, then state ESTABLISHED
    std::ifstream tcp("/proc/self/net/tcp");
    int n = 0;
    for (std::string line; std::getline(tcp, line);) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (remote.size() > 5 && remote.substr(remote.size() - 5) + " " + state == want) ++n;
    }
    return n;
}

}  // namespace

// The clean-up closes the kept connection; the unload, without one, closes it and ends the cache's thread.
TEST(SharingUnload, LeavesNoConnectionOpenAndNoThreadRunning) {
    EXPECT_EQ(qntest::in_child([] {
        qntest::TempDir config;
        qntest::use_config_dir(config.path());
        qntest::LogReader log(config.path());  // MJBase and its writer thread stay loaded
        qntest::HttpServer server;
        server.server().Post(".*", [](const httplib::Request&, httplib::Response& res) { res.set_content("a", "text/plain"); });
        server.keep_alive(30);
        server.start();
        log.records();
        // Until the server's pool of workers has settled.
        size_t threads = qntest::thread_count();
        for (int still = 0, i = 0; still < 5 && i < 200; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            still = qntest::thread_count() == threads ? still + 1 : 0;
            threads = qntest::thread_count();
        }
        void* lib = ::dlopen((qn::platform::executable_dir() + "libquillnet.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr) return std::string("dlopen: ") + ::dlerror();
        const auto call = [lib](const char* name) { return reinterpret_cast<int (*)()>(::dlsym(lib, name))(); };
        const auto submit_ex = reinterpret_cast<int (*)(const char*, int, const char*, int, char**, int*)>(
            ::dlsym(lib, "quillnet_submit_ex"));
        const auto release = reinterpret_cast<int (*)(char**)>(::dlsym(lib, "quillnet_release"));
        std::ostringstream report;
        const auto submit = [&](const char* path) {
            char* body = nullptr;
            int len = 0;
            report << submit_ex(server.url(path).c_str(), 10, "q", 0, &body, &len) << " ";
            release(&body);
        };
        call("quillnet_startup");
        submit("/a");
        report << "open:" << open_connections_to(server.port()) << " ";
        call("quillnet_cleanup");
        report << "after clean-up:" << open_connections_to(server.port()) << " ";
        call("quillnet_startup");
        for (const char* path : {"/b", "/plume/device/queryDeviceOrgTree"}) submit(path);
        report << "open while loaded:" << open_connections_to(server.port()) << " threads:" << qntest::thread_count() - threads;
        ::dlclose(lib);
        const bool unloaded = ::dlopen("libquillnet.so", RTLD_NOW | RTLD_NOLOAD) == nullptr;
        report << "; unloaded:" << unloaded << " open:" << open_connections_to(server.port())
               << " threads:" << qntest::thread_count() - threads;
        return report.str();
    }), "0 open:1 after clean-up:0 0 0 open while loaded:1 threads:1; unloaded:1 open:0 threads:0");
}
