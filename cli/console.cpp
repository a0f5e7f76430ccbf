#include "console.h"

#include <atomic>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#if defined(_WIN32)
#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace qn {
namespace cli {

namespace {

std::atomic<bool> g_interrupted{false};
std::FILE* g_err = nullptr;
Verbosity g_verbosity = Verbosity::Normal;

}  // namespace

std::FILE* err() {
    return g_err != nullptr ? g_err : stderr;
}

void set_verbosity(Verbosity verbosity) {
    g_verbosity = verbosity;
}

Verbosity verbosity() {
    return g_verbosity;
}

void note(const std::string& line) {
    if (g_verbosity == Verbosity::Silent) return;
    std::fprintf(err(), "%s\n", line.c_str());
    std::fflush(err());
}

#if defined(_WIN32)

bool stdin_is_terminal() { return _isatty(_fileno(stdin)) != 0; }
bool err_is_terminal() { return _isatty(_fileno(err())) != 0; }

int terminal_columns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info) == 0) return 80;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

std::string module_version(const void* address, std::string& file) {
    HMODULE module = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(address), &module) == 0) {
        return std::string();
    }
    char path[MAX_PATH] = {};
    if (GetModuleFileNameA(module, path, MAX_PATH) == 0) return std::string();
    file = path;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0) return std::string();
    std::vector<char> block(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (GetFileVersionInfoA(path, 0, size, block.data()) == 0 ||
        VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &length) == 0 || info == nullptr) {
        return std::string();
    }
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." + std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info->dwFileVersionLS));
}

namespace fd {
int dup(int f) { return _dup(f); }
int dup2(int a, int b) { return _dup2(a, b); }
int close(int f) { return _close(f); }
int create(const char* path) { return _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0644); }
}  // namespace fd

bool divert_stderr(const std::string& path) {
    const int saved = _dup(2);
    const int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_APPEND, 0644);
    if (saved < 0 || fd < 0 || _dup2(fd, 2) != 0) return false;
    _close(fd);
    g_err = _fdopen(saved, "w");
    return g_err != nullptr;
}

KeyInput::KeyInput() : active_(stdin_is_terminal()) {}
KeyInput::~KeyInput() = default;
int KeyInput::poll() {
    if (!active_ || _kbhit() == 0) return -1;
    return _getch();
}

namespace {
BOOL WINAPI on_console_ctrl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    g_interrupted = true;
    return TRUE;
}
}  // namespace

InterruptGuard::InterruptGuard() { SetConsoleCtrlHandler(on_console_ctrl, TRUE); }
InterruptGuard::~InterruptGuard() { SetConsoleCtrlHandler(on_console_ctrl, FALSE); }

int open_descriptors(const std::string&) { return -1; }
int task_threads() { return -1; }

#else

bool stdin_is_terminal() { return ::isatty(STDIN_FILENO) != 0; }
bool err_is_terminal() { return ::isatty(::fileno(err())) != 0; }

int terminal_columns() {
    winsize size{};
    if (::ioctl(::fileno(err()), TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
    return size.ws_col;
}

std::string module_version(const void* address, std::string& file) {
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr) return std::string();
    char real[PATH_MAX] = {};
    file = ::realpath(info.dli_fname, real) != nullptr ? real : info.dli_fname;
    // The soname link resolves to the real file, which carries the whole
    // version after ".so.".
    const size_t so = file.rfind(".so.");
    if (so == std::string::npos || file.find('/', so) != std::string::npos) return std::string();
    return file.substr(so + 4);
}

namespace fd {
int dup(int f) { return ::fcntl(f, F_DUPFD_CLOEXEC, 0); }
int dup2(int a, int b) { return ::dup2(a, b); }
int close(int f) { return ::close(f); }
int create(const char* path) { return ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644); }
}  // namespace fd

bool divert_stderr(const std::string& path) {
    const int saved = ::dup(STDERR_FILENO);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (saved < 0 || fd < 0 || ::dup2(fd, STDERR_FILENO) < 0) {
        if (saved >= 0) ::close(saved);
        if (fd >= 0) ::close(fd);
        return false;
    }
    ::close(fd);
    ::fcntl(saved, F_SETFD, FD_CLOEXEC);
    g_err = ::fdopen(saved, "w");
    if (g_err != nullptr) std::setvbuf(g_err, nullptr, _IONBF, 0);
    return g_err != nullptr;
}

namespace {
termios g_saved_terminal{};
}  // namespace

KeyInput::KeyInput() {
    if (!stdin_is_terminal() || ::tcgetattr(STDIN_FILENO, &g_saved_terminal) != 0) return;
    termios raw = g_saved_terminal;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);  // ISIG stays: Ctrl-C is a signal
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    active_ = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
}

KeyInput::~KeyInput() {
    if (active_) ::tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
}

int KeyInput::poll() {
    if (!active_) return -1;
    pollfd in{STDIN_FILENO, POLLIN, 0};
    unsigned char key = 0;
    if (::poll(&in, 1, 0) != 1 || ::read(STDIN_FILENO, &key, 1) != 1) return -1;
    return key;
}

namespace {
struct sigaction g_old_int {};
struct sigaction g_old_term {};
extern "C" void on_interrupt(int) { g_interrupted = true; }
}  // namespace

InterruptGuard::InterruptGuard() {
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &g_old_int);
    ::sigaction(SIGTERM, &action, &g_old_term);
}

InterruptGuard::~InterruptGuard() {
    ::sigaction(SIGINT, &g_old_int, nullptr);
    ::sigaction(SIGTERM, &g_old_term, nullptr);
}

int open_descriptors(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path target = fs::weakly_canonical(path, ec);
    int count = 0;
    fs::directory_iterator it("/proc/self/fd", ec);
    if (ec) return -1;
    for (const auto& entry : it) {
        std::error_code link_ec;
        if (fs::read_symlink(entry.path(), link_ec) == target) ++count;
    }
    return count;
}

int task_threads() {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::directory_iterator it("/proc/self/task", ec);
    if (ec) return -1;
    int count = 0;
    for (const auto& entry : it) {
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        std::getline(comm, name);
        if (name == "quillnet task") ++count;
    }
    return count;
}

#endif

std::string read_stdin() {
#if defined(_WIN32)
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    std::string all;
    char block[65536];
    for (size_t n; (n = std::fread(block, 1, sizeof(block), stdin)) > 0;) all.append(block, n);
    return all;
}

bool InterruptGuard::requested() {
    return g_interrupted.load();
}

StdoutCapture::StdoutCapture(const std::string& path) : path_(path) {
    std::fflush(stdout);
    const int file = fd::create(path.c_str());
    saved_ = file < 0 ? -1 : fd::dup(1);
    if (saved_ >= 0 && fd::dup2(file, 1) < 0) {
        fd::close(saved_);
        saved_ = -1;
    }
    if (file >= 0) fd::close(file);
}

StdoutCapture::~StdoutCapture() {
    finish();
}

std::string StdoutCapture::finish() {
    if (saved_ < 0) return std::string();
    std::fflush(stdout);
    fd::dup2(saved_, 1);
    fd::close(saved_);
    saved_ = -1;
    std::ifstream in(path_, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    std::remove(path_.c_str());
    return text;
}

}  // namespace cli
}  // namespace qn
