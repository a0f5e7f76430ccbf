// The process-wide logger: forwards log records to the host's log sink,
// configured once per process from mjlog.dat in the configuration folder.
#ifndef QN_LOG_LOGGER_H
#define QN_LOG_LOGGER_H

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#include "host/mj_ref.h"
#include "log/log_record.h"
#include "mj/mj_interfaces.h"

namespace qn {
namespace log {

struct LogSettings {
    int32_t debug_mode = 0;          // "log_to_debugview"
    int32_t max_size = 0x500000;     // "log_file_maxsize"
    int32_t level = 25;              // "log_level"
    int32_t max_days = 5;            // "log_max_days"
};

using ConfigMap = std::map<std::string, int32_t>;

// Reads "key=value" lines, ended by "\n" or "\r\n". Lines reach at most 254
// characters; the first empty line ends the reading, and so does a line longer than that (its
// first 254 characters still count). Each line is split at every "=" with
// empty pieces dropped; exactly two pieces make an entry, the value read
// with atoi. Nothing is trimmed.
ConfigMap ParseConfig(std::FILE* file);

// Each setting takes "quillnet@<key>" if present, else "<key>", else keeps
// its value.
void ApplyConfig(const ConfigMap& config, LogSettings* settings);

}  // namespace log
}  // namespace qn

class CLogger {
public:
    // Created on first use, never destroyed.
    static CLogger& instance();

    // -1 without a sink, otherwise the sink's result.
    int32_t Write(const std::string& utf8, uint32_t level);
    // The same for an ended record: its whole text, lent texts included,
    // converted without joining them first.
    int32_t Write(const qn::log::Record& record);

    const qn::log::LogSettings& settings() const { return settings_; }

private:
    CLogger();
    void ReadConfig();

    qn::log::LogSettings settings_;
    qn::host::MJRef<mj::IMJLogSink> sink_;
};

#endif  // QN_LOG_LOGGER_H
