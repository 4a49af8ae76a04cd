// Command-line parsing into the run record, with the data files present,
// missing or malformed, and the small validators it uses.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "mac.h"
#include "run/parameters.h"
#include "unit_support.h"

namespace {

// The record fields the parser decides, in one line, so that a row's
// expectation reads at a glance and a mismatch shows every field. Options
// are listed only where they differ from their defaults.
std::string Summary(const TALVEK_DATA &d)
{
    char text[256];
    snprintf(text, sizeof(text),
             "prog=%d%d kb=%d%d imp=%d%d mac0=%02X%02X%02X%02X%02X%02X "
             "mac1=%02X%02X%02X%02X%02X%02X param=%d",
             d.ProgramMac[0], d.ProgramMac[1], d.GetMacFromKb[0], d.GetMacFromKb[1],
             d.MacIsImported[0], d.MacIsImported[1], d.Mac[0][0], d.Mac[0][1], d.Mac[0][2],
             d.Mac[0][3], d.Mac[0][4], d.Mac[0][5], d.Mac[1][0], d.Mac[1][1], d.Mac[1][2],
             d.Mac[1][3], d.Mac[1][4], d.Mac[1][5], d.FastSetGetMacOemCmd.MacParam);
    std::string s = text;
    if (d.SecondDelayTimeAfterMacProgramming != 3)
        s += " delay=" + std::to_string(d.SecondDelayTimeAfterMacProgramming);
    const std::pair<const char *, int> flags[] = {{"reboot", d.BMCReboot},
                                                  {"order", d.CheckMacOrder},
                                                  {"faillog", d.NeedFailLog},
                                                  {"writedelay", d.WriteDelay},
                                                  {"usage", d.ShowUsage}};
    for (const auto &f : flags) {
        if (f.second != 0)
            s += std::string(" ") + f.first + "=" + std::to_string(f.second);
    }
    return s;
}

const char kZero[] = "000000000000";
const char kA1[] = "02AB3C5601A1";
const char kA2[] = "02AB3C5601A2";

std::string Want(const char *prog, const char *kb, const char *imp, const char *mac0,
                 const char *mac1, int param, const char *options = "")
{
    return std::string("prog=") + prog + " kb=" + kb + " imp=" + imp + " mac0=" + mac0 +
           " mac1=" + mac1 + " param=" + std::to_string(param) + (*options ? " " : "") + options;
}

struct ParseRow {
    std::vector<std::string> args;  // after the program name
    const char *dat1;               // content of TALVEK1.DAT; nullptr: no file
    const char *dat2;
    int result;
    std::string summary;  // checked when result is 0
    std::string out;      // printed text
};

const char kDat1[] = "02AB3C5601A1\n";
const char kDat2[] = "02AB3C5601A2\n";

const std::vector<ParseRow> &ParseRows()
{
    // clang-format off
    static const std::vector<ParseRow> rows = {
        {{}, nullptr, nullptr, 0, Want("00", "00", "00", kZero, kZero, 255, "usage=1"), ""},
        {{"1"}, nullptr, nullptr, 0, Want("10", "10", "00", kZero, kZero, 0), ""},
        {{"2"}, nullptr, nullptr, 0, Want("01", "01", "00", kZero, kZero, 1), ""},
        {{"1", "2"}, nullptr, nullptr, 0, Want("11", "11", "00", kZero, kZero, 2), ""},
        {{"1=02AB3C5601A1"}, nullptr, nullptr, 0, Want("10", "00", "10", kA1, kZero, 0), ""},
        {{"1=02AB3C5601A1", "2"}, nullptr, nullptr, 0, Want("11", "01", "10", kA1, kZero, 2), ""},
        {{"1", "2=02AB3C5601A2"}, nullptr, nullptr, 0, Want("11", "11", "00", kZero, kZero, 2), ""},
        {{"1=02AB3C5601A1", "2=02AB3C5601A2"}, nullptr, nullptr, 0,
         Want("11", "00", "11", kA1, kA2, 2), ""},
        {{"1=02ab3c5601a1"}, nullptr, nullptr, 0, Want("10", "00", "10", kA1, kZero, 0), ""},
        {{"1=02AB3C5601A1FF"}, nullptr, nullptr, 0, Want("10", "00", "10", kA1, kZero, 0), ""},
        {{"1=02AB3C5601A"}, nullptr, nullptr, 0, Want("10", "10", "00", kZero, kZero, 0), ""},
        {{"1=02AB3C5601A1", "1=02AB3C5601A2"}, nullptr, nullptr, 0,
         Want("10", "00", "10", kA2, kZero, 0), ""},
        {{"1=02AB3C5601A1", "2=02AB3C56XXA2"}, nullptr, nullptr, 0,
         Want("11", "01", "10", kA1, kZero, 2), ""},
        {{"0=02AB3C5601A1", "2=02AB3C5601A2"}, nullptr, nullptr, 0,
         Want("01", "00", "01", kZero, kA2, 1), ""},
        {{"3=02AB3C5601A1", "1=02AB3C5601A2"}, nullptr, nullptr, 0,
         Want("10", "00", "10", kA2, kZero, 0), ""},

        // Data files.
        {{"1", "T"}, kDat1, nullptr, 0, Want("10", "00", "10", kA1, kZero, 0), ""},
        {{"1", "t"}, kDat1, nullptr, 0, Want("10", "00", "10", kA1, kZero, 0), ""},
        {{"1", "2", "T"}, kDat1, kDat2, 0, Want("11", "00", "11", kA1, kA2, 2), ""},
        {{"2", "T"}, kDat1, nullptr, 0, Want("01", "00", "10", kA1, kZero, 1), ""},
        {{"1", "reboot", "T"}, kDat1, kDat2, 0,
         Want("10", "00", "11", kA1, kA2, 0, "delay=70 reboot=1"), ""},
        {{"1", "T", "reboot"}, nullptr, nullptr, 0,
         Want("10", "10", "00", kZero, kZero, 0, "delay=70 reboot=1"), ""},
        {{"1=02AB3C000001", "2", "T"}, kDat1, kDat2, 0,
         Want("11", "00", "10", "02AB3C000001", kZero, 2), ""},
        {{"1", "2", "3", "T"}, nullptr, nullptr, 0, Want("11", "11", "00", kZero, kZero, 2), ""},
        {{"T"}, nullptr, nullptr, 0, Want("00", "00", "00", kZero, kZero, 255), ""},
        {{"1", "T"}, "02ab3c5601a1\r\n", nullptr, 0, Want("10", "00", "10", kA1, kZero, 0), ""},
        {{"1", "T"}, "02AB3C5601A1", nullptr, 0, Want("10", "00", "10", kA1, kZero, 0), ""},
        {{"1", "T"}, "02AB3C5601A1 board 7\nsecond line\n", nullptr, 0,
         Want("10", "00", "10", kA1, kZero, 0), ""},

        // Data files missing: silent failure.
        {{"1", "T"}, nullptr, kDat2, 1, "", ""},
        {{"1", "2", "T"}, kDat1, nullptr, 1, "", ""},
        {{"1", "reboot", "T"}, kDat1, nullptr, 1, "", ""},
        {{"1=02AB3C5601A1", "2", "T"}, nullptr, kDat2, 1, "", ""},

        // Data files that do not begin with 12 hexadecimal digits.
        {{"1", "T"}, "02-AB-3C-56-01-A1\n", nullptr, 1, "",
         "Error! File TALVEK1.DAT does not hold a valid MAC.\n"},
        {{"1", "T"}, "02AB3C\n", nullptr, 1, "",
         "Error! File TALVEK1.DAT does not hold a valid MAC.\n"},
        {{"1", "T"}, "", nullptr, 1, "", "Error! File TALVEK1.DAT does not hold a valid MAC.\n"},
        {{"1", "T"}, "\n02AB3C5601A1\n", nullptr, 1, "",
         "Error! File TALVEK1.DAT does not hold a valid MAC.\n"},
        {{"1", "2", "T"}, kDat1, "02AB3C 5601A2\n", 1, "",
         "Error! File TALVEK2.DAT does not hold a valid MAC.\n"},
        {{"1", "2", "T"}, "", "", 1, "", "Error! File TALVEK1.DAT does not hold a valid MAC.\n"},

        // Options.
        {{"1", "2", "V"}, nullptr, nullptr, 0, Want("11", "11", "00", kZero, kZero, 2, "order=1"), ""},
        {{"1", "V"}, nullptr, nullptr, 0, Want("10", "10", "00", kZero, kZero, 0), ""},
        {{"V", "1", "2"}, nullptr, nullptr, 0, Want("11", "11", "00", kZero, kZero, 2), ""},
        {{"1", "2", "v"}, nullptr, nullptr, 0, Want("11", "11", "00", kZero, kZero, 2), ""},
        {{"3"}, nullptr, nullptr, 0, Want("00", "00", "00", kZero, kZero, 255), ""},
        {{"1", "3"}, nullptr, nullptr, 0, Want("10", "10", "00", kZero, kZero, 0), ""},
        {{"4", "2"}, nullptr, nullptr, 0, Want("01", "01", "00", kZero, kZero, 1), ""},
        {{"check", "C", "Reboot"}, nullptr, nullptr, 0, Want("00", "00", "00", kZero, kZero, 255), ""},
        {{"1", "REBOOT"}, nullptr, nullptr, 0,
         Want("10", "10", "00", kZero, kZero, 0, "delay=70 reboot=1"), ""},
        {{"1", "waitbmc"}, nullptr, nullptr, 0, Want("10", "10", "00", kZero, kZero, 0, "delay=70"), ""},
        {{"1", "WaitBmc"}, nullptr, nullptr, 0, Want("10", "10", "00", kZero, kZero, 0), ""},
        {{"1", "fail_log", "write_delay"}, nullptr, nullptr, 0,
         Want("10", "10", "00", kZero, kZero, 0, "faillog=1 writedelay=1"), ""},
        {{"WAITBMC", "2", "FAIL_LOG", "WRITE_DELAY"}, nullptr, nullptr, 0,
         Want("01", "01", "00", kZero, kZero, 1, "delay=70 faillog=1 writedelay=1"), ""},
    };
    // clang-format on
    return rows;
}

class Parameters : public TempDirTest {};

TEST_F(Parameters, ArgumentsFillTheRecord)
{
    for (const ParseRow &row : ParseRows()) {
        std::string trace = "args:";
        for (const std::string &a : row.args)
            trace += " " + a;
        SCOPED_TRACE(trace);
        remove("TALVEK1.DAT");
        remove("TALVEK2.DAT");
        if (row.dat1 != nullptr)
            WriteFile("TALVEK1.DAT", row.dat1);
        if (row.dat2 != nullptr)
            WriteFile("TALVEK2.DAT", row.dat2);

        std::vector<std::string> storage = {"TALVEK"};
        storage.insert(storage.end(), row.args.begin(), row.args.end());
        std::vector<char *> argv;
        for (std::string &s : storage)
            argv.push_back(&s[0]);
        argv.push_back(nullptr);

        TALVEK_DATA data{};
        StdoutCapture cap;
        int rc = GetDataFromParameter(static_cast<int>(storage.size()), argv.data(), &data);
        EXPECT_EQ(cap.Take(), row.out);
        ASSERT_EQ(rc, row.result);
        if (rc != 0)
            continue;
        EXPECT_EQ(Summary(data), row.summary);
        EXPECT_EQ(data.ReadbackAndCheck, 1);
        EXPECT_EQ(data.DelayAfterMacProgramming, 1);
        EXPECT_EQ(data.FastSetGetMacOemCmd.CmdSupport[0], 0);
        EXPECT_EQ(data.FastSetGetMacOemCmd.CmdSupport[1], 0);
        // A keyboard position is always a programmed one without a MAC.
        for (int p = 0; p < 2; p++) {
            if (data.GetMacFromKb[p]) {
                EXPECT_EQ(data.ProgramMac[p], 1);
                EXPECT_EQ(data.MacIsImported[p], 0);
            }
        }
    }
}

TEST(ParameterHelpers, CharMacIndexIsVaild)
{
    struct {
        char ch;
        int result;
        int32_t index;  // 99: left alone
    } rows[] = {{'1', 0, 0},  {'2', 0, 1},  {'3', 0, 2},  {'4', 0, 3},
                {'0', 1, 99}, {'5', 1, 99}, {'a', 1, 99}, {'\0', 1, 99}};
    for (const auto &row : rows) {
        int32_t index = 99;
        EXPECT_EQ(CharMacIndexIsVaild(row.ch, &index), row.result) << int(row.ch);
        EXPECT_EQ(index, row.index) << int(row.ch);
    }
}

TEST(ParameterHelpers, StrMacIsValid)
{
    struct {
        const char *text;
        int result;
    } rows[] = {
        {"02AB3C5601A1", 0},  {"02ab3c5601a1", 0}, {"0123456789aBcDeF", 0},  {"02AB3C5601A1zz", 0},
        {"02AB3C5601A", 1},   {"02AB3C5601AG", 1}, {"02:AB:3C:56:01:A1", 1}, {"", 1},
        {" 02AB3C5601A1", 1}, {"02AB3C5601A\n", 1}};
    for (const auto &row : rows)
        EXPECT_EQ(StrMacIsValid(row.text), row.result) << row.text;
}

TEST(ParameterHelpers, HexCharToByte)
{
    const std::string digits = "0123456789abcdef";
    for (int v = 0; v < 16; v++) {
        EXPECT_EQ(HexCharToByte(digits[v]), v);
        EXPECT_EQ(HexCharToByte(static_cast<char>(toupper(digits[v]))), v);
    }
    for (char c : {'g', 'G', 'x', ' ', '\n', '\0', '-', static_cast<char>(0xFF)})
        EXPECT_EQ(HexCharToByte(c), 0) << int(c);
}

}  // namespace
