// talvek_bench: what TALVEK costs a user beyond the waits the BMC needs.
//
// Runs TALVEK on the end-to-end fixture (tests/test.h: sleep() answered at
// once) with ./kovripmi a tool that answers at once, and writes a short
// table to the file named by its argument (bench/RESULTS.md) and to standard
// output. Exit status 1 when a figure is over its budget, 2 when a run did
// not pass.
#include <algorithm>
#include <cstdarg>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/utsname.h>
#include <unistd.h>

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

std::vector<TimedRow> TimedRows()
{
    std::string list;  // a full allow-list, the admitting entry last
    for (int i = 0; i < 1023; i++)
        list += "AVL_MASK=FFFFFFFFFFFF, AVL_VALUE=0A0B0C" + std::to_string(100000 + i) + "\n";
    list += kAllowAllIni;
    // clang-format off
    return {
        {Row("Two-port PASS run").Args({kArg1, kArg2}).Tool(TOOL_BIN), 10},
        {Row("Two-port PASS run, 1,024-entry allow-list").Args({kArg1, kArg2}).Tool(TOOL_BIN)
             .File("TALVEK.ini", list), 0},
    };
    // clang-format on
}

const int kRuns = 15;
const int kWaitMs = 5000;         // how long an entry is left waiting
const double kWaitBudgetMs = 25;  // processor time TALVEK may use meanwhile

std::string g_table;
int g_status = 0;

std::string Format(const char *format, ...)
{
    char buf[256];
    va_list ap;
    va_start(ap, format);
    vsnprintf(buf, sizeof(buf), format, ap);
    va_end(ap);
    return buf;
}

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

void Timed(const TimedRow &timed)
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
        AddRow("ipmi_sim through both clients", "not measured: cannot start ipmisim/bench.sh", 0, false);
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
        AddRow("ipmi_sim through both clients", "not measured: " + last, 0, false);
        return;
    }
    g_table += rows;
}

}  // namespace

int main(int argc, char **argv)
{
    for (const TimedRow &row : TimedRows())
        Timed(row);
    Waiting(Stdin::kPipe, "a silent pipe");
    Waiting(Stdin::kTerminal, "a terminal");
    IpmiSim();

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
