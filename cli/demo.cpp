#include <CLI/CLI.hpp>
#include "commands.h"
namespace qn { namespace cli {
void add_demo_command(CLI::App&, Action&) {}
}}
