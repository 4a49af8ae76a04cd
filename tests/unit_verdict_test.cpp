// The same-MAC test of the verdict and its twin before programming: two ports
// must never be left with one MAC.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "output/console.h"
#include "programming/readback.h"
#include "unit_support.h"

namespace {

const uint8_t kMac[6] = {0x02, 0xAB, 0x3C, 0x56, 0x01, 0xA1};
const uint8_t kOther[6] = {0x02, 0xAB, 0x3C, 0x56, 0x01, 0xA2};

class Verdict : public TempDirTest {
protected:
    static TALVEK_DATA Both(const uint8_t eth1[6])
    {
        TALVEK_DATA data{};
        data.ProgramMac[0] = data.ProgramMac[1] = 1;
        data.FastSetGetMacOemCmd.MacParam = kMacParamBoth;
        memcpy(data.Mac[0], kMac, 6);
        memcpy(data.Mac[1], eth1, 6);
        return data;
    }

    static std::string FailBanner()
    {
        StdoutCapture cap;
        ShowBigFail();
        return cap.Take();
    }
};

// Refused before programming: the reason, the FAIL banner, the failure record
// and, with fail_log, the log entry; no request reaches the tool.
TEST_F(Verdict, OneMacForBothPortsIsRefusedBeforeAnyRequest)
{
    WriteReplyTool(" 02 ab 3c 56 01 a1\n");
    struct {
        const uint8_t *eth1;
        int fail_log;
        int rc;
        const char *record;
        bool logged;
    } rows[] = {
        {kMac, 1, 1, "N\n", true},
        {kOther, 1, 0, "old", false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.rc);
        WriteFile("TALVEK.txt", "old");
        remove("MAC_LOG.txt");
        TALVEK_DATA data = Both(row.eth1);
        data.NeedFailLog = row.fail_log;
        StdoutCapture cap;
        EXPECT_EQ(RefuseSameMacForBothPorts(&data), row.rc);
        EXPECT_EQ(cap.Take(), row.rc ? "The MAC value are the same.\n" + FailBanner() : "");
        EXPECT_EQ(ReadFile("TALVEK.txt"), row.record);
        EXPECT_EQ(Exists("MAC_LOG.txt"), row.logged);
    }
    EXPECT_TRUE(ToolCalls().empty());
}

// The read-back keeps its own test: two ports that read back one MAC fail.
TEST_F(Verdict, ReadbackOfOneMacOnBothPortsFails)
{
    WriteReplyTool(" 02 ab 3c 56 01 a1\n");
    TALVEK_DATA data = Both(kMac);
    StdoutCapture cap;
    EXPECT_EQ(ReadbackAndCheck(&data), 1);
    std::string out = cap.Take();
    EXPECT_NE(out.find("The 2nd MAC = 02-AB-3C-56-01-A1\nThe MAC value are the same.\n" +
                       FailBanner()),
              std::string::npos)
        << out;
    EXPECT_EQ(ReadFile("TALVEK.txt"), "N\n");
}

}  // namespace
