#include <CLI/CLI.hpp>

#include <cstdio>
#include <fstream>
#include <memory>

#include "commands.h"
#include "console.h"
#include "host.h"
#include "report.h"
#include "report_command.h"

namespace qn {
namespace cli {

ReportSummary write_report(const std::vector<std::string>& logs, const std::string& page) {
    LogContents contents;
    std::string source;
    for (const std::string& path : logs) {
        std::ifstream in(path, std::ios::binary);
        if (!in) throw Failure{kExitUsage, "cannot read the log '" + path + "'"};
        read_log(in, contents);
        source += (source.empty() ? "" : ", ") + path;
    }
    std::ofstream out(page, std::ios::binary | std::ios::trunc);
    const std::string html = report_html(contents, source);
    if (!out.write(html.data(), static_cast<std::streamsize>(html.size()))) {
        throw Failure{kExitFailed, "cannot write '" + page + "'"};
    }
    out.close();
    if (!out) throw Failure{kExitFailed, "cannot write '" + page + "'"};
    ReportSummary summary;
    for (const Bar& b : contents.bars) {
        summary.tasks += b.task;
        summary.transfers += !b.task;
        summary.cached += b.cached;
        summary.failed += b.failed();
        summary.ui += b.ui_thread;
    }
    return summary;
}

std::string describe(const ReportSummary& s, const std::string& page) {
    return std::to_string(s.transfers) + " transfers and " + std::to_string(s.tasks) + " tasks (" +
           std::to_string(s.cached) + " from the cache, " + std::to_string(s.failed) + " failed, " +
           std::to_string(s.ui) + " on the UI thread) -> " + page;
}

void add_report_command(CLI::App& app, Action& action) {
    struct Options {
        std::vector<std::string> logs;
        std::string page = "quillnet-report.html";
    };
    auto o = std::make_shared<Options>();
    CLI::App* cmd = app.add_subcommand("report", "turn the library's log into one self-contained HTML page");
    cmd->add_option("log", o->logs, "log file(s) of the library, oldest first (e.g. config/log/quillnet.log)")
        ->required()
        ->check(CLI::ExistingFile);
    cmd->add_option("-o,--output", o->page, "the page to write (default quillnet-report.html)");
    cmd->footer("The page needs no network: a timeline that zooms, with one bar per transfer and per\n"
                "asynchronous task coloured by outcome, the failures with libcurl's code and the HTTP status,\n"
                "and the time per URL path (count, median, 95th percentile, bytes and rate).");
    cmd->callback([o, &action] {
        action = [o] {
            note("report: " + describe(write_report(o->logs, o->page), o->page));
            return kExitOk;
        };
    });
}

}  // namespace cli
}  // namespace qn
