// End-to-end runs that end early: every row of the run driver's failure
// table with the record it leaves (every failed run but the usage-only one
// leaves exactly "N\n"), unusable data files, the allow-list end to end, and
// a result record that cannot be written.
#include "test.h"

namespace {

// The early ends of a run, in the order of the driver's stages. The later
// ends (programming, settle wait, read-back, verdict) are in
// e2e_run_programming_test.cpp.
std::vector<Row> DriverRows()
{
    const std::string banner_only = std::string(kVersionLine) + kFailBanner;
    return {
        Row("offset update mode range refused")
            .Args({"U=0"}).FailsWithBanner()
            .Out(std::string(kVersionLine) + "Offset must be in 0x00001~0xfffff\r\n" + kFailBanner)
            .Journal({}),
        Row("offset update mode read failing")
            .Args({"U=1"}).Scenario("getmac 1 fail\n").FailsWithBanner()
            .Out(std::string(kVersionLine) + "Get eth00 Mac Address Fail.\r\n" + kFailBanner)
            .Journal({kGet0Fixed}),
        Row("data file missing")
            .Args({"1", "T"}).FailsWithBanner().Out(banner_only).Journal({}),
        Row("no arguments shows usage and touches nothing")
            .Args({}).Remove("TALVEK.ini").Exit(1).Shows(Banner::kNone).Record(kStaleRecord)
            .Out(std::string(kVersionLine) + kUsage).Journal({}).Absent("MAC_LOG.txt"),
        Row("INI file missing")
            .Args({kArg1}).Remove("TALVEK.ini").FailsWithBanner()
            .Out(std::string(kVersionLine) + kRevisionLine + kNoIni + kFailBanner)
            .Journal({kGetId}),
        Row("INI file unreadable")
            .Args({kArg1}).Remove("TALVEK.ini").Dir("TALVEK.ini").FailsWithBanner()
            .Out(std::string(kVersionLine) + kRevisionLine + kNoIni + kFailBanner)
            .Journal({kGetId}),
        Row("keyboard entry abandoned with ESC")
            .Args({"1"}).Input("02AB\x1b" + kMac1).FailsWithBanner()
            .Out(kHead + kPrompt1 + "02-AB-\nError! The value '02AB\x1b' is invaild.\n" + kFailBanner)
            .Journal({kGetId}),
        Row("first entry abandoned the second is not prompted")
            .Args({"1", "2"}).Input("\x1b" + kMac1 + kMac2).FailsWithBanner()
            .Out(kHead + kPrompt1 + "\nError! The value '\x1b' is invaild.\n" + kFailBanner)
            .Journal({kGetId}),
        Row("keyboard input ending early")
            .Args({"2"}).Input("02AB3C").FailsWithBanner()
            .Out(kHead + kPrompt2 + "02-AB-3C-\nError! The value '02AB3C' is invaild.\n" + kFailBanner)
            .Journal({kGetId}),
        Row("second entry ending early after the first")
            .Args({"1", "2"}).Input(kMac1).FailsWithBanner()
            .Out(kHead + kPrompt1 + "02-AB-3C-56-01-A1\n" + kPrompt2 +
                 "\nError! The value '' is invaild.\n" + kFailBanner)
            .Journal({kGetId}),
        Row("revision query failing skips the entry")
            .Args({"1"}).Scenario("getid 1 error\n").Input(kMac1).FailsWithBanner()
            .Out(std::string(kVersionLine) + "Command execute error\nBMC Revision = ?.?.?\r\n" +
                 kIniLine + kFailBanner)
            .Journal({kGetId}),
        Row("selected port without MAC")
            .Args({"2", "T"}).File("TALVEK1.DAT", kMac1 + "\n").FailsWithBanner()
            .Out(kHead + kFailBanner).Journal({kGetId}),
        Row("MAC refused")
            .Args({"1=02AB3D5601A1"}).FailsWithBanner()
            .Out(kHead + "Error! Mac 02-AB-3D-56-01-A1 is invalid.\n" + kFailBanner)
            .Journal({kGetId}),
        Row("check only selects no port")
            .Args({"check"}).FailsQuietly().Out(kHead).Journal({kGetId}),
        Row("fail_log only selects no port")
            .Args({"fail_log"}).FailsQuietly().Out(kHead).Journal({kGetId})
            .Absent("MAC_LOG.txt"),
        Row("ports 3 and 4 and unknown words select no port")
            .Args({"3", "4", "C", "v", "Reboot"}).FailsQuietly().Out(kHead).Journal({kGetId}),
        Row("check only without INI")
            .Args({"check"}).Remove("TALVEK.ini").FailsWithBanner()
            .Out(std::string(kVersionLine) + kRevisionLine + kNoIni + kFailBanner),
    };
}

class RunDriverFailure : public ::testing::TestWithParam<Row> {};
TEST_P(RunDriverFailure, RecordAndBanner) { Check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Rows, RunDriverFailure, ::testing::ValuesIn(DriverRows()), RowName());

// Data files whose start is not 12 hexadecimal digits end the run like a
// missing file, naming the file, before anything is sent.
std::vector<Row> DatContentRows()
{
    auto bad = [](const std::string &name, std::vector<std::string> args, const std::string &file,
                  const std::string &d1, const std::string &d2) {
        return Row(name).Args(std::move(args))
            .File("TALVEK1.DAT", d1).File("TALVEK2.DAT", d2).FailsWithBanner()
            .Out(std::string(kVersionLine) + "Error! File " + file + " does not hold a valid MAC.\n" +
                 kFailBanner)
            .Journal({});
    };
    const std::string ok1 = kMac1 + "\n";
    const std::string ok2 = kMac2 + "\n";
    return {
        bad("separators", {"1", "T"}, "TALVEK1.DAT", "02-AB-3C-56-01-A1\n", ok2),
        bad("short line", {"1", "T"}, "TALVEK1.DAT", "02AB3C\n", ok2),
        bad("eleven digits", {"1", "T"}, "TALVEK1.DAT", "02AB3C5601A\n", ok2),
        bad("empty file", {"1", "T"}, "TALVEK1.DAT", "", ok2),
        bad("leading blank", {"1", "2", "T"}, "TALVEK1.DAT", " " + ok1, ok2),
        bad("second file not hex", {"1", "2", "T"}, "TALVEK2.DAT", ok1, "02AB3C5601AZ\n"),
        bad("second file read though replaced", {"1=" + kMac1, "2", "T"}, "TALVEK2.DAT", ok1,
            "\n"),
        Row("text after twelve digits is ignored")
            .Args({"1", "T"}).File("TALVEK1.DAT", kMac1 + "-ZZ\nnext line\n").Passes(kPass1),
        Row("twelve digits without line end")
            .Args({"1", "T"}).File("TALVEK1.DAT", kMac1).Passes(kPass1),
    };
}

class RunDatContent : public ::testing::TestWithParam<Row> {};
TEST_P(RunDatContent, Validated) { Check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Rows, RunDatContent, ::testing::ValuesIn(DatContentRows()), RowName());

// The allow-list seen by a whole run: which entries are printed, which MACs
// are admitted, and that a refused MAC is never written.
std::vector<Row> AllowListRows()
{
    auto admitted = [](const std::string &name, const std::string &ini, const std::string &lines) {
        return Row(name).Args({kArg1}).File("TALVEK.ini", ini).Passes(kPass1)
            .Has(std::string(kVersionLine) + kRevisionLine + lines + "Set eth0 Mac Address Success!\n");
    };
    auto refused = [](const std::string &name, const std::string &ini, const std::string &lines) {
        return Row(name).Args({kArg1}).File("TALVEK.ini", ini).FailsWithBanner()
            .Out(std::string(kVersionLine) + kRevisionLine + lines +
                 "Error! Mac 02-AB-3C-56-01-A1 is invalid.\n" + kFailBanner)
            .Journal({kGetId});
    };
    const std::string nul(1, '\0');
    const std::string surplus_keys = "AVL_MASK=FFFFFF000000 AVL_VALUE=02AB3C000000";
    std::string long_line = "AVL_MASK=FFFFFFFFFFFF AVL_VALUE=02AB3C000001 ";
    long_line += std::string(255 - long_line.size(), 'x') + surplus_keys + "\n";
    return {
        admitted("keys reversed lower case digits comment after",
                 "AVL_VALUE=02ab3c000000 ; AVL_MASK=ffffff000000 ; vendor block\n", kIniLine),
        admitted("comment lines skipped blank before semicolon counts",
                 ";AVL_MASK=FFFFFF000000, AVL_VALUE=02AB3C000000\n"
                 " ;AVL_MASK=FFFFFFFFFFFF, AVL_VALUE=02AB3C5601A1\n",
                 "INI(0) - AVL_MASK=FFFFFFFFFFFF, AVL_VALUE=02AB3C5601A1\n"),
        admitted("CRLF NUL and a last line without line end",
                 "AVL_MASK=FFFFFFFFFFFF, AVL_VALUE=02AB3C000001\r\n"
                 "AVL_MASK=000000000000" + nul + "AVL_VALUE=000000000000\n"
                 "AVL_MASK=FFFFFF000000, AVL_VALUE=02AB3C000000",
                 "INI(0) - AVL_MASK=FFFFFFFFFFFF, AVL_VALUE=02AB3C000001\n"
                 "INI(1) - AVL_MASK=FFFFFF000000, AVL_VALUE=02AB3C000000\n"),
        admitted("thirteen digits give the first twelve",
                 "AVL_MASK=FFFFFF0000001 AVL_VALUE=02AB3C0000009\n", kIniLine),
        admitted("mask of zeros admits every MAC",
                 "AVL_MASK=000000000000 AVL_VALUE=000000000000\n",
                 "INI(0) - AVL_MASK=000000000000, AVL_VALUE=000000000000\n"),
        refused("empty file", "", ""),
        refused("eleven digits blanks and lower case keys give nothing",
                "AVL_MASK=FFFFFF00000 AVL_VALUE=02AB3C000000\n"
                "AVL_MASK= FFFFFF000000 AVL_VALUE=02AB3C000000\n"
                "avl_mask=FFFFFF000000 avl_value=02AB3C000000\n", ""),
        refused("only the first occurrence of a key counts",
                "AVL_MASK=FFFFFF00000X AVL_MASK=FFFFFF000000 AVL_VALUE=02AB3C000000\n", ""),
        refused("value with bits outside the mask admits nothing",
                "AVL_MASK=FFFFFF000000 AVL_VALUE=02AB3C000001\n",
                "INI(0) - AVL_MASK=FFFFFF000000, AVL_VALUE=02AB3C000001\n"),
        refused("long line keeps 255 characters and the rest is no line", long_line,
                "INI(0) - AVL_MASK=FFFFFFFFFFFF, AVL_VALUE=02AB3C000001\n"),
        Row("first refused the second is not examined")
            .Args({"1=02AB3D5601A1", "2=02AB3E5601A2"}).FailsWithBanner()
            .Out(kHead + "Error! Mac 02-AB-3D-56-01-A1 is invalid.\n" + kFailBanner)
            .Journal({kGetId}),
        Row("second refused")
            .Args({kArg1, "2=02AB3D5601A2"}).FailsWithBanner()
            .Out(kHead + "Error! Mac 02-AB-3D-56-01-A2 is invalid.\n" + kFailBanner)
            .Journal({kGetId}),
        Row("scanned MAC refused after its entry")
            .Args({"1"}).Input("02ab3d5601a1").FailsWithBanner()
            .Out(kHead + kPrompt1 + "02-ab-3d-56-01-a1\nError! Mac 02-AB-3D-56-01-A1 is invalid.\n" +
                 kFailBanner)
            .Journal({kGetId}),
        Row("MAC from the data file refused")
            .Args({"1", "2", "T"}).File("TALVEK1.DAT", kMac1 + "\n").File("TALVEK2.DAT", "02AB3F000002\n")
            .FailsWithBanner()
            .Out(kHead + "Error! Mac 02-AB-3F-00-00-02 is invalid.\n" + kFailBanner)
            .Journal({kGetId}),
    };
}

class RunAllowList : public ::testing::TestWithParam<Row> {};
TEST_P(RunAllowList, Admission) { Check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Rows, RunAllowList, ::testing::ValuesIn(AllowListRows()), RowName());

// An allow-list of more than 1024 entries: the first 1024 count, a warning
// is printed once, and nothing beyond them admits a MAC.
std::string ManyEntries(int count, int admitting_line)
{
    std::string ini;
    char line[80];
    for (int i = 1; i <= count; i++) {
        if (i == admitting_line)
            snprintf(line, sizeof(line), "AVL_MASK=FFFFFFFFFFFF AVL_VALUE=%s\n", kMac1.c_str());
        else
            snprintf(line, sizeof(line), "AVL_MASK=FFFFFFFFFFFF AVL_VALUE=02AB3D%06X\n", i);
        ini += line;
    }
    return ini;
}

const std::string kWarning = "Warning! Only the first 1024 entries of TALVEK.ini are used.\n";

TEST(RunAllowListBounds, EntryPast1024IsIgnoredWithOneWarning)
{
    Check(Row("1030 entries, the admitting one 1025th")
              .Args({kArg1}).File("TALVEK.ini", ManyEntries(1030, 1025)).FailsWithBanner()
              .Has("INI(1023) - AVL_MASK=FFFFFFFFFFFF, AVL_VALUE=02AB3D000400\n" + kWarning +
                   "Error! Mac 02-AB-3C-56-01-A1 is invalid.\n" + kFailBanner)
              .Requests({kGetId})
              .Then([](const Station &, const Result &r) {
                  EXPECT_EQ(Occurrences(r.out, kWarning), 1) << r.out;
                  EXPECT_EQ(Occurrences(r.out, "INI("), 1024);
              }));
}

TEST(RunAllowListBounds, Entry1024Counts)
{
    Check(Row("1024 entries, the admitting one last")
              .Args({kArg1}).File("TALVEK.ini", ManyEntries(1024, 1024)).Passes(kPass1)
              .Has("INI(1023) - AVL_MASK=FFFFFFFFFFFF, AVL_VALUE=02AB3C5601A1\n").Lacks("Warning!"));
}

// "TALVEK.txt" cannot be written (here: it is a directory). A pass the line
// cannot read is no pass; a failure only gets the message.
std::vector<Row> UnwritableRecordRows()
{
    const std::string through = kHead + "Set eth0 Mac Address Success!\n" + Countdown(3, 3) +
                                kMacReady + "\n" + kReadbackTitle;
    return {
        Row("passing run turns into FAIL")
            .Args({kArg1}).Dir("TALVEK.txt").Exit(1).Shows(Banner::kFail)
            .Out(through + kLine1 + kRecordError + kFailBanner),
        Row("passing run with fail_log")
            .Args({kArg1, "fail_log"}).Dir("TALVEK.txt").Exit(1).Shows(Banner::kFail)
            .Out(through + kLine1 + kRecordError + kFailBanner),
        Row("failed verdict prints the message after the banner")
            .Args({kArg1}).Dir("TALVEK.txt").Scenario("getmac0 4 bytes 0 0 0 0 0 0\n")
            .Exit(1).Shows(Banner::kFail)
            .Out(through + "The 1st MAC = 00-00-00-00-00-00\n"
                 "The MAC value is invaild, all are zero.\n" + kFailBanner + kRecordError),
        Row("refused MAC")
            .Args({"1=02AB3D5601A1"}).Dir("TALVEK.txt").Exit(1).Shows(Banner::kFail)
            .Out(kHead + "Error! Mac 02-AB-3D-56-01-A1 is invalid.\n" + kFailBanner + kRecordError),
        Row("quiet failure")
            .Args({kArg1}).Dir("TALVEK.txt").Scenario("setmac 1 fail\n").Exit(1)
            .Shows(Banner::kNone).Out(kHead + kRecordError),
        Row("usage only writes nothing")
            .Args({}).Dir("TALVEK.txt").Exit(1).Shows(Banner::kNone)
            .Out(std::string(kVersionLine) + kUsage),
    };
}

class RunUnwritableRecord : public ::testing::TestWithParam<Row> {};
TEST_P(RunUnwritableRecord, Verdict) { Check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Rows, RunUnwritableRecord, ::testing::ValuesIn(UnwritableRecordRows()),
                         RowName());

}  // namespace
