// Unloading the library in a forked child: the clean-up closes the kept connection; the unload stops every
// task, aborts threaded uploads (which have no stop), waits for every worker, closes the kept connection and
// ends the cache's thread before the code goes.
#include <dlfcn.h>

#include <fstream>
#include <sstream>
#include <utility>

#include "platform/platform.h"
#include "submit_helpers.h"
#include "task_fixture.h"

namespace {

void* load() {
    return ::dlopen((qn::platform::executable_dir() + "libquillnet.so").c_str(), RTLD_NOW | RTLD_LOCAL);
}

template <class Fn>
Fn symbol(void* lib, const char* name) {
    return reinterpret_cast<Fn>(::dlsym(lib, name));
}

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
        n += remote.size() > 5 && remote.substr(remote.size() - 5) + " " + state == want;
    }
    return n;
}

// Gone, within `limit`, and the task workers still running.
std::string unload(void* lib, std::chrono::seconds limit) {
    const auto began = std::chrono::steady_clock::now();
    ::dlclose(lib);
    const bool quickly = std::chrono::steady_clock::now() - began < limit;
    const bool unloaded = ::dlopen("libquillnet.so", RTLD_NOW | RTLD_NOLOAD) == nullptr;
    return std::to_string(unloaded) + std::to_string(quickly) + " running:" + std::to_string(task_threads());
}

using Start = int64_t (*)(const char*, const char*, void*, TaskCallback);
using StartAsyn = int64_t (*)(const char*, const char*, const char*, int, int, int, const char*, int, void*,
                              TaskCallback);
using StartMultipart = int64_t (*)(const char*, web_data*, int, int, int, const char*, int, void*, TaskCallback);
using Position = int (*)(int64_t);

int (*g_stop_itself)(int64_t) = nullptr;
std::atomic<bool> g_stopped_itself{false};

// Stops its own task and lingers in the callback: the unload comes meanwhile and must wait for it.
void stop_itself_and_linger(void* handle, int, void*, unsigned int, void*) {
    if (g_stopped_itself.exchange(true)) return;
    g_stop_itself(static_cast<int64_t>(reinterpret_cast<intptr_t>(handle)));
    std::this_thread::sleep_for(std::chrono::seconds(3));
}

}  // namespace

// Connections and threads first; then one task of every kind running, one that stopped itself and is still in
// its callback, and a threaded upload that ended whole before.
TEST(Unload, StopsEveryTaskAndLeavesNoConnectionOrThread) {
    EXPECT_EQ(qntest::in_child([] {
        qntest::TempDir config, files;
        qntest::use_config_dir(config.path());
        qntest::LogReader log(config.path());  // MJBase and its writer thread stay loaded
        qntest::FileServer downloads;
        qntest::HttpServer uploads;
        uploads.serve_uploads().keep_alive(30);
        uploads.start();
        log.records();
        size_t threads = qntest::thread_count();  // once the servers' workers have settled
        for (int still = 0, i = 0; still < 5 && i < 200; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            still = qntest::thread_count() == threads ? still + 1 : 0;
            threads = qntest::thread_count();
        }
        const std::string big = files.write("big", pattern(20u << 20)), small = files.write("s", "x");
        qntest::Form form;
        form.add(WEB_PART_SENDFILE, "a.bin", pattern(8u << 20));
        void* lib = load();
        std::ostringstream report;
        const auto submit = [&](const char* path) {
            char* body = nullptr;
            report << symbol<decltype(&quillnet_submit_ex)>(lib, "quillnet_submit_ex")(uploads.url(path).c_str(), 10,
                                                                                    "q", 0, &body, nullptr) << " ";
            symbol<decltype(&quillnet_release)>(lib, "quillnet_release")(&body);
        };
        const auto call = [lib](const char* name) { symbol<int (*)()>(lib, name)(); };
        call("quillnet_startup");
        submit("/a");
        report << "open:" << open_connections_to(uploads.port()) << " ";
        call("quillnet_cleanup");
        report << "after clean-up:" << open_connections_to(uploads.port()) << " ";
        call("quillnet_startup");
        for (const char* path : {"/b", "/plume/device/queryDeviceOrgTree"}) submit(path);
        report << "open while loaded:" << open_connections_to(uploads.port())
               << " threads:" << qntest::thread_count() - threads << "; ";

        const std::string slow_file = downloads.url("/slow/40000000"), slow_upload = uploads.url("/slow");
        const auto out = [&](const char* name) { return files.path() + "/" + name; };
        const auto download_asyn = symbol<StartAsyn>(lib, "quillnet_download_asyn_urlfile");
        const auto upload = symbol<Start>(lib, "quillnet_upload_urlfile_ex");
        const auto upload_pos = symbol<Position>(lib, "quillnet_getpos_upload_urlfile");
        const int64_t quick = upload(uploads.url("/q").c_str(), small.c_str(), nullptr, nullptr);
        if (!eventually([&] { return upload_pos(quick) == 100 && task_threads() == 0; })) return std::string("?");
        const std::pair<int64_t, Position> tasks[] = {
            {symbol<Start>(lib, "quillnet_download_urlfile_ex")(slow_file.c_str(), out("t").c_str(), nullptr, nullptr),
             symbol<Position>(lib, "quillnet_getpos_download_urlfile")},
            {download_asyn(slow_file.c_str(), out("a").c_str(), nullptr, 0, 1, 1, nullptr, 0, nullptr, nullptr),
             symbol<Position>(lib, "quillnet_getpos_download_asyn_urlfile")},
            {symbol<StartAsyn>(lib, "quillnet_upload_asyn_urlfile")(slow_upload.c_str(), big.c_str(), nullptr, 0, 2,
                                                                    0, nullptr, 0, nullptr, nullptr),
             symbol<Position>(lib, "quillnet_getpos_upload_asyn_urlfile")},
            {symbol<StartMultipart>(lib, "quillnet_submit_multipart_asyn")(slow_upload.c_str(), form.get(), 0, 2, 1,
                                                                           nullptr, 0, nullptr, nullptr),
             symbol<Position>(lib, "quillnet_getpos_multipart_asyn")},
            {upload(slow_upload.c_str(), big.c_str(), nullptr, nullptr), upload_pos},
        };
        if (!eventually([&] {
                return std::all_of(std::begin(tasks), std::end(tasks), [](const auto& t) { return t.second(t.first) > 0; });
            })) {
            return std::string("not all running");
        }
        g_stop_itself = symbol<Position>(lib, "quillnet_stop_download_asyn_urlfile");
        download_asyn(slow_file.c_str(), out("s").c_str(), nullptr, 0, 1, 1, nullptr, 0, nullptr,
                      &stop_itself_and_linger);
        if (!eventually([] { return g_stopped_itself.load(); })) return std::string("no self-stop");
        report << unload(lib, std::chrono::seconds(8)) << " open:" << open_connections_to(uploads.port())
               << " threads:" << qntest::thread_count() - threads;
        eventually([&] { return uploads.uploads().size() == 7; });
        report << " whole:";  // the submits and the quick one first, the slow ones abandoned
        for (const qntest::Upload& up : uploads.uploads()) report << up.complete;
        return report.str();
    }), "0 open:1 after clean-up:0 0 0 open while loaded:1 threads:1; 11 running:0 open:0 threads:0 whole:1111000");
}
