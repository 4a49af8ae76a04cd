// The offset update mode "U=offset" end to end: eth1 := eth0 as the BMC holds
// it + offset, written, read back and recorded.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "station.h"

namespace {

const char kGetEth0[] = "raw 0x3a 0xa1 0x00";
const char kGetEth1[] = "raw 0x3a 0xa1 0x01";
const char kRangeLine[] = "Offset must be in 0x00001~0xfffff\r\n";

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
    return std::string(kVersionLine) + "Get eth00 Mac Address success.\r\n" + "The 1st MAC = " +
           Dashed(eth0) + "\r\n" + "Set eth01 Mac Address Success.\n";
}

// One completed mode: everything the run shows and leaves, byte for byte.
void ExpectPass(const Station &s, const RunResult &r, const std::string &eth0,
                const std::string &eth1)
{
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, WrittenHead(eth0) + "The 2nd MAC = " + Dashed(eth1) + "\n" + kPassBanner);
    std::vector<std::string> want = {kGetEth0, "sleep 1", SetEth1Line(eth1), "sleep 1",
                                     kGetEth1, "sleep 1"};
    EXPECT_EQ(s.journal(), want);
    EXPECT_EQ(s.read("TALVEK.txt"), "P\neth0:" + eth0 + "\neth1:" + eth1 + "\n");
}

bool AnyRequest(const Station &s, const std::string &prefix)
{
    for (const auto &l : s.requests()) {
        if (l.rfind(prefix, 0) == 0)
            return true;
    }
    return false;
}

}  // namespace

// The documented example: U=1 on 02-AB-3C-56-01-A1, the whole console and the
// 38-byte record.
TEST(Offset, PassRunByteForByte)
{
    Station s;
    s.scenario("mac eth0 02AB3C5601A1\n");
    RunResult r = s.run({"U=1"});
    ExpectPass(s, r, "02AB3C5601A1", "02AB3C5601A2");
    EXPECT_EQ(s.count("raw 0x3a 0xa0 0x01 2 171 60 86 1 162"), 1);
    std::string record = s.read("TALVEK.txt");
    EXPECT_EQ(record.size(), 38u);
    EXPECT_EQ(record, "P\neth0:02AB3C5601A1\neth1:02AB3C5601A2\n");
    std::string want_out = std::string(kVersionLine) +
        "Get eth00 Mac Address success.\r\n"
        "The 1st MAC = 02-AB-3C-56-01-A1\r\n"
        "Set eth01 Mac Address Success.\n"
        "The 2nd MAC = 02-AB-3C-56-01-A2\n" +
        kPassBanner;
    EXPECT_EQ(r.out, want_out);
    // The three pauses: after the first MAC, after the write, after the read-back.
    EXPECT_EQ(s.journal(), (std::vector<std::string>{
                               "raw 0x3a 0xa1 0x00", "sleep 1",
                               "raw 0x3a 0xa0 0x01 2 171 60 86 1 162", "sleep 1",
                               "raw 0x3a 0xa1 0x01", "sleep 1"}));
}

// Which first arguments select the mode. Arguments that do not go on to a
// normal run: no Fast Get MAC of eth0 is sent and the mode prints nothing.
TEST(Offset, Selection)
{
    struct Row {
        std::vector<std::string> args;
        bool selected;
    };
    const std::vector<Row> rows = {
        {{}, false},       {{"1"}, false},    {{"U"}, false},      {{"U5"}, false},
        {{"X=5"}, false},  {{"=5"}, false},   {{"UU=5"}, false},   {{"1", "U=5"}, false},
        {{"u=5"}, true},   {{"U=5"}, true},   {{"U=5", "1", "2"}, true},
    };
    for (const auto &row : rows) {
        std::string label;
        for (const auto &a : row.args)
            label += a + " ";
        SCOPED_TRACE(label);
        Station s;
        s.scenario("mac eth0 02AB3C5601A1\n");
        RunResult r = s.run(row.args);
        if (row.selected) {
            ExpectPass(s, r, "02AB3C5601A1", "02AB3C5601A6");
        } else {
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(s.count(kGetEth0), 0);
            EXPECT_EQ(r.out.find("eth00"), std::string::npos);
            EXPECT_EQ(r.out.find("Offset"), std::string::npos);
            EXPECT_FALSE(s.exists("TALVEK.txt") && s.read("TALVEK.txt")[0] == 'P');
        }
    }
}

// The offset text is converted whole, with the automatic base: decimal,
// hexadecimal, octal; conversion stops at the first character that does not
// fit.
TEST(Offset, Bases)
{
    struct Row {
        const char *arg;
        const char *eth1;
    };
    const std::vector<Row> rows = {
        {"U=16", "02AB3C5601B1"},       {"U=0x10", "02AB3C5601B1"},
        {"U=0X10", "02AB3C5601B1"},     {"U=020", "02AB3C5601B1"},
        {"U=5z", "02AB3C5601A6"},       {"U= +16", "02AB3C5601B1"},
        {"U=019", "02AB3C5601A2"},      {"U=0x00001", "02AB3C5601A2"},
        {"U=0x00000000001", "02AB3C5601A2"},
        {"U=0xfffff", "02AB3C6601A0"},  {"U=1048575", "02AB3C6601A0"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.arg);
        Station s;
        s.scenario("mac eth0 02AB3C5601A1\n");
        RunResult r = s.run({row.arg});
        ExpectPass(s, r, "02AB3C5601A1", row.eth1);
    }
}

// Offsets outside 1..0xFFFFF, judged on the full value: the message, the FAIL
// banner, no request, the failure record.
TEST(Offset, Range)
{
    const std::vector<std::string> args = {
        "U=0", "U=-1", "U=", "U=z", "U=0x100000", "U=1048576", "U=0x100000001",
        "U=4294967297", "U=-4294967295", "U=99999999999999999999999999", "u=-0x1",
    };
    for (const auto &arg : args) {
        SCOPED_TRACE(arg);
        Station s;
        s.write("TALVEK.txt", "P\neth0:02AB3C5601A1\neth1:02AB3C5601A2\n");
        RunResult r = s.run({arg});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, std::string(kVersionLine) + kRangeLine + kFailBanner);
        EXPECT_TRUE(s.journal().empty());
        EXPECT_EQ(s.read("TALVEK.txt"), "N\n");
    }
}

// Bytes 2 to 5 as one big-endian number plus the offset: every way a carry
// can travel, and the largest sums that still fit.
TEST(Offset, Carries)
{
    struct Row {
        const char *eth0;
        const char *arg;
        const char *eth1;
    };
    const std::vector<Row> rows = {
        {"02AB3C5601A1", "U=1", "02AB3C5601A2"},        // no carry
        {"02AB3C5601FF", "U=1", "02AB3C560200"},        // byte 5 into 4
        {"02AB3C56FF80", "U=0x100", "02AB3C570080"},    // byte 4 into 3 alone
        {"02AB3C56FFFF", "U=1", "02AB3C570000"},        // 5 into 4 into 3
        {"02AB3CFF0000", "U=0x10000", "02AB3D000000"},  // byte 3 into 2 alone
        {"02AB3CF80000", "U=0xF0000", "02AB3D070000"},  // bits 16-19 into byte 3
        {"02AB3CFFFFFF", "U=1", "02AB3D000000"},        // 5 into 4 into 3 into 2
        {"02AB3C000000", "U=0x12345", "02AB3C012345"},  // all three offset bytes
        {"02AB3CF00001", "U=0xFFFFF", "02AB3D000000"},
        {"02AB3CFFFFFF", "U=0xFFFFF", "02AB3D0FFFFE"},
        {"02ABFEFFFFFF", "U=1", "02ABFF000000"},        // byte 2 reaches FF
        {"02ABFFF00000", "U=0xFFFFF", "02ABFFFFFFFF"},  // the largest sum that fits
        {"FFFF3C5601A1", "U=1", "FFFF3C5601A2"},        // bytes 0 and 1 untouched
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.eth0) + " " + row.arg);
        Station s;
        s.scenario(std::string("mac eth0 ") + row.eth0 + "\n");
        RunResult r = s.run({row.arg});
        ExpectPass(s, r, row.eth0, row.eth1);
    }
}

// A sum that does not fit in bytes 2 to 5: "Overflow!" before anything is
// written.
TEST(Offset, Overflow)
{
    struct Row {
        const char *eth0;
        const char *arg;
    };
    const std::vector<Row> rows = {
        {"02ABFFFFFFFF", "U=1"},
        {"02ABFFFFF000", "U=0x1000"},
        {"02ABFFF00001", "U=0xFFFFF"},
        {"02ABFFFF0000", "U=0x10000"},
        {"00FFFFFFFFFF", "U=0x80"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.eth0) + " " + row.arg);
        Station s;
        s.scenario(std::string("mac eth0 ") + row.eth0 + "\n");
        RunResult r = s.run({row.arg});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, std::string(kVersionLine) + "Get eth00 Mac Address success.\r\n" +
                             "The 1st MAC = " + Dashed(row.eth0) + "\r\n" + "Overflow!\r\n" +
                             kFailBanner);
        EXPECT_EQ(s.journal(), (std::vector<std::string>{kGetEth0, "sleep 1"}));
        EXPECT_FALSE(AnyRequest(s, "raw 0x3a 0xa0"));
        EXPECT_EQ(s.read("TALVEK.txt"), "N\n");
    }
}

// Failed requests, a read-back that differs, and a record that cannot be
// written: each ends the mode with its message, the FAIL banner and exit 1.
TEST(Offset, Failures)
{
    const std::string eth0 = "02AB3C5601A1";
    const std::string eth1 = "02AB3C5601A2";
    struct Row {
        const char *name;
        std::string scenario;
        std::string out;  // before the FAIL banner
        std::vector<std::string> journal;
        bool record_dir;  // TALVEK.txt is a directory
    };
    const std::vector<Row> rows = {
        {"eth0 cannot be read", "getmac0 1 fail\n",
         std::string(kVersionLine) + "Get eth00 Mac Address Fail.\r\n", {kGetEth0}, false},
        {"eth0 read prints an error", "getmac0 1 error\n",
         std::string(kVersionLine) + "Command execute error\nGet eth00 Mac Address Fail.\r\n", {kGetEth0}, false},
        {"eth1 cannot be written", "setmac 1 fail\n",
         std::string(kVersionLine) + "Get eth00 Mac Address success.\r\nThe 1st MAC = " +
             Dashed(eth0) + "\r\nSet eth01 Mac Address Fail.\n",
         {kGetEth0, "sleep 1", SetEth1Line(eth1)}, false},
        {"read-back request fails", "getmac1 1 fail\n",
         WrittenHead(eth0) + "Get eth01 Mac Address Fail.\r\n",
         {kGetEth0, "sleep 1", SetEth1Line(eth1), "sleep 1", kGetEth1, "sleep 1"}, false},
        {"read-back request exits non-zero", "getmac1 1 exit 3\n",
         WrittenHead(eth0) + "Get eth01 Mac Address Fail.\r\n",
         {kGetEth0, "sleep 1", SetEth1Line(eth1), "sleep 1", kGetEth1, "sleep 1"}, false},
        {"read-back differs (write not stored)", "setmac 1 nostore\nmac eth1 02AB3C000001\n",
         WrittenHead(eth0) + "The 2nd MAC = 02-AB-3C-00-00-01\n"
             "The MAC value is difference(1), old is 02-AB-3C-56-01-A2.\n",
         {kGetEth0, "sleep 1", SetEth1Line(eth1), "sleep 1", kGetEth1, "sleep 1"}, false},
        {"read-back differs in the last byte", "getmac1 1 bytes 02 ab 3c 56 01 a3\n",
         WrittenHead(eth0) + "The 2nd MAC = 02-AB-3C-56-01-A3\n"
             "The MAC value is difference(1), old is 02-AB-3C-56-01-A2.\n",
         {kGetEth0, "sleep 1", SetEth1Line(eth1), "sleep 1", kGetEth1, "sleep 1"}, false},
        {"record cannot be written", "",
         WrittenHead(eth0) + "Error! System can not open file TALVEK.txt.\n",
         {kGetEth0, "sleep 1", SetEth1Line(eth1), "sleep 1", kGetEth1, "sleep 1"}, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Station s;
        s.scenario("mac eth0 " + eth0 + "\n" + row.scenario);
        if (row.record_dir)
            ASSERT_EQ(system(("mkdir '" + s.path("TALVEK.txt") + "'").c_str()), 0);
        else
            s.write("TALVEK.txt", "P\neth0:02AB3C5601A1\neth1:02AB3C5601A2\n");
        RunResult r = s.run({"U=1"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, row.out + kFailBanner);
        EXPECT_EQ(s.journal(), row.journal);
        if (!row.record_dir) {
            EXPECT_EQ(s.read("TALVEK.txt"), "N\n");
        }
    }
}
