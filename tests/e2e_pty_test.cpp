// Keyboard entry on a real terminal: TALVEK runs with a pseudo-terminal as
// its controlling terminal, standard input and output; the test types on the
// other side. Every row holds TALVEK to the fixture's terminal invariant:
// the terminal's modes and the descriptor's flags are the same after the run
// as before it, however the run ends.
#include <csignal>

#include "test.h"

namespace {

// The first characters after the first prompt (the terminal turns each "\n"
// of the program into "\r\n", so no banner is compared).
Row Echoes(Row row, const std::string &echo)
{
    return row.Then([echo](const Station &, const Result &r) {
        size_t p = r.out.find(kPrompt1);
        ASSERT_NE(p, std::string::npos) << r.out;
        EXPECT_EQ(r.out.substr(p + kPrompt1.size(), echo.size()), echo);
    });
}

// "TALVEK 1" on a terminal whose entry ends by itself.
Row Entered(const std::string &name, const std::string &keys, const std::string &echo, bool pass)
{
    Row r = Row(name).Args({"1"}).On(Stdin::kTerminal).Type({keys});
    r = pass ? r.Exit(0).Record(kPass1) : r.Exit(1).Record(kFailRecord).Count(kSet0, 0);
    return Echoes(r, echo);
}

// "TALVEK 1" on a terminal, ended by a signal while the entry waits: it dies
// of that signal and leaves the record it found.
Row Interrupted(const std::string &name, int sig)
{
    return Row(name).Args({"1"}).On(Stdin::kTerminal).SignalAtEntry(sig).Killed(sig).Record(kStaleRecord)
        .Requests({kGetId});
}

std::vector<Row> TerminalRows()
{
    const std::string abandoned = "Error! The value '' is invaild.\n";
    return {
        Entered("scanned code", "02:AB:3C:56:01:A1\r\n", "02-AB-3C-56-01-A1\r\n", true),
        Entered("typed lower case", "02ab3c5601a1", "02-ab-3c-56-01-a1\r\n", true),
        Entered("ESC after four digits", "02AB\x1b", "02-AB-\r\nError! The value '02AB\x1b' is invaild.\r\n", false),
        Entered("arrow key", "\x1b[A", "\r\nError! The value '\x1b' is invaild.\r\n", false),
        Entered("non-blocking descriptor", "02AB3C5601A1\r\n", "02-AB-3C-56-01-A1\r\n", true).Nonblocking(),
        Entered("non-blocking, ESC", "0\x1b", "0\r\nError! The value '0\x1b' is invaild.\r\n", false).Nonblocking(),
        Echoes(Row("keys typed before the prompt").Args({"1"}).On(Stdin::kTerminal).Input(kMac1).Exit(0)
                   .Record(kPass1),
               "02-AB-3C-56-01-A1\r\n"),
        // Two codes with their line ends in one burst: the first entry takes
        // twelve digits, the second drops the waiting line end.
        Echoes(Row("back-to-back codes for two positions").Args({"1", "2"}).On(Stdin::kTerminal)
                   .Type({"02AB3C5601A1\r\n02ab3c5601a2\r\n"}).Exit(0).Record("P\neth0:" + kMac1 + "\neth1:" + kMac2 + "\n"),
               "02-AB-3C-56-01-A1\r\n" + kPrompt2 + "02-ab-3c-56-01-a2\r\n"),
        Row("two entries typed").Args({"1", "2"}).On(Stdin::kTerminal)
            .Type({"02ab3c5601a1", "02:AB:3C:56:01:A2\r"}).Exit(0).Record(kPassBoth)
            .Has("02-ab-3c-56-01-a1").Has("02-AB-3C-56-01-A2"),
        Interrupted("SIGTERM", SIGTERM),
        Interrupted("SIGINT", SIGINT),
        Interrupted("SIGHUP", SIGHUP),
        Interrupted("SIGQUIT", SIGQUIT),
        Interrupted("SIGTERM, non-blocking descriptor", SIGTERM).Nonblocking(),
        Interrupted("Ctrl-C typed", SIGINT).Type({"\x03"}),
        Interrupted("Ctrl-backslash typed", SIGQUIT).Type({"\x1c"}),
        Interrupted("SIGINT after two digits", SIGINT).AtEachEntry([typed = false](const Entry &e) mutable {
            if (!typed)
                TypeKeys(e, "02");
            typed = true;
            return e.out.find("02-") != std::string::npos && kill(e.pid, SIGINT) == 0;
        }),
        // Started with SIGHUP ignored (nohup): a hang-up during the entry
        // does not end the run; the entry still takes the code.
        Echoes(Row("ignored hang-up stays ignored").Args({"1"}).On(Stdin::kTerminal).IgnoreHup()
                   .AtEachEntry([](const Entry &e) {
                       kill(e.pid, SIGHUP);
                       TypeKeys(e, kMac1);
                       return true;
                   })
                   .Exit(0).Record(kPass1),
               "02-AB-3C-56-01-A1\r\n"),
        // Without a terminal: the entry ends at the end of input.
        Row("standard input closed").Args({"1", "2"}).On(Stdin::kClosed).FailsWithBanner().Has(abandoned)
            .Requests({kGetId}),
        Row("standard input /dev/null").Args({"1", "2"}).On(Stdin::kDevNull).FailsWithBanner().Has(abandoned)
            .Requests({kGetId}),
    };
}

class Pty : public ::testing::TestWithParam<Row> {};
TEST_P(Pty, Entry) { Check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Rows, Pty, ::testing::ValuesIn(TerminalRows()), RowName());

}  // namespace
