// `quillnet report`, also run at the end of the demo.
#ifndef QN_CLI_REPORT_COMMAND_H
#define QN_CLI_REPORT_COMMAND_H

#include <cstddef>
#include <string>
#include <vector>

namespace qn {
namespace cli {

struct ReportSummary {
    size_t transfers = 0, tasks = 0, cached = 0, failed = 0, ui = 0;
};

// Reads the logs (oldest first) and writes the page; throws a Failure.
ReportSummary write_report(const std::vector<std::string>& logs, const std::string& page);
std::string describe(const ReportSummary& summary, const std::string& page);

}  // namespace cli
}  // namespace qn

#endif
