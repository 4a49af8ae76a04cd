// serve: the line view live, for the screen beside the line. The page is
// worked out in the background and answered from memory. Read-only
// (GET and HEAD), one registry connection reused by the refresh and every
// request and re-opened when lost, and bounded: a fixed number of workers, a short
// queue behind them (connections past it get 503 at once), small requests
// only, and timeouts, so a stuck or hostile client cannot take the page
// away from the line.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "registry/schema.h"
#include "registry/stamp.h"
#include "registry_tool/commands.h"
#include "registry_tool/view.h"

namespace {

constexpr int kRefreshS = 30;          // the page's own reload, and how often serve works it out
constexpr long kWindowS = 24L * 3600;  // the live page shows the last 24 hours
// A request that meets a refresh under way waits this long for its end,
// so that an outage the refresh has just met shows at once, then answers
// with the page it has.
constexpr int kRefreshWaitMs = 100;
constexpr size_t kWorkers = 4;
constexpr size_t kBacklog = 32;    // accepted connections waiting for a worker
constexpr size_t kMaxBody = 1024;  // nothing is ever posted; anything larger is refused
constexpr time_t kTimeoutS = 5;    // read, write and keep-alive
constexpr size_t kKeepAliveRequests = 20;

// Set on the thread that answers a connection the queue had no room for.
thread_local bool t_overloaded = false;

// httplib's own pool queues without bound; this one stops at kBacklog and
// answers the overflow on the accepting thread with 503, which the read
// timeout keeps short.
class BoundedQueue : public httplib::TaskQueue {
public:
    BoundedQueue()
    {
        for (size_t k = 0; k < kWorkers; k++)
            threads_.emplace_back([this] { Work(); });
    }
    void enqueue(std::function<void()> fn) override
    {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (jobs_.size() < kBacklog) {
                jobs_.push_back(std::move(fn));
                cond_.notify_one();
                return;
            }
        }
        t_overloaded = true;
        fn();
        t_overloaded = false;
    }
    void shutdown() override
    {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            done_ = true;
        }
        cond_.notify_all();
        for (auto &t : threads_)
            t.join();
    }

private:
    void Work()
    {
        for (;;) {
            std::function<void()> fn;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                cond_.wait(lock, [this] { return done_ || !jobs_.empty(); });
                if (jobs_.empty())
                    return;
                fn = std::move(jobs_.front());
                jobs_.pop_front();
            }
            fn();
        }
    }
    std::vector<std::thread> threads_;
    std::deque<std::function<void()>> jobs_;
    std::mutex mutex_;
    std::condition_variable cond_;
    bool done_ = false;
};

using Clock = std::chrono::steady_clock;

// The page is worked out by a thread of its own every kRefreshS and kept:
// a request answers from memory after one cheap question to the registry,
// so a screen never waits for the figures. The connection is one, used by
// the refresh and the requests in turn under DbLock; the page has a lock
// of its own, never held while the registry is asked anything.
struct LIVE {
    const REGISTRY_CONF *Conf;
    VIEW_PERIOD Period;  // Station fixed; Since moved to 24 hours ago per page
    std::vector<VIEW_RANGE> Ranges;
    std::mutex DbLock;
    REG_DB *Db = nullptr;
    std::mutex PageLock;
    std::condition_variable Changed;  // a refresh ended, or the server stops
    // The last page, null before the first and while the registry does not
    // answer (the refresh or a request found it gone).
    std::shared_ptr<const std::string> Page;
    Clock::time_point RefreshedAt;  // when the last refresh began
    unsigned long Refreshes = 0;    // refreshes ended
    bool Refreshing = false;        // one is asking the registry now
    bool Stopping = false;
};

int TakeNothing(void *, int, const char *const *)
{
    return 0;
}

// With DbLock held: opens the connection when there is none. The reason
// goes to the log (standard error, the journal under systemd), never into
// a page.
int Connect(LIVE *live, char *err, size_t err_size)
{
    if (live->Db)
        return 0;
    // Opening a SQLite file creates it: a registry that is gone stays gone.
    if (RegDbMissing(live->Conf)) {
        snprintf(err, err_size, "no registry file");
        return 1;
    }
    if (RegDbOpen(live->Conf, &live->Db, err, err_size) != 0)
        return 1;
    int version = 0;
    if (RegistrySchemaVersion(live->Db, &version, err, err_size) == 0 &&
        version == kRegistrySchemaVersion)
        return 0;
    if (version != kRegistrySchemaVersion)
        snprintf(err, err_size, "schema version %d, this program needs %d", version,
                 kRegistrySchemaVersion);
    RegDbClose(live->Db);
    live->Db = nullptr;
    return 1;
}

// With DbLock held: the connection is given up after an error, so the next
// question opens a new one.
void Drop(LIVE *live, const char *err)
{
    RegToolUnavailable(err);
    RegDbClose(live->Db);
    live->Db = nullptr;
}

// With DbLock held: works the page out anew and keeps it, or forgets the
// last one when the registry cannot be read. A query that fails drops the
// connection and tries once more on a new one, so a server restarted
// since the last page costs nobody a refresh.
void Refresh(LIVE *live)
{
    auto began = Clock::now();
    {
        std::lock_guard<std::mutex> hold(live->PageLock);
        live->Refreshing = true;
    }
    char now[kStampSize];
    UtcStamp(now);
    VIEW_PERIOD period = live->Period;
    ViewStampMinus(now, kWindowS, period.Since);
    std::shared_ptr<const std::string> page;
    for (int attempt = 0; attempt < 2 && !page; attempt++) {
        char err[kDbErrorSize] = "";
        VIEW_FIGURES figures;
        if (Connect(live, err, sizeof err) == 0 &&
            LoadViewFigures(live->Db, &period, live->Ranges, now, &figures, err, sizeof err) == 0)
            page = std::make_shared<const std::string>(
                RenderViewHtml(figures, period, now, kRefreshS));
        else
            Drop(live, err);
    }
    std::lock_guard<std::mutex> hold(live->PageLock);
    live->Page = page;
    live->RefreshedAt = began;
    live->Refreshes++;
    live->Refreshing = false;
    live->Changed.notify_all();
}

// The refresh thread: the first page at once, then one every kRefreshS
// after the last refresh began (a request may have made one since).
void Refresher(LIVE *live)
{
    for (;;) {
        {
            std::lock_guard<std::mutex> db(live->DbLock);
            Refresh(live);
        }
        std::unique_lock<std::mutex> page(live->PageLock);
        for (;;) {
            if (live->Stopping)
                return;
            auto due = live->RefreshedAt + std::chrono::seconds(kRefreshS);
            if (Clock::now() >= due)
                break;
            live->Changed.wait_until(page, due);
        }
    }
}

// The page to answer with, or null when the registry does not answer.
std::shared_ptr<const std::string> Answer(LIVE *live)
{
    std::unique_lock<std::mutex> page(live->PageLock);
    std::shared_ptr<const std::string> shown = live->Page;
    unsigned long seen = live->Refreshes;
    if (shown) {
        // The page is shown while the registry still answers, so an outage
        // shows at once. The connection is free, or held for a moment by
        // another request's question, or by a refresh.
        std::unique_lock<std::mutex> db(live->DbLock, std::defer_lock);
        while (!live->Refreshing && !db.try_lock()) {
            page.unlock();
            std::this_thread::yield();
            page.lock();
        }
        if (!db.owns_lock()) {
            // The refresh's outcome if it comes soon, else the page it replaces.
            live->Changed.wait_for(page, std::chrono::milliseconds(kRefreshWaitMs),
                                   [&] { return live->Refreshes != seen; });
            return live->Refreshes != seen ? live->Page : shown;
        }
        // A refresh may have ended since the page was looked at.
        shown = live->Page;
        page.unlock();
        if (!shown)
            return nullptr;
        char err[kDbErrorSize] = "";
        if (live->Db && RegDbQuery(live->Db, "SELECT 1", 0, nullptr, TakeNothing, nullptr, err,
                                   sizeof err) == 0)
            return shown;
        if (live->Db)
            Drop(live, err);
        page.lock();
        if (live->Page == shown)
            live->Page = nullptr;
        return nullptr;
    }
    // No page: serve has just started or the registry was gone. This
    // request works one out, or takes the outcome of the refresh that ends
    // while it waits: the page comes back with the registry.
    page.unlock();
    std::lock_guard<std::mutex> db(live->DbLock);
    page.lock();
    if (live->Refreshes != seen)
        return live->Page;
    page.unlock();
    Refresh(live);
    page.lock();
    return live->Page;
}

// "ADDR:PORT", "[v6]:PORT"; port 0 takes a free one.
int SplitListen(const char *text, std::string *host, int *port)
{
    const char *colon = strrchr(text, ':');
    if (!colon || colon == text)
        return 1;
    std::string h(text, colon - text);
    if (h.size() > 2 && h.front() == '[' && h.back() == ']')
        h = h.substr(1, h.size() - 2);
    char *end = nullptr;
    long p = strtol(colon + 1, &end, 10);
    if (colon[1] == '\0' || *end != '\0' || p < 0 || p > 65535)
        return 1;
    *host = h;
    *port = static_cast<int>(p);
    return 0;
}

void Headers(httplib::Response &res)
{
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'");
}

}  // namespace

int RegToolServe(const REGISTRY_CONF *conf, const REGTOOL_ARGS *args)
{
    LIVE live;
    live.Conf = conf;
    live.Period = VIEW_PERIOD{};
    snprintf(live.Period.Station, sizeof live.Period.Station, "%s",
             args->Station ? args->Station : "");
    if (ReadIniRanges(args, &live.Ranges) != 0)
        return 1;
    std::string host;
    int port = 0;
    const char *listen = args->Listen ? args->Listen : "127.0.0.1:8080";
    if (SplitListen(listen, &host, &port) != 0)
        return RegToolError("--listen '%s' is not ADDR:PORT", listen);

    // SIGINT and SIGTERM are taken by one thread that stops the server;
    // every other thread, httplib's included, has them blocked.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    httplib::Server server;
    server.new_task_queue = [] { return new BoundedQueue(); };
    server.set_payload_max_length(kMaxBody);
    server.set_read_timeout(kTimeoutS, 0);
    server.set_write_timeout(kTimeoutS, 0);
    server.set_keep_alive_timeout(kTimeoutS);
    server.set_keep_alive_max_count(kKeepAliveRequests);
    server.set_pre_routing_handler([](const httplib::Request &req, httplib::Response &res) {
        Headers(res);
        if (t_overloaded) {
            res.status = 503;
            res.set_header("Connection", "close");
            res.set_content("busy, try again\n", "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        }
        // A GET's body is not read by the library; refuse one rather than
        // leave it in the connection as the next request.
        if (req.has_header("Transfer-Encoding") ||
            strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10) > kMaxBody) {
            res.status = 413;
            res.set_header("Connection", "close");
            res.set_content("request too large\n", "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (req.method != "GET" && req.method != "HEAD") {
            res.status = 405;
            res.set_header("Allow", "GET, HEAD");
            res.set_content("read-only: GET and HEAD only\n", "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.Get("/", [&live](const httplib::Request &, httplib::Response &res) {
        std::shared_ptr<const std::string> page = Answer(&live);
        if (page) {
            res.set_content(*page, "text/html; charset=utf-8");
            res.status = 200;
            return;
        }
        char now[kStampSize];
        UtcStamp(now);
        res.set_content(RenderUnavailableHtml(now, kRefreshS), "text/html; charset=utf-8");
        res.status = 503;
    });

    int bound = port == 0 ? server.bind_to_any_port(host.c_str())
                          : (server.bind_to_port(host.c_str(), port) ? port : -1);
    if (bound < 0) {
        pthread_sigmask(SIG_UNBLOCK, &stop_signals, nullptr);
        return RegToolError("cannot listen on %s", listen);
    }
    bool v6 = host.find(':') != std::string::npos;
    printf("Serving the line view on http://%s%s%s:%d/ (GET and HEAD only)\n", v6 ? "[" : "",
           host.c_str(), v6 ? "]" : "", bound);
    fflush(stdout);

    // The first page is worked out while the first screens connect.
    std::thread refresher(Refresher, &live);
    std::thread stopper([&server, stop_signals] {
        int sig = 0;
        sigwait(&stop_signals, &sig);
        server.stop();
    });
    bool listened = server.listen_after_bind();
    // listen_after_bind also returns when the socket fails: wake the stopper.
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    {
        std::lock_guard<std::mutex> hold(live.PageLock);
        live.Stopping = true;
        live.Changed.notify_all();
    }
    refresher.join();
    RegDbClose(live.Db);
    live.Db = nullptr;
    return listened ? 0 : RegToolError("the server stopped: cannot accept connections");
}
