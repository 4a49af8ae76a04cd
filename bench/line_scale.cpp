// Line scale: what the MAC registry does to a line of stations.
//
// A line is N station directories, each with the simulated ./kovripmi, the
// allow-list and, with the registry on, a TALVEK.conf naming the one shared
// registry. N station processes start at once and each programs its boards
// in a row: a board is a new System GUID in the scenario and a new BMC (the
// state file removed), and each board gets two MACs no other board gets.
// Two measurements, each with all N stations at once:
// - throughput: real TALVEK runs (sleep() shimmed), runs per second over the
//   whole line, with the registry and without it;
// - the registry's own time per run: N stations make the registry calls of
//   a two-port PASS run, each board in a process of its own as a TALVEK run
//   is (RegistryStart to RegistryFinishRun: loading the client library,
//   connection, schema check, reservation, confirmation, runs row, the
//   station's day), timed around those calls, one board per period of a
//   station of the line without the registry, the stations' starts spread
//   over the first period. Measured twice: with the
//   registry's load alone, as on a line, where every station is a machine
//   of its own and only the server is shared (the budget); and with that
//   line running beside them on the same cores, which adds the wait for a
//   core to every call (shown, not budgeted).
#include "line_scale.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "registry/registry.h"
#include "registry/run_record.h"  // the board identity is set here, not read from a BMC
#include "registry/schema.h"
#include "test.h"

namespace {

const int kLineRuns = 160;  // boards per measurement, shared among the stations
const uint64_t kMacBase = 0x02AB3C000000ull;
const double kP99OverMedian = 5;       // registry p99 at the most stations / median at one
const double kThroughputRatio = 0.75;  // runs/s with the registry / without, at least

struct Line {
    std::string root;    // holds st0, st1, ...
    std::string target;  // the registry; "" for a line without one
    int stations;
    int boards_each;
    uint64_t first_board;  // this measurement's boards are numbered from here
};

struct Outcome {
    double wall_ms;
    int failed;                 // runs that did not pass
    std::vector<double> times;  // registry time per run (calls alone), sorted
};

double NowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

uint64_t g_next_board = 1;  // every board of the whole benchmark is another

std::string StationDir(const Line &line, int i)
{
    return line.root + "/st" + std::to_string(i);
}

void LayOut(const Line &line)
{
    mkdir(line.root.c_str(), 0755);
    for (int i = 0; i < line.stations; i++) {
        std::string d = StationDir(line, i);
        mkdir(d.c_str(), 0755);
        if (symlink(SIM_BIN, (d + "/kovripmi").c_str()) != 0 && errno != EEXIST) {
            perror("talvek_bench: ./kovripmi");
            exit(2);
        }
        std::ofstream(d + "/TALVEK.ini") << kAllowAllIni;
        if (!line.target.empty())
            std::ofstream(d + "/TALVEK.conf")
                << "registry = " << line.target << "\nstation = st" << i << "\ndmi_dir = dmi\n";
    }
}

// The board's two MACs, as 12 hex digits and as bytes.
void BoardMacs(uint64_t board, std::string text[2], uint8_t bytes[2][6])
{
    for (int p = 0; p < 2; p++) {
        uint64_t v = kMacBase + 2 * board + static_cast<uint64_t>(p);
        text[p] = Format("%012llX", static_cast<unsigned long long>(v));
        for (int b = 0; b < 6; b++)
            bytes[p][b] = static_cast<uint8_t>(v >> (40 - 8 * b));
    }
}

std::string BoardGuid(uint64_t board)
{
    return Format("4c494e45%024llx", static_cast<unsigned long long>(board));
}

// A new board on the station's simulated BMC, then "TALVEK 1=M0 2=M1" in
// the working directory as a station starts it. 1 when it did not pass.
// journal: where the run's sleeps are noted ("sleep N"), or nullptr.
int RunTalvek(uint64_t board, const char *journal = nullptr)
{
    std::ofstream("kovripmi.scenario") << "guid " << BoardGuid(board) << "\n";
    unlink("kovripmi.state");
    unlink("kovripmi.journal");
    std::string mac[2];
    uint8_t bytes[2][6];
    BoardMacs(board, mac, bytes);
    std::string a1 = "1=" + mac[0], a2 = "2=" + mac[1];
    std::vector<std::string> env;
    for (char **e = environ; *e; e++) {
        if (strncmp(*e, "LD_PRELOAD=", 11) != 0 && strncmp(*e, "TALVEK_TEST_JOURNAL=", 20) != 0)
            env.push_back(*e);
    }
    env.push_back(std::string("LD_PRELOAD=") + SLEEP_SHIM);
    if (journal != nullptr)
        env.push_back(std::string("TALVEK_TEST_JOURNAL=") + journal);
    std::vector<char *> envp;
    for (auto &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    char name[] = "TALVEK";
    char *argv[] = {name, a1.data(), a2.data(), nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int status = 0;
    bool ran = posix_spawn(&pid, TALVEK_BIN, &fa, nullptr, argv, envp.data()) == 0 &&
               waitpid(pid, &status, 0) == pid;
    posix_spawn_file_actions_destroy(&fa);
    return ran && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

// The bench keeps no result record.
int NoRecord(void *)
{
    return 0;
}

// The registry calls of a two-port PASS run for the board, in this process,
// in the order TALVEK makes them. Their time in milliseconds, or -1 when
// one failed.
double RegistryCalls(uint64_t board)
{
    REGISTRY_RUN *run = nullptr;
    std::string text[2];
    uint8_t mac[2][6];
    BoardMacs(board, text, mac);
    const uint8_t blank[6] = {};
    double t0 = NowMs();
    int failed = RegistryStart(&run);
    if (!failed && run == nullptr)
        failed = 1;  // the station's TALVEK.conf turns no registry on
    if (!failed) {
        BOARD_IDENTITY *id = &run->Identity;
        id->Present[ID_SYSTEM_GUID] = 1;
        snprintf(id->Value[ID_SYSTEM_GUID], kIdValueSize, "%s", BoardGuid(board).c_str());
        ChooseBoardKey(id);
        for (int p = 0; p < 2; p++) {
            RegistryNotePort(run, p, REG_SELECTED | REG_HAVE_REQUESTED, mac[p]);
            RegistryNotePort(run, p, REG_HAVE_BEFORE, blank);
        }
        failed = RegistryReserve(run);
    }
    if (!failed) {
        for (int p = 0; p < 2; p++)
            RegistryNotePort(run, p, REG_HAVE_READBACK | REG_PASSED, mac[p]);
        failed = RegistryConfirmPass(run, NoRecord, nullptr);
    }
    failed = RegistryFinishRun(run, failed) != 0 || failed;
    double ms = NowMs() - t0;
    return failed ? -1 : ms;
}

// The registry calls of one board in a new process, as a TALVEK run makes
// them: this program started again (LineScaleBoard), so that the first call
// loads the PostgreSQL client library as it does in every run. The time the
// calls took, or -1.
double RegistryCallsApart(uint64_t board)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    std::string number = std::to_string(board);
    char self[] = "talvek_bench", flag[] = "--line-board";
    char *argv[] = {self, flag, number.data(), nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    pid_t pid;
    bool spawned = posix_spawn(&pid, "/proc/self/exe", &fa, nullptr, argv, environ) == 0;
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    char text[64] = "";
    ssize_t n = spawned ? read(fds[0], text, sizeof(text) - 1) : -1;
    close(fds[0]);
    int status = 0;
    if (!spawned || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0 || n <= 0)
        return -1;
    text[n] = '\0';
    return atof(text);
}

// One station process: waits for the start (the pipe's end), programs its
// boards in a row and leaves "failed N" and the registry times in "result".
// Stations making the registry calls alone start a board every period_ms.
[[noreturn]] void Station(const Line &line, int i, bool calls_only, double period_ms, int start_fd)
{
    char c;
    while (read(start_fd, &c, 1) > 0) {
    }
    if (chdir(StationDir(line, i).c_str()) != 0)
        _exit(2);
    // Paced stations start spread over one period, as a line's stations do:
    // started in the same millisecond they would meet the registry in a
    // burst of N at every period, which no line does.
    if (calls_only && period_ms > 0)
        usleep(static_cast<useconds_t>(period_ms * 1e3 * i / line.stations));
    int failed = 0;
    std::string times;
    for (int k = 0; k < line.boards_each; k++) {
        uint64_t board = line.first_board + static_cast<uint64_t>(i * line.boards_each + k);
        if (!calls_only) {
            failed += RunTalvek(board);
            continue;
        }
        double t0 = NowMs();
        double ms = RegistryCallsApart(board);
        if (ms < 0)
            failed++;
        else
            times += Format("%.4f\n", ms);
        double rest = t0 + period_ms - NowMs();
        if (rest > 0)
            usleep(static_cast<useconds_t>(rest * 1e3));
    }
    std::ofstream("result") << "failed " << failed << "\n" << times;
    fflush(stdout);
    _exit(0);
}

// All stations of the line at once, each with its own boards: real TALVEK
// runs, or with a period the registry calls alone while the line
// beside (when given) runs real TALVEK runs as well.
Outcome RunLine(Line line, double period_ms = -1, Line *beside = nullptr)
{
    bool calls_only = period_ms >= 0;
    line.boards_each = kLineRuns / line.stations;
    line.first_board = g_next_board;
    g_next_board += static_cast<uint64_t>(kLineRuns);
    if (beside) {
        beside->boards_each = kLineRuns / beside->stations;
        beside->first_board = g_next_board;
        g_next_board += static_cast<uint64_t>(kLineRuns);
    }
    int start[2];
    if (pipe(start) != 0) {
        perror("talvek_bench: pipe");
        exit(2);
    }
    fflush(nullptr);
    std::vector<pid_t> stations;
    for (int i = 0; i < line.stations; i++) {
        pid_t pid = fork();
        if (pid == 0) {
            close(start[1]);
            Station(line, i, calls_only, period_ms, start[0]);
        }
        stations.push_back(pid);
    }
    std::vector<pid_t> others;
    for (int i = 0; beside && i < beside->stations; i++) {
        pid_t pid = fork();
        if (pid == 0) {
            close(start[1]);
            Station(*beside, i, false, 0, start[0]);
        }
        others.push_back(pid);
    }
    close(start[0]);
    double t0 = NowMs();
    close(start[1]);
    Outcome out = {0, 0, {}};
    for (size_t i = 0; i < stations.size(); i++) {
        int status = 0;
        if (stations[i] < 0 || waitpid(stations[i], &status, 0) != stations[i] ||
            !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            out.failed += line.boards_each;
            continue;
        }
        std::ifstream result(StationDir(line, static_cast<int>(i)) + "/result");
        std::string word;
        int failed = line.boards_each;
        result >> word >> failed;
        out.failed += failed;
        for (double ms; result >> ms;)
            out.times.push_back(ms);
    }
    out.wall_ms = NowMs() - t0;
    for (pid_t pid : others) {
        if (pid > 0)
            waitpid(pid, nullptr, 0);
    }
    std::sort(out.times.begin(), out.times.end());
    return out;
}

double RunsPerSecond(const Outcome &o)
{
    return kLineRuns / (o.wall_ms / 1e3);
}

// The p-th percentile (nearest rank) of sorted times; 0 for none.
double Percentile(const std::vector<double> &sorted, int p)
{
    if (sorted.empty())
        return 0;
    size_t rank = (sorted.size() * static_cast<size_t>(p) + 99) / 100;
    return sorted[std::max<size_t>(rank, 1) - 1];
}

std::string Row(const std::string &figure, const std::string &measured, const std::string &budget,
                bool ok, int *over)
{
    if (!ok)
        *over = 1;
    return "| " + figure + " | " + measured + " | " + budget + " | " + (ok ? "ok" : "OVER") +
           " |\n";
}

// The seconds a two-port PASS run sleeps for the BMC, which the shim
// skips: one run of a new board in a station of its own, its sleeps noted.
int WaitSeconds(const std::string &root)
{
    Line line = {root + "/waits", "", 1, 1, g_next_board++};
    LayOut(line);
    std::string dir = StationDir(line, 0);
    char here[4096];
    if (getcwd(here, sizeof here) == nullptr || chdir(dir.c_str()) != 0 ||
        RunTalvek(line.first_board, "journal") != 0) {
        fprintf(stderr, "talvek_bench: the run in %s did not pass\n", dir.c_str());
        exit(2);
    }
    std::ifstream journal("journal");
    int seconds = 0;
    for (std::string word; journal >> word;) {
        int n = 0;
        if (word == "sleep" && journal >> n)
            seconds += n;
    }
    if (chdir(here) != 0)
        exit(2);
    return seconds;
}

// A fresh registry on the back end, its tables made before any station
// starts, so that no measurement pays for creating them.
bool FreshRegistry(const std::string &target)
{
    REGISTRY_CONF conf;
    DefaultRegistryConf(&conf);
    char err[kDbErrorSize] = "";
    REG_DB *db = nullptr;
    bool ok = ParseRegistryTarget(target.c_str(), &conf, err, sizeof err) == 0 &&
              RegDbOpen(&conf, &db, err, sizeof err) == 0 &&
              RegistryEnsureSchema(db, nullptr, err, sizeof err) == 0;
    RegDbClose(db);
    if (!ok)
        fprintf(stderr, "talvek_bench: %s: %s\n", target.c_str(), err);
    return ok;
}

// The rows of one back end: per station count the runs per second with and
// without the registry and the registry's time per run; then the budgets.
// Throughput without the registry is the mean of a measurement before and
// one after the registry's, so that both meet the machine's load alike.
std::string BackEnd(const char *label, const char *key, const std::string &target,
                    const std::vector<int> &counts, const std::string &root, int wait_s,
                    int *over)
{
    std::string rows;
    double median_one = 0, p99_most = 0, lowest_ratio = 1e9;
    double run_s_with = 0, run_s_without = 0;  // one run at one station
    int lowest_at = 0, failed = 0;
    for (int n : counts) {
        Line plain = {root + "/" + key + "-plain" + std::to_string(n), "", n, 0, 0};
        Line reg = {root + "/" + key + "-registry" + std::to_string(n), target, n, 0, 0};
        LayOut(plain);
        LayOut(reg);
        Outcome without1 = RunLine(plain);
        Outcome with = RunLine(reg);
        Outcome without2 = RunLine(plain);
        double rps_without = (RunsPerSecond(without1) + RunsPerSecond(without2)) / 2;
        double ratio = RunsPerSecond(with) / rps_without;
        // A station of the line without the registry finishes a board every
        // n / rps_without seconds.
        double period_ms = n / rps_without * 1e3;
        Outcome calls = RunLine(reg, period_ms);
        Outcome shared = RunLine(reg, period_ms, &plain);
        int n_failed =
            without1.failed + with.failed + without2.failed + calls.failed + shared.failed;
        failed += n_failed;
        double median = Percentile(calls.times, 50), p99 = Percentile(calls.times, 99);
        if (n == counts.front()) {
            median_one = median;
            run_s_with = 1 / RunsPerSecond(with);
            run_s_without = 1 / rps_without;
        }
        if (n == counts.back())
            p99_most = p99;
        if (ratio < lowest_ratio) {
            lowest_ratio = ratio;
            lowest_at = n;
        }
        rows += "| Line of " + std::to_string(n) + (n == 1 ? " station" : " stations") +
                " at once, " + label + " (" + std::to_string(kLineRuns / n) +
                " boards each, in a row) | " +
                Format("%.1f runs/s with the registry, %.1f without (%.2f); registry per run: "
                       "median %.2f ms, p99 %.2f ms; with the line's runs on the same cores: "
                       "median %.2f ms, p99 %.2f ms; %d failed",
                       RunsPerSecond(with), rps_without, ratio, median, p99,
                       Percentile(shared.times, 50), Percentile(shared.times, 99), n_failed) +
                " | - | - |\n";
    }
    int most = counts.back();
    rows += Row(Format("Line, %s: registry p99 at %d stations over its median at 1", label, most),
                Format("%.1f (%.2f ms over %.2f ms)", p99_most / median_one, p99_most, median_one),
                Format("%.0f", kP99OverMedian), p99_most <= kP99OverMedian * median_one, over);
    rows +=
        Row(Format("Line, %s: runs/s with the registry over without, lowest of 1 to %d stations",
                   label, most),
            Format("%.2f (at %d)", lowest_ratio, lowest_at),
            Format("%.2f at least", kThroughputRatio), lowest_ratio >= kThroughputRatio, over);
    // What a station sees: its runs also wait for the BMC, which the shim
    // skipped above.
    rows += Format("| Line, %s: runs/s with the registry over without at one station, counting the "
                   "BMC's %d s of waits a run has | %.4f (%.3f s a run with the registry, %.3f s "
                   "without) | - | - |\n",
                   label, wait_s, (wait_s + run_s_without) / (wait_s + run_s_with),
                   wait_s + run_s_with, wait_s + run_s_without);
    rows +=
        Row(Format("Line, %s: failed runs", label), std::to_string(failed), "0", failed == 0, over);
    return rows;
}

}  // namespace

std::string Format(const char *format, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, format);
    vsnprintf(buf, sizeof(buf), format, ap);
    va_end(ap);
    return buf;
}

int LineScaleBoard(const char *board)
{
    // Standard output carries the time alone; the station's day line that
    // the run prints is not the bench's.
    int out = dup(1);
    int null = open("/dev/null", O_WRONLY);
    if (out < 0 || null < 0)
        return 2;
    dup2(null, 1);
    double ms = RegistryCalls(strtoull(board, nullptr, 10));
    fflush(stdout);
    if (ms < 0)
        return 1;
    std::string text = Format("%.4f\n", ms);
    return write(out, text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 2;
}

std::string LineScaleRows(const char *pg_server, const char *pg_pooled, int *over)
{
    char tmpl[] = "/tmp/talvek-line-XXXXXX";
    std::string root = mkdtemp(tmpl);
    std::string rows;
    int wait_s = WaitSeconds(root);
    if (pg_server == nullptr) {
        rows +=
            "| Line of 1, 8 and 32 stations, PostgreSQL | not measured: no PostgreSQL server "
            "(scripts/bench starts one when the Debian package postgresql is installed) | - | - |\n";
    } else {
        std::string server = pg_server;
        // A database of its own, so that every board and MAC is new to it.
        REGISTRY_CONF conf;
        DefaultRegistryConf(&conf);
        char err[kDbErrorSize] = "";
        REG_DB *db = nullptr;
        std::string name = "talvek_line_" + std::to_string(getpid());
        if (ParseRegistryTarget(pg_server, &conf, err, sizeof err) != 0 ||
            RegDbOpen(&conf, &db, err, sizeof err) != 0 ||
            RegDbExec(db, ("CREATE DATABASE " + name).c_str(), 0, nullptr, nullptr, err,
                      sizeof err) != 0) {
            fprintf(stderr, "talvek_bench: %s: %s\n", pg_server, err);
            exit(2);
        }
        RegDbClose(db);
        std::string target = server + " dbname=" + name;
        if (!FreshRegistry(target))
            exit(2);
        rows += BackEnd("PostgreSQL", "pg", target, {1, 8, 32}, root, wait_s, over);
        // The same database, the stations' connections through the pooler:
        // every board and MAC of these rows is new as well.
        if (pg_pooled != nullptr)
            rows += BackEnd("PostgreSQL through a pooler (session mode)", "pooled",
                            std::string(pg_pooled) + " dbname=" + name, {1, 8, 32}, root, wait_s,
                            over);
        else
            rows += "| Line of 1, 8 and 32 stations, PostgreSQL through a pooler | not measured: "
                    "no pooler (scripts/bench starts one when the Debian package pgbouncer is "
                    "installed) | - | - |\n";
    }
    std::string file = "sqlite:" + root + "/line.db";
    if (!FreshRegistry(file))
        exit(2);
    rows += BackEnd("one SQLite file", "sqlite", file, {1, 8}, root, wait_s, over);
    std::string rm = "rm -rf '" + root + "'";
    if (system(rm.c_str()) != 0)
        fprintf(stderr, "talvek_bench: cannot remove %s\n", root.c_str());
    return rows;
}
