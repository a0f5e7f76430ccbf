#include "host.h"

#include <chrono>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "console.h"
#include "mj/mj_interfaces.h"
#include "report.h"

namespace qn {
namespace cli {

namespace {

namespace pf = qn::platform;

pf::ModuleHandle module_beside(const char* windows_name) {
    return pf::load_module_path(pf::executable_dir() + pf::module_file_name(windows_name));
}

template <class Fn>
void bind(pf::ModuleHandle module, const char* name, Fn& slot) {
    slot = reinterpret_cast<Fn>(pf::find_symbol(module, name));
}

// An object of MJBase's by class id, or null.
void* mjbase_object(const mj::MJCLSID& clsid) {
    static const auto factory = reinterpret_cast<mj::PFN_CreateMJObject>(
        pf::find_symbol(module_beside("MJBase.dll"), mj::kFactoryName));
    void* object = nullptr;
    if (factory == nullptr || factory(&clsid, &object) != mj::MJ_S_OK) return nullptr;
    return object;
}

std::basic_string<mj::wchar> to_wide(const std::string& ascii) {
    return std::basic_string<mj::wchar>(ascii.begin(), ascii.end());
}

// The library's debugger output (the log configuration report, module
// load failures) and libcurl's verbose trace, which the asynchronous
// transfers switch on, go to the process's standard error; they go to a
// file beside the log instead of over the command's own output.
void keep_debug_output_off_terminal() {
    const std::string dir = config_dir();
    if (dir.empty()) return;
    std::error_code ec;
    std::filesystem::create_directories(dir + "log", ec);
    divert_stderr(dir + "log/stderr.log");
}

Library load_library() {
    keep_debug_output_off_terminal();
    Library lib;
    const std::string file = pf::module_file_name("win32_quillnet.dll");
    pf::ModuleHandle module = module_beside("win32_quillnet.dll");
    if (module == nullptr) {
        throw Failure{kExitNoLibrary, "cannot load " + file + " from " + pf::executable_dir() +
                                          " (error " + std::to_string(pf::last_error()) + ")"};
    }
    std::string missing;
#define QN_CLI_BIND(name) \
    bind(module, #name, lib.name); \
    if (lib.name == nullptr) missing += #name " ";
    QN_CLI_REQUIRED_EXPORTS(QN_CLI_BIND)
    if (!missing.empty()) throw Failure{kExitNoLibrary, file + " lacks " + missing};
#undef QN_CLI_BIND

    // The log marks every transfer made on the host's user-interface
    // thread; for this program that is the thread that runs the commands.
    using SetUiThread = mj::PFN_HubSetUIThreadId;
    const auto set_ui_thread = reinterpret_cast<SetUiThread>(
        pf::find_symbol(module_beside("hubcore.dll"), "HubSetUIThreadId"));
    if (set_ui_thread != nullptr) set_ui_thread(pf::current_thread_id());

    try {
        lib.quillnet_startup();
    } catch (const std::exception& e) {  // libcurl could not be loaded
        throw Failure{kExitNoLibrary, e.what()};
    }
    return lib;
}

}  // namespace

Library& library() {
    static Library lib = load_library();
    return lib;
}

std::string config_dir() {
    auto* env = static_cast<mj::IMJEnvironment*>(mjbase_object(mj::CLSID_MJEnvironment));
    if (env == nullptr) return std::string();
    std::string dir;
    if (const mj::wchar* w = env->GetValue(mj::MJ_ENV_CONFIG_DIR, 0)) {
        // UTF-16 to UTF-8, enough for any path a user types.
        for (; *w != 0; ++w) {
            const auto c = static_cast<uint32_t>(*w);
            if (c < 0x80) {
                dir += static_cast<char>(c);
            } else if (c < 0x800) {
                dir += static_cast<char>(0xC0 | (c >> 6));
                dir += static_cast<char>(0x80 | (c & 0x3F));
            } else if (c >= 0xD800 && c < 0xDC00 && w[1] >= 0xDC00 && w[1] < 0xE000) {
                const uint32_t cp = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(w[1]) - 0xDC00);
                ++w;
                dir += static_cast<char>(0xF0 | (cp >> 18));
                dir += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
                dir += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                dir += static_cast<char>(0x80 | (cp & 0x3F));
            } else {
                dir += static_cast<char>(0xE0 | (c >> 12));
                dir += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                dir += static_cast<char>(0x80 | (c & 0x3F));
            }
        }
    }
    env->Release();
    return dir;
}

std::string log_file() {
    const std::string dir = config_dir();
    return dir.empty() ? dir : dir + "log/quillnet.log";
}

uint64_t log_size() {
    std::ifstream in(log_file(), std::ios::binary | std::ios::ate);
    return in ? static_cast<uint64_t>(in.tellg()) : 0;
}

bool flush_log(const std::string& text) {
    // The sink writes in the background and keeps one queue per file: a
    // record of ours on disk means every record queued before it is too.
    static auto* sink = static_cast<mj::IMJLogSink*>(mjbase_object(mj::CLSID_MJLogSink));
    if (sink == nullptr) return false;
    sink->SetModuleName(to_wide("quillnet").c_str(), 0);
    static int count = 0;
    const std::string marker = text + " #" + std::to_string(++count);
    const uint64_t from = log_size();
    sink->Write(to_wide(marker + "\n").c_str(), 30);
    const std::string path = log_file();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(path, std::ios::binary);
        in.seekg(0, std::ios::end);
        const auto size = static_cast<uint64_t>(in.tellg());
        in.seekg(static_cast<std::streamoff>(from <= size ? from : 0));  // rotated meanwhile
        const std::string tail((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (tail.find(marker + "\n") != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
}

std::string last_error_since(uint64_t offset) {
    flush_log("quillnet host: looking for the reason of a failure");
    std::ifstream in(log_file(), std::ios::binary);
    in.seekg(0, std::ios::end);
    const auto size = static_cast<uint64_t>(in.tellg());
    in.seekg(static_cast<std::streamoff>(offset <= size ? offset : 0));  // rotated meanwhile
    std::string last, last_failure;
    for (std::string line; std::getline(in, line);) {
        // "2026-12-05 16:01:02.345 [tid] [level] text"
        const size_t level = line.find("] [");
        if (level == std::string::npos) continue;
        const int value = std::atoi(line.c_str() + level + 3);
        const size_t text = line.find("] ", level + 3);
        if (value < 35 || text == std::string::npos) continue;
        last = line.substr(text + 2);
        if (reports_failure(unescape_record(last))) last_failure = last;
    }
    return last_failure.empty() ? last : last_failure;
}

}  // namespace cli
}  // namespace qn
