// The offset update mode "U=offset" end to end: eth1 := eth0 as the BMC holds
// it + offset, written, read back and recorded.
#include "test.h"

namespace {

const std::string kRangeLine = "Offset must be in 0x00001~0xfffff\r\n";

// "02AB3C5601A2" -> "raw 0x3a 0xa0 0x01 2 171 60 86 1 162"
std::string SetEth1Line(const std::string &mac)
{
    std::string line = "raw 0x3a 0xa0 0x01";
    for (int k = 0; k < 6; k++)
        line += " " + std::to_string(std::stoi(mac.substr(2 * k, 2), nullptr, 16));
    return line;
}

// "02AB3C5601A2" -> "02-AB-3C-56-01-A2"
std::string Dashed(const std::string &mac)
{
    std::string s;
    for (int k = 0; k < 6; k++)
        s += (k ? "-" : "") + mac.substr(2 * k, 2);
    return s;
}

// Console of a mode that got as far as writing eth1.
std::string WrittenHead(const std::string &eth0)
{
    return std::string(kVersionLine) + "Get eth00 Mac Address success.\r\nThe 1st MAC = " + Dashed(eth0) +
           "\r\nSet eth01 Mac Address Success.\n";
}

// The three pauses: after the first MAC, after the write, after the read-back.
std::vector<std::string> WrittenJournal(const std::string &eth1)
{
    return {kGet0Fixed, kSleep, SetEth1Line(eth1), kSleep, kGet1Fixed, kSleep};
}

// One completed mode: everything the run shows and leaves, byte for byte.
Row Pass(std::vector<std::string> args, const std::string &eth0, const std::string &eth1)
{
    std::string name;
    for (const auto &a : args)
        name += a + " ";
    return Row(name + "on " + eth0).Args(std::move(args)).Scenario("mac eth0 " + eth0 + "\n")
        .Passes("P\neth0:" + eth0 + "\neth1:" + eth1 + "\n")
        .Out(WrittenHead(eth0) + "The 2nd MAC = " + Dashed(eth1) + "\n" + kPassBanner)
        .Journal(WrittenJournal(eth1));
}

// A mode ended by a failure: the message, the FAIL banner and exit 1.
Row Fail(const std::string &name, std::vector<std::string> args, const std::string &scenario,
         const std::string &out, std::vector<std::string> journal)
{
    return Row(name).Args(std::move(args)).Scenario(scenario).FailsWithBanner().Out(out + kFailBanner)
        .Journal(std::move(journal));
}

std::vector<Row> OffsetRows()
{
    const std::string e0 = kMac1, e1 = kMac2;
    const std::string held = "mac eth0 " + e0 + "\n";
    std::vector<Row> rows = {
        // The documented example: the whole console and the 38-byte record.
        Pass({"U=1"}, e0, e1).Size("TALVEK.txt", 38),
        // Which first arguments select the mode.
        Pass({"u=5"}, e0, "02AB3C5601A6"),
        Pass({"U=5", "1", "2"}, e0, "02AB3C5601A6"),
        // The offset text is converted whole, with the automatic base;
        // conversion stops at the first character that does not fit.
        Pass({"U=16"}, e0, "02AB3C5601B1"), Pass({"U=0x10"}, e0, "02AB3C5601B1"),
        Pass({"U=0X10"}, e0, "02AB3C5601B1"), Pass({"U=020"}, e0, "02AB3C5601B1"),
        Pass({"U=5z"}, e0, "02AB3C5601A6"), Pass({"U= +16"}, e0, "02AB3C5601B1"),
        Pass({"U=019"}, e0, "02AB3C5601A2"), Pass({"U=0x00001"}, e0, "02AB3C5601A2"),
        Pass({"U=0x00000000001"}, e0, "02AB3C5601A2"), Pass({"U=0xfffff"}, e0, "02AB3C6601A0"),
        Pass({"U=1048575"}, e0, "02AB3C6601A0"),
        // Bytes 2 to 5 as one big-endian number plus the offset: every way a
        // carry can travel, and the largest sums that still fit.
        Pass({"U=1"}, "02AB3C5601FF", "02AB3C560200"),        // byte 5 into 4
        Pass({"U=0x100"}, "02AB3C56FF80", "02AB3C570080"),    // byte 4 into 3 alone
        Pass({"U=1"}, "02AB3C56FFFF", "02AB3C570000"),        // 5 into 4 into 3
        Pass({"U=0x10000"}, "02AB3CFF0000", "02AB3D000000"),  // byte 3 into 2 alone
        Pass({"U=0xF0000"}, "02AB3CF80000", "02AB3D070000"),  // bits 16-19 into byte 3
        Pass({"U=1"}, "02AB3CFFFFFF", "02AB3D000000"),        // 5 into 4 into 3 into 2
        Pass({"U=0x12345"}, "02AB3C000000", "02AB3C012345"),  // all three offset bytes
        Pass({"U=0xFFFFF"}, "02AB3CF00001", "02AB3D000000"),
        Pass({"U=0xFFFFF"}, "02AB3CFFFFFF", "02AB3D0FFFFE"),
        Pass({"U=1"}, "02ABFEFFFFFF", "02ABFF000000"),        // byte 2 reaches FF
        Pass({"U=0xFFFFF"}, "02ABFFF00000", "02ABFFFFFFFF"),  // the largest sum that fits
        Pass({"U=1"}, "FFFF3C5601A1", "FFFF3C5601A2"),        // bytes 0 and 1 untouched
        // Failed requests, a read-back that differs, a record that cannot be written.
        Fail("eth0 cannot be read", {"U=1"}, held + "getmac0 1 fail\n",
             std::string(kVersionLine) + "Get eth00 Mac Address Fail.\r\n", {kGet0Fixed}),
        Fail("eth0 read prints an error", {"U=1"}, held + "getmac0 1 error\n",
             std::string(kVersionLine) + "Command execute error\nGet eth00 Mac Address Fail.\r\n", {kGet0Fixed}),
        Fail("eth1 cannot be written", {"U=1"}, held + "setmac 1 fail\n",
             std::string(kVersionLine) + "Get eth00 Mac Address success.\r\nThe 1st MAC = " + Dashed(e0) +
                 "\r\nSet eth01 Mac Address Fail.\n",
             {kGet0Fixed, kSleep, SetEth1Line(e1)}),
        Fail("read-back request fails", {"U=1"}, held + "getmac1 1 fail\n",
             WrittenHead(e0) + "Get eth01 Mac Address Fail.\r\n", WrittenJournal(e1)),
        Fail("read-back request exits non-zero", {"U=1"}, held + "getmac1 1 exit 3\n",
             WrittenHead(e0) + "Get eth01 Mac Address Fail.\r\n", WrittenJournal(e1)),
        Fail("read-back differs (write not stored)", {"U=1"}, held + "setmac 1 nostore\nmac eth1 02AB3C000001\n",
             WrittenHead(e0) + "The 2nd MAC = 02-AB-3C-00-00-01\n"
                               "The MAC value is difference(1), old is 02-AB-3C-56-01-A2.\n",
             WrittenJournal(e1)),
        Fail("read-back differs in the last byte", {"U=1"}, held + "getmac1 1 bytes 02 ab 3c 56 01 a3\n",
             WrittenHead(e0) + "The 2nd MAC = 02-AB-3C-56-01-A3\n"
                               "The MAC value is difference(1), old is 02-AB-3C-56-01-A2.\n",
             WrittenJournal(e1)),
        Fail("record cannot be written", {"U=1"}, held, WrittenHead(e0) + kRecordError, WrittenJournal(e1))
            .Dir("TALVEK.txt"),
    };
    rows.back().record.reset();  // it stays the directory
    // Arguments that do not select the mode: no Fast Get MAC of eth0 is sent
    // and the mode prints nothing.
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {}, {"1"}, {"U"}, {"U5"}, {"X=5"}, {"=5"}, {"UU=5"}, {"1", "U=5"}}) {
        std::string name = "not selected:";
        for (const auto &a : args)
            name += " " + a;
        rows.push_back(Row(name).Args(args).Scenario(held).Exit(1).Count(kGet0Fixed, 0).Lacks("eth00")
                           .Lacks("Offset"));
    }
    // Offsets outside 1..0xFFFFF, judged on the full value: no request.
    for (const char *arg : {"U=0", "U=-1", "U=", "U=z", "U=0x100000", "U=1048576", "U=0x100000001",
                            "U=4294967297", "U=-4294967295", "U=99999999999999999999999999", "u=-0x1"})
        rows.push_back(Fail(std::string("range ") + arg, {arg}, held, kVersionLine + kRangeLine, {}));
    // A sum that does not fit in bytes 2 to 5: "Overflow!" before anything is written.
    for (const auto &[eth0, arg] : std::vector<std::pair<std::string, std::string>>{
             {"02ABFFFFFFFF", "U=1"}, {"02ABFFFFF000", "U=0x1000"}, {"02ABFFF00001", "U=0xFFFFF"},
             {"02ABFFFF0000", "U=0x10000"}, {"00FFFFFFFFFF", "U=0x80"}})
        rows.push_back(Fail("overflow " + eth0 + " " + arg, {arg}, "mac eth0 " + eth0 + "\n",
                            std::string(kVersionLine) + "Get eth00 Mac Address success.\r\nThe 1st MAC = " +
                                Dashed(eth0) + "\r\nOverflow!\r\n",
                            {kGet0Fixed, kSleep}));
    return rows;
}

class Offset : public ::testing::TestWithParam<Row> {};
TEST_P(Offset, Mode) { Check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Rows, Offset, ::testing::ValuesIn(OffsetRows()), RowName());

}  // namespace
