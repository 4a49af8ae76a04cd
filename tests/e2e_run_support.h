// Table rows for end-to-end runs of TALVEK in a station directory: what the
// station holds before the run and everything a run leaves behind (exit
// status, console bytes, banner, result record, journal of requests and
// pauses, other files). Shared by the tests/e2e_run_*_test.cpp files.
#ifndef TALVEK_TESTS_E2E_RUN_SUPPORT_H
#define TALVEK_TESTS_E2E_RUN_SUPPORT_H

#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include "station.h"

namespace e2e {

// MACs admitted by the station's default allow-list (02-AB-3C-*).
inline const std::string kMac1 = "02AB3C5601A1";
inline const std::string kMac2 = "02AB3C5601A2";
// A record left by an earlier board; a failed run must not leave it behind.
inline const std::string kStaleRecord = "P\neth0:02AB3C999999\neth1:02AB3C99999A\n";
inline const std::string kPass1 = "P\neth0:" + kMac1 + "\n";
inline const std::string kPass2 = "P\neth1:" + kMac2 + "\n";
inline const std::string kPassBoth = "P\neth0:" + kMac1 + "\neth1:" + kMac2 + "\n";
inline const std::string kFailRecord = "N\n";

// Request lines as the simulated tool journals them.
inline const std::string kGetId = "raw 0x06 0x01";
inline const std::string kReset = "raw 0x06 0x02";
inline const std::string kGet0Fixed = "raw 0x3a 0xa1 0x00";
inline const std::string kGet1Fixed = "raw 0x3a 0xa1 0x01";
inline const std::string kGet0 = "raw 0x3a 0xa1 0";
inline const std::string kGet1 = "raw 0x3a 0xa1 1";
inline const std::string kSleep = "sleep 1";
// Fast Set MAC of kMac1 / kMac2, one port, as the one-port branch sends it.
inline const std::string kSet0 = "raw 0x3a 0xa0 0 2 171 60 86 1 161";
inline const std::string kSet1 = "raw 0x3a 0xa0 1 2 171 60 86 1 162";
// The same writes as the both-ports branch sends them.
inline const std::string kSet0Fixed = "raw 0x3a 0xa0 0x00 2 171 60 86 1 161";
inline const std::string kSet1Fixed = "raw 0x3a 0xa0 0x01 2 171 60 86 1 162";
inline const std::string kSetBoth = "raw 0x3a 0xa0 0x02 2 171 60 86 1 161 2 171 60 86 1 162";

// Console pieces.
inline const std::string kRevisionLine = "BMC Revision = 1.25.3\r\n";
inline const std::string kIniLine = "INI(0) - AVL_MASK=FFFFFF000000, AVL_VALUE=02AB3C000000\n";
inline const std::string kHead = std::string(kVersionLine) + kRevisionLine + kIniLine;
inline const std::string kReadbackTitle =
    "-- Fast Get MAC OEM CMD support. No need to disable bond. --\n";
inline const std::string kMacReady = "wait MAC ready...(0)   \r";
inline const std::string kLine1 = "The 1st MAC = 02-AB-3C-56-01-A1\n";
inline const std::string kLine2 = "The 2nd MAC = 02-AB-3C-56-01-A2\n";

inline std::vector<std::string> Cat(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Countdown lines for the counts from..to (each overwritten by the next),
// then the line end.
inline std::string Countdown(int from, int to)
{
    std::string s;
    for (int c = from; c >= to; c--)
        s += "Fast Set MAC done, waiting for BMC ready...(" + std::to_string(c) + ")  \r";
    return s + "\n";
}

// Journal of a countdown starting at `start` that runs `steps` steps: a
// second each, Get Device ID once, twice from the count 29 on.
inline std::vector<std::string> CountdownJournal(int start, int steps)
{
    std::vector<std::string> j;
    for (int i = 1; i <= steps; i++) {
        j.push_back(kSleep);
        j.push_back(kGetId);
        if (start - i <= 29)
            j.push_back(kGetId);
    }
    return j;
}

// The default three-second countdown with a BMC that answers at once.
inline const std::vector<std::string> kSettleQuick = {kSleep, kGetId, kGetId};
// The MAC-ready pass and the read-back for the programmed ports.
inline std::vector<std::string> MacReadyJournal(bool eth0, bool eth1)
{
    std::vector<std::string> j = {kSleep};
    if (eth0)
        j.push_back(kGet0);
    if (eth1)
        j.push_back(kGet1);
    return j;
}
inline std::vector<std::string> ReadbackJournal(bool eth0, bool eth1)
{
    std::vector<std::string> j = {kGet0Fixed};
    if (eth0)
        j.push_back(kGet0);
    if (eth1)
        j.push_back(kGet1);
    return j;
}

enum class Banner { kNone, kPass, kFail };

struct RunCase {
    std::string name;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> files;  // written before the run
    std::vector<std::string> removed;                         // removed before the run
    std::vector<std::string> dirs;                            // directories made before the run
    std::string scenario;
    std::string input;  // standard input
    int status = 1;
    Banner banner = Banner::kNone;
    std::optional<std::string> record;  // TALVEK.txt afterwards; unset: not checked
    std::optional<std::string> out;     // whole standard output
    std::vector<std::string> contains;
    std::vector<std::string> lacks;
    std::optional<std::vector<std::string>> journal;  // requests and pauses, in order
    std::vector<std::pair<std::string, int>> counts;  // journal lines and how often
    std::optional<int> sleeps;                        // seconds slept
    std::vector<std::string> absent;                  // files that must not exist afterwards
    std::vector<std::pair<std::string, size_t>> sizes;  // files and their sizes afterwards

    explicit RunCase(std::string n) : name(std::move(n)) {}
    RunCase &Args(std::vector<std::string> a) { args = std::move(a); return *this; }
    RunCase &File(std::string f, std::string content)
    {
        files.emplace_back(std::move(f), std::move(content));
        return *this;
    }
    RunCase &Remove(std::string f) { removed.push_back(std::move(f)); return *this; }
    RunCase &Dir(std::string d) { dirs.push_back(std::move(d)); return *this; }
    RunCase &Scenario(std::string s) { scenario = std::move(s); return *this; }
    RunCase &Input(std::string s) { input = std::move(s); return *this; }
    RunCase &Exit(int s) { status = s; return *this; }
    RunCase &Shows(Banner b) { banner = b; return *this; }
    RunCase &Record(std::string r) { record = std::move(r); return *this; }
    RunCase &Out(std::string o) { out = std::move(o); return *this; }
    RunCase &Has(std::string s) { contains.push_back(std::move(s)); return *this; }
    RunCase &Lacks(std::string s) { lacks.push_back(std::move(s)); return *this; }
    RunCase &Journal(std::vector<std::string> j) { journal = std::move(j); return *this; }
    RunCase &Count(std::string line, int n) { counts.emplace_back(std::move(line), n); return *this; }
    RunCase &Sleeps(int n) { sleeps = n; return *this; }
    RunCase &Absent(std::string f) { absent.push_back(std::move(f)); return *this; }
    RunCase &Size(std::string f, size_t n) { sizes.emplace_back(std::move(f), n); return *this; }

    // The common ends of a run.
    RunCase &Passes(std::string rec) { return Exit(0).Shows(Banner::kPass).Record(std::move(rec)); }
    RunCase &FailsWithBanner() { return Exit(1).Shows(Banner::kFail).Record(kFailRecord); }
    RunCase &FailsQuietly() { return Exit(1).Shows(Banner::kNone).Record(kFailRecord); }
};

inline void PrintTo(const RunCase &c, std::ostream *os) { *os << c.name; }

inline int Occurrences(const std::string &hay, const std::string &needle)
{
    int n = 0;
    for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1))
        n++;
    return n;
}

// Sets the station up as the row says (with a stale pass record in
// TALVEK.txt), runs TALVEK and checks every expectation of the row.
inline void RunAndCheck(const RunCase &c, Station &s)
{
    SCOPED_TRACE(c.name);
    bool record_is_dir = false;
    for (const auto &d : c.dirs)
        record_is_dir |= d == "TALVEK.txt";
    if (!record_is_dir)
        s.write("TALVEK.txt", kStaleRecord);
    if (!c.scenario.empty())
        s.scenario(c.scenario);
    for (const auto &f : c.files)
        s.write(f.first, f.second);
    for (const auto &f : c.removed)
        s.remove(f);
    for (const auto &d : c.dirs)
        ASSERT_EQ(mkdir(s.path(d).c_str(), 0755), 0) << d;

    RunResult r = s.run(c.args, c.input);

    EXPECT_EQ(r.status, c.status) << r.out;
    EXPECT_EQ(r.out.rfind(kVersionLine, 0), 0u) << "first line:\n" << r.out;
    EXPECT_EQ(Occurrences(r.out, kPassBanner), c.banner == Banner::kPass ? 1 : 0) << r.out;
    EXPECT_EQ(Occurrences(r.out, kFailBanner), c.banner == Banner::kFail ? 1 : 0) << r.out;
    if (c.record) {
        EXPECT_EQ(s.read("TALVEK.txt"), *c.record);
    }
    if (c.out) {
        EXPECT_EQ(r.out, *c.out);
    }
    for (const auto &frag : c.contains)
        EXPECT_NE(r.out.find(frag), std::string::npos) << "missing: " << frag << "\nin:\n" << r.out;
    for (const auto &frag : c.lacks)
        EXPECT_EQ(r.out.find(frag), std::string::npos) << "unexpected: " << frag << "\nin:\n" << r.out;
    if (c.journal) {
        EXPECT_EQ(s.journal(), *c.journal);
    }
    for (const auto &cnt : c.counts)
        EXPECT_EQ(s.count(cnt.first), cnt.second) << cnt.first;
    if (c.sleeps) {
        EXPECT_EQ(s.sleeps(), *c.sleeps);
    }
    for (const auto &f : c.absent)
        EXPECT_FALSE(s.exists(f)) << f;
    for (const auto &f : c.sizes)
        EXPECT_EQ(s.read(f.first).size(), f.second) << f.first;
}

inline void RunAndCheck(const RunCase &c)
{
    Station s;
    RunAndCheck(c, s);
}

// Test names from row names: letters and digits kept, the rest as '_'.
struct RowName {
    std::string operator()(const ::testing::TestParamInfo<RunCase> &info) const
    {
        std::string n;
        for (char ch : info.param.name)
            n += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return n;
    }
};

}  // namespace e2e

#endif
