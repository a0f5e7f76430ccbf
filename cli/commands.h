// The subcommands. Each add_* registers its commands on the application;
// a command's callback stores the work to do in `action`, which main runs
// once the whole command line has been parsed. The work returns the exit
// status or throws a Failure.
#ifndef QN_CLI_COMMANDS_H
#define QN_CLI_COMMANDS_H

#include <functional>

namespace CLI {
class App;
}

namespace qn {
namespace cli {

using Action = std::function<int()>;

void add_submit_commands(CLI::App& app, Action& action);    // get post put delete multipart clear-cache
void add_transfer_commands(CLI::App& app, Action& action);  // download upload
void add_demo_command(CLI::App& app, Action& action);
void add_report_command(CLI::App& app, Action& action);

}  // namespace cli
}  // namespace qn

#endif
