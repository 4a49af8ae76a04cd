// talvek_bench: what TALVEK costs a user beyond the waits the BMC needs.
//
// Runs TALVEK on the end-to-end fixture (tests/test.h: sleep() answered at
// once and counted) with ./kovripmi a tool that answers at once, and writes
// a short table to the file named by its argument (bench/RESULTS.md) and to
// standard output. Exit status 1 when a budgeted figure is over its budget,
// 2 when a run did not end as it should.
#include <algorithm>
#include <cstdarg>
#include <fstream>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include "TALVEK.h"
#include "sources/ini.h"
#include "test.h"

namespace {

// A run timed over the floor of its own tool starts: every request starts a
// shell and the tool, which no runner can go below. Others add rows here
// (a run with a result registry configured; a run through each IPMI client
// against ipmi_sim: their setup links another tool or writes a file).
// The row is the fixture's: its name is the figure, its set-up the station
// (./kovripmi is the instant tool unless the row names another).
struct TimedRow {
    Row run;
    double budget_ms;  // on the median's overhead over the floor; 0: information only
};

std::vector<TimedRow> TimedRows()
{
    return {
        {Row("Two-port PASS run").Args({kArg1, kArg2}).Tool(TOOL_BIN), 10},
    };
}

const int kRuns = 15;
const int kWaitMs = 5000;       // how long an entry is left waiting
const double kWaitBudgetMs = 25;  // processor time TALVEK may use meanwhile

std::string g_table;
int g_status = 0;

void AddRow(const std::string &figure, const std::string &measured, double budget_ms, bool over)
{
    std::string budget = budget_ms > 0 ? std::to_string(static_cast<int>(budget_ms)) + " ms" : "-";
    g_table += "| " + figure + " | " + measured + " | " + budget + " | " + (budget_ms > 0 ? (over ? "OVER" : "ok") : "-") + " |\n";
    if (budget_ms > 0 && over)
        g_status = std::max(g_status, 1);
}

[[noreturn]] void Die(const std::string &what, const Result &r)
{
    fprintf(stderr, "talvek_bench: %s (status %d):\n%s%s\n", what.c_str(), r.status(), r.out.c_str(), r.err.c_str());
    exit(2);
}

std::string Format(const char *format, ...)
{
    char buf[256];
    va_list ap;
    va_start(ap, format);
    vsnprintf(buf, sizeof(buf), format, ap);
    va_end(ap);
    return buf;
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
    int st = 0;
    if (posix_spawn(&pid, "/bin/sh", &fa, nullptr, argv, environ) == 0)
        waitpid(pid, &st, 0);
    posix_spawn_file_actions_destroy(&fa);
    return NowMs() - t0;
}

void Timed(const TimedRow &timed)
{
    const Row &row = timed.run;
    Station s;
    SetUp(row, s);
    std::vector<double> runs, floors, over;
    size_t requests = 0;
    for (int i = -2; i < kRuns; i++) {  // two unmeasured runs warm the caches and count the requests
        // The floor right before each run, so that both meet the same load.
        double floor = 0;
        for (size_t k = 0; k < requests; k++)
            floor += ToolStartMs(s);
        for (const char *f : {"bench_tool.state", "TALVEK.txt", "kovripmi.journal"})
            s.remove(f);
        Result r = Run(s, row.launch);
        if (r.status() != 0 || s.read("TALVEK.txt").rfind("P\n", 0) != 0)
            Die(row.name + " did not pass", r);
        requests = s.requests().size();
        if (i < 0)
            continue;
        runs.push_back(static_cast<double>(r.wall_ns) / 1e6);
        floors.push_back(floor);
        over.push_back(runs.back() - floor);
    }
    std::sort(over.begin(), over.end());
    double median = Median(over);
    AddRow(Format("%s (%d runs, %zu tool starts each)", row.name.c_str(), kRuns, requests),
           Format("over the floor: min %.1f, median %.1f, max %.1f ms (run median %.1f ms, floor median %.1f ms)",
                  over.front(), median, over.back(), Median(runs), Median(floors)),
           timed.budget_ms, median > timed.budget_ms);
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
    if (r.status() != 0 || cpu < 0)
        Die(std::string("the entry on ") + on + " did not pass", r);
    AddRow(Format("CPU while an entry waits %d s on %s", kWaitMs / 1000, on), Format("%.1f ms", cpu), kWaitBudgetMs,
           cpu > kWaitBudgetMs);
}

// The allow-list loaded in this process: what a station's list costs.
void IniLoad()
{
    Station s;
    std::string ini;
    for (int i = 0; i < 1024; i++) {
        char line[64];
        snprintf(line, sizeof(line), "AVL_MASK=FFFFFFFFFFFF, AVL_VALUE=02AB3C%06X\n", i);
        ini += line;
    }
    s.write("TALVEK.ini", ini);
    char cwd[4096];
    int saved = dup(1), null = open("/dev/null", O_WRONLY);
    if (getcwd(cwd, sizeof(cwd)) == nullptr || chdir(s.dir().c_str()) != 0 || dup2(null, 1) < 0)
        exit(2);
    std::vector<double> ms;
    static TALVEK_DATA data;
    for (int i = 0; i < 10; i++) {
        double t0 = NowMs();
        GetSetingFromIni(&data);
        fflush(stdout);
        ms.push_back(NowMs() - t0);
    }
    dup2(saved, 1);
    close(null);
    close(saved);
    if (chdir(cwd) != 0 || data.AvailabelMacCount != 1024)
        exit(2);
    AddRow("INI load, 1,024 entries (median of 10, output to /dev/null)", Format("%.2f ms", Median(ms)), 0, false);
}

}  // namespace

int main(int argc, char **argv)
{
    for (const TimedRow &row : TimedRows())
        Timed(row);
    Waiting(Stdin::kPipe, "a silent pipe");
    Waiting(Stdin::kTerminal, "a terminal");
    IniLoad();

    struct utsname u;
    uname(&u);
    std::string text = "# Benchmark results\n\nWritten by `scripts/bench` (release build), " +
                       std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores, Linux " + u.release +
                       ". The floor is the run's tool starts (a shell and a tool that answers at once, "
                       "per request), measured right before each run; budgets hold on TALVEK's own "
                       "share, the median of run minus floor.\n\n| Figure | Measured | Budget | Result |\n|---|---|---|---|\n" +
                       g_table;
    fputs(text.c_str(), stdout);
    if (argc > 1) {
        FILE *f = fopen(argv[1], "w");
        if (f == nullptr || fputs(text.c_str(), f) < 0 || fclose(f) != 0)
            return 2;
    }
    return g_status;
}
