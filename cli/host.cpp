#include "host.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "console.h"
#include "mj/mj_interfaces.h"

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

// A host module beside the program, or a Failure that names it. Checked
// before the library is loaded: the library itself would only report a
// missing module on the debugger output and go on without it.
void require_module(const char* windows_name) {
    const std::string file = pf::module_file_name(windows_name);
    if (module_beside(windows_name) == nullptr) {
        throw Failure{kExitNoLibrary, "cannot load the host module " + file + " from " + pf::executable_dir() +
                                          " (error " + std::to_string(pf::last_error()) + ")"};
    }
}

// The library's debugger output (the log configuration report, module
// load failures) and libcurl's verbose trace, which the asynchronous
// transfers switch on, go to the process's standard error; they go to a
// file beside the log instead of over the command's own output (-v shows
// them after the transfer).
void keep_debug_output_off_terminal(const std::string& dir) {
    std::error_code ec;
    std::filesystem::create_directory(dir + "log", ec);
    divert_stderr(trace_file());
}

Library load_library() {
    require_module("MJBase.dll");
    require_module("hubcore.dll");
    const std::string dir = config_dir();
    std::error_code ec;
    if (dir.empty() || !std::filesystem::is_directory(dir, ec)) {
        throw Failure{kExitNoLibrary, "no configuration folder " + dir +
                                          " (give --config DIR, or set MJ_CONFIG_DIR)"};
    }
    keep_debug_output_off_terminal(dir);
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

mj::IMJLogSink* log_sink() {
    static auto* sink = [] {
        auto* s = static_cast<mj::IMJLogSink*>(mjbase_object(mj::CLSID_MJLogSink));
        if (s != nullptr) s->SetModuleName(to_wide("quillnet").c_str(), 0);
        return s;
    }();
    return sink;
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

std::string trace_file() {
    const std::string dir = config_dir();
    return dir.empty() ? dir : dir + "log/stderr.log";
}

uint64_t log_size() {
    std::ifstream in(log_file(), std::ios::binary | std::ios::ate);
    return in ? static_cast<uint64_t>(in.tellg()) : 0;
}

int log_level() {
    // The library's reading of mjlog.dat: a line split at every "=", empty
    // pieces dropped, two pieces an entry; the key prefixed with the module
    // name wins over the plain one.
    std::ifstream in(config_dir() + "mjlog.dat", std::ios::binary);
    int plain = 25, prefixed = -1;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> pieces;
        std::string piece;
        std::istringstream split(line);
        while (std::getline(split, piece, '=')) {
            if (!piece.empty()) pieces.push_back(piece);
        }
        if (pieces.size() != 2) continue;
        if (pieces[0] == "log_level") plain = std::atoi(pieces[1].c_str());
        if (pieces[0] == "quillnet@log_level") prefixed = std::atoi(pieces[1].c_str());
    }
    return prefixed >= 0 ? prefixed : plain;
}

void host_record(const std::string& text) {
    if (mj::IMJLogSink* sink = log_sink()) sink->Write(to_wide(text + "\n").c_str(), 30);
}

bool flush_log(const std::string& text) {
    // The sink writes in the background and keeps one queue per file: a
    // record of ours on disk means every record queued before it is too.
    if (log_sink() == nullptr || log_level() > 30) return false;
    static int count = 0;
    const std::string marker = text + " #" + std::to_string(++count);
    const uint64_t from = log_size();
    host_record(marker);
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

std::string versions() {
    Library& lib = library();
    std::string file;
    std::string version = module_version(reinterpret_cast<const void*>(lib.quillnet_startup), file);
    std::string text = "quillnet " QN_CLI_VERSION "\n";
    text += "library " + (version.empty() ? std::string("unknown") : version) + " (" + file + ")\n";
    // The libcurl the library bound at its start-up, asked for its own text.
    using CurlVersion = const char* (*)();
    const auto curl_version = reinterpret_cast<CurlVersion>(pf::find_symbol(
        pf::find_loaded_module(pf::module_file_name("libcurl.dll").c_str()), "curl_version"));
    const std::string curl = curl_version != nullptr ? curl_version() : "";
    const size_t at = curl.find("libcurl/");
    text += "libcurl " + (at == std::string::npos ? std::string("unknown") : curl.substr(at + 8, curl.find(' ', at) - at - 8)) +
            " (" + curl + ")\n";
    return text;
}

}  // namespace cli
}  // namespace qn
