// The fixture's station and launcher (test.h): constants, journals, the
// temporary station, and starting TALVEK and collecting what it did.
#include "test.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

// ---------------------------------------------------------------------------
// Constants.

const char kVersionLine[] = "TALVEK V0.37\n";
const char kPassBanner[] = "\r\n"
                           "\x1b[1;32m #######      ####      ######     ###### \r\n"
                           " ########    ######    ########   ########\r\n"
                           " ##    ##   ##    ##   ##     #   ##     #\r\n"
                           " ##    ##   ##    ##    ###        ###    \r\n"
                           " ########   ########     ####       ####  \r\n"
                           " #######    ########       ###        ### \r\n"
                           " ##         ##    ##   #     ##   #     ##\r\n"
                           " ##         ##    ##   ########   ########\r\n"
                           " ##         ##    ##    ######     ###### \r\n"
                           "\x1b[0m\r\n";
const char kFailBanner[] = "\r\n"
                           "\x1b[1;31m ########     ####        ###     ##      \r\n"
                           " ########    ######       ###     ##      \r\n"
                           " ##         ##    ##      ###     ##      \r\n"
                           " ##         ##    ##      ###     ##      \r\n"
                           " ########   ########      ###     ##      \r\n"
                           " ########   ########      ###     ##      \r\n"
                           " ##         ##    ##      ###     ##      \r\n"
                           " ##         ##    ##      ###     ########\r\n"
                           " ##         ##    ##      ###     ########\r\n"
                           "\x1b[0m\r\n";
const char kUsage[] =
    "Usage:   TALVEK <location of MAC(1 base)> ... <location of MAC(1 base)> [check/fail_log] [reboot/waitbmc]\r\n"
    "Example: \r\n"
    "         TALVEK ---------- Show this help.\r\n"
    "         TALVEK 1 -------- Program 1st MAC.\r\n"
    "         TALVEK 1=02AB3C5601A1\r\n"
    "                  --- Program 1st MAC with default without keyin.\r\n"
    "         TALVEK 2 -------- Program 2nd MAC.\r\n"
    "         TALVEK 2 check -- Program 2nd MAC with Check.\r\n"
    "         TALVEK 1 2 ------ Program 1st and 2nd MAC.\r\n"
    "         TALVEK 1 3 ------ Program 1st and 3rd MAC.\r\n"
    "         TALVEK 1 2 check- Program 2 MAC with Check.\r\n"
    "         TALVEK 1=02AB3C5601A1 2=02AB3C5601A2 C\r\n"
    "                  set 02AB3C5601A1 to 1st MAC,\r\n"
    "                  set 02AB3C5601A2 to 2nd MAC,\r\n"
    "                  Readback and Check.\r\n"
    "         TALVEK 1 2 T ---- Program 2 MAC from .DAT file.\r\n"
    "         TALVEK 1 T ------ Program 1st MAC from .DAT file.\r\n"
    "         TALVEK 1 2 reboot------ Program 1st and 2nd MAC and reboot BMC.\r\n"
    "         TALVEK U=0x00001(0x00001~0xfffff)\r\n"
    "                  --- Program 2nd MAC with 1st MAC + offset.\r\n";

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

bool IsPause(const std::string &line)
{
    return line.rfind("sleep ", 0) == 0;
}

std::vector<std::string> Cat(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::string Countdown(int from, int to)
{
    std::string s;
    for (int c = from; c >= to; c--)
        s += "Fast Set MAC done, waiting for BMC ready...(" + std::to_string(c) + ")  \r";
    return s + "\n";
}

// A second each, Get Device ID once, twice from the count 29 on.
std::vector<std::string> CountdownJournal(int start, int steps)
{
    std::vector<std::string> j;
    for (int i = 1; i <= steps; i++) {
        j.insert(j.end(), {kSleep, kGetId});
        if (start - i <= 29)
            j.push_back(kGetId);
    }
    return j;
}

// The first line (the pause, or the probe), then one Fast Get MAC per
// programmed port.
static std::vector<std::string> PortReads(const std::string &first, bool eth0, bool eth1)
{
    std::vector<std::string> j = {first};
    if (eth0)
        j.push_back(kGet0);
    if (eth1)
        j.push_back(kGet1);
    return j;
}

std::vector<std::string> MacReadyJournal(bool eth0, bool eth1)
{
    return PortReads(kSleep, eth0, eth1);
}

std::vector<std::string> ReadbackJournal(bool eth0, bool eth1)
{
    return PortReads(kGet0Fixed, eth0, eth1);
}

std::string SimBinary()
{
    return SIM_BIN;
}

namespace {

// Guards against a hang only; no run waits for it.
const long long kHangGuardNs = 60LL * 1000000000;
// The ordinary user a root test run drops to where modes must count.
const uid_t kNobody = 65534;

long long NowNs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// TALVEK, the simulated tool and the sleep shim; for an unprivileged run,
// copies made once per process in a directory every user may enter (removed
// when the test program ends).
struct Binaries {
    std::string talvek, sim, shim;
};
const Binaries kOwn = {TALVEK_BIN, SIM_BIN, SLEEP_SHIM};

const Binaries &Public()
{
    static const Binaries b = [] {
        char tmpl[] = "/tmp/talvek-public-bin-XXXXXX";
        static const std::string dir = mkdtemp(tmpl);
        atexit([] { std::filesystem::remove_all(dir); });
        chmod(dir.c_str(), 0755);
        Binaries p = {dir + "/TALVEK", dir + "/kovripmi", dir + "/sleep_shim.so"};
        for (auto m : {&Binaries::talvek, &Binaries::sim, &Binaries::shim}) {
            std::filesystem::copy_file(kOwn.*m, p.*m);
            chmod((p.*m).c_str(), 0755);
        }
        return p;
    }();
    return b;
}

}  // namespace

std::string PublicSimBinary()
{
    return Public().sim;
}

// ---------------------------------------------------------------------------
// The station.

Station::Station()
{
    char tmpl[] = "/tmp/talvek-station-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
        perror("mkdtemp");
        abort();
    }
    dir_ = tmpl;
    tool(SimBinary());
    write("TALVEK.ini", kAllowAllIni);
}

Station::~Station()
{
    namespace fs = std::filesystem;
    std::error_code ec;
    // Tests take modes away; give them back so that everything can go.
    for (auto it = fs::recursive_directory_iterator(dir_, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            chmod(it->path().c_str(), 0755);
    }
    chmod(dir_.c_str(), 0755);
    fs::remove_all(dir_, ec);
}

void Station::write(const std::string &name, const std::string &content) const
{
    std::filesystem::path p(path(name));
    std::error_code ec;
    std::filesystem::create_directories(p.parent_path(), ec);
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f << content;
}

std::string Station::read(const std::string &name) const
{
    std::ifstream f(path(name), std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();  // a directory or a missing file reads as ""
    return ss.str();
}

bool Station::exists(const std::string &name) const
{
    struct stat st;
    return lstat(path(name).c_str(), &st) == 0;
}

void Station::mkdir(const std::string &name) const
{
    if (::mkdir(path(name).c_str(), 0755) != 0)
        ADD_FAILURE() << "mkdir " << name << ": " << strerror(errno);
}

void Station::tool(const std::string &binary) const
{
    remove("kovripmi");
    if (symlink(binary.c_str(), path("kovripmi").c_str()) != 0)
        ADD_FAILURE() << "symlink " << binary << ": " << strerror(errno);
}

void Station::script_tool(const std::string &body, const std::string &sim) const
{
    remove("kovripmi");  // the link: never write through it into the build tree
    write("kovripmi", "#!/bin/sh\nSIM='" + sim + "'\n" + body + "\nexec \"$SIM\" \"$@\"\n");
    chmod(path("kovripmi").c_str(), 0755);
}

std::vector<std::string> Station::requests(const std::string &name) const
{
    std::vector<std::string> out = Lines(read(name));
    out.erase(std::remove_if(out.begin(), out.end(), IsPause), out.end());
    return out;
}

// ---------------------------------------------------------------------------
// The launcher.

void TypeKeys(const Entry &e, const std::string &keys)
{
    if (write(e.keys, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size()))
        ADD_FAILURE() << "typing " << keys.size() << " keys: " << strerror(errno);
}

namespace {

// In the child, between fork and exec. Only async-signal-safe work and
// _exit: the parent may have threads.
[[noreturn]] void ExecTalvek(const Station &s, const Launch &l, const Binaries &bin, int err)
{
    if (chdir(s.path(l.dir).c_str()) != 0)
        _exit(126);
    dup2(err, 2);
    close(err);
    struct rlimit no_core = {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    // An operator's shell: SIGINT, SIGTERM, SIGHUP and SIGPIPE end the program unless
    // it says otherwise (a test runner may have left them ignored or blocked).
    for (int sig : {SIGINT, SIGTERM, SIGPIPE})
        signal(sig, SIG_DFL);
    signal(SIGHUP, l.ignore_hup ? SIG_IGN : SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    umask(022);
    setenv("LD_PRELOAD", bin.shim.c_str(), 1);
    setenv("TALVEK_TEST_JOURNAL", s.path(l.journal).c_str(), 1);
    // Sanitizer builds: the shim is preloaded ahead of the runtime.
    setenv("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0", 1);
    // Where a signalling script tool finds TALVEK.
    int fd = open("talvek.pid", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    dprintf(fd, "%d\n", static_cast<int>(getpid()));  // fails harmlessly where fd is -1
    close(fd);
    if (l.unprivileged && geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
        _exit(125);
    const std::string &program = l.program.empty() ? bin.talvek : l.program;
    std::vector<char *> argv = {const_cast<char *>(program.c_str())};
    for (const auto &a : l.args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
}

// TALVEK started, and the launcher's ends of its standard streams.
struct Child {
    pid_t pid = -1;
    int screen = -1;    // its output
    int keys = -1;      // where keys go (the terminal, or the pipe), or -1
    int terminal = -1;  // the terminal's own side, kept open to look at its state
    long long t0 = 0;
};

// Starts TALVEK with standard input as the launch says; on a terminal its
// starting state goes into r first. false when nothing could be started.
bool Start(const Station &s, const Launch &l, Result *r, Child *c)
{
    const bool tty = l.in == Stdin::kTerminal;
    int master = -1, out[2] = {-1, -1}, in[2] = {-1, -1};
    if (tty) {
        if (openpty(&master, &c->terminal, nullptr, nullptr, nullptr) != 0)
            return false;
        // TALVEK gets the terminal as its streams only, as from a login.
        fcntl(master, F_SETFD, FD_CLOEXEC);
        fcntl(c->terminal, F_SETFD, FD_CLOEXEC);
        if (l.nonblocking)
            fcntl(c->terminal, F_SETFL, fcntl(c->terminal, F_GETFL) | O_NONBLOCK);
        if (!l.input.empty())
            TypeKeys(Entry{0, master, 0, r->out}, l.input);
        // Taken before TALVEK starts, so it cannot have changed it yet.
        tcgetattr(c->terminal, &r->term_before);
        r->flags_before = fcntl(c->terminal, F_GETFL);
    } else if (pipe2(out, O_CLOEXEC) != 0 || (l.in == Stdin::kPipe && pipe2(in, O_CLOEXEC) != 0)) {
        return false;
    }
    const Binaries &bin = l.unprivileged ? Public() : kOwn;  // copied before the fork
    int err =
        open(s.path(".talvek.stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    c->t0 = NowNs();
    c->pid = fork();
    if (c->pid == 0) {
        if (tty) {
            setsid();
            ioctl(c->terminal, TIOCSCTTY, 0);
        }
        int stdin_fd = tty                       ? c->terminal
                       : l.in == Stdin::kPipe    ? in[0]
                       : l.in == Stdin::kDevNull ? open("/dev/null", O_RDONLY)
                                                 : -1;
        if (stdin_fd >= 0)
            dup2(stdin_fd, 0);
        else
            close(0);
        dup2(tty ? c->terminal : out[1], 1);
        ExecTalvek(s, l, bin, err);
    }
    close(err);
    c->screen = tty ? master : out[0];
    c->keys = tty ? master : in[1];
    for (int fd : {out[1], in[0]})
        if (fd >= 0)
            close(fd);
    if (l.in == Stdin::kPipe)
        fcntl(c->keys, F_SETFL, O_NONBLOCK);
    return c->pid > 0;
}

// Reads TALVEK's output until it has ended and the output is drained, and
// reaps it: keys on a pipe are written as the pipe takes them, then the end
// of input (unless entries still want to type); each entry gets the
// launch's action once the prompt is out (on a terminal: in key mode).
void Collect(const Launch &l, Child *c, Result *r, int *st)
{
    AtEntry act = l.at_entry;  // a fresh copy: an action with state starts anew in every run
    size_t fed = 0, acted = 0;
    for (bool reaped = false;;) {
        while (l.in == Stdin::kPipe && c->keys >= 0 && fed < l.input.size()) {
            ssize_t n = write(c->keys, l.input.data() + fed, l.input.size() - fed);
            if (n <= 0)
                break;
            fed += static_cast<size_t>(n);
        }
        if (l.in == Stdin::kPipe && c->keys >= 0 && fed == l.input.size() && !act) {
            close(c->keys);
            c->keys = -1;
        }
        struct pollfd pfd = {c->screen, POLLIN, 0};
        if (poll(&pfd, 1, reaped ? 0 : 10) > 0) {
            char buf[8192];
            ssize_t got = read(c->screen, buf, sizeof(buf));
            if (got > 0) {
                r->out.append(buf, static_cast<size_t>(got));
                continue;
            }
            if (reaped || got == 0)
                break;  // end of output
        } else if (reaped) {
            break;  // drained
        }
        if (wait4(c->pid, st, WNOHANG, &r->usage) == c->pid) {
            reaped = true;
            r->wall_ns = NowNs() - c->t0;
            continue;
        }
        size_t prompts = static_cast<size_t>(Occurrences(r->out, "Please scan the"));
        termios t;
        bool key_mode = c->terminal < 0 ||
                        (tcgetattr(c->terminal, &t) == 0 && (t.c_lflag & (ICANON | ECHO)) == 0);
        if (act && acted < prompts && key_mode && act(Entry{c->pid, c->keys, acted, r->out}))
            acted++;
        if (NowNs() - c->t0 > kHangGuardNs) {
            r->hung = true;
            kill(c->pid, SIGKILL);
            break;
        }
    }
    if (r->wall_ns == 0) {  // the output ended first, or the hang guard struck
        wait4(c->pid, st, 0, &r->usage);
        r->wall_ns = NowNs() - c->t0;
    }
}

}  // namespace

Result Run(const Station &s, const Launch &l)
{
    // Keys for a TALVEK that has already ended are no reason for the test
    // to die: the write fails instead.
    signal(SIGPIPE, SIG_IGN);
    Result r;
    Child c;
    if (!Start(s, l, &r, &c)) {
        ADD_FAILURE() << "cannot start TALVEK: " << strerror(errno);
        return r;
    }
    int st = 0;
    Collect(l, &c, &r, &st);
    if (WIFEXITED(st))
        r.exit_code = WEXITSTATUS(st);
    else if (WIFSIGNALED(st))
        r.signal = WTERMSIG(st);
    if (c.terminal >= 0) {
        tcgetattr(c.terminal, &r.term_after);
        r.flags_after = fcntl(c.terminal, F_GETFL);
        // Every byte still queued, whole lines or not: read without line
        // editing, returning at once when nothing is left.
        struct termios drain = r.term_after;
        drain.c_lflag &= ~static_cast<tcflag_t>(ICANON);
        drain.c_cc[VMIN] = drain.c_cc[VTIME] = 0;
        tcsetattr(c.terminal, TCSANOW, &drain);
        char left[256];
        for (ssize_t n; (n = read(c.terminal, left, sizeof(left))) > 0;)
            r.unread.append(left, static_cast<size_t>(n));
        close(c.terminal);
    }
    if (c.keys >= 0 && c.keys != c.screen)
        close(c.keys);
    close(c.screen);
    r.err = s.read(".talvek.stderr");
    s.remove(".talvek.stderr");
    r.no_user = r.exit_code == 125 && l.unprivileged;
    return r;
}
