#include "console.h"

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>

#if defined(_WIN32)
#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
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
std::FILE* g_out = nullptr;

}  // namespace

std::FILE* err() {
    return g_err != nullptr ? g_err : stderr;
}

std::FILE* out() {
    return g_out != nullptr ? g_out : stdout;
}

#if defined(_WIN32)

bool stdout_is_terminal() { return _isatty(_fileno(stdout)) != 0; }
bool stdin_is_terminal() { return _isatty(_fileno(stdin)) != 0; }

int terminal_columns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) == 0) return 80;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

namespace fd {
int dup(int f) { return _dup(f); }
int dup2(int a, int b) { return _dup2(a, b); }
int close(int f) { return _close(f); }
int create(const char* path) { return _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0644); }
std::FILE* open_stream(int f) { return _fdopen(f, "w"); }
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

bool stdout_is_terminal() { return ::isatty(STDOUT_FILENO) != 0; }
bool stdin_is_terminal() { return ::isatty(STDIN_FILENO) != 0; }

int terminal_columns() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
    return size.ws_col;
}

namespace fd {
int dup(int f) { return ::fcntl(f, F_DUPFD_CLOEXEC, 0); }
int dup2(int a, int b) { return ::dup2(a, b); }
int close(int f) { return ::close(f); }
int create(const char* path) { return ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644); }
std::FILE* open_stream(int f) { return ::fdopen(f, "w"); }
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

bool InterruptGuard::requested() {
    return g_interrupted.load();
}

StdoutCapture::StdoutCapture(const std::string& path) : path_(path) {
    std::fflush(stdout);
    const int file = fd::create(path.c_str());
    saved_ = file < 0 ? -1 : fd::dup(1);
    if (saved_ >= 0 && fd::dup2(file, 1) >= 0) {
        g_out = fd::open_stream(fd::dup(saved_));
    } else if (saved_ >= 0) {
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
    if (g_out != nullptr) std::fclose(g_out);
    g_out = nullptr;
    std::ifstream in(path_, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    std::remove(path_.c_str());
    return text;
}

}  // namespace cli
}  // namespace qn
