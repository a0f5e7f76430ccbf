// The library as a desktop host sees it: win32_quillnet.dll (libquillnet.so)
// and the host modules MJBase and hubcore beside the executable, each export
// bound by name. Exports a library build may still lack (the uploads and the
// asynchronous multipart task) are bound when present; only the commands
// that need them are refused when they are not.
#ifndef QN_CLI_HOST_H
#define QN_CLI_HOST_H

#include <cstdint>
#include <string>

#include "platform.h"
#include "quillnet.h"

namespace qn {
namespace cli {

#define QN_CLI_REQUIRED_EXPORTS(X)               \
    X(quillnet_startup)                          \
    X(quillnet_cleanup)                          \
    X(quillnet_release)                          \
    X(quillnet_release_redirect_url)             \
    X(quillnet_submit_ex7)                       \
    X(quillnet_submit_multipart_ex)              \
    X(quillnet_download_urlfile)                 \
    X(quillnet_download_urlfile_ex3)             \
    X(quillnet_download_ftpfile)                 \
    X(quillnet_download_urlfile_ex)              \
    X(quillnet_getpos_download_urlfile)          \
    X(quillnet_stop_download_urlfile)            \
    X(quillnet_download_asyn_urlfile)            \
    X(quillnet_control_download_asyn_urlfile)    \
    X(quillnet_getpos_download_asyn_urlfile)     \
    X(quillnet_stop_download_asyn_urlfile)       \
    X(quillnet_clear_cache)                      \
    X(quillnet_upload_urlfile_ex)                \
    X(quillnet_getpos_upload_urlfile)            \
    X(quillnet_upload_asyn_urlfile)              \
    X(quillnet_stop_upload_asyn_urlfile)         \
    X(quillnet_getpos_upload_asyn_urlfile)       \
    X(quillnet_submit_multipart_asyn)            \
    X(quillnet_stop_multipart_asyn)              \
    X(quillnet_getpos_multipart_asyn)

// Thrown for what the user must fix or know: the message is one line.
struct Failure {
    int exit_code;
    std::string message;
};

// Exit statuses of the program.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;       // the library reported a failed request
constexpr int kExitUsage = 2;        // bad arguments
constexpr int kExitNoLibrary = 3;    // library, host modules or configuration missing
constexpr int kExitInterrupted = 130;

struct Library {
#define QN_CLI_SLOT(name) decltype(&::name) name = nullptr;
    QN_CLI_REQUIRED_EXPORTS(QN_CLI_SLOT)
#undef QN_CLI_SLOT

};

// Loads the library beside the executable, binds its exports, registers
// the calling thread with hubcore as the user-interface thread and calls
// quillnet_startup. Throws a Failure (kExitNoLibrary) when the library, one
// of its required exports, a host module or the configuration folder is
// missing. Loaded once per process.
Library& library();

// The host's configuration directory (ending in "/") as MJBase's
// environment object names it; empty when MJBase is missing.
std::string config_dir();

// The library's log file under the configuration directory, and the file
// that takes the process's standard error (the library's debugger output
// and libcurl's trace) beside it.
std::string log_file();
std::string trace_file();
uint64_t log_size();

// The level below which the log sink drops records, as mjlog.dat sets it
// for the library (25 when it does not say).
int log_level();

// Writes `text` as a record of the program's own (level 30) to the
// library's log through MJBase's sink. flush_log() then waits until it is on
// disk, so that everything the library logged before is too; false when it
// did not arrive in time or the level drops it.
void host_record(const std::string& text);
bool flush_log(const std::string& text);

// "quillnet 0.9.0", the library's version and file, libcurl's version: the
// lines of --version.
std::string versions();

}  // namespace cli
}  // namespace qn

#endif
