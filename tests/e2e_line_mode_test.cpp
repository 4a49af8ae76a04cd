// End-to-end runs on a line station (one whose directory holds TALVEK.conf):
// every failed run says why in one line right before the FAIL banner, also
// where a plain station ends without a banner; the offset mode's MAC is held
// to the allow-list; with the registry on (SQLite in the station) the board
// and the station's day are on screen, and a MAC registered to another board
// is refused in lines an operator can act on. Every line fits 80 columns.
#include <regex>
#include <sstream>

#include "test.h"

namespace {

// A line station without the registry, and one with it in its own TALVEK.db.
const std::string kLineConf = "# a line station, registry off\n";
const std::string kRegistryConf = "registry = sqlite\nstation = st1\ndmi_dir = dmi\n";
const std::string kGuid = "00112233445566778899aabbccddeeff";
const std::string kGuidGroups = "00112233-4455-6677-8899-aabbccddeeff";

std::string Reason(const std::string &text)
{
    return "Reason: " + text + ".\n";
}

// The lines of out longer than 80 columns (line ends and the banners' colour
// switches not counted), each on a line of its own; "" when none is.
std::string TooWide(const std::string &out)
{
    std::istringstream in(std::regex_replace(out, std::regex("\x1b\\[[0-9;]*m|\r"), ""));
    std::string wide;
    for (std::string line; std::getline(in, line);)
        wide += line.size() > 80 ? line + "\n" : "";
    return wide;
}

// A run on a line station that fails with reason: the reason line right
// before the FAIL banner, once, the failure record, nothing wider than 80.
Row Fails(const std::string &name, const std::string &reason)
{
    return Row(name)
        .File("TALVEK.conf", kLineConf)
        .FailsWithBanner()
        .Has(Reason(reason) + kFailBanner)
        .Then([](const Station &, const Result &r) {
            EXPECT_EQ(Occurrences(r.out, "Reason: "), 1) << r.out;
            EXPECT_EQ(TooWide(r.out), "");
        });
}

// Every way a run ends with exit status 1, each with its reason. The stages'
// own messages are the plain station's (their rows are elsewhere); a row
// spells out the whole output where the plain station shows no banner.
std::vector<Row> FailureRows()
{
    const std::string bmc_silent = "the BMC does not answer; check ./kovripmi, the IPMI driver or network";
    const std::string not_kept =
        "the BMC did not keep the new MAC; run again, then send it to repair";
    const std::string set_eth0 = "Set eth0 Mac Address Success!\n";
    // TALVEK.txt is a directory: no record at all.
    auto unrecorded = [](Row r) {
        r.record.reset();
        return r;
    };
    // clang-format off
    return {
        Fails("data file missing", "a MAC data file is missing or bad; put TALVEK1.DAT/TALVEK2.DAT right")
            .Args({"1", "T"})
            .Out(std::string(kVersionLine) + Reason("a MAC data file is missing or bad; put TALVEK1.DAT/TALVEK2.DAT right") + kFailBanner),
        Fails("INI file missing", "the allow-list TALVEK.ini cannot be opened; fetch a line engineer")
            .Args({kArg1}).Remove("TALVEK.ini").Requests({kGetId}),
        Fails("entry abandoned with ESC", "the bar-code entry was abandoned; run again and scan the label")
            .Args({"1"}).Input("02AB\x1b"),
        Fails("selected port without a MAC", "a named port got no MAC; give its MAC or name only ports with one")
            .Args({"2", "T"}).File("TALVEK1.DAT", kMac1 + "\n"),
        Fails("MAC outside the allow-list", "the MAC is outside the allow-list; check the label is this board's")
            .Args({"1=02AB3D5601A1"}).Requests({kGetId}),
        Fails("one MAC for both ports", "both ports were given one MAC; scan both labels again")
            .Args({kArg1, "2=" + kMac1}).Requests({kGetId}),
        Fails("no port named", "the arguments name no port; name the ports to program (1, 2)")
            .Args({"check"}).Out(kHead + Reason("the arguments name no port; name the ports to program (1, 2)") + kFailBanner),
        Fails("BMC answers nothing", bmc_silent)
            .Args({kArg1}).Scenario("getid all fail\ngetmac all fail\n")
            .Out(std::string(kVersionLine) + "BMC Revision = ?.?.?\r\n" + kIniLine +
                 "Fast Get Mac Oem Command Fail.\n" + Reason(bmc_silent) + kFailBanner),
        Fails("BMC answers nothing so no entry is prompted", bmc_silent)
            .Args({"1"}).Scenario("getid all fail\n").Input(kMac1),
        Fails("Fast Get MAC failing", "the BMC did not answer the MAC read; nothing written, run again")
            .Args({kArg1}).Scenario("getmac 1 fail\n")
            .Out(kHead + "Fast Get Mac Oem Command Fail.\n" + Reason("the BMC did not answer the MAC read; nothing written, run again") + kFailBanner),
        Fails("write refused", "the BMC refused the MAC write; run again")
            .Args({kArg1, kArg2}).Scenario("setmac 1 fail\n"),
        Fails("write not kept", not_kept)
            .Args({kArg1}).Scenario("mac eth0 02AB3C000001\nsetmac 1 nostore\n")
            .Out(kHead + set_eth0 + "Fast Set MAC done, waiting for BMC ready...(3)  \r\n" + kMacReady +
                 "2-ab-3c-0-0-1\n2-ab-3c-56-1-a1\n\n" + Reason(not_kept) + kFailBanner),
        Fails("BMC silent after the write", "the BMC did not answer after the write; run again with waitbmc")
            .Args({kArg1}).Scenario("getmac 2 fail\n"),
        Fails("read-back request failing", "the BMC did not answer the read-back; run again")
            .Args({kArg1}).Scenario("getmac 3 fail\n"),
        Fails("read-back differs", "a port reads back another MAC; run again, then send it to repair")
            .Args({kArg1}).Scenario("getmac 4 bytes 02 ab 3c 56 01 b0\n"),
        Fails("read-back all FF", "a port reads back all 00 or all FF; run again, then send to repair")
            .Args({kArg1}).Scenario("getmac 4 bytes ff ff ff ff ff ff\n"),
        unrecorded(Fails("record cannot be written", "the result record TALVEK.txt cannot be written; fetch a line engineer")
            .Args({kArg1}).Dir("TALVEK.txt")),
        Fails("offset out of range", "the offset is out of range; give 0x00001 to 0xfffff")
            .Args({"U=0"}).Requests({})
            .Out(std::string(kVersionLine) + kIniLine + "Offset must be in 0x00001~0xfffff\r\n" +
                 Reason("the offset is out of range; give 0x00001 to 0xfffff") + kFailBanner),
        Fails("offset overflowing", "eth0's MAC plus the offset overflows; give a smaller offset")
            .Args({"U=1"}).Scenario("mac eth0 02ABFFFFFFFF\n").Requests({kGet0Fixed}),
        Fails("offset MAC outside the allow-list", "the MAC is outside the allow-list; check the label is this board's")
            .Args({"U=1"}).Scenario("mac eth0 02AB3CFFFFFF\n").Requests({kGet0Fixed})
            .Out(std::string(kVersionLine) + kIniLine + "Get eth00 Mac Address success.\r\n"
                 "The 1st MAC = 02-AB-3C-FF-FF-FF\r\nError! Mac 02-AB-3D-00-00-00 is invalid.\n" +
                 Reason("the MAC is outside the allow-list; check the label is this board's") + kFailBanner),
        Fails("offset without the allow-list", "the allow-list TALVEK.ini cannot be opened; fetch a line engineer")
            .Args({"U=1"}).Remove("TALVEK.ini").Requests({})
            .Out(std::string(kVersionLine) + kNoIni + Reason("the allow-list TALVEK.ini cannot be opened; fetch a line engineer") + kFailBanner),
        Fails("offset write refused", "the BMC refused the MAC write; run again")
            .Args({"U=1"}).Scenario("mac eth0 " + kMac1 + "\nsetmac 1 fail\n"),
        Fails("TALVEK.conf with a bad line", "TALVEK.conf cannot be used; fetch a line engineer to fix it")
            .Args({kArg1}).File("TALVEK.conf", "colour = red\n").Requests({})
            .Out(std::string(kVersionLine) + "Error! TALVEK.conf line 1: unknown key \"colour\".\n" +
                 Reason("TALVEK.conf cannot be used; fetch a line engineer to fix it") + kFailBanner),
        Fails("registry unreachable", "the MAC registry cannot be used; fetch a line engineer")
            .Args({kArg1}).File("TALVEK.conf", "registry = sqlite:/no/x.db\n").Requests({}),
    };
    // clang-format on
}

ROWS(LineModeFailure, FailureRows());

// What stays as it was on a line station: a pass says no reason, and the
// offset mode writes an admitted MAC after showing the allow-list.
std::vector<Row> PassRows()
{
    // clang-format off
    return {
        Row("a pass has no reason line")
            .Args({kArg1, kArg2}).File("TALVEK.conf", kLineConf).Passes(kPassBoth).Lacks("Reason: "),
        Row("offset MAC inside the allow-list is written")
            .Args({"U=1"}).File("TALVEK.conf", kLineConf).Scenario("mac eth0 " + kMac1 + "\n")
            .Passes(kPassBoth).Requests({kGet0Fixed, kSet1Fixed, kGet1Fixed})
            .Out(std::string(kVersionLine) + kIniLine + "Get eth00 Mac Address success.\r\n" +
                 "The 1st MAC = 02-AB-3C-56-01-A1\r\nSet eth01 Mac Address Success.\n" +
                 kLine2 + kPassBanner),
        Row("a plain station writes an offset MAC outside the allow-list")
            .Args({"U=1"}).Scenario("mac eth0 02AB3CFFFFFF\n").Exit(0).Shows(Banner::kPass)
            .Lacks("INI(0)").Requests({kGet0Fixed, "raw 0x3a 0xa0 0x01 2 171 61 0 0 0", kGet1Fixed}),
    };
    // clang-format on
}

ROWS(LineModePass, PassRows());

// With the registry on: the board's identity as it will be recorded, right
// after the Registry line, and the station's day after the verdict.
std::vector<Row> BoardRows()
{
    // day: the day line's counts after this one run
    auto board = [](const std::string &name, const std::string &line, const std::string &day) {
        return Row(name)
            .Args({kArg1})
            .File("TALVEK.conf", kRegistryConf)
            .Passes(kPass1)
            .Has("Registry: sqlite TALVEK.db, station st1\n" + line + "\n")
            .Has(std::string(kPassBanner) + "Today at st1: runs 1, " + day + "\n");
    };
    const std::string one_board = "boards 1, PASS 1, first-pass yield 100.0%";
    // Not one repeated character: that would be a placeholder, not a serial.
    const std::string kLongSerial = "SN-" + std::string(97, '7');
    // clang-format off
    return {
        board("GUID", "Board: GUID " + kGuidGroups, one_board).Scenario("guid " + kGuid + "\n")
            .File("dmi/board_serial", "SN-1187\n"),
        board("product UUID", "Board: UUID 4c4c4544-0042-3510-8052-b4c04f4e4232", one_board)
            .Scenario("guid ffffffffffffffffffffffffffffffff\n")
            .File("dmi/product_uuid", "4c4c4544-0042-3510-8052-b4c04f4e4232\n"),
        board("serial", "Board: serial SN-1187", one_board).File("dmi/product_uuid", "Not Specified\n")
            .File("dmi/board_serial", "SN-1187\n"),
        board("no identity", "Board: no identity (GUID, UUID and serials are placeholders)",
              "boards 0, PASS 1, first-pass yield n/a")
            .File("dmi/board_serial", "To be filled by O.E.M.\n"),
        board("serial cut to 80 columns", "Board: serial " + kLongSerial.substr(0, 63) + "...",
              one_board)
            .File("dmi/board_serial", kLongSerial + "\n"),
    };
    // clang-format on
}

ROWS(LineModeBoard, BoardRows());

// One station's day: a board that fails first and then passes, a second
// board that passes at once. The first-pass yield counts only the second.
TEST(LineModeDay, RunsBoardsPassAndFirstPassYield)
{
    Station s;
    auto run = [](const std::string &guid) {
        return Row("run")
            .Args({kArg1})
            .File("TALVEK.conf", kRegistryConf)
            .Scenario("guid " + guid + "\n")
            .Remove("kovripmi.state");
    };
    Check(run(kGuid)
              .Args({kArg1, "2=" + kMac1})
              .FailsWithBanner()
              .Has(std::string(kFailBanner) +
                   "Today at st1: runs 1, boards 1, PASS 0, first-pass yield 0.0%\n"),
          s);
    Check(run(kGuid).Passes(kPass1).Has(
              std::string(kPassBanner) +
              "Today at st1: runs 2, boards 1, PASS 1, first-pass yield 0.0%\n"),
          s);
    // The second board gets the other MAC: kMac1 is the first board's now.
    Check(run("ff" + kGuid.substr(2))
              .Args({kArg2})
              .Passes(kPass2)
              .Has(std::string(kPassBanner) +
                   "Today at st1: runs 3, boards 2, PASS 2, first-pass yield 50.0%\n"),
          s);
}

// A MAC that the registry gives to another board: which MAC, the holder as
// the registry knows it, its station and since when, and what to do; for a
// holder without identity also how a re-run of the same board gets it.
TEST(LineModeRefusal, SaysWhoseMacItIsAndWhatToDo)
{
    // The holder's time is the first run's; its form is checked, the
    // conversion itself is a unit test's.
    const std::regex since(
        "  since    \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\(local time\\)\n");
    const std::string head =
        "Error! Mac 02-AB-3C-56-01-A1 is already registered to another board:\n";
    const std::string who =
        "Set this board aside with its label and fetch a line engineer, who runs:\n"
        "  talvek-registry who 02AB3C5601A1\n";
    const std::string release =
        "If it is the same board run again, the engineer releases the MAC first:\n"
        "  talvek-registry release 02AB3C5601A1 --reason \"...\"\n";
    const std::string reason = Reason("the MAC belongs to another board; set this board aside");
    // clang-format off
    // holder: what the first board shows (scenario, board serial file); board: its name in the refusal
    struct { const char *name; std::string guid, serial, board, then; } rows[] = {
        {"holder with a serial", kGuid, "SN-1187", "serial SN-1187", who},
        {"holder with only a GUID", kGuid, "", "GUID " + kGuidGroups, who},
        {"holder without identity", "", "", "no identity (GUID, UUID and serials were placeholders)", who + release},
    };
    // clang-format on
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Station s;
        Row holder =
            Row("holder")
                .Args({kArg1})
                .File("TALVEK.conf", "registry = sqlite\nstation = west-7\ndmi_dir = dmi\n")
                .Scenario(row.guid.empty() ? "" : "guid " + row.guid + "\n")
                .Passes(kPass1);
        if (!row.serial.empty())
            holder.File("dmi/board_serial", row.serial + "\n");
        Check(holder, s);
        const std::string refusal = head + "  board    " + row.board + "\n  station  west-7\n" +
                                    "  since    (local time)\n" + row.then + reason + kFailBanner;
        Check(Row("second board")
                  .Args({kArg1})
                  .File("TALVEK.conf", kRegistryConf)
                  .Scenario("guid 99" + kGuid.substr(2) + "\n")
                  .Remove("kovripmi.state")
                  .Remove("kovripmi.journal")
                  .Remove("dmi/board_serial")
                  .FailsWithBanner()
                  .Requests({kGetId, "raw 0x06 0x37", kGet0})
                  .Then([&](const Station &, const Result &r) {
                      std::string out =
                          std::regex_replace(r.out, since, "  since    (local time)\n");
                      EXPECT_NE(out.find(refusal), std::string::npos) << r.out;
                      EXPECT_EQ(TooWide(r.out), "");
                  }),
              s);
    }
}

}  // namespace
