// Keyboard and bar-code entry end to end: keys come through a pipe on
// standard input, as a scanner's codes do, and the whole run follows.
#include "test.h"

namespace {

// Everything printed after the first prompt, up to the first line end that
// the entry prints.
std::string EchoAfter(const std::string &out, const std::string &prompt)
{
    size_t p = out.find(prompt);
    if (p == std::string::npos)
        return "<no prompt>";
    p += prompt.size();
    size_t e = out.find('\n', p);
    return out.substr(p, e == std::string::npos ? std::string::npos : e - p + 1);
}

// One keyboard position whose entry completes: the echo, the MAC written and
// the pass record.
Row Completed(const std::string &name, const std::string &keys, const std::string &echo)
{
    return Row(name).Args({"1"}).Input(keys).Passes(kPass1).Count(kSet0, 1)
        .Has(kHead + kPrompt1).Lacks(kPrompt2)
        .Then([echo](const Station &, const Result &r) { EXPECT_EQ(EchoAfter(r.out, kPrompt1), echo); });
}

// An entry that ends before 12 digits: ESC (also as the start of a function
// key's sequence) or the end of input. Nothing is written to the BMC.
Row Abandoned(const std::string &name, const std::string &keys, const std::string &after_prompt)
{
    return Row(name).Args({"1"}).Input(keys).FailsWithBanner()
        .Out(kHead + kPrompt1 + after_prompt + kFailBanner).Requests({kGetId});
}

// Two positions, with and without the order option "V", and a first
// position from the command line with only the second keyed.
Row Ordered(const std::string &name, std::vector<std::string> args, const std::string &keys,
            const std::string &set_line, const std::string &record)
{
    bool keyed_first = args[0] == "1";
    Row r = Row(name).Args(std::move(args)).Input(keys).Passes(record).Count(set_line, 1).Has(kPrompt2);
    return keyed_first ? r.Has(kPrompt1) : r.Lacks(kPrompt1);
}

std::vector<Row> KeyboardRows()
{
    const std::string set_in_order = "raw 0x3a 0xa0 0x02 2 171 60 86 1 161 2 171 60 86 1 162";
    const std::string in_order = "P\neth0:02AB3C5601A1\neth1:02AB3C5601A2\n";
    const std::string keyed_head = kHead + kPrompt1 + "02-AB-3C-56-01-A1\n" + kPrompt2;
    const std::string no_revision = std::string(kVersionLine) + "BMC Revision = ?.?.?\r\n" + kIniLine + kFailBanner;
    return {
        Completed("lower case digits", "02ab3c5601a1", "02-ab-3c-56-01-a1\n"),
        Completed("scanner with colons", "02:AB:3C:56:01:A1\n", "02-AB-3C-56-01-A1\n"),
        Completed("scanner line end", "02AB3C5601A1\r\n", "02-AB-3C-56-01-A1\n"),
        Completed("other separators and junk", "-02 ab.3C\t56gz01\x7f\x01" "A1", "02-ab-3C-56-01-A1\n"),
        Completed("high bytes are no digits", "\xb0\xe1" "02AB3C5601A1", "02-AB-3C-56-01-A1\n"),
        Abandoned("ESC after four digits", "02AB\x1b" "3C5601A1", "02-AB-\nError! The value '02AB\x1b' is invaild.\n"),
        Abandoned("ESC first", "\x1b" "02AB3C5601A1", "\nError! The value '\x1b' is invaild.\n"),
        Abandoned("arrow key", "\x1b[A02AB3C5601A1", "\nError! The value '\x1b' is invaild.\n"),
        Abandoned("ESC after dropped keys", "0:2:A\x1b", "02-A\nError! The value '02A\x1b' is invaild.\n"),
        Abandoned("ESC after eleven digits", "02AB3C5601A\x1b",
                  "02-AB-3C-56-01-A\nError! The value '02AB3C5601A\x1b' is invaild.\n"),
        Abandoned("end of input after six digits", "02AB3C", "02-AB-3C-\nError! The value '02AB3C' is invaild.\n"),
        Abandoned("end of input after separators", "02:AB:", "02-AB-\nError! The value '02AB' is invaild.\n"),
        Abandoned("no input at all", "", "\nError! The value '' is invaild.\n"),
        Ordered("no V, never swapped", {"1", "2"}, "02AB3C5601A2\r\n02AB3C5601A1\r\n",
                "raw 0x3a 0xa0 0x02 2 171 60 86 1 162 2 171 60 86 1 161",
                "P\neth0:02AB3C5601A2\neth1:02AB3C5601A1\n"),
        Ordered("codes back to back: the 13th key starts the next entry", {"1", "2"},
                "02AB3C5601A102AB3C5601A2", set_in_order, in_order),
        Ordered("V, larger last byte first: swapped", {"1", "2", "V"}, "02AB3C5601A2\r\n02AB3C5601A1\r\n",
                set_in_order, in_order),
        Ordered("V, already in order", {"1", "2", "V"}, "02AB3C5601A1\r\n02AB3C5601A2\r\n", set_in_order, in_order),
        Ordered("V compares the last byte only", {"1", "2", "V"}, "02AB3C5601FF\n02AB3C560200\n",
                "raw 0x3a 0xa0 0x02 2 171 60 86 2 0 2 171 60 86 1 255", "P\neth0:02AB3C560200\neth1:02AB3C5601FF\n"),
        Ordered("V, equal last bytes kept", {"1", "2", "V"}, "02AB3C5601A1\n02AB3C5602A1\n",
                "raw 0x3a 0xa0 0x02 2 171 60 86 1 161 2 171 60 86 2 161", "P\neth0:02AB3C5601A1\neth1:02AB3C5602A1\n"),
        Ordered("V, position 0 from the command line", {"1=02AB3C5601A2", "2", "V"}, "02AB3C5601A1\n",
                set_in_order, in_order),
        Ordered("no V, position 0 from the command line", {"1=02AB3C5601A2", "2"}, "02AB3C5601A1\n",
                "raw 0x3a 0xa0 0x02 2 171 60 86 1 162 2 171 60 86 1 161",
                "P\neth0:02AB3C5601A2\neth1:02AB3C5601A1\n"),
        // The scanner's line end after the first code is left waiting and
        // dropped by the second entry.
        Row("two entries console").Args({"1", "2"}).Input("02ab3c5601a1\r\n02AB3C5601A2\r\n").Passes(in_order)
            .Has(kHead + kPrompt1 + "02-ab-3c-56-01-a1\n" + kPrompt2 + "02-AB-3C-56-01-A2\n"),
        // Runs that must not prompt, or must stop after the entry.
        Row("second position not prompted after the first failed").Args({"1", "2"})
            .Input("02\x1b" "02AB3C5601A1\n").FailsWithBanner().Requests({kGetId})
            .Out(kHead + kPrompt1 + "02-\nError! The value '02\x1b' is invaild.\n" + kFailBanner),
        Row("no prompt after a failed revision query").Args({"1"}).Scenario("getid 1 fail\n")
            .Input("02AB3C5601A1").FailsWithBanner().Out(no_revision).Requests({kGetId}),
        Row("no prompt for either position after a failed revision query").Args({"1", "2"})
            .Scenario("getid 1 fail\n").Input("02AB3C5601A1\n02AB3C5601A2\n").FailsWithBanner()
            .Out(no_revision).Requests({kGetId}),
        Row("keyed MAC refused by the allow-list").Args({"1"}).Input("0a0b0c0d0e0f").FailsWithBanner()
            .Out(kHead + kPrompt1 + "0a-0b-0c-0d-0e-0f\nError! Mac 0A-0B-0C-0D-0E-0F is invalid.\n" + kFailBanner)
            .Requests({kGetId}),
        Row("second keyed MAC refused").Args({"1", "2"}).Input("02AB3C5601A1\nFFAB3C5601A2\n").FailsWithBanner()
            .Out(keyed_head + "FF-AB-3C-56-01-A2\nError! Mac FF-AB-3C-56-01-A2 is invalid.\n" + kFailBanner)
            .Requests({kGetId}),
    };
}

class Keyboard : public ::testing::TestWithParam<Row> {};
TEST_P(Keyboard, Entry) { Check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Rows, Keyboard, ::testing::ValuesIn(KeyboardRows()), RowName());

}  // namespace
