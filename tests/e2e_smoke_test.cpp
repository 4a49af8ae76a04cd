// The typical runs, end to end: both ports from the command line, one port,
// and the usage-only run.
#include <gtest/gtest.h>

#include "station.h"

TEST(Smoke, BothPortsFromCommandLinePass)
{
    Station s;
    s.scenario("mac eth0 000000000000\nmac eth1 000000000000\n");
    RunResult r = s.run({"1=02AB3C5601A1", "2=02AB3C5601A2"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(s.read("TALVEK.txt"), "P\neth0:02AB3C5601A1\neth1:02AB3C5601A2\n");
    std::string expected = std::string(kVersionLine) +
        "BMC Revision = 1.25.3\r\n"
        "INI(0) - AVL_MASK=FFFFFF000000, AVL_VALUE=02AB3C000000\n"
        "eth0 not equal\n"
        "eth1 not equal\n"
        "Set eth0 and eth1 Mac Address Success!\n"
        "Fast Set MAC done, waiting for BMC ready...(3)  \r\n"
        "wait MAC ready...(0)   \r\n"
        "-- Fast Get MAC OEM CMD support. No need to disable bond. --\n"
        "The 1st MAC = 02-AB-3C-56-01-A1\n"
        "The 2nd MAC = 02-AB-3C-56-01-A2\n" +
        kPassBanner;
    EXPECT_EQ(r.out, expected);
    std::vector<std::string> want = {
        "raw 0x06 0x01",
        "raw 0x3a 0xa1 0x00", "sleep 1", "raw 0x3a 0xa1 0x01",
        "raw 0x3a 0xa0 0x02 2 171 60 86 1 161 2 171 60 86 1 162",
        "sleep 1", "raw 0x06 0x01", "raw 0x06 0x01",
        "sleep 1", "raw 0x3a 0xa1 0", "raw 0x3a 0xa1 1",
        "raw 0x3a 0xa1 0x00", "raw 0x3a 0xa1 0", "raw 0x3a 0xa1 1",
    };
    EXPECT_EQ(s.journal(), want);
}

TEST(Smoke, NoArgumentsShowsUsageOnly)
{
    Station s;
    s.write("TALVEK.txt", "P\neth0:02AB3C5601A1\n");
    RunResult r = s.run({});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.substr(0, strlen(kVersionLine)), kVersionLine);
    EXPECT_NE(r.out.find("Usage:   TALVEK <location of MAC(1 base)>"), std::string::npos);
    EXPECT_TRUE(s.journal().empty());
    EXPECT_EQ(s.read("TALVEK.txt"), "P\neth0:02AB3C5601A1\n");
}
