// The allow-list: loading "TALVEK.ini" into the run record, and the
// admission check over the MACs a run has taken in.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "sources/admission.h"
#include "sources/ini.h"
#include "unit_support.h"

namespace {

using Entry = std::pair<std::string, std::string>;  // mask, value as 12 digits

std::string Hex(const char *bytes)
{
    char text[13];
    const unsigned char *b = reinterpret_cast<const unsigned char *>(bytes);
    snprintf(text, sizeof(text), "%02X%02X%02X%02X%02X%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
    return text;
}

std::string EntryLine(size_t index, const Entry &e)
{
    return "INI(" + std::to_string(index) + ") - AVL_MASK=" + e.first + ", AVL_VALUE=" + e.second +
           "\n";
}

const std::string kPair = "AVL_MASK=FFFFFF000000 AVL_VALUE=02AB3C000000";  // 44 characters
const Entry kVendor = {"FFFFFF000000", "02AB3C000000"};
const Entry kAll = {"000000000000", "000000000000"};

struct IniRow {
    const char *name;
    std::string content;
    std::vector<Entry> entries;
};

const std::vector<IniRow> &IniRows()
{
    // clang-format off
    static const std::vector<IniRow> rows = {
        {"empty file", "", {}},
        {"one entry", kPair + "\n", {kVendor}},
        {"keys reversed", "AVL_VALUE=02AB3C000000, AVL_MASK=FFFFFF000000\n", {kVendor}},
        {"lower-case digits", "AVL_MASK=ffffff000000 AVL_VALUE=02ab3c000000\n", {kVendor}},
        {"text around", "port A: AVL_MASK=FFFFFF000000, x AVL_VALUE=02AB3C000000 ; lot 7\n",
         {kVendor}},
        {"comment", ";" + kPair + "\n", {}},
        {"semicolon after blank", " ;" + kPair + "\n", {kVendor}},
        {"blank before key", " " + kPair + "\n", {kVendor}},
        {"blank before equals", "AVL_MASK =FFFFFF000000 AVL_VALUE=02AB3C000000\n", {}},
        {"blank after equals", "AVL_MASK=FFFFFF000000 AVL_VALUE= 02AB3C000000\n", {}},
        {"lower-case keys", "avl_mask=FFFFFF000000 avl_value=02AB3C000000\n", {}},
        {"mask only", "AVL_MASK=FFFFFF000000\n", {}},
        {"eleven digits", "AVL_MASK=FFFFFF000000 AVL_VALUE=02AB3C00000\n", {}},
        {"eleven digits mask", "AVL_MASK=FFFFFF00000 AVL_VALUE=02AB3C000000\n", {}},
        {"thirteen digits", "AVL_MASK=FFFFFF0000001 AVL_VALUE=02AB3C0000009\n", {kVendor}},
        {"first occurrence counts",
         "AVL_MASK=FFFFFF00000X AVL_MASK=FFFFFF000000 AVL_VALUE=02AB3C000000\n", {}},
        {"first occurrence taken",
         "AVL_MASK=FFFFFF000000 AVL_VALUE=02AB3C000000 AVL_MASK=000000000000\n", {kVendor}},
        {"nul splits line", std::string("AVL_MASK=FFFFFF000000\0AVL_VALUE=02AB3C000000\n", 45), {}},
        {"nul ends line",
         kPair + std::string("\0", 1) + "AVL_MASK=000000000000 AVL_VALUE=000000000000\n",
         {kVendor, kAll}},
        {"crlf", kPair + "\r\nAVL_MASK=000000000000 AVL_VALUE=000000000000\r\n", {kVendor, kAll}},
        {"last line without newline",
         kPair + "\nAVL_MASK=000000000000 AVL_VALUE=000000000000", {kVendor, kAll}},
        {"indexes skip bad lines",
         kPair + "\ngarbage\n;" + kPair + "\n\nAVL_MASK=FFFFFFFFFFFF AVL_VALUE=02AB3C5601A1\n",
         {kVendor, {"FFFFFFFFFFFF", "02AB3C5601A1"}}},
        {"high bytes", "AVL_MASK=F0F0F0F0F0F0 AVL_VALUE=80A0C0E0F000\n",
         {{"F0F0F0F0F0F0", "80A0C0E0F000"}}},
        // 211 characters before the pair: the line is exactly 255 long.
        {"255 characters kept", std::string(211, 'x') + kPair + "\n", {kVendor}},
        // One more: the last digit is cut off with the surplus.
        {"256th character dropped", std::string(212, 'x') + kPair + "\n", {}},
        // The surplus of a long line never starts a line of its own.
        {"surplus is no line",
         kPair + std::string(300, ' ') + "AVL_MASK=000000000000 AVL_VALUE=000000000000\n",
         {kVendor}},
        {"surplus of a comment is no line",
         ";" + std::string(300, 'x') + "AVL_MASK=000000000000 AVL_VALUE=000000000000\n" + kPair,
         {kVendor}},
    };
    // clang-format on
    return rows;
}

class Ini : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        data_.reset(new TALVEK_DATA{});
    }

    // Loads the file; returns the result and leaves the printed text in out_.
    int Load()
    {
        StdoutCapture cap;
        int rc = GetSetingFromIni(data_.get());
        out_ = cap.Take();
        return rc;
    }

    std::unique_ptr<TALVEK_DATA> data_;
    std::string out_;
};

TEST_F(Ini, LinesGiveEntriesInFileOrder)
{
    for (const IniRow &row : IniRows()) {
        SCOPED_TRACE(row.name);
        WriteFile("TALVEK.ini", row.content);
        *data_ = TALVEK_DATA{};
        data_->AvailabelMacCount = 7;  // a load starts from an empty list
        ASSERT_EQ(Load(), 0);
        std::string want_out;
        for (size_t i = 0; i < row.entries.size(); i++)
            want_out += EntryLine(i, row.entries[i]);
        EXPECT_EQ(out_, want_out);
        ASSERT_EQ(data_->AvailabelMacCount, static_cast<int>(row.entries.size()));
        for (size_t i = 0; i < row.entries.size(); i++) {
            EXPECT_EQ(Hex(data_->AvailabelMac[i].Mask), row.entries[i].first) << i;
            EXPECT_EQ(Hex(data_->AvailabelMac[i].Value), row.entries[i].second) << i;
        }
    }
}

TEST_F(Ini, MissingOrUnreadableFileIsRefused)
{
    EXPECT_EQ(Load(), 1);
    EXPECT_EQ(out_, "\nError! Can not open INI file - TALVEK.ini.\n");
    ASSERT_EQ(mkdir("TALVEK.ini", 0755), 0);
    EXPECT_EQ(Load(), 1);
    EXPECT_EQ(out_, "\nError! Can not open INI file - TALVEK.ini.\n");
}

TEST_F(Ini, TableHoldsTheFirst1024EntriesAndWarnsOnce)
{
    struct {
        int valid;     // valid lines in the file
        int trailing;  // malformed lines after them
        bool warning;
    } rows[] = {{1024, 0, false}, {1024, 5, false}, {1025, 0, true}, {1100, 3, true}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.valid);
        std::string content;
        for (int i = 0; i < row.valid; i++) {
            char line[80];
            snprintf(line, sizeof(line), "AVL_MASK=FFFFFFFFFFFF AVL_VALUE=02AB3C%06X\n", i);
            content += line;
        }
        for (int i = 0; i < row.trailing; i++)
            content += "AVL_MASK=FFFFFFFFFFFF\n";
        WriteFile("TALVEK.ini", content);
        *data_ = TALVEK_DATA{};
        // The fields behind the table must survive the load.
        data_->FastSetGetMacOemCmd.MacParam = 0x11111111;
        data_->FastSetGetMacOemCmd.CmdSupport[0] = 0x22222222;
        data_->CheckMacOrder = 0x33333333;
        ASSERT_EQ(Load(), 0);
        EXPECT_EQ(data_->AvailabelMacCount, 1024);
        EXPECT_EQ(Hex(data_->AvailabelMac[1023].Value), "02AB3C0003FF");
        EXPECT_EQ(data_->FastSetGetMacOemCmd.MacParam, 0x11111111);
        EXPECT_EQ(data_->FastSetGetMacOemCmd.CmdSupport[0], 0x22222222);
        EXPECT_EQ(data_->CheckMacOrder, 0x33333333);

        std::string last = EntryLine(1023, {"FFFFFFFFFFFF", "02AB3C0003FF"});
        std::string warning = "Warning! Only the first 1024 entries of TALVEK.ini are used.\n";
        EXPECT_NE(out_.find(last), std::string::npos);
        EXPECT_EQ(out_.find("INI(1024)"), std::string::npos);
        if (row.warning) {
            // Once, right after the last entry.
            EXPECT_EQ(out_.substr(out_.size() - last.size() - warning.size()), last + warning);
        } else {
            EXPECT_EQ(out_.substr(out_.size() - last.size()), last);
        }
    }
}

TEST_F(Ini, LargeFileLoadsTheSameAcrossBufferBoundaries)
{
    // About 150 kB: lines of many lengths, some ended by NUL, some longer
    // than 255 characters with a pair in their surplus, so that lines, long
    // lines and terminators fall on every kind of boundary of the stream.
    std::string content;
    std::vector<std::string> values;
    for (int i = 0; values.size() < 1024; i++) {
        char pair[64];
        snprintf(pair, sizeof(pair), "AVL_MASK=FFFFFFFFFFFF AVL_VALUE=02AB3C%06X", i);
        std::string line = std::string(static_cast<size_t>(i % 200), ' ') + pair;
        if (line.size() <= 255)
            values.push_back(std::string("02AB3C") + (pair + 38));
        if (i % 7 == 0)
            line += std::string(300, '-') + "AVL_MASK=000000000000 AVL_VALUE=000000000000";
        content += line;
        content += (i % 3 == 0) ? '\0' : '\n';
    }
    ASSERT_GT(content.size(), 2u * 65536u);
    WriteFile("TALVEK.ini", content);
    ASSERT_EQ(Load(), 0);
    ASSERT_EQ(data_->AvailabelMacCount, 1024);
    for (size_t i = 0; i < values.size(); i++)
        ASSERT_EQ(Hex(data_->AvailabelMac[i].Value), values[i]) << i;
    EXPECT_EQ(out_.find("Warning!"), std::string::npos);
}

// The admission check over a loaded list.
struct AdmissionRow {
    const char *name;
    std::vector<Entry> list;
    const char *mac0;  // nullptr: position not taken in
    const char *mac1;
    int result;
    const char *out;
};

const std::vector<AdmissionRow> &AdmissionRows()
{
    // clang-format off
    static const std::vector<AdmissionRow> rows = {
        {"vendor prefix", {kVendor}, "02AB3C5601A1", nullptr, 0, ""},
        {"other prefix", {kVendor}, "02AB3D5601A1", nullptr, 1,
         "Error! Mac 02-AB-3D-56-01-A1 is invalid.\n"},
        {"refusal shows unmasked bytes", {{"FFFFFF000000", "0A0B0C000000"}}, "0A0B0D0E0F10", nullptr,
         1, "Error! Mac 0A-0B-0D-0E-0F-10 is invalid.\n"},
        {"zero mask admits all", {kAll}, "FFFFFFFFFFFF", "000000000000", 0, ""},
        {"value outside mask admits none", {{"FFFFFF000000", "02AB3C000001"}}, "02AB3C000001",
         nullptr, 1, "Error! Mac 02-AB-3C-00-00-01 is invalid.\n"},
        {"single address", {{"FFFFFFFFFFFF", "02AB3C5601A1"}}, "02AB3C5601A1", nullptr, 0, ""},
        {"single address other", {{"FFFFFFFFFFFF", "02AB3C5601A1"}}, "02AB3C5601A2", nullptr, 1,
         "Error! Mac 02-AB-3C-56-01-A2 is invalid.\n"},
        {"second entry admits", {{"FFFFFFFFFFFF", "02AB3C5601A1"}, kVendor}, "02AB3C5601A2", nullptr,
         0, ""},
        {"first entry admits", {kVendor, {"FFFFFFFFFFFF", "000000000000"}}, "02AB3C5601A2", nullptr,
         0, ""},
        {"each position by any entry",
         {{"FFFFFFFFFFFF", "02AB3C5601A1"}, {"FFFFFFFFFFFF", "02AB3C5601A2"}}, "02AB3C5601A2",
         "02AB3C5601A1", 0, ""},
        {"high bits", {{"F0F0F0F0F0F0", "80A0C0E0F000"}}, "8FAFCFEFFF0F", nullptr, 0, ""},
        {"high bits refused", {{"F0F0F0F0F0F0", "80A0C0E0F000"}}, "8FAFCFEFFF1F", nullptr, 1,
         "Error! Mac 8F-AF-CF-EF-FF-1F is invalid.\n"},
        {"empty list refuses", {}, "02AB3C5601A1", nullptr, 1,
         "Error! Mac 02-AB-3C-56-01-A1 is invalid.\n"},
        {"empty list without macs", {}, nullptr, nullptr, 0, ""},
        {"first refusal stops", {kVendor}, "12AB3C5601A1", "12AB3C5601A2", 1,
         "Error! Mac 12-AB-3C-56-01-A1 is invalid.\n"},
        {"second refused", {kVendor}, "02AB3C5601A1", "12AB3C5601A2", 1,
         "Error! Mac 12-AB-3C-56-01-A2 is invalid.\n"},
        {"only taken-in positions", {kVendor}, nullptr, "02AB3C5601A2", 0, ""},
    };
    // clang-format on
    return rows;
}

void SetBytes(const std::string &hex, char *out)
{
    for (int k = 0; k < 6; k++)
        out[k] = static_cast<char>(std::stoi(hex.substr(2 * k, 2), nullptr, 16));
}

TEST(Admission, MacsAreCheckedAgainstTheList)
{
    auto data = std::make_unique<TALVEK_DATA>();
    for (const AdmissionRow &row : AdmissionRows()) {
        SCOPED_TRACE(row.name);
        *data = TALVEK_DATA{};
        data->AvailabelMacCount = static_cast<int>(row.list.size());
        for (size_t i = 0; i < row.list.size(); i++) {
            SetBytes(row.list[i].first, data->AvailabelMac[i].Mask);
            SetBytes(row.list[i].second, data->AvailabelMac[i].Value);
        }
        const char *macs[2] = {row.mac0, row.mac1};
        for (int p = 0; p < 2; p++) {
            // A position not taken in holds a MAC that no entry admits.
            SetBytes(macs[p] != nullptr ? macs[p] : "FEDCBA987654",
                     reinterpret_cast<char *>(data->Mac[p]));
            data->MacIsImported[p] = macs[p] != nullptr;
            data->ProgramMac[p] = 1;
        }
        StdoutCapture cap;
        EXPECT_EQ(CheckAdmission(data.get()), row.result);
        EXPECT_EQ(cap.Take(), row.out);
    }
}

}  // namespace
