// The request lines as built in gCmd, and the operations that are one
// request each: ShowBmcVersion, ColdReset, FastGetMac, GetSystemGuid.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "transport/execmd.h"
#include "transport/requests.h"
#include "unit_support.h"

namespace {

const uint8_t kMacA[6] = {0x02, 0xAB, 0x3C, 0x56, 0x01, 0xA1};
const uint8_t kMacB[6] = {0x02, 0xAB, 0x3C, 0x56, 0x01, 0xA2};
const uint8_t kLowFF[6] = {0x00, 0x00, 0x00, 0x00, 0x00, 0xFF};
const uint8_t kAllFF[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

struct LineRow {
    const char *name;
    std::function<void()> build;
    const char *line;
};

const std::vector<LineRow> &LineRows()
{
    static const std::vector<LineRow> rows = {
        {"get device id", [] { BuildGetDeviceId(); }, "./kovripmi raw 0x06 0x01"},
        {"cold reset", [] { BuildColdReset(); }, "./kovripmi raw 0x06 0x02"},
        {"get mac eth0 fixed", [] { BuildFastGetMacFixed(0); }, "./kovripmi raw 0x3a 0xa1 0x00"},
        {"get mac eth1 fixed", [] { BuildFastGetMacFixed(1); }, "./kovripmi raw 0x3a 0xa1 0x01"},
        {"get mac eth0", [] { BuildFastGetMac(0); }, "./kovripmi raw 0x3a 0xa1 0"},
        {"get mac eth1", [] { BuildFastGetMac(1); }, "./kovripmi raw 0x3a 0xa1 1"},
        {"set mac one port eth0", [] { BuildFastSetMac(0, kMacA); },
         "./kovripmi raw 0x3a 0xa0 0 2 171 60 86 1 161"},
        {"set mac one port eth1", [] { BuildFastSetMac(1, kMacB); },
         "./kovripmi raw 0x3a 0xa0 1 2 171 60 86 1 162"},
        {"set mac one port low ff", [] { BuildFastSetMac(0, kLowFF); },
         "./kovripmi raw 0x3a 0xa0 0 0 0 0 0 0 255"},
        {"set mac eth0 fixed", [] { BuildFastSetMacFixed(0, kMacA); },
         "./kovripmi raw 0x3a 0xa0 0x00 2 171 60 86 1 161"},
        {"set mac eth1 fixed", [] { BuildFastSetMacFixed(1, kMacB); },
         "./kovripmi raw 0x3a 0xa0 0x01 2 171 60 86 1 162"},
        {"set mac both", [] { BuildFastSetMacBoth(kMacA, kMacB); },
         "./kovripmi raw 0x3a 0xa0 0x02 2 171 60 86 1 161 2 171 60 86 1 162"},
        // The longest line the program builds: 77 characters.
        {"set mac both all ff", [] { BuildFastSetMacBoth(kAllFF, kAllFF); },
         "./kovripmi raw 0x3a 0xa0 0x02 255 255 255 255 255 255 255 255 255 255 255 255"},
    };
    return rows;
}

TEST(RequestLines, BuiltByteForByteWithScratchClearedAfterwards)
{
    for (const LineRow &row : LineRows()) {
        SCOPED_TRACE(row.name);
        // Leftovers of an earlier, longer request must not show through.
        memset(gCmd, 'x', sizeof(gCmd) - 1);
        gCmd[sizeof(gCmd) - 1] = '\0';
        // Formatted lines pass through the scratch buffer and must leave all
        // of it zero; fixed lines do not use it.
        memset(SNgCmd, 0, sizeof(SNgCmd));
        SNgCmd[sizeof(SNgCmd) - 1] = 'y';
        row.build();
        EXPECT_STREQ(gCmd, row.line);
        bool formatted =
            strstr(row.line, " 0x3a 0xa1 0x") == nullptr && strstr(row.line, " 0x06 ") == nullptr;
        if (formatted) {
            EXPECT_EQ(std::string(SNgCmd, sizeof(SNgCmd)), std::string(sizeof(SNgCmd), '\0'));
        }
    }
}

class Requests : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        memset(ResponseData, 0, sizeof(ResponseData));
    }
};

TEST_F(Requests, FastGetMacSendsTheFormattedLineAndTakesSixBytes)
{
    WriteReplyTool(" 02 ab 3c 56 01 a2\n");
    uint8_t mac[6] = {};
    EXPECT_EQ(FastGetMac(1, mac), 0);
    EXPECT_EQ(std::vector<uint8_t>(mac, mac + 6),
              (std::vector<uint8_t>{0x02, 0xAB, 0x3C, 0x56, 0x01, 0xA2}));
    EXPECT_EQ(ToolCalls(), std::vector<std::string>{"raw 0x3a 0xa1 1"});
}

TEST_F(Requests, ColdResetAnnouncesItselfAndReturnsTheRunnerResult)
{
    for (int status : {0, 1}) {
        SCOPED_TRACE(status);
        remove("args.log");
        WriteReplyTool("", status);
        StdoutCapture cap;
        EXPECT_EQ(ColdReset(), status);
        EXPECT_EQ(cap.Take(), "Cold Reset...\r\n");
        EXPECT_EQ(ToolCalls(), std::vector<std::string>{"raw 0x06 0x02"});
    }
}

// Get Device ID reply: 15 bytes, byte 2 and 3 firmware revision, 11 to 14
// auxiliary revision (least significant first).
std::string DeviceIdReply(const char *fw1, const char *fw2, const char *aux)
{
    return std::string(" 20 01 ") + fw1 + " " + fw2 + " 02 bf 00 00 00 00 00 " + aux + "\n";
}

struct RevisionRow {
    const char *name;
    std::string reply;  // what the tool prints
    int status;         // its exit status
    int result;
    const char *out;
};

const std::vector<RevisionRow> &RevisionRows()
{
    static const std::vector<RevisionRow> rows = {
        {"bcd minor", DeviceIdReply("81", "25", "03 00 00 00"), 0, 0, "BMC Revision = 1.25.3\r\n"},
        {"available flag dropped", DeviceIdReply("ff", "00", "00 00 00 00"), 0, 0,
         "BMC Revision = 7f.0.0\r\n"},
        {"minor 85", DeviceIdReply("02", "85", "00 00 00 00"), 0, 0, "BMC Revision = 2.85.0\r\n"},
        {"minor ff", DeviceIdReply("80", "FF", "00 00 00 00"), 0, 0, "BMC Revision = 0.ff.0\r\n"},
        {"aux all ff", DeviceIdReply("01", "00", "ff ff ff ff"), 0, 0,
         "BMC Revision = 1.0.4294967295\r\n"},
        {"aux top byte", DeviceIdReply("01", "00", "00 00 00 01"), 0, 0,
         "BMC Revision = 1.0.16777216\r\n"},
        {"aux byte order", DeviceIdReply("01", "00", "01 02 03 04"), 0, 0,
         "BMC Revision = 1.0.67305985\r\n"},
        // A short reply: the missing bytes are those of the zeroed array.
        {"short reply", " 20 01 83\n", 0, 0, "BMC Revision = 3.0.0\r\n"},
        {"tool fails", DeviceIdReply("81", "25", "03 00 00 00"), 1, 1, "BMC Revision = ?.?.?\r\n"},
        {"error line", "Error: timeout\n", 0, 1, "Command execute error\nBMC Revision = ?.?.?\r\n"},
    };
    return rows;
}

TEST_F(Requests, ShowBmcVersionPrintsTheRevisionLine)
{
    for (const RevisionRow &row : RevisionRows()) {
        SCOPED_TRACE(row.name);
        remove("args.log");
        memset(ResponseData, 0, sizeof(ResponseData));
        WriteReplyTool(row.reply, row.status);
        StdoutCapture cap;
        EXPECT_EQ(ShowBmcVersion(), row.result);
        EXPECT_EQ(cap.Take(), row.out);
        EXPECT_EQ(ToolCalls(), std::vector<std::string>{"raw 0x06 0x01"});
    }
}


// Get System GUID: sixteen bytes or nothing. A short reply must not pass for
// a GUID, whatever an earlier request left behind in the reply array.
struct GuidRow {
    const char *name;
    std::string reply;  // what the tool prints
    int status;         // its exit status
    int result;
    std::vector<uint8_t> guid;  // what the caller's buffer holds afterwards
};

const std::vector<uint8_t> kUntouched(16, 0xEE);

class SystemGuid : public Requests, public ::testing::WithParamInterface<GuidRow> {};

TEST_P(SystemGuid, SixteenBytesOrTheBufferUntouched)
{
    const GuidRow &row = GetParam();
    for (size_t k = 0; k < kResponseSize; k++)
        ResponseData[k] = 0x5A;  // a long earlier reply
    WriteReplyTool(row.reply, row.status);
    std::vector<uint8_t> guid = kUntouched;
    EXPECT_EQ(GetSystemGuid(guid.data()), row.result);
    EXPECT_EQ(guid, row.guid);
    EXPECT_EQ(ToolCalls(), std::vector<std::string>{"raw 0x06 0x37"});
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SystemGuid,
    ::testing::Values(
        GuidRow{"full_reply", " 00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff\n", 0, 0,
                {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC,
                 0xDD, 0xEE, 0xFF}},
        GuidRow{"fifteen_bytes", " 00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee\n", 0, 1,
                kUntouched},
        GuidRow{"tool_fails", " 00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff\n", 1, 1,
                kUntouched}),
    [](const ::testing::TestParamInfo<GuidRow> &info) { return std::string(info.param.name); });

}  // namespace
