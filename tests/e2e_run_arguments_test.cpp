// End-to-end runs: which arguments read which data files and program which
// ports; the revision line; the raw command runner's failures as a whole
// run sees them.
#include "test.h"


namespace {

const std::string kDat1 = kMac1 + "\n";
const std::string kDat2 = kMac2 + "\n";
// eth0 already holds a MAC, so the read-back probe is answered at once.
const std::string kEth0Held = "mac eth0 02AB3C0000E0\n";

// Console of a passing one-port run with the default countdown.
std::string OnePortPass(int port, const std::string &before_write = kHead)
{
    return before_write + "Set eth" + std::to_string(port) + " Mac Address Success!\n" +
           Countdown(3, 3) + kMacReady + "\n" + kReadbackTitle + (port == 0 ? kLine1 : kLine2) +
           kPassBanner;
}

std::vector<std::string> OnePortJournal(int port)
{
    bool e0 = port == 0;
    return Cat({{kGetId, e0 ? kGet0 : kGet1, e0 ? kSet0 : kSet1}, kSettleQuick,
                MacReadyJournal(e0, !e0), ReadbackJournal(e0, !e0)});
}

const std::vector<std::string> kBothPortsJournal =
    Cat({{kGetId, kGet0Fixed, kSleep, kGet1Fixed, kSetBoth}, kSettleQuick,
         MacReadyJournal(true, true), ReadbackJournal(true, true)});

const std::string kBothPortsOut = kHead + "eth0 not equal\neth1 not equal\n"
                                  "Set eth0 and eth1 Mac Address Success!\n" +
                                  Countdown(3, 3) + kMacReady + "\n" + kReadbackTitle + kLine1 +
                                  kLine2 + kPassBanner;

// A run that stops in parsing because a data file is missing or unusable:
// nothing is sent, the FAIL banner and the failure record.
Row ParseFailure(const std::string &name)
{
    return Row(name).FailsWithBanner().Out(std::string(kVersionLine) + kFailBanner).Journal({});
}

// A run whose selected port has no MAC: stops after the INI load.
Row PortWithoutMac(const std::string &name)
{
    return Row(name).FailsWithBanner().Out(kHead + kFailBanner).Journal({kGetId});
}

const std::string kRebootTail = "Cold Reset...\r\n" + Countdown(70, 30) + kMacReady + "\n" +
                                kReadbackTitle + kLine1 + kPassBanner;
const std::vector<std::string> kRebootJournalAfterSet =
    Cat({{kReset}, CountdownJournal(70, 41), MacReadyJournal(true, false),
         ReadbackJournal(true, false)});

std::vector<Row> ArgumentRows()
{
    return {
        Row("1 T reads TALVEK1.DAT only")
            .Args({"1", "T"}).File("TALVEK1.DAT", kDat1)
            .Passes(kPass1).Out(OnePortPass(0)).Journal(OnePortJournal(0)),
        Row("1 t lower case")
            .Args({"1", "t"}).File("TALVEK1.DAT", kDat1)
            .Passes(kPass1).Journal(OnePortJournal(0)),
        ParseFailure("1 T without TALVEK1.DAT").Args({"1", "T"}).File("TALVEK2.DAT", kDat2),
        Row("1 2 T reads both files")
            .Args({"1", "2", "T"}).File("TALVEK1.DAT", kDat1).File("TALVEK2.DAT", kDat2)
            .Passes(kPassBoth).Out(kBothPortsOut).Journal(kBothPortsJournal),
        Row("1 2 T lower case digits CRLF and trailing text")
            .Args({"1", "2", "T"})
            .File("TALVEK1.DAT", "02ab3c5601a1\r\n")
            .File("TALVEK2.DAT", "02AB3C5601A2 scanned at line 4\nmore\n")
            .Passes(kPassBoth).Journal(kBothPortsJournal),
        ParseFailure("1 2 T without TALVEK2.DAT").Args({"1", "2", "T"}).File("TALVEK1.DAT", kDat1),
        ParseFailure("1 2 T without TALVEK1.DAT").Args({"1", "2", "T"}).File("TALVEK2.DAT", kDat2),
        Row("1 3 T reads both files programs eth0")
            .Args({"1", "3", "T"}).File("TALVEK1.DAT", kDat1).File("TALVEK2.DAT", kDat2)
            .Passes(kPass1).Out(OnePortPass(0)).Journal(OnePortJournal(0)),
        PortWithoutMac("2 T fills eth0 but programs eth1")
            .Args({"2", "T"}).File("TALVEK1.DAT", kDat1).File("TALVEK2.DAT", kDat2),
        ParseFailure("2 T without TALVEK1.DAT").Args({"2", "T"}).File("TALVEK2.DAT", kDat2),
        Row("1 reboot T reads both files programs eth0 with reset")
            .Args({"1", "reboot", "T"}).File("TALVEK1.DAT", kDat1).File("TALVEK2.DAT", kDat2)
            .Passes(kPass1)
            .Out(kHead + "Set eth0 Mac Address Success!\n" + kRebootTail)
            .Journal(Cat({{kGetId, kGet0, kSet0}, kRebootJournalAfterSet})),
        ParseFailure("1 reboot T without TALVEK2.DAT")
            .Args({"1", "reboot", "T"}).File("TALVEK1.DAT", kDat1),
        PortWithoutMac("1=MAC 2 T leaves eth1 without MAC")
            .Args({"1=" + kMac1, "2", "T"}).File("TALVEK1.DAT", kDat1).File("TALVEK2.DAT", kDat2),
        ParseFailure("1=MAC 2 T still needs TALVEK2.DAT")
            .Args({"1=" + kMac1, "2", "T"}).File("TALVEK1.DAT", kDat1),
        Row("1=MAC T assignment replaces the file")
            .Args({"1=" + kMac1, "T"}).File("TALVEK1.DAT", "02AB3C0000EE\n")
            .Passes(kPass1).Journal(OnePortJournal(0)),
        Row("0=MAC 2=MAC programs eth1 only")
            .Args({"0=" + kMac1, "2=" + kMac2}).Scenario(kEth0Held)
            .Passes(kPass2).Out(OnePortPass(1)).Journal(OnePortJournal(1)),
        Row("1=MAC 1=MAC the later one counts")
            .Args({"1=" + kMac1, "1=" + kMac2})
            .Passes("P\neth0:" + kMac2 + "\n")
            .Count("raw 0x3a 0xa0 0 2 171 60 86 1 162", 1).Count(kSet0, 0),
        Row("1=lower case MAC is recorded upper case")
            .Args({"1=02ab3c5601a1"}).Passes(kPass1).Journal(OnePortJournal(0)),
        Row("1 T reboot takes no file and prompts, input empty")
            .Args({"1", "T", "reboot"}).File("TALVEK1.DAT", kDat1)
            .FailsWithBanner()
            .Out(kHead + kPrompt1 + "\nError! The value '' is invaild.\n" + kFailBanner)
            .Journal({kGetId}),
        Row("1 T reboot takes the scanned MAC")
            .Args({"1", "T", "reboot"}).File("TALVEK1.DAT", "02AB3C0000EE\n").Input(kMac1)
            .Passes(kPass1)
            .Out(kHead + kPrompt1 + "02-AB-3C-56-01-A1\nSet eth0 Mac Address Success!\n" + kRebootTail)
            .Journal(Cat({{kGetId, kGet0, kSet0}, kRebootJournalAfterSet})),
        Row("1 2=MAC ignores the assignment and prompts twice")
            .Args({"1", "2=" + kMac2}).Input(kMac1 + "02AB3C5601B2")
            .Passes("P\neth0:" + kMac1 + "\neth1:02AB3C5601B2\n")
            .Has(kPrompt1 + "02-AB-3C-56-01-A1\n" + kPrompt2 + "02-AB-3C-56-01-B2\n"),
    };
}

class RunArguments : public ::testing::TestWithParam<Row> {};
TEST_P(RunArguments, FilesReadAndPortsProgrammed) { Check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Rows, RunArguments, ::testing::ValuesIn(ArgumentRows()), RowName());

// The revision line for the firmware bytes of Get Device ID; the run goes on
// whatever the query gave.
std::vector<Row> RevisionRows()
{
    auto row = [](const std::string &name, const std::string &scenario, const std::string &line) {
        return Row(name).Args({"1=" + kMac1}).Scenario(scenario).Passes(kPass1)
            .Has(std::string(kVersionLine) + line + kIniLine);
    };
    return {
        row("default firmware", "", "BMC Revision = 1.25.3\r\n"),
        row("available flag dropped all bits set", "revision ff 85 ff ff ff ff\n",
            "BMC Revision = 7f.85.4294967295\r\n"),
        row("auxiliary byte 14 is most significant", "revision 82 10 00 00 00 01\n",
            "BMC Revision = 2.10.16777216\r\n"),
        row("auxiliary bytes little endian", "revision 01 09 0a 01 00 00\n",
            "BMC Revision = 1.9.266\r\n"),
        row("all zero", "revision 00 00 00 00 00 00\n", "BMC Revision = 0.0.0\r\n"),
        row("short reply leaves zeros", "getid 1 bytes 20 01 81\n", "BMC Revision = 1.0.0\r\n"),
        row("query failing", "getid 1 fail\n", "BMC Revision = ?.?.?\r\n"),
        Row("query failing skips the keyboard entry")
            .Args({"1"}).Scenario("getid 1 fail\n").Input(kMac1)
            .FailsWithBanner()
            .Out(std::string(kVersionLine) + "BMC Revision = ?.?.?\r\n" + kIniLine + kFailBanner)
            .Journal({kGetId}),
    };
}

class RunRevision : public ::testing::TestWithParam<Row> {};
TEST_P(RunRevision, LineAndRunGoOn) { Check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Rows, RunRevision, ::testing::ValuesIn(RevisionRows()), RowName());

// The runner's failure table seen through the first request of a run (the
// revision query) and, for a missing tool, through the whole run.
std::vector<Row> RunnerRows()
{
    const std::string unknown = "BMC Revision = ?.?.?\r\n";
    auto row = [](const std::string &name, const std::string &scenario) {
        return Row(name).Args({"1=" + kMac1}).Scenario(scenario).Passes(kPass1)
            .Journal(OnePortJournal(0));
    };
    return {
        Row("tool missing")
            .Args({"1=" + kMac1}).Remove("kovripmi")
            .FailsQuietly()
            .Out(std::string(kVersionLine) + unknown + kIniLine + "Fast Get Mac Oem Command Fail.\n")
            .Journal({}),
        row("non-zero exit is silent", "getid 1 exit 3\n")
            .Has(std::string(kVersionLine) + unknown + kIniLine).Lacks("Command execute error"),
        row("bytes with non-zero exit", "getid 1 text \" 20 01 81 25\\n\" status 1\n")
            .Has(std::string(kVersionLine) + unknown).Lacks("Command execute error"),
        row("Error line", "getid 1 error\n")
            .Has(std::string(kVersionLine) + "Command execute error\n" + unknown + kIniLine),
        row("exit status decides before the Error line", "getid 1 error status 2\n")
            .Has(std::string(kVersionLine) + unknown).Lacks("Command execute error"),
        row("Error line before the last line of bytes", "getid 1 text \"Error: busy\\n 20 01 82 26 02 bf 00 00 00 01 00 05 00 00 00\\n\"\n")
            .Has(std::string(kVersionLine) + "BMC Revision = 2.26.5\r\n").Lacks("Command execute error"),
        row("empty output is a success with no bytes", "getid 1 text \"\"\n")
            .Has(std::string(kVersionLine) + "BMC Revision = 0.0.0\r\n"),
        row("upper case digits and no final line end", "getid 1 text \" 20 01 83 4A 02 BF 00 00 00 01 00 0C 00 00 00\"\n")
            .Has(std::string(kVersionLine) + "BMC Revision = 3.4a.12\r\n"),
    };
}

class RunRunner : public ::testing::TestWithParam<Row> {};
TEST_P(RunRunner, FailureTable) { Check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Rows, RunRunner, ::testing::ValuesIn(RunnerRows()), RowName());

}  // namespace
