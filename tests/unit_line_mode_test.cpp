// The pure parts of line mode: the reason table, and how the registry's
// values are put on an 80-column screen.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "output/reasons.h"
#include "registry/board_line.h"

namespace {

// Every reason is one line "Reason: <what happened>; <what to do>." of at
// most 80 columns: the causes whose line is not, each with its line.
TEST(Reasons, EveryLineSaysWhatAndWhatToDoIn80Columns)
{
    std::string wrong;
    for (int cause = 0; cause < CAUSE_COUNT; cause++) {
        char line[160];
        size_t len = FormatReasonLine(cause, line, sizeof(line));
        std::string text(line, len);
        if (len > kReasonLineMax || text.find("; ") == std::string::npos || text.back() != '.' ||
            text.find('\n') != std::string::npos)
            wrong += std::to_string(cause) + ": " + text + "\n";
    }
    EXPECT_EQ(wrong, "");
}

TEST(BoardLine, GuidsInGroupsOtherKeysAsTheyAre)
{
    // clang-format off
    struct { const char *name, *key, *shown; } rows[] = {
        {"GUID", "00112233445566778899aabbccddeeff", "00112233-4455-6677-8899-aabbccddeeff"},
        {"31 digits", "00112233445566778899aabbccddeef", "00112233445566778899aabbccddeef"},
        {"32 characters, one not hex", "00112233445566778899aabbccddeefg", "00112233445566778899aabbccddeefg"},
        {"serial", "SN-1187", "SN-1187"},
    };
    // clang-format on
    for (const auto &row : rows) {
        char out[64];
        GroupGuid(row.key, out, sizeof(out));
        EXPECT_STREQ(out, row.shown) << row.name;
    }
}

// A cut counts characters, not bytes, and never splits one.
TEST(BoardLine, FitColumnsCutsWholeCharacters)
{
    // clang-format off
    struct { const char *name; std::string text; size_t columns; std::string shown; } rows[] = {
        {"fits exactly", "abcdef", 6, "abcdef"},
        {"one too many", "abcdefg", 6, "abc..."},
        {"UTF-8 fits", "Stra\xc3\x9f" "e", 6, "Stra\xc3\x9f" "e"},
        {"UTF-8 cut", "\xc3\x9f\xc3\x9f\xc3\x9f\xc3\x9f\xc3\x9f", 4, "\xc3\x9f..."},
    };
    // clang-format on
    for (const auto &row : rows) {
        char out[64];
        FitColumns(row.text.c_str(), row.columns, out, sizeof(out));
        EXPECT_EQ(out, row.shown) << row.name;
    }
}

// Stored UTC stamps are shown in the station's local time; anything else
// as it is.
TEST(BoardLine, StampsInLocalTime)
{
    const char *saved = getenv("TZ");
    std::string old = saved != nullptr ? saved : "";
    setenv("TZ", "XST-2", 1);  // two hours east of UTC, no daylight saving
    tzset();
    char out[64];
    LocalTimeOfStamp("2026-01-02T23:04:05.678Z", out, sizeof(out));
    EXPECT_STREQ(out, "2026-01-03 01:04:05");
    LocalTimeOfStamp("yesterday", out, sizeof(out));
    EXPECT_STREQ(out, "yesterday");
    if (saved != nullptr)
        setenv("TZ", old.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

}  // namespace
