// Tests of the simulated tool: the reply layout and byte parsing directly,
// and whole invocations of build/kovripmi in a scratch directory for state,
// journal and scenario behaviour.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim.h"

#ifndef KOVRIPMI_PATH
#error "KOVRIPMI_PATH must name the built kovripmi"
#endif

namespace {

struct Outcome {
    std::string Out;
    int Status;
};

class SimDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/kovripmi-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override
    {
        std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    void Write(const char *name, const std::string &text)
    {
        FILE *f = fopen((dir_ + "/" + name).c_str(), "w");
        ASSERT_NE(f, nullptr);
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
    }
    std::string Read(const char *name)
    {
        std::string text;
        FILE *f = fopen((dir_ + "/" + name).c_str(), "r");
        if (f == nullptr)
            return text;
        int c;
        while ((c = fgetc(f)) != EOF)
            text += (char)c;
        fclose(f);
        return text;
    }
    // Runs "kovripmi <args>" in the directory as the program under test does.
    Outcome Invoke(const std::string &args)
    {
        std::string cmd = "cd '" + dir_ + "' && '" KOVRIPMI_PATH "' " + args + " 2>/dev/null";
        Outcome run{"", -1};
        FILE *p = popen(cmd.c_str(), "r");
        if (p == nullptr)
            return run;
        int c;
        while ((c = fgetc(p)) != EOF)
            run.Out += (char)c;
        int st = pclose(p);
        run.Status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        return run;
    }
    std::string dir_;
};

const char kDeviceId[] = " 20 01 81 25 02 bf 00 00 00 01 00 03 00 00 00\n";
const char kZeroMac[] = " 00 00 00 00 00 00\n";

TEST(SimBytes, ReplyLayoutBreaksAfterEachSixteenBytes)
{
    unsigned char bytes[40];
    for (int i = 0; i < 40; i++)
        bytes[i] = (unsigned char)(0xa0 + i);
    struct Row {
        size_t count;
        const char *expected;
    } rows[] = {
        {0, "\n"},
        {1, " a0\n"},
        {16, " a0 a1 a2 a3 a4 a5 a6 a7 a8 a9 aa ab ac ad ae af\n"},
        {17, " a0 a1 a2 a3 a4 a5 a6 a7 a8 a9 aa ab ac ad ae af\n b0\n"},
        {33, " a0 a1 a2 a3 a4 a5 a6 a7 a8 a9 aa ab ac ad ae af\n"
             " b0 b1 b2 b3 b4 b5 b6 b7 b8 b9 ba bb bc bd be bf\n c0\n"},
    };
    for (const Row &row : rows) {
        char out[256];
        size_t n = FormatReplyBytes(bytes, row.count, out, sizeof out);
        EXPECT_EQ(std::string(out, n), row.expected) << row.count << " bytes";
    }
    char small[5];
    EXPECT_EQ(FormatReplyBytes(bytes, 16, small, sizeof small), 3u) << "output is cut, not overrun";
}

TEST(SimBytes, RequestBytesAreHexWithPrefixOrDecimal)
{
    struct Row {
        const char *text;
        int ok;
        int value;
    } rows[] = {
        {"0x06", 1, 6}, {"0x3a", 1, 0x3a}, {"0XA1", 1, 0xa1}, {"0xf", 1, 15}, {"171", 1, 171},
        {"0", 1, 0},    {"255", 1, 255},   {"256", 0, 0},     {"0x", 0, 0},   {"0x100", 0, 0},
        {"-1", 0, 0},   {"1a", 0, 0},      {"", 0, 0},        {"0x0g", 0, 0}, {"0255", 0, 0},
    };
    for (const Row &row : rows) {
        int value = -1;
        int rc = ParseRequestByte(row.text, &value);
        EXPECT_EQ(rc == 0, row.ok == 1) << row.text;
        if (row.ok) {
            EXPECT_EQ(value, row.value) << row.text;
        }
    }
}

TEST(SimScenarioLines, MalformedLinesAreRefused)
{
    const char *bad[] = {
        "getid 0 fail",
        "getid x fail",
        "getid 3-2 fail",
        "getid 1",
        "getid 1 explode",
        "getmac 1 nostore",
        "getid 1 fail now",
        "getid 1 exit 256",
        "getid 1 bytes 1 2 zz",
        "getid 1 text noquote",
        "getid 1 text \"open",
        "getid 1 text \"\\q\"",
        "getid 1 text \"a\" 7",
        "getid 1 error status",
        "mac eth2 000000000000",
        "mac eth0 00000000000",
        "mac eth0 0000000000001",
        "revision 81 25 03",
        "revision 81 25 3 0 0 0 0",
        "reset-unavailable -1",
        "settle-reads eth3 2",
        "frobnicate 1",
    };
    for (const char *line : bad) {
        static SimScenario scenario;
        DefaultScenario(&scenario);
        char err[256] = "";
        EXPECT_EQ(ParseScenarioLine(line, 7, &scenario, err, sizeof err), 1) << line;
        EXPECT_NE(strstr(err, ":7:"), nullptr) << err;
    }
}

TEST_F(SimDir, FreshBmcAnswersEachRequest)
{
    struct Row {
        const char *args;
        const char *out;
        int status;
    } rows[] = {
        {"raw 0x06 0x01", kDeviceId, 0},
        {"raw 6 1", kDeviceId, 0},
        {"raw 0x3a 0xa1 0x00", kZeroMac, 0},
        {"raw 0x3a 0xa1 1", kZeroMac, 0},
        // Malformed requests: nothing on stdout, non-zero exit.
        {"", "", 1},
        {"rawx 0x06 0x01", "", 1},
        {"raw 0x06", "", 1},
        {"raw 0x06 0x01 0x00", "", 1},
        {"raw 0x06 0x03", "", 1},
        {"raw 0x3a 0xa1", "", 1},
        {"raw 0x3a 0xa1 2", "", 1},
        {"raw 0x3a 0xa1 0 0", "", 1},
        {"raw 0x3a 0xa0 0 1 2 3 4 5", "", 1},
        {"raw 0x3a 0xa0 1 1 2 3 4 5 6 7", "", 1},
        {"raw 0x3a 0xa0 2 1 2 3 4 5 6", "", 1},
        {"raw 0x3a 0xa0 3 1 2 3 4 5 6", "", 1},
        {"raw 0x3a 0xa0 0 1 2 3 4 5 300", "", 1},
    };
    for (const Row &row : rows) {
        Outcome run = Invoke(row.args);
        EXPECT_EQ(run.Out, row.out) << row.args;
        EXPECT_EQ(run.Status, row.status) << row.args;
    }
}

TEST_F(SimDir, MacsPersistAcrossInvocationsAndEveryCallIsJournalled)
{
    EXPECT_EQ(Invoke("raw 0x3a 0xa0 0 2 171 60 86 1 161").Out, "\n");
    EXPECT_EQ(Invoke("raw 0x3a 0xa1 0").Out, " 02 ab 3c 56 01 a1\n");
    EXPECT_EQ(Invoke("raw 0x3a 0xa1 1").Out, kZeroMac);
    EXPECT_EQ(Invoke("raw 0x3a 0xa0 0x02 2 171 60 86 1 177 2 171 60 86 1 178").Status, 0);
    EXPECT_EQ(Invoke("raw 0x3a 0xa1 0x00").Out, " 02 ab 3c 56 01 b1\n");
    EXPECT_EQ(Invoke("raw 0x3a 0xa1 0x01").Out, " 02 ab 3c 56 01 b2\n");
    EXPECT_EQ(Invoke("bogus 1").Status, 1);
    EXPECT_EQ(Read(SIM_JOURNAL_FILE), "raw 0x3a 0xa0 0 2 171 60 86 1 161\n"
                                      "raw 0x3a 0xa1 0\n"
                                      "raw 0x3a 0xa1 1\n"
                                      "raw 0x3a 0xa0 0x02 2 171 60 86 1 177 2 171 60 86 1 178\n"
                                      "raw 0x3a 0xa1 0x00\n"
                                      "raw 0x3a 0xa1 0x01\n"
                                      "bogus 1\n");
    EXPECT_EQ(Read(SIM_STATE_TEMP), "") << "no temporary file is left behind";
}

TEST_F(SimDir, ColdResetMakesTheBmcUnavailableForSomeDeviceIdRequests)
{
    Write(SIM_SCENARIO_FILE, "reset-unavailable 2\n");
    EXPECT_EQ(Invoke("raw 0x06 0x02").Out, "\n");
    EXPECT_EQ(Invoke("raw 0x3a 0xa1 0").Status, 1) << "OEM requests fail while down";
    EXPECT_EQ(Invoke("raw 0x06 0x01").Status, 1);
    EXPECT_EQ(Invoke("raw 0x3a 0xa0 0 1 2 3 4 5 6").Status, 1);
    EXPECT_EQ(Invoke("raw 0x06 0x01").Status, 1);
    EXPECT_EQ(Invoke("raw 0x06 0x01").Out, kDeviceId);
    EXPECT_EQ(Invoke("raw 0x3a 0xa1 0").Out, kZeroMac) << "the refused set stored nothing";
}

// Each row: a scenario and a series of invocations with their expected
// stdout and exit status, all in one fresh directory.
struct Step {
    const char *args;
    const char *out;
    int status;
};
struct ScenarioCase {
    const char *name;
    const char *scenario;
    std::vector<Step> steps;
};

TEST_F(SimDir, ScenarioRulesScriptTheBmc)
{
    const ScenarioCase cases[] = {
        {"initial MACs and revision",
         "# comment\n\n  mac eth0 02ab3C5601A1\nmac eth1 02AB3C5601A2\nrevision 0xff 85 ff ff ff ff\n",
         {{"raw 0x3a 0xa1 0", " 02 ab 3c 56 01 a1\n", 0},
          {"raw 0x3a 0xa1 1", " 02 ab 3c 56 01 a2\n", 0},
          {"raw 0x06 0x01", " 20 01 ff 85 02 bf 00 00 00 01 00 ff ff ff ff\n", 0}}},
        {"n-th, range and open range count per kind",
         "getid 2 fail\ngetmac 2-3 exit 4\nsetmac 2+ error\n",
         {{"raw 0x06 0x01", kDeviceId, 0},
          {"raw 0x3a 0xa1 0", kZeroMac, 0},
          {"raw 0x06 0x01", "", 1},
          {"raw 0x3a 0xa1 1", "", 4},
          {"raw 0x3a 0xa1 0", "", 4},
          {"raw 0x3a 0xa1 0", kZeroMac, 0},
          {"raw 0x06 0x01", kDeviceId, 0},
          {"raw 0x3a 0xa0 0 1 2 3 4 5 6", "\n", 0},
          {"raw 0x3a 0xa0 0 1 2 3 4 5 7", "Error: the BMC refused the request\n", 0},
          {"raw 0x3a 0xa0 0 1 2 3 4 5 8", "Error: the BMC refused the request\n", 0},
          {"raw 0x3a 0xa1 0", " 01 02 03 04 05 06\n", 0}}},
        {"per-port reads count that port only; first matching rule wins",
         "getmac1 2 bytes 0a 0b\ngetmac1 all exit 0\ngetmac 1 fail\n",
         {{"raw 0x3a 0xa1 0", "", 1},
          {"raw 0x3a 0xa1 1", "", 0},
          {"raw 0x3a 0xa1 0", kZeroMac, 0},
          {"raw 0x3a 0xa1 1", " 0a 0b\n", 0}}},
        {"text verbatim with escapes and status",
         "getid 1 text \"Error\\x21 # kept\\r\\n 81 25 \\n\"\ngetid 2 text \"\" status 0\n"
         "getid 3 bytes 20 01 status 1\nreset all text \"x\" status 9\n",
         {{"raw 0x06 0x01", "Error! # kept\r\n 81 25 \n", 0},
          {"raw 0x06 0x01", "", 0},
          {"raw 0x06 0x01", " 20 01\n", 1},
          {"raw 0x06 0x02", "x", 9},
          {"raw 0x06 0x01", kDeviceId, 0}}},
        {"nostore succeeds without storing",
         "setmac 1 nostore\n",
         {{"raw 0x3a 0xa0 2 1 1 1 1 1 1 2 2 2 2 2 2", "\n", 0},
          {"raw 0x3a 0xa1 1", kZeroMac, 0},
          {"raw 0x3a 0xa0 1 2 2 2 2 2 2", "\n", 0},
          {"raw 0x3a 0xa1 1", " 02 02 02 02 02 02\n", 0}}},
        {"a new MAC takes effect after k reads of its port",
         "settle-reads eth0 2\n",
         {{"raw 0x3a 0xa0 2 1 1 1 1 1 1 2 2 2 2 2 2", "\n", 0},
          {"raw 0x3a 0xa1 1", " 02 02 02 02 02 02\n", 0},
          {"raw 0x3a 0xa1 0", kZeroMac, 0},
          {"raw 0x3a 0xa1 0", kZeroMac, 0},
          {"raw 0x3a 0xa1 0", " 01 01 01 01 01 01\n", 0},
          {"raw 0x3a 0xa1 0", " 01 01 01 01 01 01\n", 0}}},
        {"a rule overrides the reset countdown, which still runs",
         "reset-unavailable 2\ngetid 2 bytes 20\n",
         {{"raw 0x06 0x02", "\n", 0},
          {"raw 0x06 0x01", "", 1},
          {"raw 0x06 0x01", " 20\n", 0},
          {"raw 0x06 0x01", kDeviceId, 0}}},
        {"a broken scenario fails every request",
         "getid 1 fail\ngetid 2 flail\n",
         {{"raw 0x06 0x01", "", 1}, {"raw 0x3a 0xa1 0", "", 1}}},
    };
    for (const ScenarioCase &c : cases) {
        remove((dir_ + "/" SIM_STATE_FILE).c_str());
        Write(SIM_SCENARIO_FILE, c.scenario);
        for (size_t i = 0; i < c.steps.size(); i++) {
            const Step &s = c.steps[i];
            Outcome run = Invoke(s.args);
            EXPECT_EQ(run.Out, s.out) << c.name << ", step " << i + 1 << ": " << s.args;
            EXPECT_EQ(run.Status, s.status) << c.name << ", step " << i + 1 << ": " << s.args;
        }
    }
}

TEST_F(SimDir, DamagedStateFileIsNotFatal)
{
    Write(SIM_STATE_FILE, "eth0 nonsense\nunavailable -3\ncount getid x\n" + std::string(600, 'z') +
                              "\neth1 0A0B0C0D0E0F\n");
    EXPECT_EQ(Invoke("raw 0x3a 0xa1 0").Out, kZeroMac);
    EXPECT_EQ(Invoke("raw 0x3a 0xa1 1").Out, " 0a 0b 0c 0d 0e 0f\n");
    EXPECT_EQ(Invoke("raw 0x06 0x01").Out, kDeviceId);
}

}  // namespace
