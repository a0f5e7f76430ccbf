// quillnet: the command-line host of the library. It loads the library and
// the host modules from beside itself, as a desktop host does, and makes
// every family of exports usable from a terminal.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>

#include "commands.h"
#include "console.h"
#include "host.h"

namespace {

void set_config_dir(const std::string& dir) {
    std::string value = dir;
    if (!value.empty() && value.back() != '/' && value.back() != '\\') value += '/';
#if defined(_WIN32)
    _putenv_s("MJ_CONFIG_DIR", value.c_str());
#else
    ::setenv("MJ_CONFIG_DIR", value.c_str(), 1);
#endif
}

}  // namespace

int main(int argc, char** argv) {
    using namespace qn::cli;
    CLI::App app("quillnet: HTTP(S) and FTP requests, downloads and uploads through the quillnet library",
                 "quillnet");
    app.require_subcommand(1);
    app.fallthrough();
    std::string config;
    app.add_option("--config", config,
                   "the host's configuration directory (mjlog.dat, Resource/Protocol.json, log/); "
                   "default: $MJ_CONFIG_DIR, else config/ beside the program");
    app.footer("Exit status: 0 success, 1 failed request, 2 bad arguments, 3 library missing, 130 Ctrl-C.\n"
               "'quillnet COMMAND --help' describes a command.");
    Action action;
    add_submit_commands(app, action);
    add_transfer_commands(app, action);
    add_demo_command(app, action);
    add_report_command(app, action);

    // Named here, since a missing command is what the parser would report.
    if (argc > 1 && argv[1][0] != '-') {
        std::string known;
        bool found = false;
        for (const CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
            known += (known.empty() ? "" : ", ") + sub->get_name();
            found = found || sub->get_name() == argv[1];
        }
        if (!found) {
            std::fprintf(err(), "quillnet: unknown command '%s' (commands: %s)\n", argv[1], known.c_str());
            return kExitUsage;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(err(), "quillnet: %s (see quillnet --help)\n", e.what());
        return kExitUsage;
    }
    if (!config.empty()) set_config_dir(config);
    try {
        return action ? action() : kExitUsage;
    } catch (const Failure& f) {
        std::fflush(stdout);
        std::fprintf(err(), "quillnet: %s\n", f.message.c_str());
        return f.exit_code;
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(err(), "quillnet: %s\n", e.what());
        return kExitFailed;
    }
}
