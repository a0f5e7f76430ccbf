// Unloading the library with tasks still running: the unload stops them
// (threaded uploads, which have no stop, are aborted), waits for every
// worker, a self-stopped one still in its callback included, and only then
// lets the code go. This executable loads and unloads the library itself,
// in a child process, so that what the unloaded library never frees (its
// process-wide objects) is no leak of the test's, and a crash is the
// child's, reported as such.
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <utility>
#include <vector>

#include "file_server.h"
#include "submit_helpers.h"
#include "task_fixture.h"
#include "platform/platform.h"
#include "upload_server.h"

namespace {

// Runs `body` in a child process; its report, or how the child ended.
std::string in_child(const std::function<std::string()>& body) {
    int out[2];
    if (::pipe(out) != 0) return "no pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const std::string report = body();
        std::_Exit(::write(out[1], report.data(), report.size()) < 0 ? 2 : 0);
    }
    ::close(out[1]);
    std::string report;
    char buf[256];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) report.append(buf, static_cast<size_t>(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) report += " [child killed by signal " + std::to_string(WTERMSIG(status)) + "]";
    return report;
}

void* load_library() {
    return ::dlopen((qn::platform::executable_dir() + "libquillnet.so").c_str(), RTLD_NOW | RTLD_LOCAL);
}

template <class Fn>
Fn symbol(void* lib, const char* name) {
    return reinterpret_cast<Fn>(::dlsym(lib, name));
}

// Unloads the library; reports whether it is gone, whether that took less
// than `limit`, and the task workers still running.
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
using Position = int (*)(int64_t);

// A quick and a slow upload; the library is unloaded while the slow one
// sends. Reports the unload and what the server got.
std::string load_upload_unload() {
    qntest::TempDir config, files;
    qntest::use_config_dir(config.path());
    qntest::UploadServer server;
    const std::string big = files.write("big", qntest::pattern(20u << 20)), small = files.write("s", "x");
    void* lib = load_library();
    const auto start = symbol<Start>(lib, "quillnet_upload_urlfile_ex");
    const auto getpos = symbol<Position>(lib, "quillnet_getpos_upload_urlfile");
    const int64_t quick = start(server.url("/q").c_str(), small.c_str(), nullptr, nullptr);
    const int64_t slow = start(server.url("/slow").c_str(), big.c_str(), nullptr, nullptr);
    if (!eventually([&] { return getpos(quick) == 100 && getpos(slow) > 0 && task_threads() == 1; })) return "?";
    const std::string report = unload(lib, std::chrono::seconds(3));  // aborted, not waited for
    eventually([&] { return server.uploads().size() == 2; });
    return report + " whole:" + std::to_string(server.uploads()[0].complete) +
           std::to_string(server.uploads()[1].complete);
}

// The stop export a callback calls on its own task, and when it has.
int (*g_stop_itself)(int64_t) = nullptr;
std::atomic<bool> g_stopped_itself{false};

// Stops its own task, then stays in the callback for a while, longer than
// the other workers take to end: the unload comes meanwhile, and must wait
// for this worker to leave the library.
void stop_itself_and_linger(void* handle, int, void*, unsigned int, void*) {
    if (g_stopped_itself.exchange(true)) return;
    g_stop_itself(static_cast<int64_t>(reinterpret_cast<intptr_t>(handle)));
    std::this_thread::sleep_for(std::chrono::seconds(3));
}

// One task of every kind running, and one that has stopped itself from its
// callback and is still in it, when the library is unloaded.
std::string load_run_every_kind_unload() {
    qntest::TempDir config, files;
    qntest::use_config_dir(config.path());
    qntest::FileServer downloads;
    qntest::UploadServer uploads;
    const std::string big = files.write("big", qntest::pattern(20u << 20));
    qntest::Form form;
    form.add(WEB_PART_SENDFILE, "a.bin", qntest::pattern(8u << 20));
    void* lib = load_library();
    const std::string slow_file = downloads.url("/slow/40000000"), slow_upload = uploads.url("/slow");
    const auto out = [&](const char* name) { return files.path() + "/" + name; };
    std::vector<std::pair<int64_t, Position>> tasks;
    tasks.emplace_back(symbol<Start>(lib, "quillnet_download_urlfile_ex")(slow_file.c_str(), out("t").c_str(),
                                                                          nullptr, nullptr),
                       symbol<Position>(lib, "quillnet_getpos_download_urlfile"));
    const auto download_asyn = symbol<StartAsyn>(lib, "quillnet_download_asyn_urlfile");
    tasks.emplace_back(download_asyn(slow_file.c_str(), out("a").c_str(), nullptr, 0, 1, 1, nullptr, 0, nullptr,
                                     nullptr),
                       symbol<Position>(lib, "quillnet_getpos_download_asyn_urlfile"));
    tasks.emplace_back(symbol<StartAsyn>(lib, "quillnet_upload_asyn_urlfile")(
                           slow_upload.c_str(), big.c_str(), nullptr, 0, 2, 0, nullptr, 0, nullptr, nullptr),
                       symbol<Position>(lib, "quillnet_getpos_upload_asyn_urlfile"));
    using StartMultipart = int64_t (*)(const char*, web_data*, int, int, int, const char*, int, void*, TaskCallback);
    tasks.emplace_back(symbol<StartMultipart>(lib, "quillnet_submit_multipart_asyn")(
                           slow_upload.c_str(), form.get(), 0, 2, 1, nullptr, 0, nullptr, nullptr),
                       symbol<Position>(lib, "quillnet_getpos_multipart_asyn"));
    tasks.emplace_back(symbol<Start>(lib, "quillnet_upload_urlfile_ex")(slow_upload.c_str(), big.c_str(), nullptr,
                                                                        nullptr),
                       symbol<Position>(lib, "quillnet_getpos_upload_urlfile"));
    if (!eventually([&] {
            return std::all_of(tasks.begin(), tasks.end(), [](const auto& t) { return t.second(t.first) > 0; });
        })) {
        return "not all running";
    }
    g_stop_itself = symbol<Position>(lib, "quillnet_stop_download_asyn_urlfile");
    download_asyn(slow_file.c_str(), out("s").c_str(), nullptr, 0, 1, 1, nullptr, 0, nullptr, &stop_itself_and_linger);
    if (!eventually([] { return g_stopped_itself.load(); })) return "no self-stop";
    return unload(lib, std::chrono::seconds(8));
}

}  // namespace

TEST(UploadUnload, AbortsAndJoins) {
    EXPECT_EQ(in_child(load_upload_unload), "11 running:0 whole:10");
}

TEST(TaskUnload, StopsAndWaitsForTasksOfEveryKind) {
    EXPECT_EQ(in_child(load_run_every_kind_unload), "11 running:0");
}
