// Shell safety: every request is a command line run by the shell, so no
// byte of an argument, a data file, the allow-list, standard input or the
// working directory's name may ever reach it. Each row feeds hostile text
// with shell metacharacters ($(...), `...`, ;, |, &, quotes, newlines)
// through one of those ways and checks that
// - the tool received exactly the requests of a normal run, each made of
//   "raw" and the numbers the program formats itself;
// - no command hidden in the text ran: each would create a file named
//   PWN<letter> in the working directory, and there is none.
// The file names use no hexadecimal letters, so that the keyboard entry,
// which keeps hexadecimal digits only, sees exactly the MAC around them.
#include <filesystem>
#include <regex>

#include "test.h"

namespace {

// The requests and pauses of a passing run for both ports.
const std::vector<std::string> kBothPortsJournal =
    Cat({{kGetId, kGet0Fixed, kSleep, kGet1Fixed, kSetBoth}, kSettleQuick, MacReadyJournal(true, true),
         ReadbackJournal(true, true)});

// A request as the program builds it: "raw", then bytes written as 0x and
// two hexadecimal digits, or as a decimal number 0..255.
bool IsOwnRequest(const std::string &line)
{
    static const std::regex own("raw( (0x[0-9a-f]{2}|25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9]))+");
    return std::regex_match(line, own);
}

Row Safe(const std::string &name, std::vector<std::string> args, std::vector<std::string> journal,
         const std::string &in = "")
{
    const std::string at = in.empty() ? "" : in + "/";
    return Row(name).Args(std::move(args)).In(in).JournalAt(at + "kovripmi.journal").Exit(0)
        .Holds(at + "TALVEK.txt", kPassBoth)
        .Journal(std::move(journal))
        .Then([at](const Station &s, const Result &) {
            for (const auto &line : s.requests(at + "kovripmi.journal"))
                EXPECT_TRUE(IsOwnRequest(line)) << line;
            namespace fs = std::filesystem;
            for (const auto &e : fs::recursive_directory_iterator(s.dir())) {
                std::string f = e.path().filename();
                EXPECT_FALSE(f.size() == 4 && f.rfind("PWN", 0) == 0) << "an injected command ran: " << e.path();
            }
        });
}

std::vector<Row> ShellRows()
{
    const std::string dir = "st $(>PWNG) `>PWNH`;>PWNI|>PWNJ&>PWNK'\"\n>PWNL";
    // The offset mode writing eth1 := 02AB3C5601A1 + 1.
    const std::vector<std::string> offset = {kGet0Fixed, kSleep, kSet1Fixed, kSleep, kGet1Fixed, kSleep};
    return {
        Safe("arguments",
             {kArg1 + "$(>PWNG)", kArg2 + "`>PWNH`", ";>PWNI", "|>PWNJ", "&>PWNK", "'>PWNL'", "\">PWNM\"",
              "\n>PWNO\n", "reboot;>PWNQ", "x $(>PWNR) `>PWNS`"},
             kBothPortsJournal),
        Safe("offset argument", {"U=1;>PWNG$(>PWNH)`>PWNI`|>PWNJ&>PWNK\n>PWNL"}, offset)
            .Scenario("mac eth0 " + kMac1 + "\n"),
        Safe("data files", {"1", "2", "T"}, kBothPortsJournal)
            .File("TALVEK1.DAT", kMac1 + "$(>PWNG)`>PWNH`;>PWNI\n")
            .File("TALVEK2.DAT", kMac2 + "|>PWNJ&>PWNK\n'>PWNL'\"$(>PWNM)\"\n"),
        Safe("allow-list", {kArg1, kArg2}, kBothPortsJournal)
            .File("TALVEK.ini", "AVL_MASK=FFFFFF000000 AVL_VALUE=02AB3C000000 $(>PWNG) `>PWNH`;>PWNI|>PWNJ&>PWNK'\"\n"
                                "$(>PWNL)\n;`>PWNM`\n\">PWNO\" AVL_MASK=$(>PWNQ) AVL_VALUE=`>PWNR`\n"),
        Safe("keyboard input", {"1", "2"}, kBothPortsJournal)
            .Input("0$(>PWNG)2" "`>PWNH`AB" ";>PWNI3C" "|>PWNJ56" "&>PWNK01" "'>PWNL'A1\n"
                   "\"02AB3C5601A2\"$(>PWNM)\n"),
        // The tool is run as "./kovripmi", relative to the working directory.
        Safe("working directory name", {kArg1, kArg2}, kBothPortsJournal, dir)
            .Setup([dir](Station &s) {
                s.mkdir(dir);
                std::filesystem::create_symlink(SimBinary(), s.path(dir + "/kovripmi"));
                s.write(dir + "/TALVEK.ini", kAllowAllIni);
            }),
    };
}

class ShellSafety : public ::testing::TestWithParam<Row> {};
TEST_P(ShellSafety, OnlyOwnNumbersReachTheTool) { Check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Rows, ShellSafety, ::testing::ValuesIn(ShellRows()), RowName());

}  // namespace
