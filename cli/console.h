// What the program needs of the terminal and the process, behind one small
// seam per platform: whether output and input are terminals, single keys
// without Enter, Ctrl-C as a request rather than an end, where the
// program's own messages go, and a look at the process's open files and
// task threads.
#ifndef QN_CLI_CONSOLE_H
#define QN_CLI_CONSOLE_H

#include <cstdio>
#include <string>

namespace qn {
namespace cli {

bool stdin_is_terminal();
// Whether the program's own messages (err()) reach a terminal: the
// progress line is drawn only there.
bool err_is_terminal();
// Columns of the terminal on standard error; 80 when unknown.
int terminal_columns();

// The program's own messages. The asynchronous transfers switch libcurl's
// verbose trace on, which goes to the process's standard error; once
// divert_stderr() has sent that stream to a file, err() is still the
// original standard error.
std::FILE* err();
// Sends file descriptor 2 to `path` (appended). False when it could not.
bool divert_stderr(const std::string& path);

// How much the program says besides the answer and its one error line:
// -s keeps only the error, -v adds libcurl's trace and the library's log
// lines of the transfer.
enum class Verbosity { Silent, Normal, Verbose };
void set_verbosity(Verbosity verbosity);
Verbosity verbosity();
// A status, summary or progress line on err(), unless silent.
void note(const std::string& line);

// The version that the file of the module holding `address` carries: the
// suffix of the real name it resolves to (libquillnet.so.0.9.0 -> 0.9.0)
// on Linux, its version resource on Windows; empty when it carries none.
// `file` receives the module's path.
std::string module_version(const void* address, std::string& file);

// All of standard input, read as bytes.
std::string read_stdin();

// While one lives, what is written to file descriptor 1 (libcurl's default
// output of a transfer's answer) goes to a file.
class StdoutCapture {
public:
    explicit StdoutCapture(const std::string& path);
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;
    // Ends the capture (once) and returns what was written.
    std::string finish();

private:
    std::string path_;
    int saved_ = -1;
};

// While one lives, a terminal on stdin hands over single key presses, not
// echoed and without waiting for Enter; a no-op when stdin is no terminal.
class KeyInput {
public:
    KeyInput();
    ~KeyInput();
    KeyInput(const KeyInput&) = delete;
    KeyInput& operator=(const KeyInput&) = delete;
    bool active() const { return active_; }
    // The next key pressed, or -1 when none is waiting.
    int poll();

private:
    bool active_ = false;
};

// While one lives, Ctrl-C (and a termination request) only sets a flag that
// the program polls, so that a running task is stopped through the library
// before the program ends.
class InterruptGuard {
public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
    static bool requested();
};

// How many of the process's descriptors refer to `path`, and how many task
// workers of the library are running (threads the library names "quillnet
// task"); -1 where the system does not tell.
int open_descriptors(const std::string& path);
int task_threads();

}  // namespace cli
}  // namespace qn

#endif
