// The fixture's rows (test.h): naming, setting up, and checking a row's
// expectations and the invariants every run keeps.
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
// Rows.

std::string TestName(const std::string &text)
{
    std::string n;
    for (char ch : text)
        n += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    return n;
}

std::string RowName(const ::testing::TestParamInfo<Row> &info)
{
    return TestName(info.param.name);
}

int Occurrences(const std::string &hay, const std::string &needle)
{
    int n = 0;
    for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1))
        n++;
    return n;
}

namespace {

bool IsRegular(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The 12 hex digits after the first occurrence of key, as a 48-bit number.
bool Hex12(const std::string &line, const std::string &key, uint64_t *v)
{
    size_t at = line.find(key);
    std::string d = at == std::string::npos ? "" : line.substr(at + key.size(), 12);
    if (d.size() != 12 ||
        !std::all_of(d.begin(), d.end(), [](unsigned char c) { return isxdigit(c); }))
        return false;
    *v = std::stoull(d, nullptr, 16);
    return true;
}

// MACs carried by Fast Set MAC requests ("raw 0x3a 0xa0 P b0..b5 [b0..b5]"),
// as 12 upper-case digits; "malformed: ..." for a request of another shape.
std::vector<std::string> WrittenMacs(const std::vector<std::string> &requests)
{
    std::vector<std::string> macs;
    for (const auto &line : requests) {
        if (line.rfind("raw 0x3a 0xa0", 0) != 0)
            continue;
        std::istringstream in(line.substr(13));
        std::string position, b, mac;
        in >> position;
        size_t want = position == "0x02" || position == "2" ? 12 : 6, got = 0;
        for (char hex[3]; in >> b; got++) {
            snprintf(hex, sizeof(hex), "%02X", atoi(b.c_str()) & 0xff);
            mac += hex;
        }
        if (got != want)
            macs.push_back("malformed: " + line);
        for (size_t m = 0; got == want && m < want; m += 6)
            macs.push_back(mac.substr(2 * m, 12));
    }
    return macs;
}

// The MACs (12 upper-case digits) that an allow-list text admits: an
// independent reading of the format, for the invariant.
bool AdmittedBy(const std::string &ini, const std::string &mac)
{
    uint64_t m, mask, value;
    if (!Hex12("=" + mac, "=", &m))
        return false;
    int entries = 0;
    std::string text = ini;
    std::replace(text.begin(), text.end(), '\0', '\n');  // a NUL ends a line too
    for (std::string line : Lines(text)) {
        line = line.substr(0, std::min(line.size(), size_t{255}));
        if (line.empty() || line[0] == ';' || !Hex12(line, "AVL_MASK=", &mask) ||
            !Hex12(line, "AVL_VALUE=", &value))
            continue;
        if (++entries > 1024)
            break;
        if ((m & mask) == value)
            return true;
    }
    return false;
}

bool Touches(const Row &row, const std::string &name)
{
    return std::any_of(row.files.begin(), row.files.end(),
                       [&](auto &f) { return f.first == name; }) ||
           std::count(row.dirs.begin(), row.dirs.end(), name) > 0;
}

// An expectation the row may leave unset.
template <class T> void ExpectIf(const std::optional<T> &want, const T &got)
{
    if (want) {
        EXPECT_EQ(got, *want);
    }
}

void CheckInvariants(const Station &s, const Row &row, const Result &r, const std::string &ini,
                     const std::string &record_before)
{
    ASSERT_FALSE(r.hung) << "TALVEK did not end; output so far:\n" << r.out;
    for (const char *report : {"Sanitizer", "runtime error"})
        EXPECT_EQ(r.err.find(report), std::string::npos) << r.err;
    // The offset update mode runs before the list is loaded and is not
    // subject to it.
    const auto &args = row.launch.args;
    bool offset_mode =
        !args.empty() && args[0].size() >= 2 && toupper(args[0][0]) == 'U' && args[0][1] == '=';
    for (const auto &mac : WrittenMacs(s.requests(row.launch.journal)))
        EXPECT_TRUE(offset_mode || AdmittedBy(ini, mac))
            << "Fast Set MAC with " << mac << ", not admitted";
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(s.dir(), ec)) {
        std::string name = e.path().filename();
        EXPECT_FALSE(name.rfind("TALVEK.txt", 0) == 0 && name != "TALVEK.txt")
            << "left behind: " << name;
    }
    if (r.status() != 0 && IsRegular(s.path("TALVEK.txt"))) {
        std::string rec = s.read("TALVEK.txt");
        EXPECT_TRUE(rec == kFailRecord || rec == record_before)
            << "status " << r.status() << ", record:\n"
            << rec;
    }
    if (row.launch.in == Stdin::kTerminal) {
        const termios &a = r.term_after, &b = r.term_before;
        EXPECT_TRUE(a.c_lflag == b.c_lflag && a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag &&
                    a.c_cflag == b.c_cflag && memcmp(a.c_cc, b.c_cc, sizeof(a.c_cc)) == 0)
            << "the terminal's settings were not restored";
        EXPECT_EQ(r.flags_after, r.flags_before) << "the terminal's flags were not restored";
    }
}

}  // namespace

void Check(const Row &row)
{
    Station s;
    Check(row, s);
}

void SetUp(const Row &row, Station &s)
{
    if (!Touches(row, "TALVEK.txt"))
        s.write("TALVEK.txt", kStaleRecord);
    if (!row.scenario.empty())
        s.scenario(row.scenario);
    if (!row.tool.empty())
        s.tool(row.tool);
    for (const auto &f : row.files)
        s.write(f.first, f.second);
    for (const auto &f : row.removed)
        s.remove(f);
    for (const auto &d : row.dirs)
        s.mkdir(d);
    if (row.setup)
        row.setup(s);
}

void Check(const Row &row, Station &s)
{
    SCOPED_TRACE(row.name);
    SetUp(row, s);
    const std::string ini = IsRegular(s.path("TALVEK.ini")) ? s.read("TALVEK.ini") : "";
    const std::string record_before = s.read("TALVEK.txt");

    Result r = Run(s, row.launch);
    if (r.no_user)
        GTEST_SKIP() << "cannot drop root to an ordinary user here, and root ignores modes";

    CheckInvariants(s, row, r, ini, record_before);
    if (row.signal != 0) {
        EXPECT_EQ(r.signal, row.signal) << "exit " << r.exit_code << "\n" << r.out;
    } else {
        EXPECT_EQ(r.signal, 0) << "killed by signal " << r.signal << "\n" << r.out << r.err;
        EXPECT_EQ(r.exit_code, row.exit_code) << r.out;
    }
    // First; on a terminal the echo of keys typed before the start may come
    // at any time.
    size_t version = r.out.find("TALVEK V0.37");
    bool echo = row.launch.in == Stdin::kTerminal && !row.launch.input.empty();
    EXPECT_TRUE(echo ? version != std::string::npos : version == 0) << "first line:\n" << r.out;
    if (row.banner) {
        EXPECT_EQ(Occurrences(r.out, kPassBanner), *row.banner == Banner::kPass ? 1 : 0) << r.out;
        EXPECT_EQ(Occurrences(r.out, kFailBanner), *row.banner == Banner::kFail ? 1 : 0) << r.out;
    }
    ExpectIf(row.record, s.read("TALVEK.txt"));
    ExpectIf(row.out, r.out);
    for (const auto &frag : row.has)
        EXPECT_NE(r.out.find(frag), std::string::npos) << "missing: " << frag << "\nin:\n" << r.out;
    for (const auto &frag : row.lacks)
        EXPECT_EQ(r.out.find(frag), std::string::npos) << "unexpected: " << frag << "\nin:\n"
                                                       << r.out;
    const std::vector<std::string> journal = Lines(s.read(row.launch.journal));
    ExpectIf(row.journal, journal);
    ExpectIf(row.requests, s.requests(row.launch.journal));
    for (const auto &c : row.counts)
        EXPECT_EQ(std::count(journal.begin(), journal.end(), c.first), c.second) << c.first;
    int slept = 0;
    for (const auto &l : journal)
        slept += IsPause(l) ? atoi(l.c_str() + 6) : 0;
    ExpectIf(row.sleeps, slept);
    for (const auto &f : row.holds)
        EXPECT_EQ(s.read(f.first), f.second) << f.first;
    for (const auto &f : row.sizes)
        EXPECT_EQ(s.read(f.first).size(), f.second) << f.first;
    for (const auto &f : row.absent)
        EXPECT_FALSE(s.exists(f)) << f;
    std::error_code ec;
    for (const auto &d : row.dirs)
        EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::symlink_status(s.path(d), ec)))
            << d << " is no directory now";
    if (row.then)
        row.then(s, r);
}
