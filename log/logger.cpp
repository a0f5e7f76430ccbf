#include "log/logger.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/host_objects.h"
#include "host/text_convert.h"
#include "platform/platform.h"

#if defined(_WIN32)
#include <share.h>
#endif

namespace qn {
namespace log {

namespace {

const char kModuleName[] = "quillnet";
constexpr size_t kLineLimit = 254;
constexpr int32_t kSinkOptionsFlags = 0x00070007;

std::FILE* open_shared_for_reading(const std::string& path) {
#if defined(_WIN32)
    return ::_fsopen(path.c_str(), "r", _SH_DENYNO);
#else
    return std::fopen(path.c_str(), "r");
#endif
}

enum class LineRead { kLine, kLastLine, kEnd };

// One line of at most kLineLimit characters, without its line end. The
// file is read as Windows reads it in text mode: "\r\n" is a line end like
// "\n" (so a blank "\r\n" line ends the reading there too); a lone "\r" is
// an ordinary character.
LineRead read_line(std::FILE* file, std::string* line) {
    line->clear();
    int c;
    while ((c = std::fgetc(file)) != EOF && c != '\n') {
        if (c == '\r') {
            const int next = std::fgetc(file);
            if (next == '\n') break;
            if (next != EOF) std::ungetc(next, file);
        }
        if (line->size() == kLineLimit) return LineRead::kLastLine;
        line->push_back(static_cast<char>(c));
    }
    return line->empty() ? LineRead::kEnd : LineRead::kLine;
}

std::vector<std::string> split_nonempty(const std::string& line, char sep) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start <= line.size()) {
        size_t end = line.find(sep, start);
        if (end == std::string::npos) end = line.size();
        if (end > start) pieces.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

}  // namespace

ConfigMap ParseConfig(std::FILE* file) {
    ConfigMap config;
    std::string line;
    for (;;) {
        const LineRead r = read_line(file, &line);
        if (r == LineRead::kEnd) break;
        const std::vector<std::string> pieces = split_nonempty(line, '=');
        if (pieces.size() == 2) config[pieces[0]] = std::atoi(pieces[1].c_str());
        if (r == LineRead::kLastLine) break;
    }
    return config;
}

void ApplyConfig(const ConfigMap& config, LogSettings* settings) {
    struct Field {
        const char* key;
        int32_t LogSettings::*member;
    };
    static const Field kFields[] = {
        {"log_to_debugview", &LogSettings::debug_mode},
        {"log_file_maxsize", &LogSettings::max_size},
        {"log_level", &LogSettings::level},
        {"log_max_days", &LogSettings::max_days},
    };
    for (const Field& f : kFields) {
        auto it = config.find(std::string(kModuleName) + "@" + f.key);
        if (it == config.end()) it = config.find(f.key);
        if (it != config.end()) settings->*f.member = it->second;
    }
}

}  // namespace log
}  // namespace qn

CLogger& CLogger::instance() {
    static CLogger* const logger = new CLogger();
    return *logger;
}

CLogger::CLogger() {
    ReadConfig();
    sink_ = qn::host::CreateLogSink();
    if (!sink_) return;
    sink_->SetModuleName(qn::Utf8ToWide(qn::log::kModuleName).c_str(), 0);
    sink_->SetLevel(static_cast<uint32_t>(settings_.level));
    mj::MJLogOptions options;
    options.reserved = 0;
    options.flags = qn::log::kSinkOptionsFlags;
    options.max_days = settings_.max_days;
    options.max_size = settings_.max_size;
    options.debug_mode = settings_.debug_mode;
    sink_->SetOptions(&options);
}

void CLogger::ReadConfig() {
    std::string path;
    std::FILE* file = nullptr;
    qn::host::MJRef<mj::IMJEnvironment> env = qn::host::CreateEnvironment();
    if (env) {
        const mj::wchar* dir = env->GetValue(mj::MJ_ENV_CONFIG_DIR, 0);
        path = qn::WideToCp936(dir);
        if (!path.empty()) {
            if (path.back() != '/') path += '/';
            path += "mjlog.dat";
            file = qn::log::open_shared_for_reading(path);
        }
    }
    std::string report;
    if (file == nullptr) {
        report = "** log_cfg: open faild." + path + " [" + qn::log::kModuleName + "]\n";
    } else {
        qn::log::ApplyConfig(qn::log::ParseConfig(file), &settings_);
        std::fclose(file);
        report = "** log_cfg: loglevel=" + std::to_string(settings_.level) +
                 " DbgViewMode=" + std::to_string(settings_.debug_mode) +
                 " maxLogSize:" + std::to_string(settings_.max_size) +
                 " maxLogDays:" + std::to_string(settings_.max_days) + " [" +
                 qn::log::kModuleName + "]\n";
    }
    qn::platform::debug_output(report.c_str());
}

int32_t CLogger::Write(const std::string& utf8, uint32_t level) {
    if (!sink_) return -1;
    return sink_->Write(qn::Utf8ToWideText(utf8.c_str()).c_str(), level);
}

int32_t CLogger::Write(const qn::log::Record& record) {
    if (record.lent_count() == 0) return Write(record.text(), record.level());
    if (!sink_) return -1;
    // Own text, lent text, own text, ...: at most kMaxBorrowed lent pieces.
    qn::TextPiece pieces[2 * qn::log::Record::kMaxBorrowed + 1];
    size_t count = 0;
    size_t own_from = 0;
    const std::string& own = record.text();
    for (size_t i = 0; i < record.lent_count(); ++i) {
        const qn::log::Record::Lent& lent = record.lent()[i];
        pieces[count++] = qn::TextPiece{own.data() + own_from, lent.at - own_from};
        pieces[count++] = qn::TextPiece{lent.text, lent.size};
        own_from = lent.at;
    }
    pieces[count++] = qn::TextPiece{own.data() + own_from, own.size() - own_from};
    return sink_->Write(qn::Utf8ToWideText(pieces, count).c_str(), record.level());
}
