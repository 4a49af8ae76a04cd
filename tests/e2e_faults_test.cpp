// Fault-injection matrix: the real TALVEK in a station where something is
// wrong — a broken or misbehaving tool, hostile files, odd standard input,
// permissions, signals. Whatever happens, every row holds TALVEK to the same
// invariants:
// - it ends by itself (no hang) and never crashes: its exit status is the
//   row's, or the row's signal when the row sends one, and the sanitizers
//   (in the ASan build) report nothing;
// - "TALVEK.txt" was pre-seeded with an earlier board's pass record; after
//   the run it is "N\n", the row's own pass record, or — where it cannot be
//   written, or the run was killed — that earlier record unchanged. Never a
//   pass record for a run that did not pass, never partial, and no temporary
//   record file is left beside it;
// - no Fast Set MAC request carries a MAC the allow-list did not admit.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "station.h"

namespace {

const std::string kMac1 = "02AB3C5601A1";
const std::string kMac2 = "02AB3C5601A2";
const std::string kArg1 = "1=" + kMac1;
const std::string kArg2 = "2=" + kMac2;
const std::string kOldRecord = "P\neth0:02AB3C999999\n";  // an earlier board's pass
const std::string kFail = "N\n";
const std::string kPass1 = "P\neth0:" + kMac1 + "\n";
const std::string kPassBoth = "P\neth0:" + kMac1 + "\neth1:" + kMac2 + "\n";
const std::string kRecordError = "Error! System can not open file TALVEK.txt.\n";
const std::string kLogError = "Error! System can not open file MAC_LOG.txt.\n";

// Guards against a hang only; no row waits for it.
const int kHangGuardMs = 60000;
// The ordinary user a root test run drops to where permissions must count.
const uid_t kNobody = 65534;

enum class Input { kFile, kClosed, kDevNull, kTerminal };
// What the test does at the terminal each time the entry has switched it to
// key mode.
enum class AtEntry { kType, kCtrlC, kSigTerm };

struct Launch {
    std::vector<std::string> args;
    Input input = Input::kFile;
    std::string stdin_data;            // kFile: the file's content
    std::vector<std::string> keys;     // kTerminal, kType: one chunk per entry
    AtEntry at_entry = AtEntry::kType;
    bool unprivileged = false;         // permissions must count, also for root
    std::string journal;               // where the sleep shim writes; default the station's
};

struct Ended {
    bool hung = false;
    bool setuid_failed = false;
    int exit_code = -1;  // when it exited
    int signal = 0;      // when a signal ended it
    std::string out;
    std::string err;
    bool terminal_restored = true;  // kTerminal: ICANON and ECHO back on
};

std::string ReadFile(const std::string &path)
{
    std::string s;
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return s;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof(buf))) > 0)
        s.append(buf, static_cast<size_t>(n));
    close(fd);
    return s;
}

// Copies of the binaries in a directory every user may read, for runs as
// the ordinary user (the build tree may lie where only root can enter).
struct PublicBinaries {
    std::string dir, talvek, sim, shim;
    PublicBinaries()
    {
        char tmpl[] = "/tmp/talvek-faults-bin-XXXXXX";
        dir = mkdtemp(tmpl);
        chmod(dir.c_str(), 0755);
        namespace fs = std::filesystem;
        talvek = dir + "/TALVEK";
        sim = dir + "/kovripmi";
        shim = dir + "/sleep_shim.so";
        fs::copy_file(TalvekBinary(), talvek);
        fs::copy_file(SimBinary(), sim);
        fs::copy_file(SleepShim(), shim);
        for (const auto &f : {talvek, sim, shim})
            chmod(f.c_str(), 0755);
    }
    ~PublicBinaries() { std::filesystem::remove_all(dir); }
};

const PublicBinaries &Public()
{
    static PublicBinaries bins;
    return bins;
}

// In the child, between fork and exec: the station's working directory, the
// test seams, default signal handling, and the ordinary user if asked for.
void PrepareChild(const Station &s, const Launch &l, const std::string &errfile)
{
    if (chdir(s.dir().c_str()) != 0)
        _exit(126);
    int err = open(errfile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    dup2(err, 2);
    close(err);
    struct rlimit no_core = {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    // An operator's terminal: SIGINT and SIGTERM end the program unless it
    // says otherwise (a test runner may have left them ignored or blocked).
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    umask(022);
    std::string journal = l.journal.empty() ? s.path("kovripmi.journal") : l.journal;
    setenv("LD_PRELOAD", (l.unprivileged ? Public().shim : SleepShim()).c_str(), 1);
    setenv("TALVEK_TEST_JOURNAL", journal.c_str(), 1);
    setenv("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0", 1);
    // TALVEK writes its own pid where a signalling tool can find it.
    std::string pid = std::to_string(getpid()) + "\n";
    int fd = open("talvek.pid", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        if (write(fd, pid.data(), pid.size()) < 0) {
        }
        close(fd);
    }
    if (l.unprivileged && geteuid() == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) {
            fprintf(stderr, "setuid failed\n");
            _exit(125);
        }
    }
}

void Exec(const Launch &l)
{
    std::string bin = l.unprivileged ? Public().talvek : TalvekBinary();
    std::vector<std::string> argv_s = {bin};
    argv_s.insert(argv_s.end(), l.args.begin(), l.args.end());
    std::vector<char *> argv;
    for (auto &a : argv_s)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    execv(bin.c_str(), argv.data());
    _exit(127);
}

void Decode(int st, Ended *e)
{
    if (WIFEXITED(st))
        e->exit_code = WEXITSTATUS(st);
    else if (WIFSIGNALED(st))
        e->signal = WTERMSIG(st);
}

// Reads fd into out until end of file or until the child has ended and the
// descriptor is drained; kills the child after the hang guard.
void Collect(pid_t pid, int fd, Ended *e, const std::function<void()> &tick = nullptr)
{
    int st = 0;
    bool reaped = false;
    for (int waited = 0;;) {
        struct pollfd pfd = {fd, POLLIN, 0};
        int n = poll(&pfd, 1, 10);
        if (n > 0) {
            char buf[8192];
            ssize_t got = read(fd, buf, sizeof(buf));
            if (got > 0) {
                e->out.append(buf, static_cast<size_t>(got));
                continue;
            }
            if (!reaped) {  // end of output (pipe) or hang-up (pty): the child is done
                waitpid(pid, &st, 0);
                reaped = true;
            }
            break;
        }
        if (!reaped && waitpid(pid, &st, WNOHANG) == pid) {
            reaped = true;
            continue;  // drain what is left
        }
        if (reaped)
            break;
        if (tick)
            tick();
        if ((waited += 10) >= kHangGuardMs) {
            e->hung = true;
            kill(pid, SIGKILL);
            waitpid(pid, &st, 0);
            return;
        }
    }
    Decode(st, e);
}

Ended RunTalvek(const Station &s, const Launch &l)
{
    Ended e;
    std::string errfile = s.path(".stderr-faults");
    if (l.unprivileged)
        Public();  // made before the fork
    if (l.input == Input::kTerminal) {
        int master = -1, slave = -1;
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "openpty: " << strerror(errno);
            return e;
        }
        pid_t pid = fork();
        if (pid == 0) {
            close(master);
            setsid();
            ioctl(slave, TIOCSCTTY, 0);
            dup2(slave, 0);
            dup2(slave, 1);
            close(slave);
            PrepareChild(s, l, errfile);
            Exec(l);
        }
        // Acts once per entry: when the entry's prompt has been printed and
        // the terminal is in key mode (two entries in a row may switch it
        // back and forth faster than the test looks).
        size_t acted = 0;
        auto tick = [&]() {
            struct termios t;
            if (tcgetattr(slave, &t) != 0 || (t.c_lflag & (ICANON | ECHO)) != 0)
                return;
            size_t prompts = 0;
            for (size_t at = e.out.find("Please scan the"); at != std::string::npos;
                 at = e.out.find("Please scan the", at + 1))
                prompts++;
            if (acted >= prompts)
                return;
            acted++;
            if (l.at_entry == AtEntry::kCtrlC) {
                if (write(master, "\x03", 1) != 1)
                    ADD_FAILURE() << "typing Ctrl-C";
            } else if (l.at_entry == AtEntry::kSigTerm) {
                kill(pid, SIGTERM);
            } else if (acted <= l.keys.size()) {
                const std::string &k = l.keys[acted - 1];
                if (write(master, k.data(), k.size()) != static_cast<ssize_t>(k.size()))
                    ADD_FAILURE() << "typing";
            }
        };
        // The test keeps the slave open to look at the terminal, so the
        // master never hangs up: Collect ends when the child is reaped.
        Collect(pid, master, &e, tick);
        struct termios after;
        if (tcgetattr(slave, &after) == 0)
            e.terminal_restored = (after.c_lflag & (ICANON | ECHO)) == (ICANON | ECHO);
        close(master);
        close(slave);
    } else {
        int outpipe[2];
        if (pipe(outpipe) != 0) {
            ADD_FAILURE() << "pipe";
            return e;
        }
        if (l.input == Input::kFile) {
            std::ofstream(s.path(".stdin-faults"), std::ios::binary) << l.stdin_data;
        }
        pid_t pid = fork();
        if (pid == 0) {
            close(outpipe[0]);
            dup2(outpipe[1], 1);
            close(outpipe[1]);
            if (l.input == Input::kClosed) {
                close(0);
            } else {
                const char *name = l.input == Input::kDevNull ? "/dev/null" : ".stdin-faults";
                int in = open(l.input == Input::kDevNull ? name : s.path(name).c_str(), O_RDONLY);
                dup2(in, 0);
                close(in);
            }
            PrepareChild(s, l, errfile);
            Exec(l);
        }
        close(outpipe[1]);
        Collect(pid, outpipe[0], &e);
        close(outpipe[0]);
    }
    e.err = ReadFile(errfile);
    e.setuid_failed = e.exit_code == 125 && e.err.find("setuid failed") != std::string::npos;
    return e;
}

// ---------------------------------------------------------------------------
// Station set-up pieces.

// Replaces ./kovripmi by a shell script: `body` runs first with the request
// in "$@"; unless it exits, the simulated tool answers. SIM names the
// simulator; "$*" is the request, e.g. "raw 0x06 0x01".
void ScriptTool(const Station &s, const std::string &body, const std::string &sim = SimBinary())
{
    s.remove("kovripmi");  // the symlink: never write through it into the build tree
    s.write("kovripmi", "#!/bin/sh\nSIM='" + sim + "'\n" + body + "\nexec \"$SIM\" \"$@\"\n");
    chmod(s.path("kovripmi").c_str(), 0755);
}

// Script fragment: true on the n-th request equal to `request` (counted in
// the script's own log).
std::string NthRequest(const std::string &request, int n)
{
    return "echo \"$*\" >> tool.log\n"
           "if [ \"$*\" = '" + request + "' ] && [ \"$(grep -cx '" + request +
           "' tool.log)\" -eq " + std::to_string(n) + " ]; then\n";
}

// Script fragment: answer the request, then send TALVEK the signal.
std::string SignalTalvekAt(const std::string &request, int n, const char *sig)
{
    return NthRequest(request, n) + "  \"$SIM\" \"$@\"; rc=$?\n  kill -" + sig +
           " \"$(cat talvek.pid)\"\n  exit $rc\nfi";
}

std::string Repeat(const std::string &piece, size_t times)
{
    std::string s;
    s.reserve(piece.size() * times);
    for (size_t i = 0; i < times; i++)
        s += piece;
    return s;
}

// ---------------------------------------------------------------------------
// The invariants.

// MACs carried by Fast Set MAC requests in the journal ("raw 0x3a 0xa0 P
// b0..b5 [b0..b5]"), as 12 upper-case digits; "malformed" for a request
// that does not have the shape the program builds.
std::vector<std::string> WrittenMacs(const std::vector<std::string> &requests)
{
    std::vector<std::string> macs;
    for (const auto &line : requests) {
        if (line.rfind("raw 0x3a 0xa0", 0) != 0)
            continue;
        std::istringstream in(line.substr(13));
        std::string position;
        in >> position;
        std::vector<int> bytes;
        std::string b;
        while (in >> b)
            bytes.push_back(atoi(b.c_str()));
        size_t want = position == "0x02" || position == "2" ? 12 : 6;
        if (bytes.size() != want) {
            macs.push_back("malformed: " + line);
            continue;
        }
        for (size_t m = 0; m < want; m += 6) {
            char text[13];
            snprintf(text, sizeof(text), "%02X%02X%02X%02X%02X%02X", bytes[m], bytes[m + 1],
                     bytes[m + 2], bytes[m + 3], bytes[m + 4], bytes[m + 5]);
            macs.push_back(text);
        }
    }
    return macs;
}

std::vector<std::string> JournalAt(const std::string &path)
{
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(path));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("sleep ", 0) != 0)
            lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> TempRecords(const Station &s)
{
    std::vector<std::string> left;
    DIR *d = opendir(s.dir().c_str());
    if (d == nullptr)
        return left;
    for (struct dirent *ent = readdir(d); ent != nullptr; ent = readdir(d)) {
        std::string name = ent->d_name;
        if (name.rfind("TALVEK.txt", 0) == 0 && name != "TALVEK.txt")
            left.push_back(name);
    }
    closedir(d);
    return left;
}

// What a row expects.
struct Expect {
    int exit_code = 1;
    int signal = 0;                      // expected terminating signal instead
    std::optional<std::string> record;   // TALVEK.txt afterwards; unset: it is a directory
    std::set<std::string> admitted;      // MACs a Fast Set MAC may carry
    std::vector<std::string> shows;      // console fragments
    std::optional<std::vector<std::string>> requests;  // exact requests, in order
};

void CheckInvariants(const Station &s, const Ended &e, const Expect &x,
                     const std::string &journal_path)
{
    ASSERT_FALSE(e.hung) << "TALVEK did not end; output so far:\n" << e.out;
    if (x.signal != 0) {
        EXPECT_EQ(e.signal, x.signal) << "exit " << e.exit_code << "\n" << e.out;
    } else {
        EXPECT_EQ(e.signal, 0) << "killed by signal " << e.signal << "\n" << e.out << e.err;
        EXPECT_EQ(e.exit_code, x.exit_code) << e.out;
    }
    EXPECT_EQ(e.err.find("Sanitizer"), std::string::npos) << e.err;
    EXPECT_EQ(e.err.find("runtime error"), std::string::npos) << e.err;

    if (x.record) {
        EXPECT_EQ(ReadFile(s.path("TALVEK.txt")), *x.record);
    } else {
        struct stat st;
        EXPECT_TRUE(stat(s.path("TALVEK.txt").c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    }
    EXPECT_TRUE(TempRecords(s).empty()) << "left behind: " << TempRecords(s)[0];
    // A pass record and exit status 0 come together or not at all.
    std::string rec = ReadFile(s.path("TALVEK.txt"));
    if (x.signal == 0 && e.exit_code != 0) {
        EXPECT_TRUE(rec == kFail || rec == kOldRecord || !x.record) << rec;
    }

    std::vector<std::string> requests = JournalAt(journal_path);
    for (const auto &mac : WrittenMacs(requests))
        EXPECT_EQ(x.admitted.count(mac), 1u) << "Fast Set MAC with " << mac;
    if (x.requests) {
        EXPECT_EQ(requests, *x.requests);
    }
    for (const auto &frag : x.shows)
        EXPECT_NE(e.out.find(frag), std::string::npos) << "missing: " << frag << "\nin:\n" << e.out;
}

// ---------------------------------------------------------------------------
// The matrix.

struct Row {
    std::string name;
    std::function<void(Station &)> setup;  // after the defaults: old record, both MACs 0
    Launch launch;
    Expect expect;
};

void PrintTo(const Row &r, std::ostream *os) { *os << r.name; }

const std::vector<std::string> kNoRequest = {};
const std::vector<std::string> kOnlyRevision = {"raw 0x06 0x01"};
const std::set<std::string> kBoth = {kMac1, kMac2};

Launch Args(std::vector<std::string> args)
{
    Launch l;
    l.args = std::move(args);
    return l;
}

Launch Keyboard(Input input)
{
    Launch l;
    l.args = {"1", "2"};
    l.input = input;
    return l;
}

Launch Unprivileged(std::vector<std::string> args)
{
    Launch l = Args(std::move(args));
    l.unprivileged = true;
    return l;
}

Expect Fails(std::vector<std::string> shows = {}, std::set<std::string> admitted = {})
{
    Expect x;
    x.record = kFail;
    x.shows = std::move(shows);
    x.admitted = std::move(admitted);
    return x;
}

Expect Passes(const std::string &record, std::set<std::string> admitted = kBoth)
{
    Expect x;
    x.exit_code = 0;
    x.record = record;
    x.admitted = std::move(admitted);
    x.shows = {kPassBanner};
    return x;
}

Expect Requests(Expect x, std::vector<std::string> requests)
{
    x.requests = std::move(requests);
    return x;
}

Expect Killed(int sig, std::set<std::string> admitted = {})
{
    Expect x;
    x.signal = sig;
    x.record = kOldRecord;  // the earlier complete record: the run never reached its verdict
    x.admitted = std::move(admitted);
    return x;
}

std::vector<Row> ToolRows()
{
    const auto both = Args({kArg1, kArg2});
    return {
        {"ToolMissing", [](Station &s) { s.remove("kovripmi"); }, both,
         Requests(Fails({"BMC Revision = ?.?.?\r\n", "Fast Get Mac Oem Command Fail.\n"}),
                  kNoRequest)},
        {"ToolNotExecutable",
         [](Station &s) {
             ScriptTool(s, "");
             chmod(s.path("kovripmi").c_str(), 0644);
         },
         both, Requests(Fails({"Fast Get Mac Oem Command Fail.\n"}), kNoRequest)},
        {"ToolKilledWhileWriting",
         [](Station &s) { ScriptTool(s, NthRequest("raw 0x3a 0xa0 0x02 2 171 60 86 1 161 2 171 60 86 1 162", 1) +
                                            "  \"$SIM\" \"$@\"; kill -KILL $$\nfi"); },
         both, Fails({"eth1 not equal\n"}, kBoth)},
        {"ToolKilledWhileReading",
         [](Station &s) { ScriptTool(s, NthRequest("raw 0x3a 0xa1 0x00", 1) + "  kill -SEGV $$\nfi"); },
         both, Requests(Fails({"Fast Get Mac Oem Command Fail.\n"}), kOnlyRevision)},
        {"ToolPrints100KBBeforeEachReply",
         [](Station &s) { ScriptTool(s, "yes " + Repeat("0123456789", 9) + "abcdefghi | head -n 1024"); },
         both, Passes(kPassBoth)},
        {"Tool100KBLineAfterEachReply",
         [](Station &s) {
             ScriptTool(s, "\"$SIM\" \"$@\"; rc=$?\nhead -c 102400 /dev/zero | tr '\\0' Z\nexit $rc");
         },
         both, Fails({}, kBoth)},
        {"ToolPrintsBinaryGarbage",
         [](Station &s) {
             ScriptTool(s, "\"$SIM\" \"$@\" >/dev/null; rc=$?\n"
                           "printf '\\001\\377\\033[2J\\000\\200\\376 garbage\\r\\n\\177\\033]0;x\\007 \\377\\376'\n"
                           "exit $rc");
         },
         both, Fails({}, kBoth)},
        {"Tool5000CharacterLine",
         [](Station &s) {
             ScriptTool(s, "out=$(\"$SIM\" \"$@\"); rc=$?\nprintf '%4980s%s\\n' '' \"$out\"\nexit $rc");
         },
         both, Passes(kPassBoth)},
        {"ToolErrorLineFirst",
         [](Station &s) { ScriptTool(s, "echo 'Error: warming up'"); }, both, Passes(kPassBoth)},
        {"ToolErrorLineLast",
         [](Station &s) {
             ScriptTool(s, "\"$SIM\" \"$@\"; rc=$?\necho 'Error: the BMC refused the request'\nexit $rc");
         },
         both,
         Requests(Fails({"Command execute error\nBMC Revision = ?.?.?\r\n",
                         "Command execute error\nFast Get Mac Oem Command Fail.\n"}),
                  {"raw 0x06 0x01", "raw 0x3a 0xa1 0x00"})},
    };
}

std::vector<Row> FileRows()
{
    const auto both = Args({kArg1, kArg2});
    const std::string refused = "Error! Mac 02-AB-3C-56-01-A1 is invalid.\n";
    std::string many;
    for (int i = 0; i < 2000; i++) {
        char line[64];
        snprintf(line, sizeof(line), "AVL_MASK=FFFFFFFFFFFF AVL_VALUE=02AB3C56%04X\n", i);
        many += line;
    }
    return {
        {"IniMissing", [](Station &s) { s.remove("TALVEK.ini"); }, both,
         Requests(Fails({"\nError! Can not open INI file - TALVEK.ini.\n", kFailBanner}), kOnlyRevision)},
        {"IniEmpty", [](Station &s) { s.write("TALVEK.ini", ""); }, both,
         Requests(Fails({refused, kFailBanner}), kOnlyRevision)},
        {"IniBinary",
         [](Station &s) {
             s.write("TALVEK.ini", std::string("\x00\xff\x1b\x80\nAVL_MASK=\xff\xff\0AVL_VALUE=02AB3C\x00\n\xfe", 36));
         },
         both, Requests(Fails({refused, kFailBanner}), kOnlyRevision)},
        // 10 MB of lines that must admit nothing (comments, and keys behind
        // the 255th character), then one entry admitting the first MAC only.
        {"Ini10MB",
         [](Station &s) {
             std::string junk = "; AVL_MASK=000000000000 AVL_VALUE=000000000000\n" + std::string(300, 'x') +
                                "AVL_MASK=000000000000 AVL_VALUE=000000000000\n";
             s.write("TALVEK.ini", Repeat(junk, 10 * 1024 * 1024 / junk.size()) +
                                       "AVL_MASK=FFFFFFFFFFFF AVL_VALUE=" + kMac1 + "\n");
         },
         both,
         Requests(Fails({"INI(0) - AVL_MASK=FFFFFFFFFFFF, AVL_VALUE=02AB3C5601A1\n"
                         "Error! Mac 02-AB-3C-56-01-A2 is invalid.\n"}),
                  kOnlyRevision)},
        {"Ini2000EntriesMacInFirst1024", [many](Station &s) { s.write("TALVEK.ini", many); }, both,
         [] {
             Expect x = Passes(kPassBoth);
             x.shows.push_back("INI(1023) - AVL_MASK=FFFFFFFFFFFF, AVL_VALUE=02AB3C5603FF\n"
                               "Warning! Only the first 1024 entries of TALVEK.ini are used.\n");
             return x;
         }()},
        {"Ini2000EntriesMacBeyond", [many](Station &s) { s.write("TALVEK.ini", many); },
         Args({"1=02AB3C560700"}),
         Requests(Fails({"Error! Mac 02-AB-3C-56-07-00 is invalid.\n"}), kOnlyRevision)},
        {"DatBinary",
         [](Station &s) {
             s.write("TALVEK1.DAT", std::string("\x00\xff\x1b[2J\x80\x01", 8));
             s.write("TALVEK2.DAT", kMac2 + "\n");
         },
         Args({"1", "2", "T"}),
         Requests(Fails({"Error! File TALVEK1.DAT does not hold a valid MAC.\n", kFailBanner}), kNoRequest)},
        {"DatEmpty",
         [](Station &s) {
             s.write("TALVEK1.DAT", kMac1 + "\n");
             s.write("TALVEK2.DAT", "");
         },
         Args({"1", "2", "T"}),
         Requests(Fails({"Error! File TALVEK2.DAT does not hold a valid MAC.\n", kFailBanner}), kNoRequest)},
        {"RecordIsDirectoryOnPass",
         [](Station &s) {
             s.remove("TALVEK.txt");
             mkdir(s.path("TALVEK.txt").c_str(), 0755);
         },
         both,
         [] {
             Expect x;
             x.record.reset();  // stays the directory
             x.admitted = kBoth;
             x.shows = {"The 2nd MAC = 02-AB-3C-56-01-A2\n" + kRecordError + kFailBanner};
             return x;
         }()},
        {"RecordIsDirectoryOnFailure",
         [](Station &s) {
             s.remove("TALVEK.txt");
             mkdir(s.path("TALVEK.txt").c_str(), 0755);
             s.remove("TALVEK.ini");
         },
         both,
         [] {
             Expect x;
             x.record.reset();
             x.shows = {std::string(kFailBanner) + kRecordError};
             return x;
         }()},
        // Permissions: run as an ordinary user (root would ignore them).
        {"WorkingDirectoryReadOnly",
         [](Station &s) {
             // The simulated BMC keeps its state elsewhere: the tool cannot
             // write here either.
             mkdir(s.path("bmc").c_str(), 0777);
             chmod(s.path("bmc").c_str(), 0777);
             std::ofstream(s.path("bmc/kovripmi.journal"));
             chmod(s.path("bmc/kovripmi.journal").c_str(), 0666);
             ScriptTool(s, "cd bmc || exit 1", Public().sim);
             chmod(s.dir().c_str(), 0555);
         },
         [] {
             Launch l = Unprivileged({kArg1, kArg2});
             l.journal = "bmc/kovripmi.journal";
             return l;
         }(),
         [] {
             Expect x;
             x.record = kOldRecord;  // cannot be replaced; no false pass either
             x.admitted = kBoth;
             x.shows = {"The 2nd MAC = 02-AB-3C-56-01-A2\n" + kRecordError + kFailBanner};
             return x;
         }()},
        {"MacLogReadOnly",
         [](Station &s) {
             s.write("MAC_LOG.txt", "earlier entry\n");
             chmod(s.path("MAC_LOG.txt").c_str(), 0444);
             s.remove("kovripmi");
             symlink(Public().sim.c_str(), s.path("kovripmi").c_str());
             chmod(s.dir().c_str(), 0777);
         },
         Unprivileged({kArg1, "2=" + kMac1, "fail_log"}),
         Fails({"The MAC value are the same.\n" + std::string(kFailBanner) + kLogError}, {kMac1})},
        {"MacLogIsDirectory", [](Station &s) { mkdir(s.path("MAC_LOG.txt").c_str(), 0755); },
         Args({kArg1, "2=" + kMac1, "fail_log"}),
         Fails({"The MAC value are the same.\n" + std::string(kFailBanner) + kLogError}, {kMac1})},
    };
}

std::vector<Row> InputRows()
{
    std::vector<std::string> thousand = {kArg1};
    const char *junk[] = {"check", "3", "V", "T", "U=5", "4=02AB3C5601A3", "-", "t"};
    while (thousand.size() < 999)
        thousand.push_back(junk[thousand.size() % 8]);
    thousand.push_back(kArg2);

    Launch closed = Keyboard(Input::kClosed);
    Launch devnull = Keyboard(Input::kDevNull);
    Launch terminal = Keyboard(Input::kTerminal);
    terminal.keys = {"02ab3c5601a1", "02:AB:3C:56:01:A2\r"};
    Launch ctrl_c = Keyboard(Input::kTerminal);
    ctrl_c.at_entry = AtEntry::kCtrlC;
    Launch term = Keyboard(Input::kTerminal);
    term.at_entry = AtEntry::kSigTerm;

    const std::string abandoned = "Error! The value '' is invaild.\n";
    return {
        {"ThousandArguments", nullptr, Args(thousand), Passes(kPassBoth)},
        {"Argument100KB", nullptr, Args({kArg1 + std::string(100 * 1024, 'F')}),
         Passes(kPass1, {kMac1})},
        {"OffsetText100KB", nullptr, Args({"U=" + std::string(100 * 1024, '9')}),
         Requests(Fails({"Offset must be in 0x00001~0xfffff\r\n", kFailBanner}), kNoRequest)},
        {"StdinClosed", nullptr, closed, Requests(Fails({abandoned}), kOnlyRevision)},
        {"StdinDevNull", nullptr, devnull, Requests(Fails({abandoned}), kOnlyRevision)},
        // On a terminal every "\n" reaches the test as "\r\n": no banner bytes compared.
        {"StdinTerminal", nullptr, terminal,
         [] {
             Expect x = Passes(kPassBoth);
             x.shows = {"02-ab-3c-56-01-a1", "02-AB-3C-56-01-A2"};
             return x;
         }()},
        {"CtrlCDuringEntry", nullptr, ctrl_c, Requests(Killed(SIGINT), kOnlyRevision)},
        {"SigTermDuringEntry", nullptr, term, Requests(Killed(SIGTERM), kOnlyRevision)},
    };
}

// A tool that signals TALVEK while it waits for the BMC: the 2nd Get Device
// ID is the settle wait's first poll, the 2nd fixed Fast Get MAC of eth0 the
// read-back's probe.
std::vector<Row> SignalRows()
{
    const auto both = Args({kArg1, kArg2});
    const std::string settle = "raw 0x06 0x01";
    const std::string probe = "raw 0x3a 0xa1 0x00";
    auto at = [](const std::string &req, int n, const char *sig) {
        return [=](Station &s) { ScriptTool(s, SignalTalvekAt(req, n, sig)); };
    };
    return {
        {"SigIntDuringSettleWait", at(settle, 2, "INT"), both, Killed(SIGINT, kBoth)},
        {"SigTermDuringSettleWait", at(settle, 2, "TERM"), both, Killed(SIGTERM, kBoth)},
        {"SigIntDuringReadback", at(probe, 2, "INT"), both, Killed(SIGINT, kBoth)},
        {"SigTermDuringReadback", at(probe, 2, "TERM"), both, Killed(SIGTERM, kBoth)},
    };
}

class FaultMatrix : public ::testing::TestWithParam<Row> {};

TEST_P(FaultMatrix, Invariants)
{
    const Row &row = GetParam();
    Station s;
    s.write("TALVEK.txt", kOldRecord);
    s.scenario("mac eth0 000000000000\nmac eth1 000000000000\n");
    if (row.setup)
        row.setup(s);
    Ended e = RunTalvek(s, row.launch);
    if (e.setuid_failed)
        GTEST_SKIP() << "cannot drop root to an ordinary user here, and root ignores permissions";
    std::string journal = row.launch.journal.empty() ? s.path("kovripmi.journal")
                                                     : s.path(row.launch.journal);
    CheckInvariants(s, e, row.expect, journal);
    if (row.launch.input == Input::kTerminal) {
        EXPECT_TRUE(e.terminal_restored) << "the terminal was left in key mode";
    }
    if (row.name == "MacLogReadOnly") {
        EXPECT_EQ(s.read("MAC_LOG.txt"), "earlier entry\n");
    }
    if (row.expect.signal != 0 && !row.expect.requests) {
        // Killed at the signalling request: nothing was sent after it.
        std::vector<std::string> requests = JournalAt(journal);
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(requests.back(), row.name.find("Settle") != std::string::npos
                                       ? "raw 0x06 0x01" : "raw 0x3a 0xa1 0x00");
    }
}

std::string RowName(const ::testing::TestParamInfo<Row> &info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Tool, FaultMatrix, ::testing::ValuesIn(ToolRows()), RowName);
INSTANTIATE_TEST_SUITE_P(Files, FaultMatrix, ::testing::ValuesIn(FileRows()), RowName);
INSTANTIATE_TEST_SUITE_P(Input, FaultMatrix, ::testing::ValuesIn(InputRows()), RowName);
INSTANTIATE_TEST_SUITE_P(Signals, FaultMatrix, ::testing::ValuesIn(SignalRows()), RowName);

}  // namespace

namespace {

// The result record is replaced whole: the new content goes to a new file
// that is renamed over the old one. A reader that opened the old record
// keeps reading it complete (a rewrite in place would show it empty or
// half-written), and the record keeps its permissions, as a rewrite in
// place would; a new record gets 0666 less the umask (022 here).
TEST(AtomicRecord, ReplacedWholeKeepingItsMode)
{
    struct Row {
        const char *name;
        mode_t old_mode;  // 0: no record before the run
        bool pass;
        mode_t mode_after;
    } rows[] = {
        {"pass over a 0640 record", 0640, true, 0640},
        {"failure over a 0600 record", 0600, false, 0600},
        {"failure over a 0664 record", 0664, false, 0664},
        {"pass without a record", 0, true, 0644},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Station s;
        s.scenario("mac eth0 000000000000\n");
        int old_fd = -1;
        struct stat before {};
        if (row.old_mode != 0) {
            s.write("TALVEK.txt", kOldRecord);
            chmod(s.path("TALVEK.txt").c_str(), row.old_mode);
            old_fd = open(s.path("TALVEK.txt").c_str(), O_RDONLY);
            ASSERT_GE(old_fd, 0);
            fstat(old_fd, &before);
        }
        if (!row.pass)
            s.remove("TALVEK.ini");
        Ended e = RunTalvek(s, Args({kArg1}));
        ASSERT_FALSE(e.hung);
        EXPECT_EQ(e.exit_code, row.pass ? 0 : 1) << e.out;
        EXPECT_EQ(ReadFile(s.path("TALVEK.txt")), row.pass ? kPass1 : kFail);
        struct stat after {};
        ASSERT_EQ(stat(s.path("TALVEK.txt").c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & 07777, row.mode_after);
        EXPECT_TRUE(TempRecords(s).empty());
        if (old_fd >= 0) {
            EXPECT_NE(after.st_ino, before.st_ino) << "rewritten in place";
            char buf[64];
            ssize_t n = pread(old_fd, buf, sizeof(buf), 0);
            EXPECT_EQ(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0), kOldRecord);
            close(old_fd);
        }
    }
}

}  // namespace
