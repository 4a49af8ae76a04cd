// serve: the line view live, for the screen beside the line. Read-only
// (GET and HEAD), one registry connection reused by every request and
// re-opened when lost, and bounded: a fixed number of workers, a short
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
#include <mutex>
#include <string>
#include <thread>

#include "registry/schema.h"
#include "registry/stamp.h"
#include "registry_tool/commands.h"
#include "registry_tool/view.h"

namespace {

constexpr int kRefreshS = 30;
// A page is shown again for this long rather than worked out anew: screens
// and reloads within it cost the registry nothing more. Short beside the
// refresh, so a screen never shows figures older than it expects.
constexpr int kReuseS = 10;
constexpr long kWindowS = 24L * 3600;  // the live page shows the last 24 hours
constexpr size_t kWorkers = 4;
constexpr size_t kBacklog = 32;         // accepted connections waiting for a worker
constexpr size_t kMaxBody = 1024;       // nothing is ever posted; anything larger is refused
constexpr time_t kTimeoutS = 5;         // read, write and keep-alive
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

// The one connection, shared by the workers in turn.
struct LIVE {
    const REGISTRY_CONF *Conf;
    VIEW_PERIOD Period;  // Station fixed; Since moved to 24 hours ago per page
    std::vector<VIEW_RANGE> Ranges;
    std::mutex Lock;
    REG_DB *Db = nullptr;
    // The last page that was read from the registry. Every page is the same
    // query (the station and ranges are the server's, the period the last
    // 24 hours), so its age is the whole key.
    std::string Shown;
    std::chrono::steady_clock::time_point ShownAt;
    bool HasShown = false;
};

int TakeNothing(void *, int, const char *const *)
{
    return 0;
}

// Opens the connection when there is none. The reason goes to the log
// (standard error, the journal under systemd), never into a page.
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

// The page; *ok false when the registry could not be read. A query that
// fails drops the connection and tries once more on a new one, so a server
// restarted since the last page costs nobody a refresh.
std::string Page(LIVE *live, bool *ok)
{
    std::lock_guard<std::mutex> hold(live->Lock);
    char now[kStampSize];
    UtcStamp(now);
    VIEW_PERIOD period = live->Period;
    ViewStampMinus(now, kWindowS, period.Since);
    char err[kDbErrorSize] = "";
    // A recent page is shown again only while the registry still answers,
    // so an outage shows at once.
    auto at = std::chrono::steady_clock::now();
    if (live->HasShown && at - live->ShownAt < std::chrono::seconds(kReuseS) && live->Db &&
        RegDbQuery(live->Db, "SELECT 1", 0, nullptr, TakeNothing, nullptr, err, sizeof err) == 0) {
        *ok = true;
        return live->Shown;
    }
    live->HasShown = false;
    VIEW_FIGURES figures;
    for (int attempt = 0; attempt < 2; attempt++) {
        if (Connect(live, err, sizeof err) == 0 &&
            LoadViewFigures(live->Db, &period, live->Ranges, now, &figures, err, sizeof err) == 0) {
            *ok = true;
            live->Shown = RenderViewHtml(figures, period, now, kRefreshS);
            live->ShownAt = at;
            live->HasShown = true;
            return live->Shown;
        }
        RegToolUnavailable(err);
        RegDbClose(live->Db);
        live->Db = nullptr;
    }
    *ok = false;
    return RenderUnavailableHtml(now, kRefreshS);
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
        bool ok = false;
        res.set_content(Page(&live, &ok), "text/html; charset=utf-8");
        res.status = ok ? 200 : 503;
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
        std::lock_guard<std::mutex> hold(live.Lock);
        RegDbClose(live.Db);
        live.Db = nullptr;
    }
    return listened ? 0 : RegToolError("the server stopped: cannot accept connections");
}
