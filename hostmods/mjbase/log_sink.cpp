// The log sink: a record is escaped into one line's text on the caller's
// thread (record_escape.h) and handed to spdlog's asynchronous logger; one
// background thread of this module stamps it with the time, writes it to
// the module's log file, rotates and prunes old files.
//
// What a record costs its writer: below the level, one atomic load and
// nothing else. Otherwise one pass converts and escapes the wide text into a
// buffer of the writing thread (a longer record: measured, then escaped
// straight into the batch), and the line joins its channel's batch. A
// batch goes to spdlog's queue as one message when a record of the prompt
// level joins it, when it has grown large, or when its oldest record has
// waited kBatchAge (checked by the next record, or by the flusher): so the
// background thread wakes once per batch, not once per record, which on a
// busy host saves two thread switches a record. A record longer than
// kBatchedRecordBytes is measured, escaped into a block of its own, and the
// block itself travels through the queue (a ticket, below), after the batch
// before it: however large, it is copied once, by the escaping, and written
// to the file from there. Every record keeps the time at which it was
// written.
#include <spdlog/async.h>
#include <spdlog/async_logger.h>
#include <spdlog/details/os.h>
#include <spdlog/details/thread_pool.h>
#include <spdlog/sinks/base_sink.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <functional>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#if !defined(_WIN32)
#include <pthread.h>
#endif

#include "object.h"
#include "platform.h"
#include "record_escape.h"
#include "text.h"
#include "thread_safety.h"

namespace fs = std::filesystem;

namespace mjbase {

namespace {

constexpr const char kDefaultModule[] = "MJBase";
constexpr uint32_t kPromptLevel = 35;        // flushed as soon as written
// Writers wait when the queue is full. spdlog makes every slot when the
// writer starts, about 400 bytes each, and that is most of what the first
// record of a process costs (4096 slots took 4 ms and 500 page faults on a
// short download); records travel in batches, so a few hundred slots are
// plenty.
constexpr size_t kQueueSlots = 512;

// "[<tid>] [<level>] ", both 32-bit decimals.
constexpr size_t kPrefixBytes = 2 * 10 + 6;
// A record whose escaped text surely fits this is escaped into the writing
// thread's buffer; spdlog then copies it into its queue slot.
constexpr size_t kThreadBufferBytes = 4096;
constexpr size_t kThreadBufferUnits = (kThreadBufferBytes - kPrefixBytes) / kMaxEscapedBytesPerUnit;

// A longer record travels through the queue as a ticket: a payload of
// kTicketMark followed by a Ticket, naming a block that the writing thread
// filled and the background thread takes over and frees. Every other
// payload starts with "[". Each channel's logger has exactly one sink, so
// every ticket is taken exactly once.
constexpr char kTicketMark = '\0';
struct Ticket {
    char* bytes;
    size_t size;
};
constexpr size_t kTicketPayload = 1 + sizeof(Ticket);

// A batch travels the same way, under its own mark: a payload of kBatchMark
// and the address of a string holding its records, each as the record's time
// (log_clock ticks), its length and its line, as Batch::Add lays them out.
constexpr char kBatchMark = '\1';
constexpr size_t kBatchPayload = 1 + sizeof(std::string*);
constexpr size_t kBatchBytes = 256 * 1024;                 // posted once this large
// A record up to this long (escaped) is escaped straight into its batch;
// a longer one travels as a ticket of its own.
constexpr size_t kBatchedRecordBytes = 64 * 1024;
constexpr auto kBatchAge = std::chrono::milliseconds(20);  // or once its oldest is this old
constexpr auto kFlusherTurn = std::chrono::milliseconds(100);
constexpr int kTurnsPerFlush = 10;                         // the files: every second

// The debugger copy's buffer is kept between records up to this size.
constexpr size_t kKeptLineBytes = 64 * 1024;

// "<module>.<N>.log" -> N; -1 for any other name.
long RotatedIndex(const std::string& file_name, const std::string& module) {
    const std::string prefix = module + ".";
    const std::string suffix = ".log";
    if (file_name.size() <= prefix.size() + suffix.size()) return -1;
    if (file_name.compare(0, prefix.size(), prefix) != 0) return -1;
    if (file_name.compare(file_name.size() - suffix.size(), suffix.size(), suffix) != 0) return -1;
    const std::string digits = file_name.substr(prefix.size(), file_name.size() - prefix.size() - suffix.size());
    if (digits.empty() || digits.size() > 9) return -1;
    long n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

// One module's log file: <dir><module>.log, rotated to <module>.<N>.log
// with N one above the highest number present (so .1 is the oldest).
// Called by spdlog on the background thread under base_sink's mutex; the
// configuration calls take the same mutex.
class RecordFile final : public spdlog::sinks::base_sink<std::mutex> {
public:
    RecordFile(std::string dir, std::string module)
        : dir_(std::move(dir)), module_(std::move(module)), path_(dir_ + module_ + ".log") {}

    ~RecordFile() override {
        // The last user may have been the background thread. The reference
        // count orders that use before this destruction, but inside the
        // prebuilt spdlog library, where ThreadSanitizer cannot see it; the
        // mutex shows the same order.
        std::lock_guard<std::mutex> lock(mutex_);
        CloseLocked();
    }

    void Configure(const mj::MJLogOptions& options) {
        std::lock_guard<std::mutex> lock(mutex_);
        max_size_ = options.max_size > 0 ? static_cast<uint64_t>(options.max_size) : 0;
        max_days_ = options.max_days > 0 ? options.max_days : 0;
        debug_copy_ = options.debug_mode != 0;
        next_rotation_ = 0;
        RemoveExpiredLocked();
    }

    void Close() {
        std::lock_guard<std::mutex> lock(mutex_);
        CloseLocked();
    }

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        const char* body = msg.payload.data();
        size_t body_size = msg.payload.size();
        if (body_size == kBatchPayload && body[0] == kBatchMark) {
            std::string* raw = nullptr;
            std::memcpy(&raw, body + 1, sizeof raw);
            const std::unique_ptr<std::string> batch(raw);  // freed however this ends
            for (size_t at = 0; at < batch->size();) {
                int64_t ticks = 0;
                uint32_t size = 0;
                std::memcpy(&ticks, batch->data() + at, sizeof ticks);
                std::memcpy(&size, batch->data() + at + sizeof ticks, sizeof size);
                at += sizeof ticks + sizeof size;
                const spdlog::log_clock::time_point when{spdlog::log_clock::duration(ticks)};
                WriteLocked(when, batch->data() + at, size);
                at += size;
            }
            return;
        }
        std::unique_ptr<char[]> owned;
        if (body_size == kTicketPayload && body[0] == kTicketMark) {
            Ticket ticket;
            std::memcpy(&ticket, body + 1, sizeof ticket);
            owned.reset(ticket.bytes);  // freed however this ends
            body = ticket.bytes;
            body_size = ticket.size;
        }
        WriteLocked(msg.time, body, body_size);
    }

    void flush_() override {
        if (file_ != nullptr) std::fflush(file_);
    }

private:
    // One record's line, stamped with the time it was written.
    void WriteLocked(spdlog::log_clock::time_point when, const char* body, size_t body_size) {
        char stamp[kStampBytes];
        StampLocked(when, stamp);
        if (debug_copy_) DebugCopyLocked(stamp, body, body_size);

        if (file_ == nullptr && !OpenLocked()) return;  // dropped; the next record tries again
        const size_t line_size = kStampBytes + body_size + 1;
        // A record larger than the limit still gets a file to itself: the
        // file rotates before it when not empty, and after it, because the
        // next record no longer fits.
        if (max_size_ > 0 && size_ > 0 && size_ + line_size > max_size_ && size_ >= next_rotation_) {
            RotateLocked();
            if (file_ == nullptr) return;
        }
        size_ += std::fwrite(stamp, 1, kStampBytes, file_);
        size_ += std::fwrite(body, 1, body_size, file_);
        size_ += std::fwrite("\n", 1, 1, file_);
    }

    // "YYYY-MM-DD HH:MM:SS.mmm ", local time.
    static constexpr size_t kStampBytes = 24;

    // Local time changes once a second: the date and time up to the
    // seconds are made then and kept, the milliseconds are added each time.
    void StampLocked(spdlog::log_clock::time_point when, char* out) {
        using namespace std::chrono;
        const auto since = when.time_since_epoch();
        const auto second = duration_cast<seconds>(since);
        if (second != stamp_second_ || stamp_[0] == '\0') {
            const std::tm tm = spdlog::details::os::localtime(spdlog::log_clock::to_time_t(when));
            std::strftime(stamp_, sizeof stamp_, "%Y-%m-%d %H:%M:%S.", &tm);
            stamp_second_ = second;
        }
        const auto ms = static_cast<int>(duration_cast<milliseconds>(since - second).count());
        std::memcpy(out, stamp_, kStampBytes - 4);
        out[kStampBytes - 4] = static_cast<char>('0' + ms / 100);
        out[kStampBytes - 3] = static_cast<char>('0' + ms / 10 % 10);
        out[kStampBytes - 2] = static_cast<char>('0' + ms % 10);
        out[kStampBytes - 1] = ' ';
    }

    // The debugger output takes whole, terminated lines: the one place a
    // record is copied again. A copy there is no room for is skipped; the
    // file still gets the record.
    void DebugCopyLocked(const char* stamp, const char* body, size_t body_size) {
        try {
            debug_line_.assign(stamp, kStampBytes).append(body, body_size).append("\n");
            qn::platform::debug_output(debug_line_.c_str());
        } catch (const std::bad_alloc&) {
        }
        if (debug_line_.capacity() > kKeptLineBytes) std::string().swap(debug_line_);
    }

    // The folders were made when the channel was; a folder removed since
    // (a test's temporary configuration directory, say) is not brought back.
    bool OpenLocked() {
        file_ = std::fopen(path_.c_str(), "ab");
        if (file_ == nullptr) return false;
        std::error_code ec;
        const auto size = fs::file_size(path_, ec);
        size_ = ec ? 0 : static_cast<uint64_t>(size);
        return true;
    }

    void CloseLocked() {
        if (file_ != nullptr) std::fclose(file_);
        file_ = nullptr;
    }

    void RotateLocked() {
        CloseLocked();
        long highest = 0;
        std::error_code ec;
        for (fs::directory_iterator it(dir_, ec), end; !ec && it != end; it.increment(ec)) {
            highest = std::max(highest, RotatedIndex(it->path().filename().string(), module_));
        }
        const std::string target = dir_ + module_ + "." + std::to_string(highest + 1) + ".log";
        fs::rename(path_, target, ec);
        RemoveExpiredLocked();
        if (!OpenLocked()) return;
        // Could not move the file aside: keep appending, and try again only
        // after another full size's worth, not on every record.
        next_rotation_ = ec ? size_ + max_size_ : 0;
    }

    // Log files of this module last written more than max_days ago. The
    // open file is left alone: it is being written right now.
    void RemoveExpiredLocked() {
        if (max_days_ <= 0) return;
        std::error_code ec;
        const auto cutoff = fs::file_time_type::clock::now() - std::chrono::hours(24) * max_days_;
        std::vector<fs::path> expired;
        for (fs::directory_iterator it(dir_, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            const bool current = name == module_ + ".log";
            if (!current && RotatedIndex(name, module_) < 0) continue;
            if (current && file_ != nullptr) continue;
            std::error_code time_ec;
            const auto written = fs::last_write_time(it->path(), time_ec);
            if (!time_ec && written < cutoff) expired.push_back(it->path());
        }
        for (const fs::path& p : expired) fs::remove(p, ec);
    }

    const std::string dir_;
    const std::string module_;
    const std::string path_;
    std::FILE* file_ = nullptr;
    uint64_t size_ = 0;
    uint64_t max_size_ = 0;       // 0: never rotate
    uint64_t next_rotation_ = 0;  // no rotation below this size
    int32_t max_days_ = 0;        // 0: keep everything
    bool debug_copy_ = false;
    std::chrono::seconds stamp_second_{0};
    char stamp_[kStampBytes] = {};  // up to the seconds' "."
    std::string debug_line_;
};

// A channel's records waiting to go to the queue together.
class Batch {
public:
    // Adds one line of `size` bytes written at `when`, which `fill` puts in
    // place; posts the batch when the line is of the prompt level or the
    // batch is due (see the top of this file).
    template <class Fill>
    void Add(spdlog::async_logger& logger, spdlog::log_clock::time_point when, size_t size, bool prompt,
             const Fill& fill) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!pending_) pending_.reset(new std::string());
        const size_t before = pending_->size();
        const int64_t ticks = when.time_since_epoch().count();
        const auto length = static_cast<uint32_t>(size);
        try {
            pending_->append(reinterpret_cast<const char*>(&ticks), sizeof ticks);
            pending_->append(reinterpret_cast<const char*>(&length), sizeof length);
            pending_->resize(before + sizeof ticks + sizeof length + size);
        } catch (...) {
            pending_->resize(before);  // a record is in the batch whole or not at all
            throw;
        }
        fill(&(*pending_)[before + sizeof ticks + sizeof length]);
        if (before == 0) first_ = when;
        if (prompt || pending_->size() >= kBatchBytes || when - first_ >= kBatchAge) PostLocked(logger, prompt);
    }

    // Posts the waiting records, then `ticket` (a record of its own), so
    // that the file gets them in the order they were written.
    void PostThen(spdlog::async_logger& logger, spdlog::log_clock::time_point when, const char* ticket,
                  size_t size, bool prompt) {
        std::lock_guard<std::mutex> lock(mutex_);
        PostLocked(logger, false);
        logger.log(when, spdlog::source_loc{}, prompt ? spdlog::level::err : spdlog::level::info,
                   spdlog::string_view_t(ticket, size));
    }

    // Posts the records that have waited `age` or longer (all, for zero).
    void PostOlderThan(spdlog::async_logger& logger, spdlog::log_clock::duration age) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (pending_ && !pending_->empty() && spdlog::log_clock::now() - first_ >= age) PostLocked(logger, false);
    }

private:
    void PostLocked(spdlog::async_logger& logger, bool prompt) {
        if (!pending_ || pending_->empty()) return;
        char payload[kBatchPayload];
        payload[0] = kBatchMark;
        std::string* raw = pending_.get();
        std::memcpy(payload + 1, &raw, sizeof raw);
        logger.log(first_, spdlog::source_loc{}, prompt ? spdlog::level::err : spdlog::level::info,
                   spdlog::string_view_t(payload, sizeof payload));
        (void)pending_.release();  // the background thread's now
    }

    std::mutex mutex_;
    std::unique_ptr<std::string> pending_;
    spdlog::log_clock::time_point first_;
};

// Calls `turn` every `interval` on a thread of its own, until destroyed.
class Ticker {
public:
    Ticker(std::function<void()> turn, std::chrono::milliseconds interval)
        : turn_(std::move(turn)), interval_(interval), thread_([this] { Run(); }) {}
    ~Ticker() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    Ticker(const Ticker&) = delete;
    Ticker& operator=(const Ticker&) = delete;

private:
    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!wake_.wait_for(lock, interval_, [this] { return stop_; })) {
            lock.unlock();
            turn_();
            lock.lock();
        }
    }

    const std::function<void()> turn_;
    const std::chrono::milliseconds interval_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;  // last: started once everything it uses exists
};

struct Channel {
    ~Channel() {
        // A sink released with records still waiting: they go out now.
        try {
            batch.PostOlderThan(*logger, spdlog::log_clock::duration::zero());
        } catch (...) {
        }
    }

    std::shared_ptr<RecordFile> file;
    std::shared_ptr<spdlog::async_logger> logger;
    Batch batch;
};

// Process-wide state of the sinks: the background thread, the one-second
// flusher and the open channels, shared by all sink objects that name the
// same file. Created with the first sink and never freed: threads the host
// leaves running may still log after exit has begun, and must then be
// turned away, not find freed memory.
class Runtime {
public:
    static Runtime& Get() {
        static Runtime* const runtime = [] {
            Runtime* made = new Runtime();
            // Also published for the exit and fork hooks, which must not
            // create it.
            instance_.store(made, std::memory_order_release);
            return made;
        }();
        return *runtime;
    }

    // At normal process exit (or module unload): everything queued reaches
    // its file, the threads end, and later writes are refused.
    static void ShutdownIfStarted() {
        Runtime* rt = instance_.load(std::memory_order_acquire);
        if (rt != nullptr) rt->Shutdown();
    }

    // Held by every call that may queue records or open channels. Once
    // shutdown has begun, no new entry is admitted, and shutdown waits for
    // the ones inside. (A reader-preferring rwlock could keep shutdown
    // waiting for ever while many threads log; two atomics cannot.)
    class Entry {
    public:
        explicit Entry(Runtime& rt) : rt_(rt) {
            rt_.inside_.fetch_add(1);
            admitted_ = !rt_.closed_.load();
        }
        ~Entry() { rt_.inside_.fetch_sub(1); }
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;
        explicit operator bool() const { return admitted_; }

    private:
        Runtime& rt_;
        bool admitted_;
    };

    // The channel for <dir><module>.log, shared with every sink that
    // writes there. Call only inside an admitted Entry.
    std::shared_ptr<Channel> Acquire(const std::string& dir, const std::string& module) {
        const std::string key = dir + module;
        qn::platform::MutexLock lock(channels_mutex_);
        auto& slot = channels_[key];
        if (auto existing = slot.lock()) return existing;

        std::error_code ec;
        fs::create_directories(dir, ec);
        auto channel = std::make_shared<Channel>();
        channel->file = std::make_shared<RecordFile>(dir, module);
        channel->logger = std::make_shared<spdlog::async_logger>(module, channel->file, pool_,
                                                                 spdlog::async_overflow_policy::block);
        channel->logger->set_level(spdlog::level::trace);
        channel->logger->flush_on(spdlog::level::err);
        slot = channel;
        return channel;
    }

private:
    Runtime()
        : pool_(std::make_shared<spdlog::details::thread_pool>(kQueueSlots, 1)),
          flusher_(std::make_unique<Ticker>([this] { FlusherTurn(); }, kFlusherTurn)) {
#if !defined(_WIN32)
        // A child made by fork has the queue but none of the threads: its
        // records would wait for ever, and so would its exit. It gets no log.
        ::pthread_atfork(nullptr, nullptr, [] {
            Runtime* rt = instance_.load();
            if (rt != nullptr) rt->closed_.store(true);
        });
#endif
    }

    std::vector<std::shared_ptr<Channel>> LiveChannels() {
        std::vector<std::shared_ptr<Channel>> live;
        qn::platform::MutexLock lock(channels_mutex_);
        for (auto it = channels_.begin(); it != channels_.end();) {
            if (auto channel = it->second.lock()) {
                live.push_back(std::move(channel));
                ++it;
            } else {
                it = channels_.erase(it);
            }
        }
        return live;
    }

    // Batches nobody added to since they became due go out; every
    // kTurnsPerFlush turns (a second) the files are flushed.
    void FlusherTurn() {
        const bool flush = ++turns_ % kTurnsPerFlush == 0;
        for (const auto& channel : LiveChannels()) {
            try {
                channel->batch.PostOlderThan(*channel->logger, kBatchAge);
            } catch (...) {
            }
            if (flush) channel->file->flush();
        }
    }

    void Shutdown() {
        // Sequentially consistent on both sides: either an entrant sees
        // closed_, or this loop sees it inside.
        if (closed_.exchange(true)) return;
        while (inside_.load() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        flusher_.reset();
        const auto live = LiveChannels();
        for (const auto& channel : live) {
            try {
                channel->batch.PostOlderThan(*channel->logger, spdlog::log_clock::duration::zero());
            } catch (...) {
            }
        }
        // Drains the queue (records of released sinks included) and joins
        // the thread.
        pool_.reset();
        for (const auto& channel : live) channel->file->Close();
    }

    static std::atomic<Runtime*> instance_;

    std::atomic<bool> closed_{false};
    std::atomic<int> inside_{0};
    int turns_ = 0;  // the flusher's only

    // Everything the threads use is declared (so constructed) before them.
    qn::platform::Mutex channels_mutex_;
    std::map<std::string, std::weak_ptr<Channel>> channels_ QN_GUARDED_BY(channels_mutex_);
    std::shared_ptr<spdlog::details::thread_pool> pool_;
    std::unique_ptr<Ticker> flusher_;
};

std::atomic<Runtime*> Runtime::instance_{nullptr};

struct ExitFlush {
    ~ExitFlush() {
        // On Windows the writer and the flusher were stopped before this
        // runs at exit, with any lock they held still taken: nothing to wait
        // for. The C runtime's exit has flushed the open files; records
        // still queued then are lost.
        if (!qn::platform::process_ending()) Runtime::ShutdownIfStarted();
    }
} g_exit_flush;

// "[<tid>] [<level>] " at out; returns the end.
char* PutPrefix(uint32_t level, char* out) {
    // A thread keeps its id. (A child made by fork would keep its parent
    // thread's, but a child gets no log at all.)
    thread_local const uint32_t tid = qn::platform::current_thread_id();
    char* const end = out + kPrefixBytes;
    *out++ = '[';
    out = std::to_chars(out, end, tid).ptr;
    *out++ = ']', *out++ = ' ', *out++ = '[';
    out = std::to_chars(out, end, level).ptr;
    *out++ = ']', *out++ = ' ';
    return out;
}

// Escapes the record into one line's text and queues it; see the top of
// this file for what that costs.
void Queue(Channel& channel, const mj::wchar* text, uint32_t level) {
    size_t n = std::char_traits<mj::wchar>::length(text);
    if (n > 0 && text[n - 1] == '\n') --n;  // the line's own end, not part of the record
    const bool prompt = level >= kPromptLevel;
    const spdlog::log_clock::time_point now = spdlog::log_clock::now();
    if (n <= kThreadBufferUnits) {
        thread_local char buffer[kThreadBufferBytes];
        const char* end = EscapeRecord(text, n, PutPrefix(level, buffer));
        const auto size = static_cast<size_t>(end - buffer);
        channel.batch.Add(*channel.logger, now, size, prompt, [&](char* out) { std::memcpy(out, buffer, size); });
        return;
    }
    char prefix[kPrefixBytes];
    const auto prefix_size = static_cast<size_t>(PutPrefix(level, prefix) - prefix);
    const size_t size = prefix_size + EscapedSize(text, n);
    if (size <= kBatchedRecordBytes) {
        channel.batch.Add(*channel.logger, now, size, prompt, [&](char* out) {
            std::memcpy(out, prefix, prefix_size);
            EscapeRecord(text, n, out + prefix_size);
        });
        return;
    }
    std::unique_ptr<char[]> block(new char[size]);
    std::memcpy(block.get(), prefix, prefix_size);
    EscapeRecord(text, n, block.get() + prefix_size);
    const Ticket ticket{block.get(), size};
    char payload[kTicketPayload];
    payload[0] = kTicketMark;
    std::memcpy(payload + 1, &ticket, sizeof ticket);
    channel.batch.PostThen(*channel.logger, now, payload, sizeof payload, prompt);
    block.release();  // the background thread's now
}

class LogSink final : public Object<LogSink, mj::IMJLogSink> {
public:
    LogSink() : runtime_(Runtime::Get()) {}

    mj::result_t MJ_CALL SetModuleName(const mj::wchar* name, int32_t /*reserved*/) override {
        if (name == nullptr) return mj::MJ_E_POINTER;
        try {
            const std::string module = WideToUtf8(name);
            // The name becomes a file name inside the log folder, nothing more.
            if (module.empty() || module == "." || module == ".." ||
                module.find_first_of("/\\") != std::string::npos) {
                return mj::MJ_E_FAIL;
            }
            Runtime::Entry entry(runtime_);
            if (!entry) return mj::MJ_E_FAIL;
            qn::platform::MutexLock lock(mutex_);
            UseLocked(runtime_.Acquire(ConfigDir() + "log/", module));
            return mj::MJ_S_OK;
        } catch (...) {
            return mj::MJ_E_FAIL;
        }
    }

    mj::result_t MJ_CALL SetLevel(uint32_t level) override {
        level_.store(level, std::memory_order_relaxed);
        return mj::MJ_S_OK;
    }

    mj::result_t MJ_CALL SetOptions(const mj::MJLogOptions* options) override {
        if (options == nullptr) return mj::MJ_E_POINTER;
        Channel* channel;
        {
            qn::platform::MutexLock lock(mutex_);
            options_ = *options;
            has_options_ = true;
            channel = channel_.load(std::memory_order_relaxed);
        }
        if (channel != nullptr) channel->file->Configure(*options);
        return mj::MJ_S_OK;
    }

    // 1 when the record was queued, 0 when its level is filtered out, -1
    // when it cannot be written.
    int32_t MJ_CALL Write(const mj::wchar* text, uint32_t level) override {
        if (text == nullptr) return -1;
        if (level < level_.load(std::memory_order_relaxed)) return 0;
        try {
            Runtime::Entry entry(runtime_);
            if (!entry) return -1;
            Queue(*CurrentChannel(), text, level);
            return 1;
        } catch (...) {
            return -1;
        }
    }

private:
    // Records written before SetModuleName go to the default module's file.
    Channel* CurrentChannel() {
        Channel* channel = channel_.load(std::memory_order_acquire);
        if (channel != nullptr) return channel;
        qn::platform::MutexLock lock(mutex_);
        channel = channel_.load(std::memory_order_relaxed);
        if (channel == nullptr) channel = UseLocked(runtime_.Acquire(ConfigDir() + "log/", kDefaultModule));
        return channel;
    }

    Channel* UseLocked(std::shared_ptr<Channel> channel) QN_REQUIRES(mutex_) {
        Channel* raw = channel.get();
        if (std::find(held_.begin(), held_.end(), channel) == held_.end()) held_.push_back(std::move(channel));
        if (has_options_) raw->file->Configure(options_);
        channel_.store(raw, std::memory_order_release);
        return raw;
    }

    Runtime& runtime_;
    std::atomic<uint32_t> level_{0};
    // The channel records go to, read by Write without a lock. A channel
    // the sink has used stays in held_ until the sink is released, so a
    // Write racing a change of name never finds its channel freed.
    std::atomic<Channel*> channel_{nullptr};
    qn::platform::Mutex mutex_;
    std::vector<std::shared_ptr<Channel>> held_ QN_GUARDED_BY(mutex_);
    mj::MJLogOptions options_ QN_GUARDED_BY(mutex_){};
    bool has_options_ QN_GUARDED_BY(mutex_) = false;
};

}  // namespace

mj::IMJObject* NewLogSink() {
    return mj::NewObject<LogSink>();
}

}  // namespace mjbase
