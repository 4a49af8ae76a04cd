// The result record "TALVEK.txt" and the failure log "MAC_LOG.txt".
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "output/records.h"
#include "unit_support.h"

namespace {

const uint8_t kMacA[6] = {0x02, 0xAB, 0x3C, 0x56, 0x01, 0xA1};
const uint8_t kMacB[6] = {0x02, 0xAB, 0x3C, 0x56, 0x01, 0xA2};
const uint8_t kLow[6] = {0x0A, 0x0B, 0x00, 0x01, 0x02, 0x0F};

// The mode a newly created file gets.
mode_t CreatedMode()
{
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

TEST(PassRecord, FormattedByteForByte)
{
    struct {
        int mac_param;
        const uint8_t *mac0, *mac1;
        size_t out_size;
        const char *text;  // "": nothing to write
    } rows[] = {
        {0, kMacA, kMacB, 64, "P\neth0:02AB3C5601A1\n"},
        {1, kMacA, kMacB, 64, "P\neth1:02AB3C5601A2\n"},
        {2, kMacA, kMacB, 64, "P\neth0:02AB3C5601A1\neth1:02AB3C5601A2\n"},
        {2, kLow, kMacA, 64, "P\neth0:0A0B0001020F\neth1:02AB3C5601A1\n"},
        {0, kLow, kMacA, 21, "P\neth0:0A0B0001020F\n"},
        {0, kLow, kMacA, 20, ""},  // no room for the terminator
        {255, kMacA, kMacB, 64, ""},
        {3, kMacA, kMacB, 64, ""},
        {-1, kMacA, kMacB, 64, ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << row.mac_param << " size " << row.out_size);
        char out[64];
        size_t n = FormatPassRecord(row.mac_param, row.mac0, row.mac1, out, row.out_size);
        ASSERT_LE(n, row.out_size);
        EXPECT_EQ(std::string(out, n), row.text);
    }
}

class Records : public TempDirTest {
protected:
    // AddLog with the given selection and verdict; the printed text goes to out_.
    int Add(int mac_param, int pass)
    {
        TALVEK_DATA data{};
        memcpy(data.Mac[0], kMacA, 6);
        memcpy(data.Mac[1], kMacB, 6);
        data.FastSetGetMacOemCmd.MacParam = mac_param;
        StdoutCapture cap;
        int rc = AddLog(&data, pass);
        out_ = cap.Take();
        return rc;
    }

    std::string out_;
};

TEST_F(Records, EachWriteReplacesTheWholeRecordAndLeavesNoTemporaryFile)
{
    const char kOld[] = "P\neth0:02AB3C5601A1\neth1:02AB3C5601A2\nsome tail from an older tool\n";
    struct {
        int mac_param, pass;
        const char *content;  // after the call
    } rows[] = {
        {0, 1, "P\neth0:02AB3C5601A1\n"},
        {1, 1, "P\neth1:02AB3C5601A2\n"},
        {2, 1, "P\neth0:02AB3C5601A1\neth1:02AB3C5601A2\n"},
        {2, 0, "N\n"},
        {255, 0, "N\n"},
        // No port selected: nothing to record, the file stays as it was.
        {255, 1, kOld},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << row.mac_param << "/" << row.pass);
        WriteFile("TALVEK.txt", kOld);
        EXPECT_EQ(Add(row.mac_param, row.pass), 0);
        EXPECT_EQ(out_, "");
        EXPECT_EQ(ReadFile("TALVEK.txt"), row.content);
        EXPECT_EQ(Listing(), std::vector<std::string>{"TALVEK.txt"});
    }
    // A record created afresh gets the mode any created file gets.
    remove("TALVEK.txt");
    ASSERT_EQ(Add(0, 0), 0);
    struct stat st;
    ASSERT_EQ(stat("TALVEK.txt", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, CreatedMode());
}

// The "cannot write" message is printed once per process; this is the only
// test that makes the record fail, so it sees the message.
TEST_F(Records, RecordThatCannotBeWrittenFailsAndReportsOnce)
{
    ASSERT_EQ(mkdir("TALVEK.txt", 0755), 0);
    EXPECT_EQ(WriteResultRecord("N\n", 2), 1);
    EXPECT_EQ(Add(2, 1), 1);
    std::string printed = out_;
    EXPECT_EQ(Add(2, 0), 1);
    EXPECT_EQ(printed + out_, "Error! System can not open file TALVEK.txt.\n");
    // Nothing was left behind beside the directory.
    EXPECT_EQ(Listing(), std::vector<std::string>{"TALVEK.txt"});
    struct stat st;
    ASSERT_EQ(stat("TALVEK.txt", &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

// A TALVEK.txt that is a symbolic link stays one: the record lands in the
// file the chain ends at, replaced beside it, with the target's mode.
TEST_F(Records, SymlinkedRecordReplacesItsTarget)
{
    ASSERT_EQ(mkdir("shared", 0755), 0);
    const std::string abs_rec = std::filesystem::current_path().string() + "/shared/rec";
    struct {
        const char *name;
        std::vector<std::pair<std::string, std::string>> links;  // link name, its text
        int rc;
        const char *target;  // file that holds "N\n" afterwards ("": none)
    } rows[] = {
        // clang-format off
        {"relative, then absolute", {{"TALVEK.txt", "shared/abs"}, {"shared/abs", abs_rec}}, 0, "shared/rec"},
        // The second hop is relative to the directory of the link holding it.
        {"chain of relative links", {{"TALVEK.txt", "shared/link"}, {"shared/link", "rec"}}, 0, "shared/rec"},
        {"dangling: the target is created", {{"TALVEK.txt", "shared/new"}}, 0, "shared/new"},
        {"to a directory", {{"TALVEK.txt", "shared"}}, 1, ""},
        {"loop", {{"TALVEK.txt", "loop"}, {"loop", "TALVEK.txt"}}, 1, ""},
        // clang-format on
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        WriteFile("shared/rec", "P\neth0:02AB3C999999\n");
        ASSERT_EQ(chmod("shared/rec", 0640), 0);
        for (const auto &l : row.links)
            ASSERT_EQ(symlink(l.second.c_str(), l.first.c_str()), 0) << l.first;

        EXPECT_EQ(WriteResultRecord("N\n", 2), row.rc);
        struct stat st;
        ASSERT_EQ(lstat("TALVEK.txt", &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode));
        const std::string target = row.target;
        EXPECT_EQ(ReadFile(target.empty() ? "shared/rec" : target),
                  target.empty() ? "P\neth0:02AB3C999999\n" : "N\n");
        if (!target.empty()) {
            ASSERT_EQ(stat(row.target, &st), 0);
            EXPECT_EQ(st.st_mode & 0777, target == "shared/rec" ? 0640 : CreatedMode());
        }
        for (const auto &l : row.links)
            remove(l.first.c_str());
        remove("shared/new");
        EXPECT_EQ(Listing(), std::vector<std::string>{"shared"});
        // shared/rec was read above: nothing else may be left beside it.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator("shared"), {}), 1);
    }
}

// True when entry is ctime's text for some second in [from, to], then "\n".
bool IsLogEntry(const std::string &entry, time_t from, time_t to)
{
    for (time_t t = from; t <= to; t++) {
        if (entry == std::string(ctime(&t)) + "\n")
            return true;
    }
    return false;
}

TEST_F(Records, FailureLogEntriesAreTimeStampsAccumulateOrAreReported)
{
    const std::string older = "older entry\n";
    WriteFile("MAC_LOG.txt", older);
    time_t from = time(nullptr);
    for (int i = 0; i < 2; i++) {
        StdoutCapture cap;
        AppendDateTimeToLogFile("TALVEK got failed!");
        EXPECT_EQ(cap.Take(), "");
    }
    time_t to = time(nullptr);
    std::string log = ReadFile("MAC_LOG.txt");
    ASSERT_EQ(log.size(), older.size() + 2 * 26);
    EXPECT_EQ(log.substr(0, older.size()), older);
    for (int i = 0; i < 2; i++) {
        std::string entry = log.substr(older.size() + 26 * i, 26);
        EXPECT_TRUE(IsLogEntry(entry, from, to)) << '"' << entry << '"';
    }
    // Created when missing; reported when it cannot be opened.
    remove("MAC_LOG.txt");
    AppendDateTimeToLogFile("TALVEK got failed!");
    EXPECT_EQ(ReadFile("MAC_LOG.txt").size(), 26u);
    remove("MAC_LOG.txt");
    ASSERT_EQ(mkdir("MAC_LOG.txt", 0755), 0);
    StdoutCapture cap;
    AppendDateTimeToLogFile("TALVEK got failed!");
    EXPECT_EQ(cap.Take(), "Error! System can not open file MAC_LOG.txt.\n");
}

}  // namespace
