// The one end-to-end fixture: a temporary station directory holding the
// simulated ./kovripmi and its scenario, one launcher (Run) for the real
// TALVEK binary, and one kind of row (Row) checked by Check, which also holds
// every run to the invariants below.
//
// A row says what the station holds, how TALVEK is started and what must be
// true afterwards; Check runs it. Tables: ROWS(Suite, FunctionReturningRows()).
//
//     Check(Row("U=1 writes eth0 + 1").Args({"U=1"}).Scenario("mac eth0 " + kMac1 + "\n")
//               .Passes(kPassBoth).Requests({kGet0Fixed, ...}).Holds("MAC_LOG.txt", ""));
//
// Check(row, station) runs in a station the test keeps (to run again in it,
// or to look at it afterwards). The setters are listed in Row below.
//
// The invariants, checked on every row whatever it expects:
// - TALVEK ends by itself (a hang guard kills it and fails the row);
// - the sanitizers (ASan build) report nothing on standard error;
// - no Fast Set MAC request carries a MAC that the station's allow-list, as
//   it was at the start of the run, does not admit (read independently of
//   TALVEK; the offset update mode, "U=...", is not subject to the list);
// - no temporary record file ("TALVEK.txt" + anything) is left beside it;
// - "TALVEK.txt" holds a pass record ("P...") after the run only with exit
//   status 0: a failed or killed run leaves "N\n" or the record it found;
// - on a terminal, the terminal's settings and the descriptor's flags are
//   the same after the run as before it (taken before TALVEK started).
#ifndef TALVEK_TESTS_TEST_H
#define TALVEK_TESTS_TEST_H

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <termios.h>
#include <unistd.h>
#include <utility>
#include <vector>

// ---------------------------------------------------------------------------
// Constants: console texts, MACs and requests, each defined once (inline,
// so that a test file's own constants may be built from them).

extern const char kVersionLine[];  // "TALVEK V0.37\n"
extern const char kPassBanner[];
extern const char kFailBanner[];
extern const char kUsage[];  // the usage text after the version line
// The station's allow-list (admits 02-AB-3C-*) and its one INI line.
inline const std::string kAllowAllIni = "AVL_MASK=FFFFFF000000, AVL_VALUE=02AB3C000000\n";
inline const std::string kIniLine = "INI(0) - AVL_MASK=FFFFFF000000, AVL_VALUE=02AB3C000000\n";
inline const std::string kRevisionLine = "BMC Revision = 1.25.3\r\n";
inline const std::string kHead = std::string(kVersionLine) + kRevisionLine + kIniLine;
inline const std::string kPrompt1 = "Please scan the 1st bar code... (ESC to exit) ";
inline const std::string kPrompt2 = "Please scan the 2nd bar code... (ESC to exit) ";
inline const std::string kReadbackTitle =
    "-- Fast Get MAC OEM CMD support. No need to disable bond. --\n";
inline const std::string kMacReady = "wait MAC ready...(0)   \r";
inline const std::string kLine1 = "The 1st MAC = 02-AB-3C-56-01-A1\n";
inline const std::string kLine2 = "The 2nd MAC = 02-AB-3C-56-01-A2\n";
inline const std::string kRecordError = "Error! System can not open file TALVEK.txt.\n";
inline const std::string kLogError = "Error! System can not open file MAC_LOG.txt.\n";
inline const std::string kNoIni = "\nError! Can not open INI file - TALVEK.ini.\n";

// MACs admitted by kAllowAllIni, and the arguments that give them.
inline const std::string kMac1 = "02AB3C5601A1";
inline const std::string kMac2 = "02AB3C5601A2";
inline const std::string kArg1 = "1=" + kMac1;
inline const std::string kArg2 = "2=" + kMac2;

// Records. Every row starts with kStaleRecord in TALVEK.txt (an earlier
// board's pass), unless it makes TALVEK.txt otherwise.
inline const std::string kStaleRecord = "P\neth0:02AB3C999999\neth1:02AB3C99999A\n";
inline const std::string kPass1 = "P\neth0:" + kMac1 + "\n";
inline const std::string kPass2 = "P\neth1:" + kMac2 + "\n";
inline const std::string kPassBoth = "P\neth0:" + kMac1 + "\neth1:" + kMac2 + "\n";
inline const std::string kFailRecord = "N\n";

// Request lines as the simulated tool journals them, and the pause. Fast
// Set MAC of kMac1 / kMac2: kSet0 / kSet1 from the one-port branch,
// kSet0Fixed / kSet1Fixed / kSetBoth from the both-ports branch.
inline const std::string kGetId = "raw 0x06 0x01";
inline const std::string kReset = "raw 0x06 0x02";
inline const std::string kGet0Fixed = "raw 0x3a 0xa1 0x00";
inline const std::string kGet1Fixed = "raw 0x3a 0xa1 0x01";
inline const std::string kGet0 = "raw 0x3a 0xa1 0";
inline const std::string kGet1 = "raw 0x3a 0xa1 1";
inline const std::string kSleep = "sleep 1";
inline const std::string kSet0 = "raw 0x3a 0xa0 0 2 171 60 86 1 161";
inline const std::string kSet1 = "raw 0x3a 0xa0 1 2 171 60 86 1 162";
inline const std::string kSet0Fixed = "raw 0x3a 0xa0 0x00 2 171 60 86 1 161";
inline const std::string kSet1Fixed = "raw 0x3a 0xa0 0x01 2 171 60 86 1 162";
inline const std::string kSetBoth = "raw 0x3a 0xa0 0x02 2 171 60 86 1 161 2 171 60 86 1 162";

// The lines of a text, without their line ends.
std::vector<std::string> Lines(const std::string &text);
// A journal line that is a pause of the sleep shim ("sleep N").
bool IsPause(const std::string &line);
// Journal pieces of the usual stages.
std::vector<std::string> Cat(std::initializer_list<std::vector<std::string>> parts);
std::string Countdown(int from, int to);  // countdown lines from..to, then "\n"
std::vector<std::string> CountdownJournal(int start, int steps);
inline const std::vector<std::string> kSettleQuick = {kSleep, kGetId, kGetId};
std::vector<std::string> MacReadyJournal(bool eth0, bool eth1);
std::vector<std::string> ReadbackJournal(bool eth0, bool eth1);

// The simulated tool, and a copy of it that every user may run (the build
// tree may lie where only root can enter).
std::string SimBinary();
std::string PublicSimBinary();

// ---------------------------------------------------------------------------
// The station.

class Station {
public:
    Station();   // a new directory: ./kovripmi (the simulated tool), kAllowAllIni
    ~Station();  // removes it, whatever modes the test left
    Station(const Station &) = delete;
    Station &operator=(const Station &) = delete;

    const std::string &dir() const { return dir_; }
    std::string path(const std::string &name) const { return dir_ + "/" + name; }

    void write(const std::string &name, const std::string &content) const;
    std::string read(const std::string &name) const;  // "" when missing
    bool exists(const std::string &name) const;       // also a dangling link
    void remove(const std::string &name) const { unlink(path(name).c_str()); }
    void mkdir(const std::string &name) const;
    void tool(const std::string &binary) const;  // ./kovripmi becomes a link to it
    // ./kovripmi becomes a shell script: body runs first with the request in
    // "$@" ("$*" is e.g. "raw 0x06 0x01"); unless it exits, the simulated tool
    // answers ("$SIM").
    void script_tool(const std::string &body, const std::string &sim = SimBinary()) const;
    void scenario(const std::string &text) const { write("kovripmi.scenario", text); }

    // The "raw ..." lines of the station's journal (its "sleep N" lines left
    // out), or of another one (relative to the station).
    std::vector<std::string> requests(const std::string &name = "kovripmi.journal") const;

private:
    std::string dir_;
};

// ---------------------------------------------------------------------------
// The launcher.

enum class Stdin { kPipe, kClosed, kDevNull, kTerminal };

// What happens at an entry: TALVEK has printed the entry's prompt (and, on a
// terminal, switched to key mode). keys is where typed keys go. The action
// returns true when it is done with the entry, false to be called again at
// the launcher's next look (after more output, a few milliseconds later).
struct Entry {
    pid_t pid;
    int keys;
    size_t index;            // 0 for the first entry of the run
    const std::string &out;  // standard output so far
};
using AtEntry = std::function<bool(const Entry &)>;
void TypeKeys(const Entry &e, const std::string &keys);

struct Launch {
    std::vector<std::string> args;
    Stdin in = Stdin::kPipe;
    // kPipe: written to the pipe, then end of input; kTerminal: typed before the start.
    std::string input;
    AtEntry at_entry;           // each entry, kPipe or kTerminal
    bool nonblocking = false;   // kTerminal: O_NONBLOCK on the terminal before the start
    bool ignore_hup = false;    // SIGHUP ignored, as under nohup
    bool unprivileged = false;  // as root: run as an ordinary user, so that modes count
    std::string dir;            // where TALVEK runs, relative to the station ("": the station)
    std::string journal = "kovripmi.journal";  // where the sleep shim journals, ditto
    std::string program;  // another program of the build to run instead (talvek-registry)
};

struct Result {
    bool hung = false;     // killed by the hang guard
    bool no_user = false;  // the ordinary user could not be taken (root without setuid)
    int exit_code = -1;    // when it exited
    int signal = 0;        // when a signal ended it
    std::string out;       // standard output (and error, on a terminal), byte for byte
    std::string err;       // standard error (not on a terminal)
    termios term_before{}, term_after{};
    int flags_before = 0, flags_after = 0;  // the terminal's file status flags
    std::string unread;                     // kTerminal: input left for the shell to read next
    long long wall_ns = 0;                  // start to reaped
    struct rusage usage {};                 // of TALVEK (wait4)
    int status() const { return signal != 0 ? 128 + signal : exit_code; }
};

// Runs TALVEK in the station: its working directory, sleep() answered at
// once and journalled, a hang guard. Never waits on a clock itself.
Result Run(const Station &s, const Launch &l);

// ---------------------------------------------------------------------------
// Rows.

enum class Banner { kNone, kPass, kFail };

struct Row {
    // Set-up, in this order: the stale record (unless files or dirs make
    // TALVEK.txt), scenario, tool, files (also "sub/name"), removals,
    // directories (still directories afterwards, checked), then setup.
    std::string name, scenario, tool;
    std::vector<std::pair<std::string, std::string>> files, holds;  // holds: files afterwards
    std::vector<std::string> removed, dirs, has, lacks, absent;
    std::function<void(Station &)> setup;
    Launch launch;

    // Expectations (unset: not checked). signal: killed by it instead of exit_code.
    int exit_code = 1, signal = 0;
    std::optional<Banner> banner;
    std::optional<std::string> record, out;  // TALVEK.txt afterwards; all of stdout
    std::optional<std::vector<std::string>> journal, requests;  // with the pauses; without
    std::vector<std::pair<std::string, int>> counts;            // journal lines equal to it
    std::optional<int> sleeps;                                  // seconds slept
    std::vector<std::pair<std::string, size_t>> sizes;
    std::function<void(const Station &, const Result &)> then;

    // clang-format off
    explicit Row(std::string n) : name(std::move(n)) {}

    Row &Args(std::vector<std::string> a) { launch.args = std::move(a); return *this; }
    Row &Scenario(std::string s) { scenario = std::move(s); return *this; }
    Row &Tool(std::string t) { tool = std::move(t); return *this; }
    Row &File(std::string f, std::string c) { files.emplace_back(std::move(f), std::move(c)); return *this; }
    Row &Remove(std::string f) { removed.push_back(std::move(f)); return *this; }
    Row &Dir(std::string d) { dirs.push_back(std::move(d)); return *this; }
    Row &Setup(std::function<void(Station &)> f) { setup = std::move(f); return *this; }
    // Standard input; Type: the keys typed at each entry once its prompt is out.
    Row &Input(std::string keys) { launch.input = std::move(keys); return *this; }
    Row &On(Stdin in) { launch.in = in; return *this; }
    Row &Type(std::vector<std::string> k) {
        return AtEachEntry([k = std::move(k)](const Entry &e) { if (e.index < k.size()) TypeKeys(e, k[e.index]); return true; });
    }
    Row &SignalAtEntry(int sig) { return AtEachEntry([sig](const Entry &e) { return kill(e.pid, sig) == 0; }); }
    Row &AtEachEntry(AtEntry f) { launch.at_entry = std::move(f); return *this; }
    Row &Nonblocking() { launch.nonblocking = true; return *this; }
    Row &IgnoreHup() { launch.ignore_hup = true; return *this; }
    Row &Unprivileged() { launch.unprivileged = true; return *this; }
    Row &JournalAt(std::string name) { launch.journal = std::move(name); return *this; }
    Row &In(std::string subdir) { launch.dir = std::move(subdir); return *this; }

    Row &Exit(int code) { exit_code = code; signal = 0; return *this; }
    Row &Killed(int sig) { signal = sig; return *this; }
    Row &Shows(Banner b) { banner = b; return *this; }
    Row &Record(std::string r) { record = std::move(r); return *this; }
    Row &Out(std::string o) { out = std::move(o); return *this; }
    Row &Has(std::string s) { has.push_back(std::move(s)); return *this; }
    Row &Lacks(std::string s) { lacks.push_back(std::move(s)); return *this; }
    Row &Journal(std::vector<std::string> j) { journal = std::move(j); return *this; }
    Row &Requests(std::vector<std::string> r) { requests = std::move(r); return *this; }
    Row &Count(std::string line, int n) { counts.emplace_back(std::move(line), n); return *this; }
    Row &Sleeps(int n) { sleeps = n; return *this; }
    Row &Holds(std::string f, std::string c) { holds.emplace_back(std::move(f), std::move(c)); return *this; }
    Row &Size(std::string f, size_t n) { sizes.emplace_back(std::move(f), n); return *this; }
    Row &Absent(std::string f) { absent.push_back(std::move(f)); return *this; }
    Row &Then(std::function<void(const Station &, const Result &)> f) { then = std::move(f); return *this; }

    // The common ends of a run.
    Row &Passes(std::string rec) { return Exit(0).Shows(Banner::kPass).Record(std::move(rec)); }
    Row &FailsWithBanner() { return Exit(1).Shows(Banner::kFail).Record(kFailRecord); }
    Row &FailsQuietly() { return Exit(1).Shows(Banner::kNone).Record(kFailRecord); }
    // clang-format on
};

inline void PrintTo(const Row &r, std::ostream *os)
{
    *os << r.name;
}

// One test per row of a table: ROWS(Keyboard, KeyboardRows()) makes
// Rows/Keyboard.Run/<row name> for each row, each run through Check.
#define ROWS(suite, table)                                                                         \
    class suite : public ::testing::TestWithParam<Row> {};                                         \
    TEST_P(suite, Run)                                                                             \
    {                                                                                              \
        Check(GetParam());                                                                         \
    }                                                                                              \
    INSTANTIATE_TEST_SUITE_P(Rows, suite, ::testing::ValuesIn(table), RowName)

// Test names from row names: letters and digits kept, the rest as '_'.
std::string TestName(const std::string &text);
std::string RowName(const ::testing::TestParamInfo<Row> &info);

// Sets the station up as the row says, runs TALVEK and checks the row's
// expectations and the invariants. The second form uses a station the test
// made (to look at it afterwards, or to run twice in it).
void Check(const Row &row);
void Check(const Row &row, Station &s);
// Only the set-up half of Check (for the benchmark).
void SetUp(const Row &row, Station &s);

int Occurrences(const std::string &hay, const std::string &needle);

#endif
