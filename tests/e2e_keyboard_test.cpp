// Keyboard and bar-code entry end to end: keys come from a file on standard
// input, as a scanner's codes do through a pipe, and the whole run follows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "station.h"

namespace {

const char kHead[] =
    "TALVEK V0.37\n"
    "BMC Revision = 1.25.3\r\n"
    "INI(0) - AVL_MASK=FFFFFF000000, AVL_VALUE=02AB3C000000\n";
const char kPrompt1[] = "Please scan the 1st bar code... (ESC to exit) ";
const char kPrompt2[] = "Please scan the 2nd bar code... (ESC to exit) ";

bool HasSetMac(const Station &s)
{
    for (const auto &l : s.requests()) {
        if (l.rfind("raw 0x3a 0xa0", 0) == 0)
            return true;
    }
    return false;
}

// Everything printed after the last prompt of position 0, up to the first
// line end that the entry prints.
std::string EchoAfter(const std::string &out, const std::string &prompt)
{
    size_t p = out.find(prompt);
    if (p == std::string::npos)
        return "<no prompt>";
    p += prompt.size();
    size_t e = out.find('\n', p);
    return out.substr(p, e == std::string::npos ? std::string::npos : e - p + 1);
}

}  // namespace

// One keyboard position whose entry completes: the echo, the MAC written and
// the pass record.
TEST(Keyboard, CompletedEntryProgramsFirstPort)
{
    struct Row {
        const char *name;
        std::string keys;
        std::string echo;
    };
    const std::vector<Row> rows = {
        {"lower case digits", "02ab3c5601a1", "02-ab-3c-56-01-a1\n"},
        {"scanner with colons", "02:AB:3C:56:01:A1\n", "02-AB-3C-56-01-A1\n"},
        {"scanner line end", "02AB3C5601A1\r\n", "02-AB-3C-56-01-A1\n"},
        {"other separators and junk", "-02 ab.3C\t56gz01\x7f\x01" "A1", "02-ab-3C-56-01-A1\n"},
        {"high bytes are no digits", "\xb0\xe1" "02AB3C5601A1", "02-AB-3C-56-01-A1\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Station s;
        RunResult r = s.run({"1"}, row.keys);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out.substr(0, sizeof(kHead) - 1 + sizeof(kPrompt1) - 1),
                  std::string(kHead) + kPrompt1);
        EXPECT_EQ(EchoAfter(r.out, kPrompt1), row.echo);
        EXPECT_EQ(s.count("raw 0x3a 0xa0 0 2 171 60 86 1 161"), 1);
        EXPECT_EQ(s.read("TALVEK.txt"), "P\neth0:02AB3C5601A1\n");
        EXPECT_EQ(r.out.find(kPrompt2), std::string::npos);
    }
}

// Entries that end before 12 digits: ESC (also as the start of a function
// key's sequence) or the end of input. The run fails before anything is
// written to the BMC and leaves the failure record.
TEST(Keyboard, AbandonedEntryFailsBeforeProgramming)
{
    struct Row {
        const char *name;
        std::string keys;
        std::string after_prompt;  // up to the FAIL banner
    };
    const std::vector<Row> rows = {
        {"ESC after four digits", "02AB\x1b" "3C5601A1",
         "02-AB-\nError! The value '02AB\x1b' is invaild.\n"},
        {"ESC first", "\x1b" "02AB3C5601A1", "\nError! The value '\x1b' is invaild.\n"},
        {"arrow key", "\x1b[A02AB3C5601A1", "\nError! The value '\x1b' is invaild.\n"},
        {"ESC after dropped keys", "0:2:A\x1b", "02-A\nError! The value '02A\x1b' is invaild.\n"},
        {"ESC after eleven digits", "02AB3C5601A\x1b",
         "02-AB-3C-56-01-A\nError! The value '02AB3C5601A\x1b' is invaild.\n"},
        {"end of input after six digits", "02AB3C",
         "02-AB-3C-\nError! The value '02AB3C' is invaild.\n"},
        {"end of input after separators", "02:AB:",
         "02-AB-\nError! The value '02AB' is invaild.\n"},
        {"no input at all", "", "\nError! The value '' is invaild.\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Station s;
        s.write("TALVEK.txt", "P\neth0:02AB3C5601A1\n");
        RunResult r = s.run({"1"}, row.keys);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, std::string(kHead) + kPrompt1 + row.after_prompt + kFailBanner);
        EXPECT_EQ(s.requests(), std::vector<std::string>{"raw 0x06 0x01"});
        EXPECT_EQ(s.read("TALVEK.txt"), "N\n");
    }
}

// Two keyboard positions, with and without the order option "V", and a first
// position from the command line with only the second keyed.
TEST(Keyboard, TwoPositionsAndTheOrderRule)
{
    struct Row {
        const char *name;
        std::vector<std::string> args;
        std::string keys;
        std::string set_line;
        std::string record;
    };
    const std::vector<Row> rows = {
        {"no V, never swapped", {"1", "2"}, "02AB3C5601A2\r\n02AB3C5601A1\r\n",
         "raw 0x3a 0xa0 0x02 2 171 60 86 1 162 2 171 60 86 1 161",
         "P\neth0:02AB3C5601A2\neth1:02AB3C5601A1\n"},
        {"codes back to back: the 13th key starts the next entry", {"1", "2"},
         "02AB3C5601A102AB3C5601A2",
         "raw 0x3a 0xa0 0x02 2 171 60 86 1 161 2 171 60 86 1 162",
         "P\neth0:02AB3C5601A1\neth1:02AB3C5601A2\n"},
        {"V, larger last byte first: swapped", {"1", "2", "V"}, "02AB3C5601A2\r\n02AB3C5601A1\r\n",
         "raw 0x3a 0xa0 0x02 2 171 60 86 1 161 2 171 60 86 1 162",
         "P\neth0:02AB3C5601A1\neth1:02AB3C5601A2\n"},
        {"V, already in order", {"1", "2", "V"}, "02AB3C5601A1\r\n02AB3C5601A2\r\n",
         "raw 0x3a 0xa0 0x02 2 171 60 86 1 161 2 171 60 86 1 162",
         "P\neth0:02AB3C5601A1\neth1:02AB3C5601A2\n"},
        {"V compares the last byte only", {"1", "2", "V"}, "02AB3C5601FF\n02AB3C560200\n",
         "raw 0x3a 0xa0 0x02 2 171 60 86 2 0 2 171 60 86 1 255",
         "P\neth0:02AB3C560200\neth1:02AB3C5601FF\n"},
        {"V, equal last bytes kept", {"1", "2", "V"}, "02AB3C5601A1\n02AB3C5602A1\n",
         "raw 0x3a 0xa0 0x02 2 171 60 86 1 161 2 171 60 86 2 161",
         "P\neth0:02AB3C5601A1\neth1:02AB3C5602A1\n"},
        {"V, position 0 from the command line", {"1=02AB3C5601A2", "2", "V"}, "02AB3C5601A1\n",
         "raw 0x3a 0xa0 0x02 2 171 60 86 1 161 2 171 60 86 1 162",
         "P\neth0:02AB3C5601A1\neth1:02AB3C5601A2\n"},
        {"no V, position 0 from the command line", {"1=02AB3C5601A2", "2"}, "02AB3C5601A1\n",
         "raw 0x3a 0xa0 0x02 2 171 60 86 1 162 2 171 60 86 1 161",
         "P\neth0:02AB3C5601A2\neth1:02AB3C5601A1\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Station s;
        RunResult r = s.run(row.args, row.keys);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(s.count(row.set_line), 1);
        EXPECT_EQ(s.read("TALVEK.txt"), row.record);
        bool keyed_first = row.args[0] == "1";
        EXPECT_EQ(r.out.find(kPrompt1) != std::string::npos, keyed_first);
        EXPECT_NE(r.out.find(kPrompt2), std::string::npos);
    }
}

// The console of two entries, byte for byte: the scanner's line end after the
// first code is left waiting and dropped by the second entry.
TEST(Keyboard, TwoEntriesConsole)
{
    Station s;
    RunResult r = s.run({"1", "2"}, "02ab3c5601a1\r\n02AB3C5601A2\r\n");
    EXPECT_EQ(r.status, 0);
    std::string want = std::string(kHead) + kPrompt1 + "02-ab-3c-56-01-a1\n" + kPrompt2 +
                       "02-AB-3C-56-01-A2\n";
    EXPECT_EQ(r.out.substr(0, want.size()), want);
    EXPECT_EQ(s.read("TALVEK.txt"), "P\neth0:02AB3C5601A1\neth1:02AB3C5601A2\n");
}

// Runs that must not prompt, or must stop after the entry, and never write.
TEST(Keyboard, EntryFailuresWriteNothing)
{
    struct Row {
        const char *name;
        std::string scenario;
        std::vector<std::string> args;
        std::string keys;
        std::string out;
        std::vector<std::string> requests;
    };
    const std::vector<Row> rows = {
        {"second position not prompted after the first failed", "", {"1", "2"},
         "02\x1b" "02AB3C5601A1\n",
         std::string(kHead) + kPrompt1 + "02-\nError! The value '02\x1b' is invaild.\n" + kFailBanner,
         {"raw 0x06 0x01"}},
        {"no prompt after a failed revision query", "getid 1 fail\n", {"1"}, "02AB3C5601A1",
         std::string(kVersionLine) + "BMC Revision = ?.?.?\r\n"
             "INI(0) - AVL_MASK=FFFFFF000000, AVL_VALUE=02AB3C000000\n" + kFailBanner,
         {"raw 0x06 0x01"}},
        {"no prompt for either position after a failed revision query", "getid 1 fail\n",
         {"1", "2"}, "02AB3C5601A1\n02AB3C5601A2\n",
         std::string(kVersionLine) + "BMC Revision = ?.?.?\r\n"
             "INI(0) - AVL_MASK=FFFFFF000000, AVL_VALUE=02AB3C000000\n" + kFailBanner,
         {"raw 0x06 0x01"}},
        {"keyed MAC refused by the allow-list", "", {"1"}, "0a0b0c0d0e0f",
         std::string(kHead) + kPrompt1 + "0a-0b-0c-0d-0e-0f\n"
             "Error! Mac 0A-0B-0C-0D-0E-0F is invalid.\n" + kFailBanner,
         {"raw 0x06 0x01"}},
        {"second keyed MAC refused", "", {"1", "2"}, "02AB3C5601A1\nFFAB3C5601A2\n",
         std::string(kHead) + kPrompt1 + "02-AB-3C-56-01-A1\n" + kPrompt2 +
             "FF-AB-3C-56-01-A2\nError! Mac FF-AB-3C-56-01-A2 is invalid.\n" + kFailBanner,
         {"raw 0x06 0x01"}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Station s;
        if (!row.scenario.empty())
            s.scenario(row.scenario);
        s.write("TALVEK.txt", "P\neth0:02AB3C5601A1\n");
        RunResult r = s.run(row.args, row.keys);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, row.out);
        EXPECT_EQ(s.requests(), row.requests);
        EXPECT_FALSE(HasSetMac(s));
        EXPECT_EQ(s.read("TALVEK.txt"), "N\n");
    }
}
