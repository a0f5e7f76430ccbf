// quillnet: the command-line host of the library. It loads the library and
// the host modules from beside itself, as a desktop host does, and makes
// every family of exports usable from a terminal and from scripts: standard
// output carries only the answer, everything else goes to standard error.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "commands.h"
#include "console.h"
#include "host.h"

namespace {

using namespace qn::cli;

void set_config_dir(const std::string& dir) {
    std::string value = dir;
    if (!value.empty() && value.back() != '/' && value.back() != '\\') value += '/';
#if defined(_WIN32)
    _putenv_s("MJ_CONFIG_DIR", value.c_str());
#else
    ::setenv("MJ_CONFIG_DIR", value.c_str(), 1);
#endif
}

// curl's options that this program has no equivalent of, or spells
// otherwise: refused with what to use instead, so that a habit never does
// something else silently.
struct CurlHabit {
    const char* names[2];
    const char* advice;
};
constexpr CurlHabit kCurlHabits[] = {
    {{"-L", "--location"}, "redirects are not followed: the redirect is shown on standard error"},
    {{"-k", "--insecure"}, "certificates are not verified unless QUILLNET_TLS_VERIFY=1 is set"},
    {{"-X", "--request"}, "the method is the command: quillnet get, post, put or delete"},
    {{"-I", "--head"}, "there are no HEAD requests; get shows the status on standard error"},
    {{"-i", "--include"}, "response headers are not available; the status goes to standard error"},
    {{"-x", "--proxy"}, "there is no proxy option"},
    {{"-p", "--proxytunnel"}, "there is no proxy option (an FTP password goes with -u USER:PASSWORD)"},
    {{"-T", "--upload-file"}, "use quillnet upload URL FILE"},
    {{"-A", "--user-agent"}, "use -H 'User-Agent: TEXT'"},
    {{"-e", "--referer"}, "use -H 'Referer: URL'"},
    {{"-D", "--dump-header"}, "response headers are not available"},
    {{"-w", "--write-out"}, "there is no --write-out; -v shows the transfer's log lines"},
    {{"--data-binary", "--data-raw"}, "use -d (-d @FILE reads a file; --data-file FILE sends it unchanged)"},
    {{"--compressed", "--retry"}, "not available"},
};

std::string advice_for(const std::string& arg) {
    const std::string name = arg.substr(0, arg.find('='));
    for (const CurlHabit& h : kCurlHabits) {
        for (const char* n : h.names) {
            if (name == n) return "curl's " + name + " is not an option here: " + h.advice;
        }
    }
    return std::string();
}

// The final flush and close of standard output: an answer that did not
// reach it in full is a failure, whatever the transfer did.
int close_stdout(int status) {
    errno = 0;
    const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    const int error = errno;
    if (std::fclose(stdout) != 0 || failed) {
        if (status == kExitOk) {
            std::fprintf(err(), "quillnet: cannot write standard output: %s\n",
                         std::strerror(error != 0 ? error : errno));
            return kExitFailed;
        }
    }
    return status;
}

int run(int argc, char** argv) {
    CLI::App app("quillnet: HTTP(S) and FTP requests, downloads and uploads through the quillnet library",
                 "quillnet");
    app.require_subcommand(0, 1);
    app.fallthrough();
    app.allow_extras();
    std::string config;
    bool silent = false, show_error = false, verbose = false, version = false;
    app.add_option("--config", config,
                   "the host's configuration directory (mjlog.dat, Resource/Protocol.json, log/); "
                   "default: $MJ_CONFIG_DIR, else config/ beside the program");
    app.add_flag("-s,--silent", silent, "no progress, status or summary lines: only the answer and errors");
    app.add_flag("-S,--show-error", show_error, "accepted for curl's -sS: errors are always shown");
    app.add_flag("-v,--verbose", verbose, "after the transfer, libcurl's trace and the library's log lines of it");
    app.add_flag("-V,--version", version, "the versions of the program, the library and libcurl");
    app.footer("Standard output carries only the answer (a body, a file's bytes); status, progress and\n"
               "summaries go to standard error.\n"
               "Exit status: 0 success, 1 failed request or write, 2 bad arguments, 3 library, host modules or\n"
               "configuration missing, 130 Ctrl-C. 'quillnet COMMAND --help' describes a command.");
    Action action;
    add_submit_commands(app, action);
    add_transfer_commands(app, action);
    add_demo_command(app, action);
    add_report_command(app, action);

    // Named here, since a missing command is what the parser would report.
    std::string command;
    if (argc > 1 && argv[1][0] != '-') {
        command = argv[1];
        std::string known;
        bool found = false;
        for (const CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
            known += (known.empty() ? "" : ", ") + sub->get_name();
            found = found || sub->get_name() == command;
        }
        if (!found) {
            std::fprintf(err(), "quillnet: unknown command '%s' (commands: %s)\n", argv[1], known.c_str());
            return kExitUsage;
        }
    }
    const std::string help = command.empty() ? "quillnet --help" : "quillnet " + command + " --help";
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(err(), "quillnet: %s (see %s)\n", e.what(), help.c_str());
        return kExitUsage;
    }
    for (const std::string& extra : app.remaining()) {
        std::string advice = advice_for(extra);
        if (advice.empty()) {
            advice = (extra.size() > 1 && extra[0] == '-' ? "unknown option '" : "unexpected argument '") + extra + "'";
        }
        std::fprintf(err(), "quillnet: %s (see %s)\n", advice.c_str(), help.c_str());
        return kExitUsage;
    }
    set_verbosity(verbose ? Verbosity::Verbose : silent ? Verbosity::Silent : Verbosity::Normal);
    if (!config.empty()) {
        std::error_code ec;
        if (!std::filesystem::is_directory(config, ec)) {
            std::fprintf(err(), "quillnet: --config: no such folder '%s'\n", config.c_str());
            return kExitUsage;
        }
        set_config_dir(config);
    }
    if (version) {
        std::fputs(versions().c_str(), stdout);
        return kExitOk;
    }
    if (!action) {
        std::fprintf(err(), "quillnet: give a command (see quillnet --help)\n");
        return kExitUsage;
    }
    return action();
}

}  // namespace

int main(int argc, char** argv) {
    int status = kExitFailed;
    try {
        status = run(argc, argv);
    } catch (const Failure& f) {
        std::fflush(stdout);
        std::fprintf(err(), "quillnet: %s\n", f.message.c_str());
        status = f.exit_code;
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(err(), "quillnet: %s\n", e.what());
        status = kExitFailed;
    }
    return close_stdout(status);
}
