#include "cli_run.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <cstdio>
#include <thread>

#include "platform.h"
#include "temp_dir.h"

extern char** environ;

namespace qntest {

double now_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

pid_t Cli::start(const std::vector<std::string>& args, const CliIo& cli_io) {
    std::vector<std::string> all = {program_.empty() ? qn::platform::executable_dir() + "quillnet" : program_};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_text = {"MJ_CONFIG_DIR=" + config_dir()};
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::string(*e).rfind("MJ_CONFIG_DIR=", 0) != 0) env_text.push_back(*e);
    }
    std::vector<char*> env;
    for (std::string& e : env_text) env.push_back(e.data());
    env.push_back(nullptr);
    posix_spawn_file_actions_t io;
    posix_spawn_file_actions_init(&io);
    posix_spawn_file_actions_addopen(&io, STDIN_FILENO, cli_io.in.c_str(), O_RDONLY, 0);
    const std::string out = cli_io.out.empty() ? dir_ + "stdout.txt" : cli_io.out, err = dir_ + "stderr.txt";
    if (!cli_io.out.empty()) std::remove((dir_ + "stdout.txt").c_str());  // read back as empty
    posix_spawn_file_actions_addopen(&io, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&io, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&io, dir_.c_str());
    // The configuration folder a host installs, empty: every setting at its default.
    std::filesystem::create_directories(config_dir());
    pid_t pid = -1;
    started_ = now_seconds();
    if (::posix_spawn(&pid, argv[0], &io, nullptr, argv.data(), env.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&io);
    return pid;
}

CliResult Cli::finish(pid_t pid, int timeout_s) {
    CliResult r;
    int status = 0;
    const double deadline = now_seconds() + timeout_s;
    while (pid > 0 && ::waitpid(pid, &status, WNOHANG) == 0) {
        if (now_seconds() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            r.err = "(killed after " + std::to_string(timeout_s) + " s) ";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    r.seconds = now_seconds() - started_;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = read_file(dir_ + "stdout.txt");
    r.err += read_file(dir_ + "stderr.txt");
    return r;
}

CliResult Cli::run(const std::vector<std::string>& args, const CliIo& io) {
    return finish(start(args, io));
}

}  // namespace qntest
