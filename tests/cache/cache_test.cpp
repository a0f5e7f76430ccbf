// The request cache on a clock the tests move, and the timed perform through it against a counting server.
#include <condition_variable>
#include <cstring>
#include <regex>

#if defined(__linux__)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <mj/mj_interfaces.h>

#include "cache/timed_perform.h"
#include "cache/web_req_cache.h"
#include "curl/libcurl_wrapper.h"
#include "curl/transfer.h"
#include "harness.h"
#include "log/log_record.h"
#include "http_server.h"
#include "platform/platform.h"
#include "submit/recv_data.h"

using std::chrono::nanoseconds;
using std::chrono::seconds;
using Lines = std::vector<std::string>;
using qntest::eventually;

class WebReqCacheTestPeer {
public:
    using Lock = qn::platform::MutexLock;
    static void SetClock(WebReqCache& c, WebReqCache::NowFunction now) { Lock lock(c.lock_); c.now_ = now; }
    static size_t Size(WebReqCache& c) {
        Lock lock(c.lock_);
        EXPECT_EQ(c.index_.size(), c.entries_.size()) << "an index entry for each answer";
        return c.entries_.size();
    }
    static size_t Pending(WebReqCache& c) { Lock lock(c.lock_); return c.pending_.size(); }
    static size_t Waiting(WebReqCache& c) { return c.waiting_.load(); }
    static void PurgeStale(WebReqCache& c) { Lock lock(c.lock_); c.PurgeStale(); }
};
using Peer = WebReqCacheTestPeer;

namespace {

constexpr char kTree[] = "/plume/device/queryDeviceOrgTree";
constexpr char kOther[] = "/plume/device/other";
constexpr size_t kThreads = 16;

// Moves only when told to; far from zero, so that "now - 10 s" is valid.
std::atomic<int64_t> g_now_ns{int64_t{1} << 40};
WebReqCache::Clock::time_point manual_now() { return WebReqCache::Clock::time_point(nanoseconds(g_now_ns.load())); }
void advance(nanoseconds by) { g_now_ns += by.count(); }

WebReqCacheKey key(const std::string& body, const std::string& url = std::string("http://h") + kTree) {
    return WebReqCacheKey(url, body);
}
void store(WebReqCache& cache, const WebReqCacheKey& k, const std::string& body) {
    cache.Store(k, WebReqCacheValue{body}, nullptr);
}
// The cached answer, or "<none>" when the cache has no fresh one.
std::string cached(WebReqCache& cache, const WebReqCacheKey& k) {
    WebReqCacheValue out;
    return cache.GetOrFetch(k, out, WebReqCache::FetchFunction()) ? out.text() : "<none>";
}

}  // namespace

TEST(CachedPaths, OnlyTheSixPathsAtTheVeryEnd) {
    for (const std::string p : {"/plume/audioVideoAuth/baseGetTreeResourceData", "/plume/device/totalDeviceOrgTree",
                                "/plume/audioVideoAuth/baseGetTreeStatusWithFilters", kTree,
                                "/plume/device/totalDeviceOrgTreeGa", "/plume/device/queryDeviceOrgTreeGa"}) {
        EXPECT_TRUE(is_cached_path("https://host:8443/api" + p)) << p;
        for (const std::string& url : {"http://h" + p + "?page=1", "http://h" + p + "/", p.substr(1),
                                       "http://h" + p.substr(0, p.size() - 1), "http://h" + p + kOther}) {
            EXPECT_FALSE(is_cached_path(url)) << url;
        }
    }
    EXPECT_FALSE(is_cached_path("http://h/PLUME/device/queryDeviceOrgTree") || is_cached_path(""));
}

TEST(CacheAge, FreshUpToTenSecondsRenewedByReadsAndReplacedInPlace) {
    WebReqCache cache(1000, seconds(10), &manual_now);
    cache.StopCleaner();  // its purge would race the stale answer's stay
    int runs = 0;
    auto fetch = [&runs] { return std::make_pair(true, WebReqCacheValue{"fetch " + std::to_string(++runs)}); };
    WebReqCacheValue out;
    ASSERT_TRUE(cache.GetOrFetch(key("q"), out, fetch));
    store(cache, key("other"), "o");
    // Exactly 10 s old is fresh, a read renews, a stale read does not.
    const std::pair<nanoseconds, std::string> steps[] = {{seconds(10), "fetch 1"}, {seconds(9), "fetch 1"},
        {seconds(10), "fetch 1"}, {seconds(10) + nanoseconds(1), "<none>"}, {nanoseconds(0), "<none>"}};
    for (const auto& [by, answer] : steps) {
        advance(by);
        EXPECT_EQ(cached(cache, key("q")), answer);
    }
    EXPECT_EQ(Peer::Size(cache), 2u) << "stale answers stay until replaced or purged";
    ASSERT_TRUE(cache.GetOrFetch(key("q"), out, fetch));
    EXPECT_EQ(out.text(), "fetch 2");
    EXPECT_EQ(Peer::Size(cache), 2u) << "replaced, not added";
    EXPECT_EQ(Peer::Pending(cache), 0u);
}

TEST(CacheEntries, OnePerUrlAndBodyAndThe1001stEvictsTheLeastRecentlyUsed) {
    WebReqCache cache(1000, seconds(10), &manual_now);
    store(cache, key("{\"id\":1}"), "one");
    store(cache, key("{\"id\":2}"), "two");
    EXPECT_EQ(cached(cache, key("{\"id\":1}")), "one");
    EXPECT_EQ(cached(cache, key("{\"id\":2}")), "two");
    EXPECT_EQ(cached(cache, key("{\"id\":1} ")), "<none>");
    EXPECT_EQ(cached(cache, key("{\"id\":1}", std::string("http://h") + kTree + "Ga")), "<none>");
    // Keys whose two hashes cancel out in the xor are still told apart.
    store(cache, key("x", "x"), "same");
    EXPECT_EQ(cached(cache, key("y", "y")), "<none>");
    cache.Clear();

    for (int i = 0; i < 1000; ++i) store(cache, key(std::to_string(i)), "v" + std::to_string(i));
    EXPECT_EQ(cached(cache, key("0")), "v0");  // now "1" is the least recently used
    store(cache, key("1000"), "v1000");
    EXPECT_EQ(Peer::Size(cache), 1000u);
    EXPECT_EQ(cached(cache, key("1")), "<none>");
    for (const char* k : {"0", "2", "1000"}) EXPECT_EQ(cached(cache, key(k)), std::string("v") + k);
    // Replacing an answer renews its place as well: "4" is now the oldest.
    store(cache, key("3"), "v3b");
    store(cache, key("1001"), "v1001");
    EXPECT_EQ(cached(cache, key("3")), "v3b");
    EXPECT_EQ(cached(cache, key("4")), "<none>");
}

TEST(CachePurge, RemovesOnlyStaleAnswersAndLogsEach) {
    qntest::TempDir config;
    qntest::use_config_dir(config.path());
    qntest::LogReader log(config.path());
    WebReqCache cache(1000, seconds(10), &manual_now);
    cache.StopCleaner();  // only the purge below
    store(cache, key("q", "http://h/purged"), "1");
    store(cache, key("q", "http://h/renewed"), "2");
    advance(seconds(5));
    store(cache, key("q", "http://h/kept/at/the/edge"), "3");
    EXPECT_EQ(cached(cache, key("q", "http://h/renewed")), "2");
    advance(seconds(10));
    Peer::PurgeStale(cache);
    EXPECT_EQ(Peer::Size(cache), 2u);
    EXPECT_EQ(cached(cache, key("q", "http://h/kept/at/the/edge")), "3");
    EXPECT_EQ(log.records(), Lines{"25 -- net cache clean up:http://h/purged"});
}

namespace {

// http: 0 when the handle was never performed.
struct Reply { int code = -1; long http = -1; std::string body; int32_t capacity = 0; };

// Answers the tree path and one outside the six with "tree(" body ")#" n, n counting requests.
class TimedPerform : public qntest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        Peer::SetClock(WebReqCache::instance(), &manual_now);  // answers stay fresh until a test moves it
        auto handler = [this](const httplib::Request& req, httplib::Response& res) {
            const int n = ++hits_;
            std::unique_lock<std::mutex> lock(mutex_);
            released_.wait(lock, [this] { return !held_; });
            if (dropping_) {  // headers that promise a body, then a closed connection
                res.set_content_provider(100, "text/plain", [](size_t, size_t, httplib::DataSink&) { return false; });
            } else {
                res.set_content(answer_.empty() ? "tree(" + req.body + ")#" + std::to_string(n) : answer_, "text/plain");
            }
        };
        server_.server().Post(kTree, handler).Get(kTree, handler).Post(kOther, handler);
        server_.start();
    }
    void TearDown() override {
        serve(false);
        server_.stop();
        LibraryTest::TearDown();
    }

    // Held answers wait for the next call.
    void serve(bool held, bool dropping = false, const std::string& answer = "") {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            held_ = held;
            dropping_ = dropping;
            answer_ = answer;
        }
        released_.notify_all();
    }

    // One request as the submits make it (a GET when `request` is null);
    // `capacity` shrinks the buffer as a shorter earlier answer leaves it.
    Reply ask(const char* request, const char* path = kTree, bool pass_buffer = true, int32_t capacity = 0) {
        qn::submit::ReceiveBuffer buffer;
        EXPECT_TRUE(buffer.create());
        recv_data* recv = buffer.get();
        if (capacity > 0) {
            recv->buf = static_cast<char*>(std::realloc(recv->buf, static_cast<size_t>(capacity)));
            std::memcpy(recv->buf, "xxx", 4);
            recv->length = 3;
            recv->capacity = capacity;
        }
        qn::curl::Transfer transfer;
        const std::string url = server_.url(path);
        qn::curl::RequestOptions options;
        options.url = url.c_str();
        options.timeout = 60;
        options.nosignal = 1;
        options.write_function = &on_curl_recv_data;
        options.write_data = recv;
        qn::curl::setup_request(transfer.easy(), options);
        CLibcurlWrapper& lib = CLibcurlWrapper::instance();
        if (request != nullptr) lib.curl_easy_setopt(transfer.easy(), CURLOPT_POSTFIELDS, request);
        Reply reply;
        reply.code = timed_easy_perform(transfer.easy(), url, request, pass_buffer ? recv : nullptr);
        lib.curl_easy_getinfo(transfer.easy(), CURLINFO_RESPONSE_CODE, &reply.http);
        EXPECT_EQ(recv->buf[recv->length], '\0');
        reply.body.assign(recv->buf, static_cast<size_t>(recv->length));
        reply.capacity = recv->capacity;
        return reply;
    }

    // kThreads identical requests, the first held until all others wait for it.
    std::vector<Reply> ask_together(const std::string& request, bool dropping) {
        serve(true, dropping);
        const int before = hits_.load();
        std::vector<Reply> replies(kThreads);
        std::vector<std::thread> threads;
        for (size_t i = 0; i < kThreads; ++i) threads.emplace_back([&, i] { replies[i] = ask(request.c_str()); });
        EXPECT_TRUE(eventually([&] { return hits_.load() > before; }));
        EXPECT_TRUE(eventually([] { return Peer::Waiting(WebReqCache::instance()) == kThreads - 1; }));
        serve(false, dropping);
        for (auto& t : threads) t.join();
        return replies;
    }

    qntest::HttpServer server_;
    std::atomic<int> hits_{0};
    std::mutex mutex_;
    std::condition_variable released_;
    bool held_ = false, dropping_ = false;
    std::string answer_;
};

}  // namespace

TEST_F(TimedPerform, SpanLineMarksOnlyTheUserInterfaceThread) {
    ask("main");  // the main thread until another is registered
    std::thread([&] { ask("worker"); }).join();
    const std::string hubcore = qn::platform::executable_dir() + qn::platform::module_file_name("hubcore.dll");
    const auto set_ui_thread = reinterpret_cast<mj::PFN_HubSetUIThreadId>(
        qn::platform::find_symbol(qn::platform::load_module_path(hubcore), mj::kSetUIThreadIdName));
    ASSERT_NE(set_ui_thread, nullptr);
    std::thread([&] {
        set_ui_thread(qn::platform::current_thread_id());
        ask("moved");
    }).join();
    ask("main again");

    const Lines spans = log_.records("] perform ret:");
    ASSERT_EQ(spans.size(), 4u);
    const std::string span =
        "30 \\[" + std::regex_replace(server_.url(kTree), std::regex("[.]"), "\\.") + "\\] perform ret:0 spantime:[0-9]+";
    for (size_t i = 0; i < spans.size(); ++i) {
        EXPECT_TRUE(std::regex_match(spans[i], std::regex(i % 2 == 0 ? span + " \\*\\* by UIThread\\." : span)))
            << spans[i];
    }
}

TEST_F(TimedPerform, DirectRoadWithoutRequestOrBufferOrOutsideTheSixPaths) {
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(ask("q", kTree, false).code, CURLE_OK);
        EXPECT_EQ(ask(nullptr).body, "tree()#" + std::to_string(3 * i + 2));
        EXPECT_EQ(ask("q", kOther).body, "tree(q)#" + std::to_string(3 * i + 3));
    }
    EXPECT_EQ(hits_.load(), 6) << "none of them was cached";
    // Only a call with a request and a buffer is dumped, after its span line.
    const Lines records = log_.records();
    ASSERT_EQ(records.size(), 8u);
    EXPECT_NE(records[2].find("] perform ret:0 spantime:"), std::string::npos);
    EXPECT_EQ(records[3], "25 by net == Req:q Rep:tree(q)#3");
}

TEST_F(TimedPerform, CachedAnswerComesWithoutATransferAndGrowsASmallBufferToItsSize) {
    serve(false, false, "0123456789");
    ASSERT_EQ(ask("q").http, 200);
    for (const int32_t capacity : {8, 10, 11, 64}) {
        const Reply reply = ask("q", kTree, true, capacity);
        EXPECT_EQ(reply.code, CURLE_OK);
        EXPECT_EQ(reply.http, 0) << "the handle was never performed";
        EXPECT_EQ(reply.body, "0123456789") << capacity;
        EXPECT_EQ(reply.capacity, capacity <= 10 ? 11 : capacity) << capacity;
    }
    EXPECT_EQ(hits_.load(), 1);
    Lines dumps(5, "25 by catch == Req:q Rep:0123456789");
    dumps[0] = "25 by net == Req:q Rep:0123456789";
    EXPECT_EQ(log_.records(" == Req:q"), dumps);
    advance(seconds(10) + nanoseconds(1));  // stale: from the network again, logged as such
    EXPECT_EQ(ask("q").http, 200);
    EXPECT_EQ(log_.records(" == Req:q"), (Lines{"25 by net == Req:q Rep:0123456789"}));
}

TEST_F(TimedPerform, IdenticalRequestsInFlightShareOneTransferAndItsFailure) {
    std::vector<Reply> replies = ask_together("q", true);
    const int code = replies[0].code;
    EXPECT_NE(code, CURLE_OK);
    for (const Reply& reply : replies) {
        EXPECT_EQ(reply.code, code);
        EXPECT_EQ(reply.body, "") << "the buffer is left as it was";
    }
    EXPECT_EQ(hits_.load(), 1);
    EXPECT_EQ(log_.records("by catch == Req:q Rep:").size(), kThreads - 1);
    EXPECT_EQ(Peer::Size(WebReqCache::instance()), 0u);
    EXPECT_EQ(Peer::Pending(WebReqCache::instance()), 0u);

    // Nothing of the failure stays behind: the same requests go out again, once.
    for (const Reply& reply : ask_together("q", false)) {
        EXPECT_EQ(reply.code, CURLE_OK);
        EXPECT_EQ(reply.body, "tree(q)#2");
    }
    EXPECT_EQ(hits_.load(), 2);
    EXPECT_EQ(log_.records("by catch == Req:q Rep:tree(q)#2").size(), kThreads - 1);
    EXPECT_EQ(Peer::Pending(WebReqCache::instance()), 0u);
}

// A waiter gives up at its own time-out, as its transfer would; a clear meanwhile neither blocks nor loses it.
TEST_F(TimedPerform, WaiterTimeOutAndClearDuringATransfer) {
    serve(true);
    Reply first;
    std::thread fetcher([&] { first = ask("q"); });  // no time-out of its own
    EXPECT_TRUE(eventually([this] { return hits_.load() >= 1; }));
    char* body = nullptr;
    int len = -1;
    EXPECT_EQ(quillnet_submit_ex(server_.url(kTree).c_str(), 1, "q", 0, &body, &len), -1);
    EXPECT_EQ(body, nullptr);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(Peer::Pending(WebReqCache::instance()), 1u);
    EXPECT_EQ(quillnet_clear_cache(nullptr), 0);  // while the server holds the transfer
    EXPECT_EQ(Peer::Pending(WebReqCache::instance()), 0u);
    serve(false);
    fetcher.join();
    EXPECT_EQ(first.code, CURLE_OK);
    EXPECT_EQ(first.body, "tree(q)#1");
    EXPECT_EQ(hits_.load(), 1);
    const std::string timed_out = std::to_string(CURLE_OPERATION_TIMEDOUT);
    EXPECT_EQ(log_.records("] perform ret:" + timed_out + " ").size(), 1u);
    EXPECT_EQ(ask("q").body, "tree(q)#1") << "stored after the clear";
    EXPECT_EQ(quillnet_clear_cache(nullptr), 0);
    EXPECT_EQ(ask("q").body, "tree(q)#2");
}

#if defined(__linux__)
static size_t g_threads_before_cache = 0;

TEST(CacheCleaner, StopsAtOnceAndIsJoinedBeforeExit) {
    std::thread([] {}).join();  // threads the runtime starts with the first one are counted in
    g_threads_before_cache = qntest::thread_count();
    // Each goes during its cleaner's ten-second wait, which the stop cuts short; a second stop is harmless.
    for (int i = 0; i < 20; ++i) {
        WebReqCache cache(1000, seconds(10), &manual_now);
        if (i % 2 == 0) cache.StopCleaner();
    }
    EXPECT_EQ(qntest::thread_count(), g_threads_before_cache);
    // Runs after every exit handler registered later, the cache's among them: no library thread outlives them.
    ASSERT_EQ(std::atexit([] { if (qntest::thread_count() > g_threads_before_cache) std::_Exit(3); }), 0);
    EXPECT_EQ(quillnet_clear_cache(nullptr), 0);
    EXPECT_GT(qntest::thread_count(), g_threads_before_cache) << "the clean-up thread runs";
}

// The clean-up thread runs only while there are answers to purge (an idle library keeps no thread, which on
// Windows lets the module unload after a host's FreeLibrary): it ends once a purge after its first leaves the
// cache empty; the next answer starts another. Each round waits the real ten seconds.
TEST(CacheCleaner, EndsWhenTheCacheIsEmptyAndComesBackWithTheNextAnswer) {
    qntest::TempDir config;
    qntest::use_config_dir(config.path());
    qn::log::Info() << "cleaner test" << "\n";  // the log's writer threads, named after this one: not the cleaner
    const auto cleaners_within_two_rounds = [](int n) {  // and some: 25 s
        for (int i = 0; i <= 2500; ++i) {
            int found = 0;
            for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
                found += qntest::read_file(task.path().string() + "/comm") == "quillnet cache\n";
            if (found == n) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    };
    WebReqCache cache(1000, seconds(10), &manual_now);
    EXPECT_TRUE(cleaners_within_two_rounds(1));  // named once it runs
    EXPECT_TRUE(cleaners_within_two_rounds(0));  // its second round finds nothing
    store(cache, key("q"), "a");
    EXPECT_TRUE(cleaners_within_two_rounds(1));
    advance(seconds(11));
    EXPECT_TRUE(cleaners_within_two_rounds(0));
    EXPECT_EQ(Peer::Size(cache), 0u) << "purged before it ended";
}

// A full accept queue never completes the connect: a submit allowed twelve seconds fails after five.
TEST(ConnectTimeOut, FiveSecondsWhateverTheRequestAllows) {
    qntest::TempDir config;
    qntest::use_config_dir(config.path());
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0), filler = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), len), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&addr), len), 0);  // the queue's one place
    ASSERT_EQ(quillnet_startup(), 1);
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/";
    char* body = nullptr;
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(quillnet_submit_ex(url.c_str(), 12, "q", 0, &body, nullptr), -1);
    const auto took = std::chrono::steady_clock::now() - began;
    EXPECT_TRUE(took > seconds(5) - std::chrono::milliseconds(100) && took < seconds(6))
        << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    quillnet_cleanup();
    ::close(filler);
    ::close(listener);
}
#endif
