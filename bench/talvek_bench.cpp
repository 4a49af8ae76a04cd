// talvek_bench: what TALVEK costs a user beyond the waits the BMC needs.
//
// Runs TALVEK on the end-to-end fixture (tests/test.h: sleep() answered at
// once) with ./kovripmi a tool that answers at once, and writes a short
// table to the file named by its argument (bench/RESULTS.md) and to standard
// output. A second argument "view" measures only the line view's rows (the
// big registry's report, page and pools), "line" only the line-scale rows,
// for work on those. Exit status 1
// when a figure is over its budget, 2 when a run did not pass.
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "TALVEK.h"
#include "feed_bench.h"
#include "line_scale.h"
#include "registry/schema.h"
#include "registry/stamp.h"
#include "registry_tool/commands.h"
#include "registry_tool/view.h"
#include "test.h"

namespace {

// A row is the fixture's: its name is the figure, its set-up the station.
// Each is timed over the floor of its own tool starts (a shell and the tool
// per request, which no runner can go below). Add rows here: a run with a
// result registry configured, a run through each IPMI client against
// ipmi_sim (their set-up writes a file or names another tool).
struct TimedRow {
    Row run;
    double budget_ms;  // on the median of run minus floor; 0: information only
};

// The same run with the MAC registry on: the board is named by its serial
// number (the instant tool refuses Get System GUID), so every run is the
// same board keeping its MACs, as a repeated run at a station is.
Row RegistryRun(const std::string &name, const std::string &target)
{
    return Row(name)
        .Args({kArg1, kArg2})
        .Tool(TOOL_BIN)
        .File("TALVEK.conf", "registry = " + target + "\nstation = bench\ndmi_dir = dmi\n")
        .File("dmi/board_serial", "BENCH-0001\n");
}

// The PostgreSQL server scripts/bench starts (tests/registry/pg_cluster.sh), if any.
const char *PgServer()
{
    return getenv("TALVEK_TEST_PG");
}

// The pooler in front of it (tests/registry/pg_pooler.sh), if any.
const char *PgPooled()
{
    return getenv("TALVEK_TEST_PG_POOLED");
}

std::vector<TimedRow> TimedRows()
{
    std::string list;  // a full allow-list, the admitting entry last
    for (int i = 0; i < 1023; i++)
        list += "AVL_MASK=FFFFFFFFFFFF, AVL_VALUE=0A0B0C" + std::to_string(100000 + i) + "\n";
    list += kAllowAllIni;
    // clang-format off
    // The registry rows come last: RegistryCost() reads their medians from kFirstRegistryRow on.
    std::vector<TimedRow> rows = {
        {Row("Two-port PASS run").Args({kArg1, kArg2}).Tool(TOOL_BIN), 10},
        {Row("Two-port PASS run, 1,024-entry allow-list").Args({kArg1, kArg2}).Tool(TOOL_BIN)
             .File("TALVEK.ini", list), 0},
        {RegistryRun("Two-port PASS run, SQLite registry", "sqlite"), 0},
    };
    if (PgServer())
        rows.push_back({RegistryRun("Two-port PASS run, PostgreSQL registry on a local socket", PgServer()), 0});
    // clang-format on
    return rows;
}

const int kRuns = 15;
const int kWaitMs = 5000;         // how long an entry is left waiting
const double kWaitBudgetMs = 25;  // processor time TALVEK may use meanwhile

std::string g_table;
int g_status = 0;

void AddRow(const std::string &figure, const std::string &measured, double budget_ms, double value)
{
    bool over = budget_ms > 0 && value > budget_ms;
    g_table += "| " + figure + " | " + measured + " | " +
               (budget_ms > 0 ? Format("%.0f ms | %s", budget_ms, over ? "OVER" : "ok") : "- | -") +
               " |\n";
    g_status = std::max(g_status, over ? 1 : 0);
}

void Require(bool passed, const std::string &what, const Result &r)
{
    if (passed)
        return;
    fprintf(stderr, "talvek_bench: %s did not pass (status %d):\n%s", what.c_str(), r.status(),
            r.out.c_str());
    exit(2);
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double NowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// One shell and one tool start in the station, as one request costs.
double ToolStartMs(const Station &s)
{
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addchdir_np(&fa, s.dir().c_str());
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    char sh[] = "sh", c[] = "-c", line[] = "./kovripmi raw 0x06 0x01";
    char *argv[] = {sh, c, line, nullptr};
    double t0 = NowMs();
    pid_t pid;
    if (posix_spawn(&pid, "/bin/sh", &fa, nullptr, argv, environ) == 0)
        waitpid(pid, nullptr, 0);
    posix_spawn_file_actions_destroy(&fa);
    return NowMs() - t0;
}

// Returns the median run time in milliseconds.
double Timed(const TimedRow &timed)
{
    const Row &row = timed.run;
    Station s;
    SetUp(row, s);
    std::vector<double> runs, over;
    size_t requests = 0;
    // Two unmeasured runs warm the caches and count the requests; the floor
    // is taken right before each run, so that both meet the same load.
    for (int i = -2; i < kRuns; i++) {
        double floor = 0;
        for (size_t k = 0; k < requests; k++)
            floor += ToolStartMs(s);
        for (const char *f : {"bench_tool.state", "TALVEK.txt", "kovripmi.journal"})
            s.remove(f);
        Result r = Run(s, row.launch);
        Require(r.status() == 0 && s.read("TALVEK.txt").rfind("P\n", 0) == 0, row.name, r);
        requests = s.requests().size();
        runs.push_back(static_cast<double>(r.wall_ns) / 1e6);
        over.push_back(runs.back() - floor);
    }
    runs.erase(runs.begin(), runs.begin() + 2);
    over.erase(over.begin(), over.begin() + 2);
    std::sort(runs.begin(), runs.end());
    std::sort(over.begin(), over.end());
    double median = over[over.size() / 2];
    AddRow(Format("%s (%d runs, %zu tool starts each)", row.name.c_str(), kRuns, requests),
           Format("over the floor: min %.1f, median %.1f, max %.1f ms (run median %.1f ms)",
                  over.front(), median, over.back(), runs[runs.size() / 2]),
           timed.budget_ms, median);
    return runs[runs.size() / 2];
}

// Processor time the process has used so far, in milliseconds.
double CpuMs(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/schedstat");
    double ns = -1;
    f >> ns;
    return ns / 1e6;
}

// "TALVEK 1" left waiting at its entry, then the MAC typed.
void Waiting(Stdin in, const char *on)
{
    Station s;
    s.tool(TOOL_BIN);
    Launch l;
    l.args = {"1"};
    l.in = in;
    double cpu = -1;
    l.at_entry = [&cpu](const Entry &e) {
        double c0 = CpuMs(e.pid);
        usleep(kWaitMs * 1000);
        cpu = CpuMs(e.pid) - c0;
        TypeKeys(e, kMac1);
        return true;
    };
    Result r = Run(s, l);
    Require(r.status() == 0 && cpu >= 0, std::string("the entry on ") + on, r);
    AddRow(Format("CPU while an entry waits %d s on %s", kWaitMs / 1000, on),
           Format("%.1f ms", cpu), kWaitBudgetMs, cpu);
}

// The real IPMI path: a request and a two-port run's requests through each
// client of the station kovripmi against OpenIPMI's BMC simulator, measured
// by ipmisim/bench.sh (which starts and stops the simulator) and added as
// information rows. Without the simulator or its module the row says why.
void IpmiSim()
{
    std::string command = "bash '" IPMISIM_BENCH "' --rows '" BUILD_DIR "' 2>&1";
    FILE *p = popen(command.c_str(), "r");
    if (p == nullptr) {
        AddRow("ipmi_sim through both clients", "not measured: cannot start ipmisim/bench.sh", 0,
               0);
        return;
    }
    std::string rows, last;
    char line[512];
    while (fgets(line, sizeof(line), p) != nullptr) {
        last = line;
        if (last.rfind("| ", 0) == 0)
            rows += last;
    }
    int status = pclose(p);
    if (status != 0) {
        while (!last.empty() && last.back() == '\n')
            last.pop_back();
        AddRow("ipmi_sim through both clients", "not measured: " + last, 0, 0);
        return;
    }
    g_table += rows;
}

// What the registry adds to a two-port run: the median run with it minus
// the median run without it, everything included (its Get System GUID
// request, the database, the commits that reach the disk).
const size_t kFirstRegistryRow = 2;

void RegistryCost(const std::vector<double> &medians)
{
    const double budgets[] = {5, 15};
    const char *names[] = {"SQLite", "PostgreSQL on a local socket"};
    for (size_t k = 0; kFirstRegistryRow + k < medians.size() && k < 2; k++) {
        double cost = medians[kFirstRegistryRow + k] - medians[0];
        AddRow(Format("Registry cost of a two-port run, %s (median run with it minus without it)",
                      names[k]),
               Format("%.1f ms", cost), budgets[k], cost);
    }
    if (medians.size() < kFirstRegistryRow + 2)
        AddRow("Registry cost of a two-port run, PostgreSQL",
               "not measured: no PostgreSQL server "
               "(scripts/bench starts one when the Debian package postgresql is installed)",
               0, 0);
}

// A registry of 1,000,000 MACs held by 500,000 boards, with one run per
// board (two MACs each, one a second from 2026-12-01 on), built in the
// database itself (lite: the SQLite dialect, else PostgreSQL's).
const int kBigMacs = 1000000;
const uint64_t kBigBase = 0x02AB3C000000ull;

void FillBigRegistry(REG_DB *db, bool lite)
{
    std::string base = std::to_string(kBigBase);
    // Per back end: the 12-digit text of an integer, a 32-digit key, a time i seconds on.
    auto hex12 = [&](const std::string &v) {
        return lite ? "printf('%012X', " + v + ")" : "lpad(upper(to_hex(" + v + ")), 12, '0')";
    };
    std::string key = lite ? "printf('%032x', i)" : "lpad(to_hex(i), 32, '0')";
    std::string key_half = lite ? "printf('%032x', i / 2)" : "lpad(to_hex(i / 2), 32, '0')";
    auto at = [&](const std::string &seconds) {
        return lite ? "strftime('%Y-%m-%dT%H:%M:%fZ', '2026-12-01', '+' || (" + seconds +
                          ") || ' seconds')"
                    : "to_char(timestamp '2026-12-01' + (" + seconds +
                          ") * interval '1 second', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')";
    };
    // i from lo to hi: filled in chunks, each well within the client's
    // deadline for one statement (db.h).
    std::string series =
        lite ? "WITH RECURSIVE s(i) AS (SELECT %d UNION ALL SELECT i + 1 FROM s WHERE i < %d) "
             : "WITH s(i) AS (SELECT generate_series(%d, %d)) ";
    std::string macs =
        "INSERT INTO macs (mac, mac_text, board_key, state, station, run_id, reserved_utc, verified_utc, readback, "
        "updated_utc) SELECT " +
        base + " + i, " + hex12(base + " + i") + ", " + key_half +
        ", 'verified', 'st' || (i % 16), 'run-' || (i / 2), " + at("i / 2") + ", " +
        at("i / 2 + 3") + ", " + hex12(base + " + i") + ", " + at("i / 2 + 3") + " FROM s";
    std::string run_rows =
        "INSERT INTO runs (run_id, tool_version, station, mode, started_utc, ended_utc, system_guid, "
        "system_guid_placeholder, product_uuid_placeholder, board_serial_placeholder, product_serial_placeholder, "
        "board_key, eth0_before, eth0_requested, eth0_readback, eth0_result, eth1_before, eth1_requested, "
        "eth1_readback, eth1_result, verdict, exit_status) SELECT 'run-' || i, '0.37', 'st' || (i % 16), 'program', " +
        at("i") + ", " + at("i + 3") + ", " + key + ", 0, 1, 1, 1, " + key + ", '000000000000', " +
        hex12(base + " + 2 * i") + ", " + hex12(base + " + 2 * i") + ", 'PASS', '000000000000', " +
        hex12(base + " + 2 * i + 1") + ", " + hex12(base + " + 2 * i + 1") +
        ", 'PASS', 'PASS', 0 FROM s";
    char err[kDbErrorSize];
    // Filling takes longer than the statement timeout a station keeps.
    if (!lite && RegDbExec(db, "SET statement_timeout = 0", 0, nullptr, nullptr, err,
                           sizeof(err)) != 0) {
        fprintf(stderr, "talvek_bench: filling the registry: %s\n", err);
        exit(2);
    }
    const int chunk = 50000;
    std::vector<std::string> steps;
    for (int lo = 0; lo < kBigMacs; lo += chunk)
        steps.push_back(Format(series.c_str(), lo, lo + chunk - 1) + macs);
    for (int lo = 0; lo < kBigMacs / 2; lo += chunk)
        steps.push_back(Format(series.c_str(), lo, lo + chunk - 1) + run_rows);
    // A server in use has its statistics and visibility map from
    // autovacuum, which tables this size get within a minute of filling.
    if (!lite) {
        steps.push_back("VACUUM ANALYZE macs");
        steps.push_back("VACUUM ANALYZE runs");
    }
    for (const std::string &sql : steps) {
        if (RegDbExec(db, sql.c_str(), 0, nullptr, nullptr, err, sizeof(err)) != 0) {
            fprintf(stderr, "talvek_bench: filling the registry: %s\n", err);
            exit(2);
        }
    }
}

bool g_view_only = false;  // "view": the line view's rows alone

// The line view on the big registry: the report of the last 100,000 runs
// and pools over all 1,000,000 MACs as whole commands, and, for
// information, what serve's refresh costs in the background (the page's
// figures and HTML worked out anew with the connection open).
const char kLast100k[] = "2026-12-05T15:06:40.000Z";

void ViewRows(REG_DB *db, const char *label, const std::string &target, const Station &s)
{
    s.write("pools.ini", "AVL_MASK=FFFFFF000000, AVL_VALUE=02AB3C000000\n");
    std::vector<double> report, pools;
    for (int i = 0; i < 5; i++) {
        for (auto [args, times] :
             {std::pair{std::vector<std::string>{"report", "--html", s.path("r.html"), "--since",
                                                 kLast100k, "--ini", s.path("pools.ini")},
                        &report},
              std::pair{std::vector<std::string>{"pools", "--ini", s.path("pools.ini")}, &pools}}) {
            Launch l;
            l.program = REGISTRY_BIN;
            l.args = {"--registry", target};
            l.args.insert(l.args.end(), args.begin(), args.end());
            Result r = Run(s, l);
            // pools' status 1 only says a pool alarms: the command still ran.
            Require(r.exit_code == 0 || (args[0] == "pools" && r.exit_code == 1),
                    "talvek-registry " + args[0], r);
            times->push_back(static_cast<double>(r.wall_ns) / 1e6);
        }
    }
    // The figures after the commands: the fill's writes have settled by then.
    std::vector<double> page;
    VIEW_PERIOD period = {};
    snprintf(period.Since, sizeof period.Since, "%s", kLast100k);
    std::vector<VIEW_RANGE> ranges = {{kBigBase, 0xFFFFFF000000ull}};
    size_t bytes = 0;
    for (int i = 0; i < 6; i++) {
        double p0 = NowMs();
        VIEW_FIGURES f;
        char err[kDbErrorSize];
        if (LoadViewFigures(db, &period, ranges, "2026-12-06T19:00:00.000Z", &f, err,
                            sizeof err) != 0) {
            fprintf(stderr, "talvek_bench: the page's figures: %s\n", err);
            exit(2);
        }
        bytes = RenderViewHtml(f, period, "2026-12-06T19:00:00.000Z", 30).size();
        if (i > 0)  // the first warms the connection's caches
            page.push_back(NowMs() - p0);
    }
    double rep = Median(report), pag = Median(page), poo = Median(pools);
    auto least = [](const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); };
    AddRow(Format("report --html, %s, 100,000 runs and one pool (median of 5, whole command)",
                  label),
           Format("%.2f s (min %.2f s)", rep / 1e3, least(report) / 1e3), 2000, rep);
    AddRow(Format("serve's refresh, %s: the page's figures and HTML for 100,000 runs and one pool "
                  "worked out anew (median of 5, connection open; %zu bytes; in the background "
                  "every 30 s, no request waits for it)",
                  label, bytes),
           Format("%.0f ms (min %.0f ms)", pag, least(page)), 0, 0);
    AddRow(Format("pools, %s, a range holding 1,000,000 MACs (median of 5, whole command)",
                  label),
           Format("%.0f ms (min %.0f ms)", poo, least(pools)), 200, poo);
}

// A running talvek-registry serve on a free loopback port; stopped with
// SIGTERM by Stop.
struct Serving {
    pid_t pid = -1;
    int port = 0;
};

Serving StartServe(const std::string &target, const Station &s)
{
    Serving sv;
    int fd[2];
    if (pipe(fd) != 0)
        return sv;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fd[1], 1);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&fa, fd[0]);
    std::vector<std::string> argv = {REGISTRY_BIN, "--registry", target, "serve",
                                     "--listen", "127.0.0.1:0", "--ini", s.path("pools.ini")};
    std::vector<char *> args;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    if (posix_spawn(&sv.pid, args[0], &fa, nullptr, args.data(), environ) != 0)
        sv.pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(fd[1]);
    std::string first;  // "Serving the line view on http://127.0.0.1:PORT/ ..."
    char c;
    while (read(fd[0], &c, 1) == 1 && c != '\n')
        first += c;
    close(fd[0]);
    size_t colon = first.rfind(':', first.find("/ "));
    sv.port = colon == std::string::npos ? 0 : atoi(first.c_str() + colon + 1);
    return sv;
}

void StopServe(Serving *sv)
{
    if (sv->pid > 0) {
        kill(sv->pid, SIGTERM);
        waitpid(sv->pid, nullptr, 0);
    }
    sv->pid = -1;
}

// What a screen waits for: GETs of the page from a running serve, whose
// window (the last 24 hours) holds 100,000 runs added for it here, over a
// little more than one refresh period, so that some meet a refresh under
// way. The first page after the start is shown apart: serve works it out
// while the first screen waits.
void ServeRow(REG_DB *db, bool lite, const char *label, const std::string &target,
              const Station &s)
{
    char now[kStampSize];
    UtcStamp(now);
    // Runs 0.8 s apart from 23 hours ago: every one in the page's window.
    char since[32];
    ViewStampMinus(now, 23L * 3600, since);
    std::string at =
        lite ? std::string("strftime('%Y-%m-%dT%H:%M:%fZ', '") + since +
                   "', '+' || (i * 0.8) || ' seconds')"
             : std::string("to_char(timestamp '") + std::string(since, 19) +
                   "' + i * interval '800 milliseconds', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')";
    std::string key = lite ? "printf('%032x', 1000000 + i)" : "lpad(to_hex(1000000 + i), 32, '0')";
    std::string series =
        lite ? "WITH RECURSIVE s(i) AS (SELECT %d UNION ALL SELECT i + 1 FROM s WHERE i < %d) "
             : "WITH s(i) AS (SELECT generate_series(%d, %d)) ";
    std::string runs =
        "INSERT INTO runs (run_id, tool_version, station, mode, started_utc, ended_utc,"
        " system_guid_placeholder, product_uuid_placeholder, board_serial_placeholder,"
        " product_serial_placeholder, board_key, verdict, exit_status) SELECT 'live-' || i,"
        " '0.37', 'st' || (i % 16), 'program', " + at + ", " + at + ", 1, 1, 1, 1, " + key +
        ", 'PASS', 0 FROM s";
    std::vector<std::string> steps;
    for (int lo = 0; lo < 100000; lo += 50000)
        steps.push_back(Format(series.c_str(), lo, lo + 49999) + runs);
    if (!lite)
        steps.push_back("VACUUM ANALYZE runs");  // as autovacuum does after such a batch
    char err[kDbErrorSize];
    for (const std::string &sql : steps) {
        if (RegDbExec(db, sql.c_str(), 0, nullptr, nullptr, err, sizeof err) != 0) {
            fprintf(stderr, "talvek_bench: the live runs: %s\n", err);
            exit(2);
        }
    }
    Serving sv = StartServe(target, s);
    if (sv.pid < 0 || sv.port == 0) {
        StopServe(&sv);
        fprintf(stderr, "talvek_bench: serve did not start\n");
        exit(2);
    }
    httplib::Client client("127.0.0.1", sv.port);
    client.set_read_timeout(60, 0);
    std::vector<double> gets;
    size_t bytes = 0;
    double first = 0;
    for (int i = 0; i < 70; i++) {
        double g0 = NowMs();
        auto res = client.Get("/");
        double ms = NowMs() - g0;
        // At least the runs added here: on PostgreSQL the registry-cost
        // rows before left a few of their own in the same database.
        size_t runs_at = res ? res->body.find("data-runs=\"") : std::string::npos;
        if (!res || res->status != 200 || runs_at == std::string::npos ||
            atol(res->body.c_str() + runs_at + 11) < 100000) {
            StopServe(&sv);
            size_t at = res ? res->body.find("data-runs=") : std::string::npos;
            fprintf(stderr, "talvek_bench: serve's page, GET %d: %s\n", i + 1,
                    !res                      ? "no answer"
                    : res->status != 200      ? std::to_string(res->status).c_str()
                    : at != std::string::npos ? res->body.substr(at, 24).c_str()
                                              : "no summary");
            exit(2);
        }
        bytes = res->body.size();
        if (i == 0)
            first = ms;
        else
            gets.push_back(ms);
        usleep(500 * 1000);
    }
    StopServe(&sv);
    double median = Median(gets);
    AddRow(Format("serve page, %s, 100,000 runs in its last 24 hours and one pool (median of %zu "
                  "GETs to a running serve over 35 s, one refresh included; %zu bytes)",
                  label, gets.size(), bytes),
           Format("%.1f ms (max %.1f ms; the first page after the start %.0f ms)", median,
                  *std::max_element(gets.begin(), gets.end()), first),
           300, median);
}

// talvek-registry's who and export on the big registry, in this process
// with the connection open (the figures the budgets are for), and who as a
// whole command for information.
void BigRegistry(const char *label, const std::string &target, const Station &s)
{
    REGISTRY_CONF conf;
    DefaultRegistryConf(&conf);
    char err[kDbErrorSize];
    REG_DB *db = nullptr;
    if (ParseRegistryTarget(target.c_str(), &conf, err, sizeof(err)) != 0 ||
        RegDbOpen(&conf, &db, err, sizeof(err)) != 0 ||
        RegistryEnsureSchema(db, nullptr, err, sizeof(err)) != 0) {
        fprintf(stderr, "talvek_bench: %s: %s\n", target.c_str(), err);
        exit(2);
    }
    double t0 = NowMs();
    FillBigRegistry(db, conf.Kind == REGISTRY_SQLITE);
    double fill_s = (NowMs() - t0) / 1e3;
    if (g_view_only) {
        ViewRows(db, label, target, s);
        ServeRow(db, conf.Kind == REGISTRY_SQLITE, label, target, s);
        RegDbClose(db);
        return;
    }

    int saved = dup(1), null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    std::vector<double> who;
    uint64_t x = 88172645463325252ull;
    for (int i = 0; i < 201; i++) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;  // any MAC of the million
        uint64_t v = kBigBase + x % kBigMacs;
        uint8_t mac[6];
        for (int b = 0; b < 6; b++)
            mac[b] = static_cast<uint8_t>(v >> (40 - 8 * b));
        double w0 = NowMs();
        int rc = RegToolWho(db, mac);
        fflush(stdout);
        if (rc != 0)
            exit(2);
        if (i > 0)  // the first warms the connection's caches
            who.push_back(NowMs() - w0);
    }
    FILE *out = fopen("/dev/null", "w");
    std::vector<double> csv, json;
    for (int i = 0; i < 3; i++) {
        for (auto [format, times] :
             {std::pair{REGTOOL_CSV, &csv}, std::pair{REGTOOL_JSON, &json}}) {
            double e0 = NowMs();
            // The last 100,000 of the 500,000 runs.
            if (RegToolExport(db, format, "2026-12-05T15:06:40.000Z", out) != 0)
                exit(2);
            fflush(out);
            times->push_back(NowMs() - e0);
        }
    }
    fclose(out);
    dup2(saved, 1);
    close(null);
    close(saved);
    ViewRows(db, label, target, s);

    // The whole command, as a line engineer runs it.
    std::vector<double> command;
    for (int i = 0; i < 20; i++) {
        Launch l;
        l.program = REGISTRY_BIN;
        l.args = {"--registry", target, "who", "02AB3C0A1B2C"};
        Result r = Run(s, l);
        Require(r.status() == 0, "talvek-registry who", r);
        command.push_back(static_cast<double>(r.wall_ns) / 1e6);
    }
    double w = Median(who);
    AddRow(
        Format(
            "who MAC, %s, 1,000,000 MACs and 500,000 runs (median of 200, connection open; filled in %.0f s)",
            label, fill_s),
        Format("median %.2f ms, max %.2f ms", w, *std::max_element(who.begin(), who.end())), 2, w);
    AddRow(
        Format(
            "who MAC, %s, the whole command (median of 20: process start, libraries, connection)",
            label),
        Format("%.1f ms", Median(command)), 0, 0);
    for (auto [name, times] : {std::pair{"CSV", &csv}, std::pair{"JSON", &json}}) {
        double e = Median(*times) / 1e3;
        AddRow(Format("export --format %s --since, %s, 100,000 runs (200,000 rows; median of 3)",
                      name, label),
               Format("%.2f s", e), 2000, e * 1e3);
    }
    // Last: it adds 100,000 runs.
    ServeRow(db, conf.Kind == REGISTRY_SQLITE, label, target, s);
    RegDbClose(db);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && strcmp(argv[1], "--line-board") == 0)
        return LineScaleBoard(argv[2]);
    g_view_only = argc > 2 && strcmp(argv[2], "view") == 0;
    if (argc > 2 && strcmp(argv[2], "line") == 0) {
        int over = 0;
        g_table = LineScaleRows(PgServer(), PgPooled(), &over);
        fputs(g_table.c_str(), stdout);
        return over;
    }
    std::vector<double> medians;
    for (const TimedRow &row : g_view_only ? std::vector<TimedRow>{} : TimedRows())
        medians.push_back(Timed(row));
    if (!g_view_only)
        RegistryCost(medians);
    {
        Station s;
        BigRegistry("SQLite", "sqlite:" + s.path("big.db"), s);
        if (PgServer())
            BigRegistry("PostgreSQL", PgServer(), s);
    }
    if (!g_view_only) {
        Station s;  // the MES feed: the outbox insert, and the relay to the broker
        for (const FEED_FIGURE &f : FeedFigures(s.dir(), PgServer(), getenv("TALVEK_TEST_AMQP"))) {
            g_table += "| " + f.Figure + " | " + f.Measured + " | " + f.Budget + " | " +
                       (f.Budget == "-" ? "-" : f.Over ? "OVER" : "ok") + " |\n";
            g_status = std::max(g_status, f.Over ? 1 : 0);
        }
    }
    if (!g_view_only) {
        int over = 0;
        g_table += LineScaleRows(PgServer(), PgPooled(), &over);
        g_status = std::max(g_status, over);
        Waiting(Stdin::kPipe, "a silent pipe");
        Waiting(Stdin::kTerminal, "a terminal");
        IpmiSim();
    }

    struct utsname u;
    uname(&u);
    std::string text = Format("# Benchmark results\n\nWritten by `scripts/bench` (release build) "
                              "on %ld cores, Linux %s. The floor is one shell-and-tool start per "
                              "request of the run, timed right before each run.\n\n",
                              sysconf(_SC_NPROCESSORS_ONLN), u.release) +
                       "| Figure | Measured | Budget | Result |\n|---|---|---|---|\n" + g_table;
    fputs(text.c_str(), stdout);
    std::ofstream(argc > 1 ? argv[1] : "/dev/null") << text;
    return g_status;
}
