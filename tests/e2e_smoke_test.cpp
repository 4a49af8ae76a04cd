// The typical runs, end to end: both ports from the command line and the
// usage-only run.
#include "test.h"

TEST(Smoke, BothPortsFromCommandLinePass)
{
    Check(Row("both ports")
              .Args({kArg1, kArg2})
              .Passes(kPassBoth)
              .Out(kHead + "eth0 not equal\neth1 not equal\nSet eth0 and eth1 Mac Address Success!\n" +
                   Countdown(3, 3) + kMacReady + "\n" + kReadbackTitle + kLine1 + kLine2 + kPassBanner)
              .Journal(Cat({{kGetId, kGet0Fixed, kSleep, kGet1Fixed, kSetBoth}, kSettleQuick,
                            MacReadyJournal(true, true), ReadbackJournal(true, true)})));
}

TEST(Smoke, NoArgumentsShowsUsageOnly)
{
    Check(Row("usage").Args({}).Exit(1).Shows(Banner::kNone).Record(kStaleRecord)
              .Out(kVersionLine + std::string(kUsage)).Journal({}));
}
