// End-to-end runs through programming, the settle wait and the read-back:
// which requests each branch sends, the countdown's length, the checks after
// writing, the verdict with its record and failure log.
#include <regex>

#include "test.h"


namespace {

const std::string kHolds1 = "mac eth0 " + kMac1 + "\n";
const std::string kHolds2 = "mac eth1 " + kMac2 + "\n";
// eth0 holds some admitted MAC, so the read-back probe is answered at once.
const std::string kEth0Held = "mac eth0 02AB3C0000E0\n";
const std::string kSetEth0 = "Set eth0 Mac Address Success!\n";
const std::string kSetEth1 = "Set eth1 Mac Address Success!\n";
const std::string kSetBothText = "Set eth0 and eth1 Mac Address Success!\n";

// Console from the head to the read-back title, with the programming
// stage's lines and the countdown in between.
std::string Through(const std::string &programming, const std::string &countdown = Countdown(3, 3))
{
    return kHead + programming + countdown + kMacReady + "\n" + kReadbackTitle;
}

// Console up to the end of a failed MAC-ready pass.
std::string ToMacReady(const std::string &programming, const std::string &pass_lines = "")
{
    return kHead + programming + Countdown(3, 3) + kMacReady + pass_lines + "\n";
}

const std::vector<std::string> kWrite0 = {kGetId, kGet0, kSet0};
const std::vector<std::string> kWrite1 = {kGetId, kGet1, kSet1};
const std::vector<std::string> kReadBoth = {kGetId, kGet0Fixed, kSleep, kGet1Fixed};
const std::vector<std::string> kWriteBoth = Cat({kReadBoth, {kSetBoth}});

std::vector<std::string> AfterWrite(bool eth0, bool eth1)
{
    return Cat({kSettleQuick, MacReadyJournal(eth0, eth1), ReadbackJournal(eth0, eth1)});
}

// Each branch of the programming stage: what it reads, what it writes.
std::vector<Row> ProgrammingRows()
{
    return {
        Row("one port already holds the MAC")
            .Args({kArg1}).Scenario(kHolds1)
            .Passes(kPass1).Out(Through("") + kLine1 + kPassBanner)
            .Journal(Cat({{kGetId, kGet0}, AfterWrite(true, false)})),
        Row("one port differs")
            .Args({kArg2}).Scenario(kEth0Held)
            .Passes(kPass2).Out(Through(kSetEth1) + kLine2 + kPassBanner)
            .Journal(Cat({kWrite1, AfterWrite(false, true)})),
        Row("both already hold their MACs")
            .Args({kArg1, kArg2}).Scenario(kHolds1 + kHolds2)
            .Passes(kPassBoth)
            .Out(Through("eth0 MAC is same with original MAC\n"
                         "eth1 MAC is same with original MAC\n"
                         "eth0 eth1 original MAC and new MAC are the SAME.\n") +
                 kLine1 + kLine2 + kPassBanner)
            .Journal(Cat({kReadBoth, AfterWrite(true, true)}))
            .Sleeps(3),
        Row("only eth0 differs")
            .Args({kArg1, kArg2}).Scenario(kHolds2)
            .Passes(kPassBoth)
            .Out(Through("eth0 not equal\neth1 MAC is same with original MAC\n" + kSetEth0) +
                 kLine1 + kLine2 + kPassBanner)
            .Journal(Cat({kReadBoth, {kSet0Fixed}, AfterWrite(true, true)})),
        Row("only eth1 differs")
            .Args({kArg1, kArg2}).Scenario(kHolds1)
            .Passes(kPassBoth)
            .Out(Through("eth0 MAC is same with original MAC\neth1 not equal\n" + kSetEth1) +
                 kLine1 + kLine2 + kPassBanner)
            .Journal(Cat({kReadBoth, {kSet1Fixed}, AfterWrite(true, true)})),
        Row("both differ one write of twelve bytes")
            .Args({kArg1, kArg2}).Scenario("mac eth0 02AB3C000001\nmac eth1 02AB3C000002\n")
            .Passes(kPassBoth)
            .Out(Through("eth0 not equal\neth1 not equal\n" + kSetBothText) + kLine1 + kLine2 +
                 kPassBanner)
            .Journal(Cat({kWriteBoth, AfterWrite(true, true)})),
        Row("eth1 read failing is written as different")
            .Args({kArg1, kArg2}).Scenario(kHolds1 + kHolds2 + "getmac1 1 fail\n")
            .Passes(kPassBoth)
            .Out(Through("eth0 MAC is same with original MAC\neth1 not equal\n" + kSetEth1) +
                 kLine1 + kLine2 + kPassBanner)
            .Journal(Cat({kReadBoth, {kSet1Fixed}, AfterWrite(true, true)})),
        Row("both ports write failing")
            .Args({kArg1, kArg2}).Scenario("setmac 1 fail\n")
            .FailsQuietly().Out(kHead + "eth0 not equal\neth1 not equal\n")
            .Journal(kWriteBoth),
        Row("one port write failing")
            .Args({kArg1}).Scenario("setmac 1 fail\n")
            .FailsQuietly().Out(kHead).Journal(kWrite0),
        Row("write answered with an Error line")
            .Args({kArg1}).Scenario("setmac 1 error\n")
            .FailsQuietly().Out(kHead + "Command execute error\n").Journal(kWrite0),
        Row("one port read failing")
            .Args({kArg1}).Scenario("getmac 1 fail\n")
            .FailsQuietly().Out(kHead + "Fast Get Mac Oem Command Fail.\n")
            .Journal({kGetId, kGet0}),
        Row("both ports eth0 read failing")
            .Args({kArg1, kArg2}).Scenario("getmac0 1 fail\n")
            .FailsQuietly().Out(kHead + "Fast Get Mac Oem Command Fail.\n")
            .Journal({kGetId, kGet0Fixed}),
    };
}

class RunProgramming : public ::testing::TestWithParam<Row> {};
TEST_P(RunProgramming, Branch) { Check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Rows, RunProgramming, ::testing::ValuesIn(ProgrammingRows()), RowName());

// The countdown after writing: its length, the Get Device ID requests and
// the pauses, with and without the cold reset.
std::vector<Row> SettleRows()
{
    auto pass = [](const std::string &name, std::vector<std::string> args) {
        return Row(name).Args(std::move(args)).Passes(kPass1);
    };
    auto journal = [](std::vector<std::string> before, int start, int steps) {
        return Cat({kWrite0, std::move(before), CountdownJournal(start, steps),
                    MacReadyJournal(true, false), ReadbackJournal(true, false)});
    };
    return {
        pass("default BMC answering at once", {kArg1})
            .Out(Through(kSetEth0, Countdown(3, 3)) + kLine1 + kPassBanner)
            .Journal(journal({}, 3, 1)).Count(kGetId, 1 + 2).Sleeps(1 + 1),
        pass("default BMC never answering", {kArg1}).Scenario("getid 2+ fail\n")
            .Out(Through(kSetEth0, Countdown(3, 1)) + kLine1 + kPassBanner)
            .Journal(journal({}, 3, 3)).Count(kGetId, 1 + 6).Sleeps(3 + 1),
        pass("default BMC answering in the second step", {kArg1}).Scenario("getid 2-3 fail\n")
            .Has(Countdown(3, 2)).Lacks("(1)")
            .Journal(journal({}, 3, 2)).Count(kGetId, 1 + 4).Sleeps(2 + 1),
        pass("only an answer to the second request ends a step", {kArg1}).Scenario("getid 3 fail\n")
            .Has(Countdown(3, 2)).Journal(journal({}, 3, 2)),
        pass("reboot resets then 40 single steps and a double one", {kArg1, "reboot"})
            .Out(Through(kSetEth0 + "Cold Reset...\r\n", Countdown(70, 30)) + kLine1 + kPassBanner)
            .Journal(journal({kReset}, 70, 41)).Count(kReset, 1).Count(kGetId, 1 + 40 + 2)
            .Sleeps(41 + 1),
        pass("REBOOT", {kArg1, "REBOOT"})
            .Has("Cold Reset...\r\n" + Countdown(70, 30)).Count(kReset, 1).Count(kGetId, 43),
        pass("reboot with the reset failing waits all the same", {kArg1, "reboot"})
            .Scenario("reset 1 fail\n")
            .Has("Cold Reset...\r\n" + Countdown(70, 30)).Journal(journal({kReset}, 70, 41)),
        pass("reboot BMC never answering", {kArg1, "reboot"}).Scenario("getid 2+ fail\n")
            .Has("Cold Reset...\r\n" + Countdown(70, 1))
            .Journal(journal({kReset}, 70, 70)).Count(kGetId, 1 + 40 + 60).Sleeps(70 + 1),
        pass("waitbmc waits 70 without reset", {kArg1, "waitbmc"})
            .Out(Through(kSetEth0, Countdown(70, 30)) + kLine1 + kPassBanner)
            .Journal(journal({}, 70, 41)).Count(kReset, 0).Count(kGetId, 43).Sleeps(42),
        pass("WAITBMC", {kArg1, "WAITBMC"}).Has(Countdown(70, 30)).Lacks("Cold Reset")
            .Count(kReset, 0),
        pass("Reboot is no keyword", {kArg1, "Reboot"})
            .Out(Through(kSetEth0, Countdown(3, 3)) + kLine1 + kPassBanner)
            .Journal(journal({}, 3, 1)),
        pass("nothing written still waits", {kArg1}).Scenario(kHolds1)
            .Journal(Cat({{kGetId, kGet0}, AfterWrite(true, false)})),
    };
}

class RunSettle : public ::testing::TestWithParam<Row> {};
TEST_P(RunSettle, Countdown) { Check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Rows, RunSettle, ::testing::ValuesIn(SettleRows()), RowName());

// The MAC-ready pass after the countdown: a port that does not read back its
// new MAC ends the run without banner, leaving the failure record.
std::vector<Row> MacReadyRows()
{
    const std::vector<std::string> one = Cat({kWrite0, kSettleQuick, MacReadyJournal(true, false)});
    const std::vector<std::string> both = Cat({kWriteBoth, kSettleQuick, MacReadyJournal(true, true)});
    const std::string wrote_both = "eth0 not equal\neth1 not equal\n" + kSetBothText;
    return {
        Row("write not taken reads all zero")
            .Args({kArg1}).Scenario("setmac 1 nostore\n")
            .FailsQuietly().Out(ToMacReady(kSetEth0)).Journal(one),
        Row("all FF")
            .Args({kArg1}).Scenario("getmac 2 bytes ff ff ff ff ff ff\n")
            .FailsQuietly().Out(ToMacReady(kSetEth0)).Journal(one),
        Row("old MAC still read prints both MACs")
            .Args({kArg1}).Scenario("mac eth0 02AB3C000001\nsettle-reads eth0 1\n")
            .FailsQuietly().Out(ToMacReady(kSetEth0, "2-ab-3c-0-0-1\n2-ab-3c-56-1-a1\n"))
            .Journal(one),
        Row("failed read checks the bytes of the last reply")
            .Args({kArg1}).Scenario("getmac 2 fail\n")
            .FailsQuietly().Out(ToMacReady(kSetEth0, "20-1-81-25-2-bf\n2-ab-3c-56-1-a1\n"))
            .Journal(one),
        Row("eth1 all zero without message eth0 fine")
            .Args({kArg1, kArg2}).Scenario("getmac1 2 bytes 0 0 0 0 0 0\n")
            .FailsQuietly().Out(ToMacReady(wrote_both)).Journal(both),
        Row("eth0 failing still checks eth1")
            .Args({kArg1, kArg2}).Scenario("getmac0 2 bytes 02 ab 3c 00 00 09\n")
            .FailsQuietly().Out(ToMacReady(wrote_both, "2-ab-3c-0-0-9\n2-ab-3c-56-1-a1\n"))
            .Journal(both),
        Row("failed read whose stale bytes look right still fails")
            .Args({kArg1, "2=" + kMac1}).Scenario("getmac1 2 fail\n")
            .FailsQuietly()
            .Out(ToMacReady("eth0 not equal\neth1 not equal\n" + kSetBothText))
            .Journal(Cat({{kGetId, kGet0Fixed, kSleep, kGet1Fixed,
                           "raw 0x3a 0xa0 0x02 2 171 60 86 1 161 2 171 60 86 1 161"},
                          kSettleQuick, MacReadyJournal(true, true)})),
        Row("settling within the countdown passes")
            .Args({kArg1}).Scenario("mac eth0 02AB3C000001\nsettle-reads eth0 0\n")
            .Passes(kPass1),
        Row("fail_log writes no log when the wait fails")
            .Args({kArg1, "fail_log"}).Scenario("setmac 1 nostore\n")
            .FailsQuietly().Absent("MAC_LOG.txt"),
    };
}

class RunMacReady : public ::testing::TestWithParam<Row> {};
TEST_P(RunMacReady, Pass) { Check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Rows, RunMacReady, ::testing::ValuesIn(MacReadyRows()), RowName());

const std::string kBadPort0 = "ReadbackAndCheck Error! SendRawCommand(0xE8, 0xA1, 00) gets failed(1).\n";
const std::string kBadPort1 = "ReadbackAndCheck Error! SendRawCommand(0xE8, 0xA1, 01) gets failed(1).\n";
const std::string kInvalid = "The MAC value is invaild, all are zero.\n";

// The final read-back: the probe, each port's line and tests, the same-MAC
// test and the verdict.
std::vector<Row> ReadbackRows()
{
    const std::string wrote_both = "eth0 not equal\neth1 not equal\n" + kSetBothText;
    const std::string retries = "Fast get MAC retry 1\nFast get MAC retry 2\nFast get MAC retry 3\n";
    const std::vector<std::string> settled0 = Cat({kWrite0, kSettleQuick, MacReadyJournal(true, false)});
    return {
        Row("probe retried three times then the ports are read")
            .Args({kArg1}).Scenario("getmac0 3-5 bytes 00 00 3c 56 01 a1\n")
            .Passes(kPass1).Out(Through(kSetEth0) + retries + kLine1 + kPassBanner)
            .Journal(Cat({settled0, {kGet0Fixed, kSleep, kGet0Fixed, kSleep, kGet0Fixed, kSleep, kGet0}}))
            .Sleeps(2 + 3),
        Row("probe answered on the third request")
            .Args({kArg1}).Scenario("getmac0 3-4 bytes 0 0 0 0 0 0\n")
            .Passes(kPass1)
            .Out(Through(kSetEth0) + "Fast get MAC retry 1\nFast get MAC retry 2\n" + kLine1 + kPassBanner)
            .Journal(Cat({settled0, {kGet0Fixed, kSleep, kGet0Fixed, kSleep, kGet0Fixed, kGet0}})),
        Row("only eth1 programmed the probe reads an empty eth0")
            .Args({kArg2})
            .Passes(kPass2).Out(Through(kSetEth1) + retries + kLine2 + kPassBanner)
            .Journal(Cat({kWrite1, kSettleQuick, MacReadyJournal(false, true),
                          {kGet0Fixed, kSleep, kGet0Fixed, kSleep, kGet0Fixed, kSleep, kGet1}})),
        Row("probe ends on a non-zero second byte")
            .Args({kArg1}).Scenario("getmac0 3 bytes 00 01 00 00 00 00\n")
            .Passes(kPass1).Out(Through(kSetEth0) + kLine1 + kPassBanner)
            .Journal(Cat({settled0, {kGet0Fixed, kGet0}})),
        Row("probe request failing")
            .Args({kArg1}).Scenario("getmac0 3 fail\n")
            .FailsQuietly().Out(Through(kSetEth0) + kBadPort0)
            .Journal(Cat({settled0, {kGet0Fixed}})),
        Row("probe answered with an Error line")
            .Args({kArg1}).Scenario("getmac0 3 error\n")
            .FailsQuietly().Out(Through(kSetEth0) + "Command execute error\n" + kBadPort0),
        Row("eth0 read failing")
            .Args({kArg1}).Scenario("getmac0 4 fail\n")
            .FailsQuietly().Out(Through(kSetEth0) + kBadPort0),
        Row("eth1 read failing")
            .Args({kArg2}).Scenario(kEth0Held + "getmac1 3 fail\n")
            .FailsQuietly().Out(Through(kSetEth1) + kBadPort1),
        Row("eth1 read failing after eth0 was shown")
            .Args({kArg1, kArg2}).Scenario("getmac1 3 fail\n")
            .FailsQuietly().Out(Through(wrote_both) + kLine1 + kBadPort1),
        Row("eth0 mismatch")
            .Args({kArg1}).Scenario("getmac0 4 bytes 02 ab 3c 56 01 a2\n")
            .FailsWithBanner()
            .Out(Through(kSetEth0) + "The 1st MAC = 02-AB-3C-56-01-A2\n"
                 "The MAC value is difference(0), old is 02-AB-3C-56-01-A1.\n" + kFailBanner),
        Row("eth1 only mismatch")
            .Args({kArg2}).Scenario(kEth0Held + "getmac1 3 bytes 02 ab 3c 56 01 0b\n")
            .FailsWithBanner()
            .Out(Through(kSetEth1) + "The 2nd MAC = 02-AB-3C-56-01-0B\n"
                 "The MAC value is difference(1), old is 02-AB-3C-56-01-A2.\n" + kFailBanner),
        Row("all zero")
            .Args({kArg1}).Scenario("getmac0 4 bytes 0 0 0 0 0 0\n")
            .FailsWithBanner()
            .Out(Through(kSetEth0) + "The 1st MAC = 00-00-00-00-00-00\n" + kInvalid + kFailBanner),
        Row("all FF")
            .Args({kArg1}).Scenario("getmac0 4 bytes ff ff ff ff ff ff\n")
            .FailsWithBanner()
            .Out(Through(kSetEth0) + "The 1st MAC = FF-FF-FF-FF-FF-FF\n" + kInvalid + kFailBanner),
        Row("eth0 reads eth1's MAC only the difference is told")
            .Args({kArg1, kArg2}).Scenario("getmac0 4 bytes 02 ab 3c 56 01 a2\n")
            .FailsWithBanner()
            .Out(Through(wrote_both) + "The 1st MAC = 02-AB-3C-56-01-A2\n"
                 "The MAC value is difference(0), old is 02-AB-3C-56-01-A1.\n" + kLine2 + kFailBanner),
        Row("both ports failing both told")
            .Args({kArg1, kArg2})
            .Scenario("getmac0 4 bytes 0 0 0 0 0 0\ngetmac1 3 bytes 02 ab 3c 56 01 0b\n")
            .FailsWithBanner()
            .Out(Through(wrote_both) + "The 1st MAC = 00-00-00-00-00-00\n" + kInvalid +
                 "The 2nd MAC = 02-AB-3C-56-01-0B\n"
                 "The MAC value is difference(1), old is 02-AB-3C-56-01-A2.\n" + kFailBanner),
        Row("same MAC for both ports")
            .Args({kArg1, "2=" + kMac1})
            .FailsWithBanner()
            .Out(Through("eth0 not equal\neth1 not equal\n" + kSetBothText) + kLine1 +
                 "The 2nd MAC = 02-AB-3C-56-01-A1\nThe MAC value are the same.\n" + kFailBanner)
            .Count("raw 0x3a 0xa0 0x02 2 171 60 86 1 161 2 171 60 86 1 161", 1)
            .Absent("MAC_LOG.txt"),
    };
}

class RunReadback : public ::testing::TestWithParam<Row> {};
TEST_P(RunReadback, Verdict) { Check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Rows, RunReadback, ::testing::ValuesIn(ReadbackRows()), RowName());

// Pass records byte for byte.
std::vector<Row> RecordRows()
{
    return {
        Row("eth0 only 20 bytes").Args({kArg1}).Passes(kPass1).Size("TALVEK.txt", 20),
        Row("eth1 only 20 bytes").Args({kArg2}).Scenario(kEth0Held)
            .Passes(kPass2).Size("TALVEK.txt", 20),
        Row("both ports 38 bytes").Args({kArg1, kArg2}).Passes(kPassBoth).Size("TALVEK.txt", 38),
        Row("leading zeros kept and upper case")
            .Args({"1=02ab3c0a0b0c", "2=02AB3C00000f"})
            .Passes("P\neth0:02AB3C0A0B0C\neth1:02AB3C00000F\n"),
        Row("fail_log on a pass writes no log")
            .Args({kArg1, kArg2, "fail_log"}).Passes(kPassBoth).Absent("MAC_LOG.txt"),
    };
}

class RunRecord : public ::testing::TestWithParam<Row> {};
TEST_P(RunRecord, Bytes) { Check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Rows, RunRecord, ::testing::ValuesIn(RecordRows()), RowName());

// One failure-log entry: the ctime line and an empty line, 26 bytes.
const std::regex kLogEntry(
    "(Mon|Tue|Wed|Thu|Fri|Sat|Sun) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
    "[ 123][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}\n\n");

// The same MAC for both ports fails the verdict on every run; each run
// appends one entry to the log it finds.
TEST(RunFailLog, EachFailedVerdictAppendsOneEntry)
{
    Station s;
    std::string before;
    for (const char *option : {"fail_log", "FAIL_LOG", "fail_log"}) {
        Check(Row(option).Args({kArg1, "2=" + kMac1, option}).FailsWithBanner()
                  .Has(std::string("The MAC value are the same.\n") + kFailBanner)
                  .Then([&before](const Station &st, const Result &) {
                      std::string log = st.read("MAC_LOG.txt");
                      ASSERT_EQ(log.size(), before.size() + 26) << log;
                      EXPECT_EQ(log.substr(0, before.size()), before);
                      EXPECT_TRUE(std::regex_match(log.substr(before.size()), kLogEntry)) << log;
                      before = log;
                  }),
              s);
        if (before.size() == 26)
            s.write("MAC_LOG.txt", before = "earlier entry\n\n");  // a log from elsewhere is kept
    }
}

TEST(RunFailLog, LogThatCannotBeOpenedLeavesTheVerdict)
{
    Check(Row("log is a directory")
                    .Args({kArg1, "2=" + kMac1, "fail_log"}).Dir("MAC_LOG.txt")
                    .FailsWithBanner()
                    .Has(std::string("The MAC value are the same.\n") + kFailBanner +
                         "Error! System can not open file MAC_LOG.txt.\n"));
}

}  // namespace
