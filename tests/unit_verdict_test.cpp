// The read-back's same-MAC test. Runs are refused before programming when
// both ports are given one MAC, so no end-to-end run reaches it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "output/console.h"
#include "programming/readback.h"
#include "unit_support.h"

namespace {

class Verdict : public TempDirTest {};

TEST_F(Verdict, ReadbackOfOneMacOnBothPortsFails)
{
    StdoutCapture banner;
    ShowBigFail();
    const std::string refused =
        "The 2nd MAC = 02-AB-3C-56-01-A1\nThe MAC value are the same.\n" + banner.Take();

    WriteReplyTool(" 02 ab 3c 56 01 a1\n");
    const uint8_t mac[6] = {0x02, 0xAB, 0x3C, 0x56, 0x01, 0xA1};
    TALVEK_DATA data{};
    data.ProgramMac[0] = data.ProgramMac[1] = 1;
    data.FastSetGetMacOemCmd.MacParam = kMacParamBoth;
    memcpy(data.Mac[0], mac, 6);
    memcpy(data.Mac[1], mac, 6);
    StdoutCapture cap;
    EXPECT_EQ(ReadbackAndCheck(&data), 1);
    std::string out = cap.Take();
    EXPECT_NE(out.find(refused), std::string::npos) << out;
    EXPECT_EQ(ReadFile("TALVEK.txt"), "N\n");
}

}  // namespace
