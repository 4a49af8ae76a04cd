// The raw command runner: parsing of a reply line into ResponseData, and
// Execmd's outcomes against a scripted ./kovripmi.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "transport/execmd.h"
#include "unit_support.h"

namespace {

// A value no reply byte can have, to tell kept entries from written ones.
constexpr int kStale = 0x5A5;

void FillResponseData()
{
    for (size_t k = 0; k < kResponseSize; k++)
        ResponseData[k] = kStale;
}

// The first n entries of ResponseData.
std::vector<int> Entries(size_t n)
{
    return std::vector<int>(ResponseData, ResponseData + n);
}

struct ReplyRow {
    const char *name;
    std::string line;
    std::vector<int> values;
};

const ReplyRow kReplyRows[] = {
    {"three bytes", " 20 81 01\n", {0x20, 0x81, 0x01}},
    {"mac", " 02 ab 3c 56 01 a1\n", {0x02, 0xAB, 0x3C, 0x56, 0x01, 0xA1}},
    {"upper case", " AB CD\n", {0xAB, 0xCD}},
    {"blank before newline", " 01 02 \n", {0x01, 0x02, 0x00}},
    {"one-digit last token", " 5\n", {5}},
    {"one digit at end of text", " 12 5", {0x12, 5}},
    {"only newline", "\n", {0}},
    {"empty", "", {}},
    {"no blanks", "0a0b", {0x0A, 0x0B}},
    {"no trailing newline", " 0a", {0x0A}},
    {"several blanks", "   7f  80\n", {0x7F, 0x80}},
    {"carriage return", " ff\r\n", {0xFF, 0x00}},
    {"not hex", "zz 9g\n", {0x00, 0x09}},
};

TEST(ReplyLine, StoresValuesFromIndexZeroAndKeepsTheRest)
{
    for (const ReplyRow &row : kReplyRows) {
        SCOPED_TRACE(row.name);
        FillResponseData();
        size_t n = ParseReplyLine(row.line.c_str());
        ASSERT_EQ(n, row.values.size());
        EXPECT_EQ(Entries(n), row.values);
        // Entries behind the reply keep what earlier replies left.
        for (size_t k = n; k < n + 4; k++)
            EXPECT_EQ(ResponseData[k], kStale) << "entry " << k;
    }
}

TEST(ReplyLineBounds, LongLinesNeverWritePastResponseData)
{
    // Tokens of three characters each: 3000 of them would be 3000 values.
    std::string line;
    for (int i = 0; i < 3000; i++)
        line += (i < static_cast<int>(kResponseSize) ? " ab" : " cd");
    FillResponseData();
    EXPECT_EQ(ParseReplyLine(line.c_str()), kResponseSize);
    EXPECT_EQ(ResponseData[0], 0xAB);
    EXPECT_EQ(ResponseData[kResponseSize - 1], 0xAB);

    // No blanks at all: a two-character token, one character passed over.
    std::string dense(3 * kResponseSize + 300, 'f');
    EXPECT_EQ(ParseReplyLine(dense.c_str()), kResponseSize);
    EXPECT_EQ(ResponseData[kResponseSize - 1], 0xFF);
}

// Execmd against a scripted tool in a scratch directory.
class Runner : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        FillResponseData();
    }

    // Runs "./kovripmi raw 0x06 0x01" through Execmd; returns its result
    // and leaves the printed text in out_.
    int Run(const char *line = "./kovripmi raw 0x06 0x01")
    {
        snprintf(gCmd, sizeof(gCmd), "%s", line);
        StdoutCapture cap;
        int rc = Execmd(gCmd);
        out_ = cap.Take();
        return rc;
    }

    std::string out_;
};

struct RunnerRow {
    const char *name;
    const char *script;  // body of ./kovripmi; nullptr: no tool at all
    int result;
    const char *message;      // what Execmd prints
    std::vector<int> values;  // entries written from index 0
};

const RunnerRow kRunnerRows[] = {
    {"tool missing", nullptr, 1, "", {}},
    {"non-zero exit", "printf ' 11 22\\n'; exit 1", 1, "", {}},
    {"killed", "printf ' 11 22\\n'; kill -9 $$", 1, "", {}},
    {"error last line", "printf ' 11\\nError in raw command\\n'", 1, "Command execute error\n", {}},
    {"error line first", "printf 'Error: retrying\\n 11 22\\n'", 0, "", {0x11, 0x22}},
    {"lower-case error is data", "printf 'error\\n'", 0, "", {0x0E, 0x00}},
    {"empty output", "exit 0", 0, "", {}},
    {"several lines", "printf ' 01 02 03 04\\n aa bb\\n'", 0, "", {0xAA, 0xBB}},
    {"short last line", "printf ' 01 02 03 04\\n 0a'", 0, "", {0x0A}},
};

TEST_F(Runner, ResultMessageAndReplyForEachOutcome)
{
    for (const RunnerRow &row : kRunnerRows) {
        SCOPED_TRACE(row.name);
        remove("kovripmi");
        remove("args.log");
        FillResponseData();
        if (row.script != nullptr)
            WriteTool(row.script);
        EXPECT_EQ(Run(), row.result);
        EXPECT_EQ(out_, row.message);
        EXPECT_EQ(Entries(row.values.size()), row.values);
        // A failed request leaves every entry alone; a successful one only
        // those its reply holds.
        for (size_t k = row.values.size(); k < row.values.size() + 4; k++)
            EXPECT_EQ(ResponseData[k], kStale) << "entry " << k;
        if (row.script != nullptr) {
            EXPECT_EQ(ToolCalls(), std::vector<std::string>{"raw 0x06 0x01"});
        }
    }
}

TEST_F(Runner, LongReplyLineArrivesInPiecesAndTheLastPieceCounts)
{
    // 700 tokens " aa" (2100 characters) and then " 01 02\n": the first
    // piece is 2047 characters, the last starts inside the run of "aa".
    std::string line;
    for (int i = 0; i < 700; i++)
        line += " aa";
    line += " 01 02\n";
    WriteReplyTool(line);
    ASSERT_EQ(Run(), 0);
    std::vector<int> want(18, 0xAA);
    want.push_back(0x01);
    want.push_back(0x02);
    EXPECT_EQ(Entries(want.size()), want);
    EXPECT_EQ(ResponseData[want.size()], kStale);
}

TEST_F(Runner, SuffixIsAppendedInPlaceAndTwiceOnARerun)
{
    WriteReplyTool(" 20 81\n");
    ASSERT_EQ(Run(), 0);
    EXPECT_STREQ(gCmd, "./kovripmi raw 0x06 0x01 2>/dev/null");
    // Running the same buffer again sends the same request.
    StdoutCapture cap;
    EXPECT_EQ(Execmd(gCmd), 0);
    EXPECT_EQ(cap.Take(), "");
    EXPECT_STREQ(gCmd, "./kovripmi raw 0x06 0x01 2>/dev/null 2>/dev/null");
    EXPECT_EQ(ToolCalls(), (std::vector<std::string>{"raw 0x06 0x01", "raw 0x06 0x01"}));
}

TEST_F(Runner, StandardErrorOfTheToolIsDiscarded)
{
    WriteTool("echo 'Error on stderr' >&2; printf ' 07\\n'");
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(out_, "");
    EXPECT_EQ(ResponseData[0], 0x07);
}

TEST_F(Runner, LineThatWouldNotFitWithItsSuffixIsRefused)
{
    WriteReplyTool(" 01\n");
    const std::string base = "./kovripmi raw 0x06 0x01";
    struct {
        size_t length;  // characters before the suffix; 256 = no terminator
        int result;
    } rows[] = {{243, 0}, {244, 1}, {255, 1}, {256, 1}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.length);
        remove("args.log");
        FillResponseData();
        // Trailing blanks pad the line; the shell ignores them.
        memset(gCmd, ' ', sizeof(gCmd));
        memcpy(gCmd, base.data(), base.size());
        if (row.length < sizeof(gCmd))
            gCmd[row.length] = '\0';
        std::string before(gCmd, sizeof(gCmd));
        StdoutCapture cap;
        EXPECT_EQ(Execmd(gCmd), row.result);
        EXPECT_EQ(cap.Take(), "");
        if (row.result == 0) {
            EXPECT_EQ(strlen(gCmd), 255u);
            EXPECT_EQ(std::string(gCmd + 243), " 2>/dev/null");
            EXPECT_EQ(ToolCalls(), std::vector<std::string>{"raw 0x06 0x01"});
            EXPECT_EQ(ResponseData[0], 0x01);
        } else {
            // Nothing ran and nothing changed.
            EXPECT_EQ(std::string(gCmd, sizeof(gCmd)), before);
            EXPECT_FALSE(Exists("args.log"));
            EXPECT_EQ(ResponseData[0], kStale);
        }
    }
}

}  // namespace
