// The line view end to end on both back ends, looked at as a person would:
// a registry seeded with runs whose figures are known, the report written
// by the real talvek-registry and opened in a headless browser, and the
// live page asked for over plain HTTP and by the browser while the
// database goes away and comes back. Browser cases are skipped without one
// (Debian chromium-headless-shell or chromium); PostgreSQL cases run under
// pg_cluster.sh, which also names the server's pg_ctl for the restart.
#include <gtest/gtest.h>
#include <httplib.h>
#include <png.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "registry/db.h"
#include "registry/schema.h"
#include "backends.h"
#include "test.h"

extern char **environ;

namespace {

std::string Stamp(time_t t)
{
    char text[32];
    struct tm u;
    gmtime_r(&t, &u);
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000Z", &u);
    return text;
}

// Runs argv to its end; its standard output. *status: its exit status.
std::string Capture(const std::vector<std::string> &argv, int *status)
{
    int fd[2];
    if (pipe(fd) != 0)
        return "";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fd[1], 1);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&fa, fd[0]);
    std::vector<char *> args;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fd[1]);
    std::string out;
    char buf[65536];
    for (ssize_t n; rc == 0 && (n = read(fd[0], buf, sizeof buf)) > 0;)
        out.append(buf, n);
    close(fd[0]);
    int ws = 0;
    *status = rc == 0 && waitpid(pid, &ws, 0) == pid && WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
    return out;
}

// The headless browser, "" when there is none.
std::string Browser()
{
    for (const char *b : {"/usr/bin/chromium-headless-shell", "/usr/bin/chromium"}) {
        if (access(b, X_OK) == 0)
            return b;
    }
    return "";
}

// What the browser made of url: the DOM it built, a screenshot (when png
// is not empty), and every origin that started a request in its network
// log. Requests the browser makes for itself carry no origin ("not an
// origin"); one the page makes carries the page's. Name resolution is
// switched off for everything but loopback, so nothing leaves the machine.
struct Looked {
    std::string dom;
    std::vector<std::string> initiators;
};
Looked Look(const std::string &url, const std::string &png = "")
{
    char tmpl[] = "/tmp/talvek-browser-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    std::vector<std::string> argv = {
        "timeout", "120", Browser(), "--headless", "--no-sandbox", "--disable-gpu",
        "--disable-quic", "--no-first-run", "--disable-background-networking",
        "--disable-component-update", "--disable-sync", "--no-proxy-server",
        "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1", "--user-data-dir=" + dir,
        "--log-net-log=" + dir + "/net.json", "--window-size=1000,1800"};
    argv.push_back(png.empty() ? "--dump-dom" : "--screenshot=" + png);
    argv.push_back(url);
    int status = 0;
    Looked l;
    l.dom = Capture(argv, &status);
    EXPECT_EQ(status, 0) << "the browser failed on " << url;
    std::ifstream net(dir + "/net.json");
    std::string log((std::istreambuf_iterator<char>(net)), std::istreambuf_iterator<char>());
    const std::string key = "\"initiator\":\"";
    for (size_t at = log.find(key); at != std::string::npos; at = log.find(key, at + 1)) {
        size_t from = at + key.size();
        std::string who = log.substr(from, log.find('"', from) - from);
        if (who != "not an origin")
            l.initiators.push_back(who);
    }
    std::filesystem::remove_all(dir);
    return l;
}

// Share of a PNG's pixels that are not white: 0 for a blank page.
double InkShare(const std::string &path)
{
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return 0;
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> px(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, px.data(), 0, nullptr))
        return 0;
    size_t ink = 0;
    for (size_t k = 0; k + 2 < px.size(); k += 3)
        ink += px[k] < 240 || px[k + 1] < 240 || px[k + 2] < 240;
    return static_cast<double>(ink) / (px.size() / 3);
}

// An empty registry of one back end, seeded with the runs below. The
// PostgreSQL one is a database of its own on pg_cluster.sh's server.
class Line {
public:
    explicit Line(Backend b)
    {
        static std::atomic<int> serial{0};
        std::string name = "v" + std::to_string(getpid()) + "_" + std::to_string(serial++);
        char tmpl[] = "/tmp/talvek-view-XXXXXX";
        dir_ = mkdtemp(tmpl);
        if (b == Backend::kSqlite) {
            target_ = "sqlite:" + dir_ + "/" + name + ".db";
        } else if (const char *server = getenv("TALVEK_TEST_PG")) {
            target_ = server;
            Exec("CREATE DATABASE " + name);
            target_ += " dbname=" + name;
        } else {
            skip_ = "no PostgreSQL server: these cases run under tests/registry/pg_cluster.sh";
        }
    }
    ~Line() { std::filesystem::remove_all(dir_); }
    const std::string &skip() const { return skip_; }
    const std::string &target() const { return target_; }
    std::string file(const std::string &name) const { return dir_ + "/" + name; }

    void Exec(const std::string &sql, const std::vector<std::string> &params = {}) const
    {
        REGISTRY_CONF conf;
        DefaultRegistryConf(&conf);
        char err[kDbErrorSize] = "";
        REG_DB *db = nullptr;
        std::vector<const char *> p;
        for (const auto &v : params)
            p.push_back(v.c_str());
        bool ok = ParseRegistryTarget(target_.c_str(), &conf, err, sizeof err) == 0 &&
                  RegDbOpen(&conf, &db, err, sizeof err) == 0 &&
                  RegistryEnsureSchema(db, nullptr, err, sizeof err) == 0 &&
                  RegDbExec(db, sql.c_str(), static_cast<int>(p.size()), p.data(), nullptr, err,
                            sizeof err) == 0;
        EXPECT_TRUE(ok) << sql << ": " << err;
        RegDbClose(db);
    }
    // board, message: none is NULL (a keyless board, a run that passed).
    void AddRun(const std::string &id, const std::string &station, const std::string &started,
                int seconds, const std::optional<std::string> &board, const std::string &verdict,
                const std::optional<std::string> &message) const
    {
        struct tm t = {};
        strptime(started.c_str(), "%Y-%m-%dT%H:%M:%S", &t);
        std::string ended = Stamp(timegm(&t) + seconds);
        Exec("INSERT INTO runs (run_id, tool_version, station, mode, started_utc, ended_utc,"
             " system_guid_placeholder, product_uuid_placeholder, board_serial_placeholder,"
             " product_serial_placeholder, board_key, verdict, exit_status, message)"
             " VALUES (?1, 'V0.37', ?2, 'program', ?3, ?4, 1, 1, 1, 1, NULLIF(?5, ''), ?6, ?7,"
             " NULLIF(?8, ''))",
             {id, station, started, ended, board.value_or(""), verdict, verdict == "PASS" ? "0" : "1",
              message.value_or("")});
    }
    void AddMac(uint64_t mac, const std::string &state, time_t reserved) const
    {
        char text[16];
        snprintf(text, sizeof text, "%012llX", static_cast<unsigned long long>(mac));
        Exec("INSERT INTO macs (mac, mac_text, board_key, state, station, run_id, reserved_utc,"
             " updated_utc) VALUES (?1, ?2, 'B1', ?3, 'st1', 'a1', ?4, ?4)",
             {std::to_string(mac), text, state, Stamp(reserved)});
    }

    // The line's day: seven runs on 2 March at two stations, and one the
    // day before of a board that comes back (so its run on the 2nd is a
    // retest), a pool of 16 addresses nearly gone, and a release.
    void Seed() const
    {
        const std::string refusal = "Mac 02-AB-3C-56-01-A1 is already registered to board B9 "
                                    "(station old, 2026-03-01T00:00:00.000Z)";
        AddRun("z0", "st1", "2026-03-01T12:00:00.000Z", 30, "B4", "PASS", std::nullopt);
        AddRun("a1", "st1", "2026-03-02T08:00:00.000Z", 30, "B1", "PASS", std::nullopt);
        AddRun("a2", "st1", "2026-03-02T08:10:00.000Z", 40, "B2", "FAIL", refusal);
        AddRun("a3", "st1", "2026-03-02T08:20:00.000Z", 50, "B2", "PASS", std::nullopt);
        AddRun("a4", "st2", "2026-03-02T09:00:00.000Z", 20, "B3", "FAIL", "fast programming failed");
        AddRun("a5", "st2", "2026-03-02T09:05:00.000Z", 60, "B4", "FAIL", "fast programming failed");
        AddRun("a6", "st2", "2026-03-02T09:10:00.000Z", 20, std::nullopt, "ABORTED", "the run was aborted");
        AddRun("a7", "st2", "2026-03-02T09:15:00.000Z", 30, "B3", "INCOMPLETE", "one MAC for both ports");
        time_t now = time(nullptr);
        for (uint64_t k = 0; k < 14; k++)
            AddMac(0x02AB3D100000ull + k, k % 2 ? "verified" : "reserved", now - 86400);
        AddMac(0x02AB3D10000Full, "released", now - 86400);
        AddMac(0x02AB3C000001ull, "verified", now - 30 * 86400);
        Exec("INSERT INTO releases (release_id, mac, mac_text, board_key, station, reason,"
             " released_utc) VALUES ('l1', ?1, '02AB3D10000F', 'B1', 'st1', 'rework',"
             " '2026-03-02T09:30:00.000Z')",
             {std::to_string(0x02AB3D10000Full)});
    }
    // The allow-list: the nearly gone pool, a roomy one, a comment and a repeat.
    std::string Ini() const
    {
        std::ofstream(file("TALVEK.ini")) << "; pools of the line\n"
                                             "AVL_MASK=FFFFFFFFFFF0, AVL_VALUE=02AB3D100000\n"
                                             "AVL_MASK=FFFFFF000000, AVL_VALUE=02AB3C000000\n"
                                             ";AVL_MASK=FFFFFFFFFFFF, AVL_VALUE=02AB3E000001\n"
                                             "AVL_MASK=FFFFFFFFFFF0, AVL_VALUE=02AB3D100000\n";
        return file("TALVEK.ini");
    }

private:
    std::string dir_, target_, skip_;
};

Result Tool(const Line &line, std::vector<std::string> args)
{
    Station s;
    Launch l;
    l.program = TALVEK_REGISTRY_BIN;
    args.insert(args.begin(), {"--registry", line.target()});
    l.args = args;
    return ::Run(s, l);
}

// What the seeded line's report must show; elements as the page writes them.
const char kSummaryAll[] = "<section id=\"summary\" data-runs=\"7\" data-boards=\"5\" "
                           "data-pass=\"2\" data-fail=\"3\" data-other=\"2\" data-fpy=\"25.0\" "
                           "data-retests=\"3\">";
const char kNearlyGone[] = "<tr class=\"alarm\" data-range=\"02AB3D100000/FFFFFFFFFFF0\" "
                           "data-total=\"16\" data-used=\"14\" data-left=\"2\" "
                           "data-days-left=\"1.0\" data-state=\"alarm\">";

// A fresh line of one back end for each test. The PostgreSQL run picks its
// tests by the back end at the end of their names.
class ViewFixture : public ::testing::Test {
protected:
    virtual Backend backend() const = 0;
    void SetUp() override
    {
        // Local time two hours ahead of UTC: the page's hours must move.
        setenv("TZ", "TEST-2", 1);
        tzset();
        line_.emplace(backend());
        if (!line_->skip().empty())
            GTEST_SKIP() << line_->skip();
    }
    std::string Report(const std::vector<std::string> &options)
    {
        std::vector<std::string> args = {"report", "--html", line_->file("report.html"), "--ini",
                                         line_->Ini()};
        args.insert(args.end(), options.begin(), options.end());
        Result r = Tool(*line_, args);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        std::ifstream in(line_->file("report.html"));
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    std::optional<Line> line_;
};

// The cases that are one test per back end.
class ViewTest : public OnEachBackend<ViewFixture> {};

// The cases that are one test per row of a table and back end.
template <class Case>
using ViewRows = RowsOnEachBackend<ViewFixture, Case>;

// Every section's figures, for the whole line and for one station.
struct FiguresCase {
    const char *name;
    std::vector<std::string> options, elements;
};

void PrintTo(const FiguresCase &c, std::ostream *os)
{
    *os << c.name;
}

// clang-format off
const std::vector<FiguresCase> kFiguresCases = {
    {"the line since 2 March: B4's run is a retest, the keyless run a board", {"--since", "2026-03-02"}, {
        kSummaryAll,
        "<tr data-bucket=\"2026-03-02 10:00\" data-station=\"st1\" data-runs=\"3\" data-fpy=\"50.0\">",
        "<tr data-bucket=\"2026-03-02 11:00\" data-station=\"st2\" data-runs=\"4\" data-fpy=\"0.0\">",
        "<tr data-bucket=\"2026-03-02 11:00\" data-runs=\"4\">",
        "<tr data-station=\"st1\" data-runs=\"3\" data-median=\"40.0\" data-p90=\"50.0\">",
        "<tr data-station=\"st2\" data-runs=\"4\" data-median=\"20.0\" data-p90=\"60.0\">",
        "<tr data-reason=\"fast programming failed\" data-count=\"2\" data-cumulative=\"40.0\">",
        "<tr data-reason=\"Mac # is already registered to board #\" data-count=\"1\" data-cumulative=\"60.0\">",
        kNearlyGone,
        "<tr class=\"ok\" data-range=\"02AB3C000000/FFFFFF000000\" data-total=\"16777216\" data-used=\"1\" "
        "data-left=\"16777215\" data-days-left=\"\" data-state=\"ok\">",
        "<tr data-kind=\"release\"><td class=\"t\">2026-03-02 11:30</td>"}},
    {"one station until 08:15 UTC, the day before included", {"--station", "st1", "--until", "2026-03-02T08:15"}, {
        "<section id=\"summary\" data-runs=\"3\" data-boards=\"3\" data-pass=\"2\" data-fail=\"1\" "
        "data-other=\"0\" data-fpy=\"66.7\" data-retests=\"0\">",
        "<tr data-kind=\"refusal\"><td class=\"t\">2026-03-02 10:10</td>"}},
};
// clang-format on

class ReportFigures : public ViewRows<FiguresCase> {};

TEST_P(ReportFigures, Run)
{
    line_->Seed();
    std::string html = Report(row().options);
    std::vector<std::string> missing;
    for (const std::string &e : row().elements)
        if (html.find(e) == std::string::npos)
            missing.push_back(e);
    EXPECT_EQ(missing, std::vector<std::string>{}) << "the page lacks these";
    EXPECT_EQ(html.find("://"), std::string::npos) << "the page names a URL";
}

INSTANTIATE_TEST_SUITE_P(View, ReportFigures, OnBothBackends(kFiguresCases),
                         RowOnBackend<FiguresCase>);

// The browser builds the same figures, draws something, and is asked for
// nothing by the page.
TEST_P(ViewTest, ReportInBrowser)
{
    if (Browser().empty())
        GTEST_SKIP() << "no headless browser (Debian chromium-headless-shell or chromium)";
    line_->Seed();
    Report({"--since", "2026-03-02"});
    std::string url = "file://" + line_->file("report.html");
    Looked dom = Look(url);
    EXPECT_NE(dom.dom.find(kSummaryAll), std::string::npos) << dom.dom.substr(0, 2000);
    EXPECT_NE(dom.dom.find(kNearlyGone), std::string::npos);
    Looked shot = Look(url, line_->file("report.png"));
    EXPECT_GT(InkShare(line_->file("report.png")), 0.02) << "the screenshot is blank";
    EXPECT_EQ(dom.initiators, std::vector<std::string>{}) << "the page made requests";
    EXPECT_EQ(shot.initiators, std::vector<std::string>{}) << "the page made requests";
    if (const char *keep = getenv("TALVEK_VIEW_SCREENSHOT"))  // the README's picture
        std::filesystem::copy_file(line_->file("report.png"), keep,
                                   std::filesystem::copy_options::overwrite_existing);
}

// The pool table for scripts; exit status 1 pages someone.
enum class Pools {
    kSeededLine,  // the seeded line's allow-list: one pool nearly gone
    kRoomy,       // one pool with room to spare
    kHoled,       // one pool with a hole in its mask: every sixteenth MAC of the seeded block
};

struct PoolsCase {
    const char *name;
    Pools ini;
    int status;
    std::string out, err;
};

void PrintTo(const PoolsCase &c, std::ostream *os)
{
    *os << c.name;
}

const std::string kPoolsHeader =
    "range,total,used,released,left,used_percent,per_day,days_left,state\r\n";
const std::string kRoomyPool = "02AB3C000000/FFFFFF000000,16777216,1,0,16777215,0.0,0.0,,ok\r\n";

// clang-format off
const std::vector<PoolsCase> kPoolsCases = {
    {"a pool with 1 day left alarms", Pools::kSeededLine, 1,
     kPoolsHeader + "02AB3D100000/FFFFFFFFFFF0,16,14,1,2,87.5,2.0,1.0,alarm\r\n" + kRoomyPool,
     "talvek-registry: 1 pool(s) at or above 95 % used or with fewer than 7 days left\n"},
    {"a roomy pool", Pools::kRoomy, 0, kPoolsHeader + kRoomyPool, ""},
    {"a pool with holes counts only its own MACs", Pools::kHoled, 0,
     kPoolsHeader + "02AB3D100000/FFFFFFFFFF0F,16,1,0,15,6.2,0.1,105.0,ok\r\n", ""},
};
// clang-format on

class PoolsForCron : public ViewRows<PoolsCase> {};

TEST_P(PoolsForCron, Run)
{
    line_->Seed();
    std::string ini = line_->Ini();
    if (row().ini == Pools::kRoomy) {
        ini = line_->file("roomy.ini");
        std::ofstream(ini) << "AVL_MASK=FFFFFF000000, AVL_VALUE=02AB3C000000\n";
    }
    if (row().ini == Pools::kHoled) {
        ini = line_->file("holed.ini");
        std::ofstream(ini) << "AVL_MASK=FFFFFFFFFF0F, AVL_VALUE=02AB3D100000\n";
    }
    Result r = Tool(*line_, {"pools", "--ini", ini, "--format", "csv"});
    EXPECT_EQ(r.exit_code, row().status);
    EXPECT_EQ(r.out, row().out);
    EXPECT_EQ(r.err, row().err);
}

INSTANTIATE_TEST_SUITE_P(View, PoolsForCron, OnBothBackends(kPoolsCases), RowOnBackend<PoolsCase>);

// talvek-registry serve in the background; stopped (SIGTERM) on every way out.
class Server {
public:
    explicit Server(const Line &line)
    {
        int fd[2];
        EXPECT_EQ(pipe(fd), 0);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, fd[1], 1);
        posix_spawn_file_actions_addclose(&fa, fd[0]);
        std::vector<std::string> argv = {TALVEK_REGISTRY_BIN, "--registry", line.target(), "serve",
                                         "--listen", "127.0.0.1:0"};
        std::vector<char *> args;
        for (const auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&pid_, args[0], &fa, nullptr, args.data(), environ), 0);
        posix_spawn_file_actions_destroy(&fa);
        close(fd[1]);
        // Its first line names the port it took.
        std::string first;
        char c;
        while (read(fd[0], &c, 1) == 1 && c != '\n')
            first += c;
        close(fd[0]);
        size_t colon = first.rfind(':');
        port_ = colon == std::string::npos ? 0 : atoi(first.c_str() + colon + 1);
        EXPECT_GT(port_, 0) << "serve said: " << first;
    }
    ~Server()
    {
        if (pid_ > 0)
            Stop();
    }
    int Stop()
    {
        kill(pid_, SIGTERM);
        int ws = 0;
        waitpid(pid_, &ws, 0);
        pid_ = -1;
        return WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    }
    int port() const { return port_; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

// "STATUS BODY" of one request.
std::string Ask(const Server &server, const std::string &method, const std::string &path,
                const std::string &body = "")
{
    httplib::Client client("127.0.0.1", server.port());
    httplib::Request req;
    req.method = method;
    req.path = path;
    req.body = body;
    if (!body.empty())
        req.set_header("Content-Type", "text/plain");
    auto res = client.send(req);
    return res ? std::to_string(res->status) + " " + res->body : "no answer";
}

// pg_ctl of pg_cluster.sh's server, with these arguments.
void PgCtl(const std::string &args)
{
    std::string command = std::string(getenv("TALVEK_TEST_PG_CTL")) + " " + args + " >/dev/null";
    EXPECT_EQ(system(command.c_str()), 0) << command;
}

// The live page's summary of the last 24 hours: the one run an hour ago.
const std::string kLive =
    "<section id=\"summary\" data-runs=\"1\" data-boards=\"1\" data-pass=\"1\"";

// A screen waits for no figures: the page worked out when serve started is
// answered from memory while the registry answers, even when the figures
// could no longer be read (the runs table renamed away under it).
TEST_P(ViewTest, ServeAnswersFromMemory)
{
    line_->Seed();
    line_->AddRun("now", "st3", Stamp(time(nullptr) - 3600), 30, "B7", "PASS", std::nullopt);
    Server server(*line_);
    EXPECT_NE(Ask(server, "GET", "/").find(kLive), std::string::npos);
    line_->Exec("ALTER TABLE runs RENAME TO runs_away");
    std::string held = Ask(server, "GET", "/");
    line_->Exec("ALTER TABLE runs_away RENAME TO runs");
    EXPECT_EQ(held.substr(0, 4), "200 ");
    EXPECT_NE(held.find(kLive), std::string::npos) << held.substr(0, 200);
    EXPECT_EQ(server.Stop(), 0);
}

// The live page: read-only, bounded, and honest while the database is down.
TEST_P(ViewTest, ServeThroughAnOutage)
{
    if (backend() == Backend::kPostgres && !getenv("TALVEK_TEST_PG_CTL"))
        GTEST_SKIP() << "pg_cluster.sh names no pg_ctl";
    // Down when serve starts: PostgreSQL stopped, the SQLite file not there yet.
    const bool pg = backend() == Backend::kPostgres;
    line_->Exec("SELECT 1");
    if (pg)
        PgCtl("-m fast -w stop");
    else
        std::filesystem::remove(line_->target().substr(strlen("sqlite:")));
    Server server(*line_);
    std::string down = Ask(server, "GET", "/");
    EXPECT_EQ(down.substr(0, 4), "503 ");
    EXPECT_NE(down.find("<section id=\"unavailable\">"), std::string::npos) << down;
    EXPECT_EQ(down.find(line_->target()), std::string::npos) << "the page shows the target";
    EXPECT_EQ(down.find("dbname"), std::string::npos) << "the page shows dbname";
    EXPECT_EQ(down.find("host="), std::string::npos) << "the page shows host=";
    if (pg)
        PgCtl("-w restart");
    line_->Seed();
    line_->AddRun("now", "st3", Stamp(time(nullptr) - 3600), 30, "B7", "PASS", std::nullopt);
    // Up again: the same server answers with the figures.
    std::string up = Ask(server, "GET", "/");
    EXPECT_EQ(up.substr(0, 4), "200 ");
    EXPECT_NE(up.find(kLive), std::string::npos) << up.substr(0, 200);
    EXPECT_EQ(Ask(server, "HEAD", "/"), "200 ");
    if (!Browser().empty()) {
        Looked page = Look(server.url());
        EXPECT_NE(page.dom.find(kLive), std::string::npos) << page.dom.substr(0, 2000);
        EXPECT_NE(page.dom.find("<meta http-equiv=\"refresh\" content=\"30\">"), std::string::npos);
        // The page's own load comes from its origin; nothing else does.
        std::vector<std::string> others;
        for (const std::string &who : page.initiators)
            if (who != "http://127.0.0.1:" + std::to_string(server.port()))
                others.push_back(who);
        EXPECT_EQ(others, std::vector<std::string>{}) << "requests from elsewhere";
    }
    if (pg) {  // lost under an open connection: re-opened after the restart
        PgCtl("-m fast -w stop");
        EXPECT_EQ(Ask(server, "GET", "/").substr(0, 4), "503 ");
        PgCtl("-w restart");
        EXPECT_NE(Ask(server, "GET", "/").find(kLive), std::string::npos) << "not back after a restart";
    }
    EXPECT_EQ(server.Stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(, ViewTest, BothBackends(), BackendOnly);

// What the live page answers, request by request.
struct AnswerCase {
    const char *name, *method;
    std::string path, body;
    std::string starts;              // the status and its space
    std::optional<std::string> has;  // what the body holds, where it matters
};

void PrintTo(const AnswerCase &c, std::ostream *os)
{
    *os << c.name;
}

// clang-format off
const std::vector<AnswerCase> kAnswerCases = {
    {"GET: the last 24 hours", "GET", "/", "", "200 ", kLive},
    {"POST refused", "POST", "/", "x=1", "405 ", "GET and HEAD only"},
    {"DELETE refused", "DELETE", "/", "", "405 ", "GET and HEAD only"},
    {"a body too large", "GET", "/", std::string(64 * 1024, 'a'), "413 ", std::nullopt},
    {"a request line too long", "GET", "/?" + std::string(64 * 1024, 'a'), "", "414 ", std::nullopt},
    {"another path", "GET", "/admin", "", "404 ", std::nullopt},
};
// clang-format on

class ServeAnswers : public ViewRows<AnswerCase> {};

TEST_P(ServeAnswers, Run)
{
    const AnswerCase &c = row();
    line_->Seed();
    line_->AddRun("now", "st3", Stamp(time(nullptr) - 3600), 30, "B7", "PASS", std::nullopt);
    Server server(*line_);
    std::string got = Ask(server, c.method, c.path, c.body);
    EXPECT_EQ(got.substr(0, 4), c.starts) << got.substr(0, 200);
    if (c.has) {
        EXPECT_NE(got.find(*c.has), std::string::npos) << got.substr(0, 200);
    }
    EXPECT_EQ(server.Stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(View, ServeAnswers, OnBothBackends(kAnswerCases), RowOnBackend<AnswerCase>);

}  // namespace
