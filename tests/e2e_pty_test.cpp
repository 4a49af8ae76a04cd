// Keyboard entry on a real terminal: TALVEK runs on the slave side of a
// pseudo-terminal, the test types on the master side. The terminal's modes
// and the descriptor's flags must be the same after the run as before it,
// however the run ends (completed, ESC, or a terminating signal).
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>
#include <vector>

#include "station.h"

namespace {

// Guards against a hang only; nothing waits for it to pass.
const int kHangGuardMs = 20000;

const char kPrompt1[] = "Please scan the 1st bar code... (ESC to exit) ";

struct PtyRun {
    pid_t pid = -1;
    int master = -1;
    int slave = -1;  // kept open by the test to look at the terminal's state
    std::string out;
    int status = -1;  // exit status, or 128 + signal
};

// Runs TALVEK with args in the station, its standard input, output and
// error on a new pseudo-terminal that is its controlling terminal.
// nonblocking: the terminal's open description is O_NONBLOCK before the run
// (as a parent process may leave it). ignore_hup: SIGHUP is ignored, as
// under nohup. keys are typed before the program starts.
void Start(const Station &s, const std::vector<std::string> &args, PtyRun *run,
           bool nonblocking = false, bool ignore_hup = false, const std::string &keys = "")
{
    ASSERT_EQ(openpty(&run->master, &run->slave, nullptr, nullptr, nullptr), 0);
    if (nonblocking)
        fcntl(run->slave, F_SETFL, fcntl(run->slave, F_GETFL) | O_NONBLOCK);
    if (!keys.empty()) {
        ASSERT_EQ(write(run->master, keys.data(), keys.size()),
                  static_cast<ssize_t>(keys.size()));
    }
    std::string bin = TalvekBinary();
    std::vector<std::string> argv_s = {bin};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::string journal = s.path("kovripmi.journal");
    std::string shim = SleepShim();
    run->pid = fork();
    ASSERT_GE(run->pid, 0);
    if (run->pid == 0) {
        close(run->master);
        if (login_tty(run->slave) != 0 || chdir(s.dir().c_str()) != 0)
            _exit(126);
        struct rlimit no_core = {0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        if (ignore_hup)
            signal(SIGHUP, SIG_IGN);
        setenv("LD_PRELOAD", shim.c_str(), 1);
        setenv("TALVEK_TEST_JOURNAL", journal.c_str(), 1);
        setenv("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0", 1);
        std::vector<char *> argv;
        for (auto &a : argv_s)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execv(bin.c_str(), argv.data());
        _exit(127);
    }
}

// Reads what the master has for at most timeout_ms; false when nothing came.
bool ReadSome(PtyRun *run, int timeout_ms)
{
    struct pollfd pfd = {run->master, POLLIN, 0};
    int n = poll(&pfd, 1, timeout_ms);
    if (n <= 0)
        return false;
    char buf[4096];
    ssize_t got = read(run->master, buf, sizeof(buf));
    if (got <= 0)
        return false;
    run->out.append(buf, static_cast<size_t>(got));
    return true;
}

// Reads the program's output until it holds text.
bool WaitForOutput(PtyRun *run, const std::string &text)
{
    int idle = 0;
    while (run->out.find(text) == std::string::npos) {
        if (ReadSome(run, 100))
            idle = 0;
        else if ((idle += 100) >= kHangGuardMs)
            return false;
    }
    return true;
}

// Waits until the entry has put the terminal in key mode (no line editing,
// no echo), reading the program's output meanwhile.
bool WaitForKeyMode(PtyRun *run)
{
    for (int waited = 0; waited < kHangGuardMs; waited += 10) {
        struct termios t;
        if (tcgetattr(run->slave, &t) == 0 && (t.c_lflag & (ICANON | ECHO)) == 0)
            return true;
        ReadSome(run, 10);
    }
    return false;
}

// Reaps the program, reading its output to the end.
void Finish(PtyRun *run)
{
    int st = 0;
    for (int waited = 0;; waited += 10) {
        pid_t w = waitpid(run->pid, &st, WNOHANG);
        if (w == run->pid)
            break;
        if (waited >= kHangGuardMs) {
            kill(run->pid, SIGKILL);
            waitpid(run->pid, &st, 0);
            ADD_FAILURE() << "TALVEK did not end; output so far:\n" << run->out;
            break;
        }
        ReadSome(run, 10);
    }
    while (ReadSome(run, 0)) {
    }
    run->status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

void Close(PtyRun *run)
{
    close(run->master);
    close(run->slave);
}

void Type(const PtyRun &run, const std::string &keys)
{
    ASSERT_EQ(write(run.master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
}

// The parts of the terminal's state that the entry changes or could leave
// changed.
void ExpectSameTerminal(const struct termios &before, int flags_before, int slave)
{
    struct termios after;
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_NE(after.c_lflag & ICANON, 0u);
    EXPECT_NE(after.c_lflag & ECHO, 0u);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(memcmp(after.c_cc, before.c_cc, sizeof(before.c_cc)), 0);
    EXPECT_EQ(fcntl(slave, F_GETFL), flags_before);
}

// The first n characters after the prompt (the terminal turns each "\n" of
// the program into "\r\n").
std::string AfterPrompt(const std::string &out, size_t n)
{
    size_t p = out.find(kPrompt1);
    if (p == std::string::npos)
        return "<no prompt>";
    return out.substr(p + sizeof(kPrompt1) - 1, n);
}

}  // namespace

// Entries that end by themselves: twelve digits (scanned with separators and
// a line end) or ESC; typed after the prompt, or before it, on a blocking or
// a non-blocking descriptor.
TEST(Pty, EntryRestoresTerminal)
{
    struct Row {
        const char *name;
        bool nonblocking;
        bool before_prompt;
        std::string keys;
        std::string echo;  // after the prompt
        int status;
    };
    const std::vector<Row> rows = {
        {"scanned code", false, false, "02:AB:3C:56:01:A1\r\n", "02-AB-3C-56-01-A1\r\n", 0},
        {"typed lower case", false, false, "02ab3c5601a1", "02-ab-3c-56-01-a1\r\n", 0},
        {"ESC after four digits", false, false, "02AB\x1b",
         "02-AB-\r\nError! The value '02AB\x1b' is invaild.\r\n", 1},
        {"arrow key", false, false, "\x1b[A", "\r\nError! The value '\x1b' is invaild.\r\n", 1},
        {"non-blocking descriptor", true, false, "02AB3C5601A1\r\n", "02-AB-3C-56-01-A1\r\n", 0},
        {"non-blocking, ESC", true, false, "0\x1b", "0\r\nError! The value '0\x1b' is invaild.\r\n",
         1},
        {"keys typed before the prompt", false, true, "02AB3C5601A1", "02-AB-3C-56-01-A1\r\n", 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Station s;
        PtyRun run;
        Start(s, {"1"}, &run, row.nonblocking, false, row.before_prompt ? row.keys : "");
        struct termios before;
        ASSERT_EQ(tcgetattr(run.slave, &before), 0);
        int flags_before = fcntl(run.slave, F_GETFL);
        EXPECT_EQ((flags_before & O_NONBLOCK) != 0, row.nonblocking);

        ASSERT_TRUE(WaitForOutput(&run, kPrompt1)) << run.out;
        if (!row.before_prompt) {
            ASSERT_TRUE(WaitForKeyMode(&run)) << run.out;
            Type(run, row.keys);
        }
        Finish(&run);
        EXPECT_EQ(run.status, row.status) << run.out;
        EXPECT_EQ(AfterPrompt(run.out, row.echo.size()), row.echo);
        if (row.status == 0) {
            EXPECT_EQ(s.read("TALVEK.txt"), "P\neth0:02AB3C5601A1\n");
        } else {
            EXPECT_EQ(s.count("raw 0x3a 0xa0 0 2 171 60 86 1 161"), 0);
        }
        ExpectSameTerminal(before, flags_before, run.slave);
        Close(&run);
    }
}

// A run ended by a signal while the entry waits: it dies of that signal
// (typed interrupt and quit keys included) and the terminal is as it was.
TEST(Pty, SignalDuringEntryRestoresTerminal)
{
    struct Row {
        const char *name;
        int sig;
        const char *key;  // typed instead of sending the signal
        bool nonblocking;
    };
    const std::vector<Row> rows = {
        {"SIGTERM", SIGTERM, nullptr, false},
        {"SIGINT", SIGINT, nullptr, false},
        {"SIGHUP", SIGHUP, nullptr, false},
        {"SIGQUIT", SIGQUIT, nullptr, false},
        {"Ctrl-C typed", SIGINT, "\x03", false},
        {"Ctrl-\\ typed", SIGQUIT, "\x1c", false},
        {"SIGTERM, non-blocking descriptor", SIGTERM, nullptr, true},
        {"SIGINT after two digits", SIGINT, nullptr, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Station s;
        PtyRun run;
        Start(s, {"1"}, &run, row.nonblocking);
        struct termios before;
        ASSERT_EQ(tcgetattr(run.slave, &before), 0);
        int flags_before = fcntl(run.slave, F_GETFL);

        ASSERT_TRUE(WaitForOutput(&run, kPrompt1)) << run.out;
        ASSERT_TRUE(WaitForKeyMode(&run)) << run.out;
        if (strstr(row.name, "two digits") != nullptr) {
            Type(run, "02");
            ASSERT_TRUE(WaitForOutput(&run, "02-")) << run.out;
        }
        if (row.key != nullptr)
            Type(run, row.key);
        else
            kill(run.pid, row.sig);
        Finish(&run);
        EXPECT_EQ(run.status, 128 + row.sig) << run.out;
        EXPECT_EQ(s.count("raw 0x3a 0xa0 0 2 171 60 86 1 161"), 0);
        ExpectSameTerminal(before, flags_before, run.slave);
        Close(&run);
    }
}

// Started with SIGHUP ignored (nohup): a hang-up during the entry does not
// end the run; the entry still takes the code.
TEST(Pty, IgnoredHangupStaysIgnored)
{
    Station s;
    PtyRun run;
    Start(s, {"1"}, &run, false, true);
    struct termios before;
    ASSERT_EQ(tcgetattr(run.slave, &before), 0);
    int flags_before = fcntl(run.slave, F_GETFL);
    ASSERT_TRUE(WaitForOutput(&run, kPrompt1)) << run.out;
    ASSERT_TRUE(WaitForKeyMode(&run)) << run.out;
    kill(run.pid, SIGHUP);
    Type(run, "02AB3C5601A1");
    Finish(&run);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(AfterPrompt(run.out, 19), "02-AB-3C-56-01-A1\r\n");
    EXPECT_EQ(s.read("TALVEK.txt"), "P\neth0:02AB3C5601A1\n");
    ExpectSameTerminal(before, flags_before, run.slave);
    Close(&run);
}

// A scanner that sends two codes, each with its line end, in one burst: the
// first entry takes twelve digits, the line end stays waiting and the second
// entry drops it; nothing is echoed by the terminal itself.
TEST(Pty, BackToBackCodesForTwoPositions)
{
    Station s;
    PtyRun run;
    Start(s, {"1", "2"}, &run);
    struct termios before;
    ASSERT_EQ(tcgetattr(run.slave, &before), 0);
    int flags_before = fcntl(run.slave, F_GETFL);
    ASSERT_TRUE(WaitForOutput(&run, kPrompt1)) << run.out;
    ASSERT_TRUE(WaitForKeyMode(&run)) << run.out;
    Type(run, "02AB3C5601A1\r\n02ab3c5601a2\r\n");
    Finish(&run);
    EXPECT_EQ(run.status, 0) << run.out;
    std::string want = std::string("02-AB-3C-56-01-A1\r\n") +
                       "Please scan the 2nd bar code... (ESC to exit) 02-ab-3c-56-01-a2\r\n";
    EXPECT_EQ(AfterPrompt(run.out, want.size()), want);
    EXPECT_EQ(s.read("TALVEK.txt"), "P\neth0:02AB3C5601A1\neth1:02AB3C5601A2\n");
    ExpectSameTerminal(before, flags_before, run.slave);
    Close(&run);
}
