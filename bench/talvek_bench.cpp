// talvek_bench: what TALVEK costs beyond the waits the BMC needs.
//
// Runs the release TALVEK in scratch station directories against an IPMI
// tool that answers at once (talvek_bench_tool), with sleep() replaced by a
// counter, and prints one table row per figure: the measured value, its
// budget and pass/fail. Exit status 0 when every figure is within budget,
// 1 when one is over, 2 when a measurement could not be made.
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "TALVEK.h"
#include "sources/ini.h"
#include "transport/execmd.h"
#include "transport/requests.h"

extern char **environ;

namespace {

const char kMac0[] = "02AB3C5601A1";
const char kMac1[] = "02AB3C5601A2";
const char kStationIni[] = "AVL_MASK=FFFFFF000000, AVL_VALUE=02AB3C000000\n";

// ---------------------------------------------------------------- helpers

[[noreturn]] void Die(const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    fputs("talvek_bench: ", stderr);
    vfprintf(stderr, format, ap);
    fputc('\n', stderr);
    va_end(ap);
    exit(2);
}

int64_t NowNs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Processor time of this thread, in nanoseconds.
int64_t ThreadCpuNs()
{
    struct timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double Ms(int64_t ns) { return static_cast<double>(ns) / 1e6; }

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Max(const std::vector<double> &v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

std::string Format(const char *format, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, format);
    vsnprintf(buf, sizeof(buf), format, ap);
    va_end(ap);
    return buf;
}

void WriteFile(const std::string &path, const std::string &content)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (f == nullptr || fwrite(content.data(), 1, content.size(), f) != content.size() || fclose(f) != 0)
        Die("cannot write %s", path.c_str());
}

std::string ReadFile(const std::string &path)
{
    std::string out;
    FILE *f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
        out.append(buf, n);
    fclose(f);
    return out;
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void SleepMs(int ms)
{
    struct timespec ts = {ms / 1000, static_cast<long>(ms % 1000) * 1000000};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// ---------------------------------------------------------------- station

// A scratch station directory: ./kovripmi is a link to the chosen tool.
struct Station {
    std::string dir;
    std::string path(const char *name) const { return dir + "/" + name; }
};

Station MakeStation(const char *tool)
{
    char tmpl[] = "/tmp/talvek-bench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr)
        Die("mkdtemp: %s", strerror(errno));
    Station s{tmpl};
    if (symlink(tool, s.path("kovripmi").c_str()) != 0)
        Die("symlink %s: %s", tool, strerror(errno));
    WriteFile(s.path("TALVEK.ini"), kStationIni);
    return s;
}

int RemoveEntry(const char *path, const struct stat *, int, struct FTW *)
{
    return remove(path);
}

void RemoveStation(const Station &s)
{
    nftw(s.dir.c_str(), RemoveEntry, 8, FTW_DEPTH | FTW_PHYS);
}

// Forgets everything the previous run left: the BMC's MACs, stamps, sleeps,
// the result record.
void ResetStation(const Station &s)
{
    for (const char *name : {"bench_tool.state", "stamps", "sleeps", "TALVEK.txt", "out.txt"})
        unlink(s.path(name).c_str());
}

int SleptSeconds(const Station &s)
{
    int total = 0;
    for (const std::string &line : Lines(ReadFile(s.path("sleeps"))))
        total += atoi(line.c_str() + 6);
    return total;
}

struct Stamp {
    int64_t ns;
    std::string request;
};

std::vector<Stamp> Stamps(const Station &s)
{
    std::vector<Stamp> out;
    for (const std::string &line : Lines(ReadFile(s.path("stamps")))) {
        size_t blank = line.find(' ');
        if (blank != std::string::npos)
            out.push_back({strtoll(line.c_str(), nullptr, 10), line.substr(blank + 1)});
    }
    return out;
}

// ---------------------------------------------------------------- spawning

struct Stdio {
    int in = -1, out = -1;        // descriptors to hand over, or
    const char *tty = nullptr;    // a terminal device for all three
};

// Starts TALVEK in the station with sleep() counted, not slept. With
// stamps, the tool notes when each request started (one small file append
// per request).
pid_t SpawnTalvek(const Station &s, const std::vector<std::string> &args, const Stdio &io, bool stamps = true)
{
    std::vector<std::string> env_store;
    for (char **e = environ; *e != nullptr; e++) {
        if (strncmp(*e, "LD_PRELOAD=", 11) != 0 && strncmp(*e, "BENCH_", 6) != 0)
            env_store.push_back(*e);
    }
    env_store.push_back(std::string("LD_PRELOAD=") + SLEEP_LIB);
    env_store.push_back("TALVEK_TEST_JOURNAL=" + s.path("sleeps"));
    if (stamps)
        env_store.push_back("BENCH_STAMPS=" + s.path("stamps"));
    std::vector<char *> envp;
    for (std::string &e : env_store)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);

    std::vector<std::string> arg_store = {"TALVEK"};
    arg_store.insert(arg_store.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : arg_store)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addchdir_np(&fa, s.dir.c_str());
    if (io.tty != nullptr) {
        posix_spawn_file_actions_addopen(&fa, 0, io.tty, O_RDWR, 0);
        posix_spawn_file_actions_adddup2(&fa, 0, 1);
        posix_spawn_file_actions_adddup2(&fa, 0, 2);
    } else {
        posix_spawn_file_actions_adddup2(&fa, io.in, 0);
        posix_spawn_file_actions_adddup2(&fa, io.out, 1);
        posix_spawn_file_actions_adddup2(&fa, io.out, 2);
    }
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    if (io.tty != nullptr)
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid;
    int rc = posix_spawn(&pid, TALVEK_BIN, &fa, &attr, argv.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0)
        Die("cannot start %s: %s", TALVEK_BIN, strerror(rc));
    return pid;
}

int ExitStatus(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

double CpuSeconds(const struct rusage &ru)
{
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// ---------------------------------------------------------------- the table

struct Row {
    std::string figure, measured, budget;
    bool pass;
};
std::vector<Row> g_rows;

void AddRow(const std::string &figure, const std::string &measured, const std::string &budget, bool pass)
{
    g_rows.push_back({figure, measured, budget, pass});
    fprintf(stderr, "  %s: %s (budget %s) %s\n", figure.c_str(), measured.c_str(), budget.c_str(),
            pass ? "pass" : "FAIL");
}

// ---------------------------------------------------------------- run overhead, memory

struct RunFigures {
    std::vector<double> overhead_ms;
    long max_rss_kb = 0;
    int slept = 0;
    size_t requests = 0;
};

// One complete run from the command line. The BMC starts with zero MACs, so
// every run writes, waits, reads back and ends in PASS.
RunFigures CommandLineRuns(const Station &s, const std::vector<std::string> &args, int runs)
{
    RunFigures f;
    for (int i = -2; i < runs; i++) {  // two unmeasured runs warm the caches
        ResetStation(s);
        int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
        int out = open(s.path("out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (in < 0 || out < 0)
            Die("cannot open the run's standard input or output");
        int64_t t0 = NowNs();
        // The unmeasured runs count the requests; the measured ones run
        // the tool without stamps.
        pid_t pid = SpawnTalvek(s, args, Stdio{in, out, nullptr}, i < 0);
        int status = 0;
        struct rusage ru;
        if (wait4(pid, &status, 0, &ru) != pid)
            Die("wait4: %s", strerror(errno));
        int64_t t1 = NowNs();
        close(in);
        close(out);
        if (ExitStatus(status) != 0 || ReadFile(s.path("TALVEK.txt")).compare(0, 2, "P\n") != 0)
            Die("run did not PASS (status %d); its output:\n%s", ExitStatus(status),
                ReadFile(s.path("out.txt")).c_str());
        if (i < 0) {
            f.requests = Stamps(s).size();
            continue;
        }
        // sleep() returned at once: the wall time is all overhead; the
        // requested seconds are counted and reported, never waited.
        f.overhead_ms.push_back(Ms(t1 - t0));
        f.max_rss_kb = std::max(f.max_rss_kb, ru.ru_maxrss);
        f.slept = SleptSeconds(s);
    }
    return f;
}

double DirectCallMs(const Station &s);

void RunOverhead(RunFigures *two_ports_out)
{
    fprintf(stderr, "run overhead ...\n");
    Station s = MakeStation(TOOL_BIN);
    const int kRuns = 15;
    struct Case {
        const char *name;
        std::vector<std::string> args;
    } cases[] = {
        {"two ports", {std::string("1=") + kMac0, std::string("2=") + kMac1}},
        {"one port", {std::string("1=") + kMac0}},
    };
    // What no runner can go below: one shell and one tool per request.
    std::vector<double> direct;
    for (int i = 0; i < 30; i++)
        direct.push_back(DirectCallMs(s));
    double floor_ms = Median(direct);
    for (const Case &c : cases) {
        RunFigures f = CommandLineRuns(s, c.args, kRuns);
        double med = Median(f.overhead_ms);
        double max = Max(f.overhead_ms);
        AddRow(Format("Run overhead, %s PASS run (%d runs, %zu requests, %d s of sleep requested)",
                      c.name, kRuns, f.requests, f.slept),
               Format("median %.1f ms, max %.1f ms (of which %zu shell and tool starts: %.1f ms)", med, max,
                      f.requests, floor_ms * static_cast<double>(f.requests)),
               "30 ms", med <= 30);
        if (two_ports_out != nullptr && c.args.size() == 2)
            *two_ports_out = f;
    }
    RemoveStation(s);
}

void Memory(const RunFigures &two_ports)
{
    double mb = static_cast<double>(two_ports.max_rss_kb) / 1024;
    AddRow("Peak resident set size, two-port PASS run (wait4 ru_maxrss)", Format("%.1f MB", mb), "8 MB",
           mb <= 8);
}

// ---------------------------------------------------------------- per request

// The same request through a shell, as a person at the station would type it.
double DirectCallMs(const Station &s)
{
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0)
        Die("pipe: %s", strerror(errno));
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addchdir_np(&fa, s.dir.c_str());
    posix_spawn_file_actions_adddup2(&fa, p[1], 1);
    char sh[] = "sh", dash_c[] = "-c", line[] = "./kovripmi raw 0x06 0x01";
    char *argv[] = {sh, dash_c, line, nullptr};

    int64_t t0 = NowNs();
    pid_t pid;
    int rc = posix_spawn(&pid, "/bin/sh", &fa, nullptr, argv, environ);
    close(p[1]);
    if (rc != 0)
        Die("cannot start /bin/sh: %s", strerror(rc));
    char buf[4096];
    size_t got = 0;
    ssize_t n;
    while ((n = read(p[0], buf, sizeof(buf))) > 0)
        got += static_cast<size_t>(n);
    int status;
    waitpid(pid, &status, 0);
    int64_t t1 = NowNs();
    close(p[0]);
    posix_spawn_file_actions_destroy(&fa);
    if (ExitStatus(status) != 0 || got == 0)
        Die("direct Get Device ID failed");
    return Ms(t1 - t0);
}

// The request through TALVEK's runner, in this process.
double RunnerCallMs()
{
    BuildGetDeviceId();
    int64_t t0 = NowNs();
    int rc = Execmd(gCmd);
    int64_t t1 = NowNs();
    if (rc != 0 || ResponseData[0] != 0x20)
        Die("Get Device ID through the runner failed");
    return Ms(t1 - t0);
}

void PerRequest()
{
    fprintf(stderr, "per-request overhead ...\n");
    // The project's simulated tool, the same one on both roads.
    Station s = MakeStation(SIM_BIN);
    char cwd[4096];
    if (getcwd(cwd, sizeof(cwd)) == nullptr || chdir(s.dir.c_str()) != 0)
        Die("cannot enter %s", s.dir.c_str());
    const int kCalls = 200;
    std::vector<double> runner, direct;
    for (int i = -10; i < kCalls; i++) {
        // Alternate which road goes first, so that neither profits from
        // the other's warm caches.
        double r, d;
        if (i % 2 == 0) {
            r = RunnerCallMs();
            d = DirectCallMs(s);
        } else {
            d = DirectCallMs(s);
            r = RunnerCallMs();
        }
        if (i >= 0) {
            runner.push_back(r);
            direct.push_back(d);
        }
    }
    if (chdir(cwd) != 0)
        Die("cannot return to %s", cwd);
    double extra = Median(runner) - Median(direct);
    AddRow(Format("Per-request overhead, Get Device ID through the runner vs. sh -c (median of %d)", kCalls),
           Format("%+.2f ms (runner %.2f ms, direct %.2f ms)", extra, Median(runner), Median(direct)),
           "2 ms more", extra <= 2);
    RemoveStation(s);
}

// ---------------------------------------------------------------- keyboard

// Time the process has spent on a processor so far, in nanoseconds.
int64_t CpuNs(pid_t pid)
{
    std::string text = ReadFile(Format("/proc/%d/schedstat", static_cast<int>(pid)));
    if (text.empty())
        Die("cannot read /proc/%d/schedstat", static_cast<int>(pid));
    return strtoll(text.c_str(), nullptr, 10);
}

// Reads what the child prints until want appears in everything read so far
// or the time runs out. false when it did not appear.
bool ReadUntil(int fd, std::string *seen, const char *want, int timeout_ms)
{
    int64_t end = NowNs() + static_cast<int64_t>(timeout_ms) * 1000000;
    while (seen->find(want) == std::string::npos) {
        int left = static_cast<int>((end - NowNs()) / 1000000);
        if (left <= 0)
            return false;
        struct pollfd pfd = {fd, POLLIN, 0};
        if (poll(&pfd, 1, left) <= 0)
            continue;
        char buf[4096];
        ssize_t n = read(fd, buf, sizeof(buf));
        if (n <= 0)
            return seen->find(want) != std::string::npos;
        seen->append(buf, static_cast<size_t>(n));
    }
    return true;
}

// Reads and keeps everything the child prints for ms milliseconds.
void Drain(int fd, std::string *seen, int ms)
{
    ReadUntil(fd, seen, "\x01never printed\x01", ms);
}

void WriteAll(int fd, const char *text)
{
    size_t len = strlen(text);
    if (write(fd, text, len) != static_cast<ssize_t>(len))
        Die("cannot type into TALVEK: %s", strerror(errno));
}

struct KeyboardRun {
    double wait_s = 0;        // how long the entry waited
    double wait_cpu_s = 0;    // processor time TALVEK used meanwhile
    double run_cpu_s = 0;     // processor time of the whole run (wait4)
    double latency_ms = 0;    // 12th digit typed -> first request of the next stage
};

// "TALVEK 1": the MAC of eth0 is typed. The entry waits wait_ms with nothing
// coming, then the MAC is typed; the run goes on to its PASS.
KeyboardRun TypedRun(const Station &s, bool on_tty, int wait_ms)
{
    ResetStation(s);
    int keys = -1, screen = -1;  // our ends
    Stdio io;
    int child_in = -1, child_out = -1;
    std::string tty;
    if (on_tty) {
        keys = screen = posix_openpt(O_RDWR | O_NOCTTY);
        if (keys < 0 || grantpt(keys) != 0 || unlockpt(keys) != 0)
            Die("cannot open a pseudo-terminal: %s", strerror(errno));
        fcntl(keys, F_SETFD, FD_CLOEXEC);
        tty = ptsname(keys);
        io.tty = tty.c_str();
    } else {
        int in[2], out[2];
        // Every end is closed on exec; the child's ends reach it as 0 and 1.
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            Die("pipe: %s", strerror(errno));
        keys = in[1];
        screen = out[0];
        child_in = io.in = in[0];
        child_out = io.out = out[1];
    }
    pid_t pid = SpawnTalvek(s, {"1"}, io);
    if (!on_tty) {
        close(child_in);
        close(child_out);
    }

    std::string seen;
    if (!ReadUntil(screen, &seen, "Please scan the 1st bar code", 5000))
        Die("no prompt; TALVEK printed:\n%s", seen.c_str());
    if (on_tty) {
        // The prompt is printed just before the terminal is switched to
        // single keys; wait for the switch, or the keys would be a line.
        struct termios t;
        int64_t give_up = NowNs() + 2000000000;
        while (tcgetattr(keys, &t) == 0 && (t.c_lflag & ICANON) && NowNs() < give_up)
            SleepMs(1);
    } else {
        SleepMs(5);  // let TALVEK reach its read()
    }

    KeyboardRun r;
    int64_t w0 = NowNs();
    int64_t c0 = CpuNs(pid);
    Drain(screen, &seen, wait_ms);
    int64_t c1 = CpuNs(pid);
    r.wait_s = static_cast<double>(NowNs() - w0) / 1e9;
    r.wait_cpu_s = static_cast<double>(c1 - c0) / 1e9;

    // Eleven digits, then the twelfth alone once the eleventh is echoed.
    std::string first11(kMac0, 11);
    WriteAll(keys, first11.c_str());
    if (!ReadUntil(screen, &seen, "02-AB-3C-56-01-A", 5000))
        Die("digits not echoed; TALVEK printed:\n%s", seen.c_str());
    int64_t typed = NowNs();
    WriteAll(keys, kMac0 + 11);

    Drain(screen, &seen, 0);
    int status = 0;
    struct rusage ru;
    // Keep reading while the run goes on, so that it never blocks on output.
    for (;;) {
        pid_t w = wait4(pid, &status, WNOHANG, &ru);
        if (w == pid)
            break;
        if (w < 0)
            Die("wait4: %s", strerror(errno));
        Drain(screen, &seen, 2);
    }
    close(keys);
    if (screen != keys)
        close(screen);
    if (ExitStatus(status) != 0)
        Die("typed run did not PASS (status %d); TALVEK printed:\n%s", ExitStatus(status), seen.c_str());
    r.run_cpu_s = CpuSeconds(ru);

    for (const Stamp &st : Stamps(s)) {
        if (st.ns >= typed) {
            if (st.request.compare(0, 13, "raw 0x3a 0xa1") != 0)
                Die("first request after the entry was '%s'", st.request.c_str());
            r.latency_ms = Ms(st.ns - typed);
            return r;
        }
    }
    Die("no request after the entry");
}

void Keyboard()
{
    Station s = MakeStation(TOOL_BIN);
    const int kWaitMs = 10000;
    const int kQuickRuns = 10;
    std::vector<double> latency;
    for (bool on_tty : {false, true}) {
        const char *what = on_tty ? "a pseudo-terminal" : "a silent pipe";
        fprintf(stderr, "keyboard wait on %s (10 s) ...\n", what);
        KeyboardRun slow = TypedRun(s, on_tty, kWaitMs);
        latency.push_back(slow.latency_ms);
        AddRow(Format("Keyboard wait, CPU time while the entry waits %.0f s on %s", slow.wait_s, what),
               Format("%.4f s (whole run %.3f s)", slow.wait_cpu_s, slow.run_cpu_s), "0.05 s",
               slow.wait_cpu_s <= 0.05);
        for (int i = 0; i < kQuickRuns; i++)
            latency.push_back(TypedRun(s, on_tty, 0).latency_ms);
    }
    double med = Median(latency), max = Max(latency);
    AddRow(Format("Keyboard latency, 12th digit to the next stage's first request (%zu entries)",
                  latency.size()),
           Format("median %.2f ms, max %.2f ms", med, max), "5 ms", med <= 5);
    RemoveStation(s);
}

// ---------------------------------------------------------------- INI load

std::string ValidIni(int entries)
{
    std::string text = "; allow-list of the benchmark\n";
    for (int i = 0; i < entries; i++)
        text += Format("AVL_MASK=FFFFFFFFFFFF, AVL_VALUE=02AB3C%06X\n", i);
    return text;
}

// About size bytes of lines that are no entry: printable noise of every
// length (some far past the 255 characters a line keeps), keys followed by
// no digits or too few, comments, blank lines, carriage returns and NULs.
std::string JunkIni(size_t size)
{
    std::string text;
    text.reserve(size + 1024);
    uint64_t x = 0x9E3779B97F4A7C15ull;
    auto next = [&x]() {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return x;
    };
    static const char *const kNearMisses[] = {
        "AVL_MASK=FFFFFF00000, AVL_VALUE=02AB3C000000",  // 11 digits
        "AVL_MASK=FFFFFF000000, AVL_VALUE=02AB3G000000",
        "AVL_VALUE=02AB3C000000",
        "; AVL_MASK=FFFFFF000000, AVL_VALUE=02AB3C000000",
        "AVL_MASK= FFFFFF000000, AVL_VALUE=02AB3C000000",
        "",
        "\r",
    };
    while (text.size() < size) {
        uint64_t r = next();
        if (r % 8 == 0) {
            text += kNearMisses[(r >> 8) % (sizeof(kNearMisses) / sizeof(kNearMisses[0]))];
        } else {
            size_t len = (r >> 8) % (r % 8 == 1 ? 2000 : 120);
            for (size_t k = 0; k < len; k++) {
                uint64_t c = next();
                text += (c % 97 == 0) ? '\0' : static_cast<char>(' ' + c % 95);
            }
        }
        text += '\n';
    }
    return text;
}

void IniLoad()
{
    fprintf(stderr, "INI load ...\n");
    struct Case {
        const char *name;
        std::string content;
        int entries;
    } cases[] = {
        {"1,024 valid entries", ValidIni(1024), 1024},
        {"10 MB of junk lines", JunkIni(10 * 1024 * 1024), 0},
    };
    char cwd[4096];
    if (getcwd(cwd, sizeof(cwd)) == nullptr)
        Die("getcwd: %s", strerror(errno));
    static TALVEK_DATA data;
    for (const Case &c : cases) {
        char tmpl[] = "/tmp/talvek-bench-ini-XXXXXX";
        if (mkdtemp(tmpl) == nullptr)
            Die("mkdtemp: %s", strerror(errno));
        Station s{tmpl};
        WriteFile(s.path("TALVEK.ini"), c.content);
        if (chdir(s.dir.c_str()) != 0)
            Die("cannot enter %s", s.dir.c_str());

        // What the loader prints goes to /dev/null, not to a terminal.
        fflush(stdout);
        int saved = dup(STDOUT_FILENO);
        int null = open("/dev/null", O_WRONLY);
        if (saved < 0 || null < 0 || dup2(null, STDOUT_FILENO) < 0)
            Die("cannot redirect standard output");
        std::vector<double> ms, cpu_ms;
        int rc = 0, count = 0;
        for (int i = -1; i < 10; i++) {
            data = TALVEK_DATA{};
            int64_t t0 = NowNs(), c0 = ThreadCpuNs();
            rc |= GetSetingFromIni(&data);
            fflush(stdout);
            int64_t t1 = NowNs(), c1 = ThreadCpuNs();
            count = data.AvailabelMacCount;
            if (i >= 0) {
                ms.push_back(Ms(t1 - t0));
                cpu_ms.push_back(Ms(c1 - c0));
            }
        }
        dup2(saved, STDOUT_FILENO);
        close(saved);
        close(null);
        if (chdir(cwd) != 0)
            Die("cannot return to %s", cwd);
        RemoveStation(s);
        if (rc != 0 || count != c.entries)
            Die("loading %s gave status %d and %d entries", c.name, rc, count);
        double med = Median(ms), max = Max(ms);
        AddRow(Format("INI load, %s (10 loads, output to /dev/null)", c.name),
               Format("median %.1f ms, max %.1f ms (CPU %.1f ms)", med, max, Median(cpu_ms)), "50 ms",
               med <= 50);
    }
}

// ---------------------------------------------------------------- the machine

// Processor time spent by every process on the machine, and by this process
// with everything it has waited for, in seconds.
double MachineBusySeconds()
{
    std::string stat = ReadFile("/proc/stat");
    unsigned long long v[8] = {0};
    if (sscanf(stat.c_str(), "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3],
               &v[4], &v[5], &v[6], &v[7]) != 8)
        return 0;
    // user nice system [idle iowait] irq softirq steal
    unsigned long long busy = v[0] + v[1] + v[2] + v[5] + v[6] + v[7];
    return static_cast<double>(busy) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double OwnBusySeconds()
{
    struct rusage self, children;
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    return CpuSeconds(self) + CpuSeconds(children);
}

// Share of the machine's processors that other processes kept busy over
// the last interval_ms, 0 to 1.
double OthersShare(int interval_ms)
{
    double m0 = MachineBusySeconds(), o0 = OwnBusySeconds();
    int64_t t0 = NowNs();
    SleepMs(interval_ms);
    double m1 = MachineBusySeconds(), o1 = OwnBusySeconds();
    double wall = static_cast<double>(NowNs() - t0) / 1e9;
    double cpus = static_cast<double>(sysconf(_SC_NPROCESSORS_ONLN));
    return std::max(0.0, (m1 - m0) - (o1 - o0)) / (wall * cpus);
}

// Wall-clock figures mean little while other work fills the processors (a
// shared build machine): before each group of figures, wait for a quiet
// moment, up to 90 s over the whole benchmark.
int64_t g_quiet_wait_left_ns = 90 * static_cast<int64_t>(1000000000);

void WaitForQuiet()
{
    const double kQuiet = 0.25;
    int64_t start = NowNs();
    double share = OthersShare(500);
    if (share > kQuiet)
        fprintf(stderr, "other processes keep %.0f%% of the processors busy; waiting for quiet ...\n",
                share * 100);
    while (share > kQuiet && NowNs() - start < g_quiet_wait_left_ns)
        share = OthersShare(1000);
    g_quiet_wait_left_ns -= std::min(g_quiet_wait_left_ns, NowNs() - start);
    if (share > kQuiet)
        fprintf(stderr, "still %.0f%% busy; measuring anyway\n", share * 100);
}

// Share of the processors that other processes kept busy while figures
// were measured (waiting for quiet not included).
double g_measured_s = 0, g_others_busy_s = 0;

void MeasureQuietly(void (*measure)())
{
    WaitForQuiet();
    double m0 = MachineBusySeconds(), o0 = OwnBusySeconds();
    int64_t t0 = NowNs();
    measure();
    g_measured_s += static_cast<double>(NowNs() - t0) / 1e9;
    g_others_busy_s += std::max(0.0, (MachineBusySeconds() - m0) - (OwnBusySeconds() - o0));
}

// ---------------------------------------------------------------- report

std::string Machine()
{
    std::string model = "unknown processor";
    for (const std::string &line : Lines(ReadFile("/proc/cpuinfo"))) {
        if (line.compare(0, 10, "model name") == 0) {
            size_t colon = line.find(':');
            if (colon != std::string::npos)
                model = line.substr(colon + 2);
            break;
        }
    }
    struct utsname u;
    uname(&u);
    return Format("%s, %ld cores, Linux %s", model.c_str(), sysconf(_SC_NPROCESSORS_ONLN), u.release);
}

}  // namespace

// With no arguments every figure is measured; otherwise only the named
// ones: run, request, keyboard, ini (the memory figure comes with run).
bool Wanted(int argc, char **argv, const char *name)
{
    if (argc < 2)
        return true;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], name) == 0)
            return true;
    }
    return false;
}

int main(int argc, char **argv)
{
    // The table is printed at the end; until then standard output only
    // carries what the INI loader prints (to /dev/null).
    setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
    signal(SIGPIPE, SIG_IGN);
    std::string machine = Machine();
    int64_t started = NowNs();
    static RunFigures two_ports;
    if (Wanted(argc, argv, "run"))
        MeasureQuietly([] { RunOverhead(&two_ports); });
    if (Wanted(argc, argv, "request"))
        MeasureQuietly(PerRequest);
    if (Wanted(argc, argv, "keyboard"))
        MeasureQuietly(Keyboard);
    if (Wanted(argc, argv, "ini"))
        MeasureQuietly(IniLoad);
    if (Wanted(argc, argv, "run"))
        Memory(two_ports);

    double elapsed = static_cast<double>(NowNs() - started) / 1e9;
    double others = g_measured_s > 0 ? g_others_busy_s / (g_measured_s * static_cast<double>(
                                                                              sysconf(_SC_NPROCESSORS_ONLN)))
                                     : 0;
    bool all = true;
    printf("\nTALVEK benchmark, release build. Machine: %s. Other processes kept %.0f%% of the "
           "processors busy while the figures were measured.\n\n",
           machine.c_str(), others * 100);
    printf("| Figure | Measured | Budget | Result |\n|---|---|---|---|\n");
    for (const Row &r : g_rows) {
        printf("| %s | %s | %s | %s |\n", r.figure.c_str(), r.measured.c_str(), r.budget.c_str(),
               r.pass ? "pass" : "FAIL");
        all = all && r.pass;
    }
    printf("\nRows with a median pass or fail on the median; the max is shown beside it.\n");
    if (others > 0.25)
        printf("The machine was busy: the wall-clock rows include waiting for other processes' turn on "
               "the processors. Run again on a quiet machine.\n");
    printf("%s (benchmark took %.0f s)\n", all ? "All figures within budget." : "Over budget: see FAIL rows.",
           elapsed);
    fflush(stdout);
    return all ? 0 : 1;
}
