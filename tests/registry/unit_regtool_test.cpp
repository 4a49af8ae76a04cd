// talvek-registry's pure parts: the command line, time text, and
// the export's field encoders.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "registry_tool/args.h"
#include "registry_tool/local_time.h"
#include "registry_tool/text_format.h"

namespace {

std::string LocalText(const char *stamp)
{
    char out[64];
    LocalTimeText(stamp, out, sizeof out);
    return out;
}

std::string Day(const char *stamp)
{
    char out[11];
    return LocalDay(stamp, out) == 0 ? out : "refused";
}

std::string DayStart(const char *day, int after)
{
    char out[kStampSize];
    return LocalDayStartUtc(day, after, out) == 0 ? out : "refused";
}

std::string Age(long long seconds)
{
    char out[32];
    AgeText(seconds, out, sizeof out);
    return out;
}

// What the parser made of a line, as one comparable text.
std::string Summary(const REGTOOL_ARGS &a)
{
    // In the order of RegToolCommand.
    static const char *const names[] = {"none",    "help",   "init",    "who",   "board",
                                        "release", "export", "stats",   "report", "pools",
                                        "serve",   "pending", "relay",  "outbox", "check"};
    static_assert(sizeof(names) / sizeof(names[0]) == REGTOOL_CHECK + 1, "one name per command");
    static const char *const formats[] = {" csv", " json", " text"};
    std::string s = names[a.Command];
    char mac[14];
    if (a.Command == REGTOOL_WHO || a.Command == REGTOOL_RELEASE)
        s.append(mac, snprintf(mac, sizeof mac, " %02X%02X%02X%02X%02X%02X", a.Mac[0], a.Mac[1],
                               a.Mac[2], a.Mac[3], a.Mac[4], a.Mac[5]));
    s += a.Key ? std::string(" key=") + a.Key : "";
    s += a.Reason ? std::string(" reason=") + a.Reason : "";
    s += a.Command == REGTOOL_EXPORT || a.Command == REGTOOL_STATS ? formats[a.Format] : "";
    s += a.Since[0] ? std::string(" since=") + a.Since : "";
    s += a.Until[0] ? std::string(" until=") + a.Until : "";
    s += a.Station ? std::string(" station=") + a.Station : "";
    s += a.OlderThan ? " older=" + std::to_string(a.OlderThan) : "";
    return s + (a.Registry ? std::string(" registry=") + a.Registry : "");
}

// Local days are read in this zone: one hour east of UTC all year.
class RegToolLocal : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const char *tz = getenv("TZ"))
            saved_ = tz;
        setenv("TZ", "CET-1", 1);
        tzset();
    }
    void TearDown() override
    {
        if (saved_.empty())
            unsetenv("TZ");
        else
            setenv("TZ", saved_.c_str(), 1);
        tzset();
    }
    std::string saved_;
};

TEST_F(RegToolLocal, ArgsTable)
{
    const std::string long_key(kRegToolKeyMax + 1, 'k');
    // clang-format off
    // want: rc 0, the summary; rc 2, part of the reason
    struct { std::vector<std::string> args; int rc; std::string want; } rows[] = {
        {{"who", "02-ab-3c-56-01-a1"}, 0, "who 02AB3C5601A1"},
        {{"--registry=sqlite:/x.db", "board", "K1"}, 0, "board key=K1 registry=sqlite:/x.db"},
        {{"release", "02AB3C5601A1", "--reason", "rework"}, 0, "release 02AB3C5601A1 reason=rework"},
        {{"export", "--since", "2026-01-02", "--format", "json"}, 0, "export json since=2026-01-02T00:00:00.000Z"},
        {{"export", "--format=csv"}, 0, "export csv"},
        {{"stats", "--registry", "host=/tmp dbname=x"}, 0, "stats text registry=host=/tmp dbname=x"},
        {{"stats", "--since", "2026-01-02", "--until=2026-01-02", "--station", "st1", "--format", "csv"}, 0,
         "stats csv since=2026-01-01T23:00:00.000Z until=2026-01-02T23:00:00.000Z station=st1"},
        {{"pending", "--older-than", "1h30m"}, 0, "pending older=5400"},
        {{"pending"}, 0, "pending"},
        {{"stats", "--since", "2026-01-02T10:00"}, 2, "--since '2026-01-02T10:00' is not a day"},
        {{"stats", "--until", "2026-02-30"}, 2, "--until '2026-02-30' is not a day"},
        {{"stats", "--since", "2026-01-03", "--until", "2026-01-02"}, 2, "--until is before --since"},
        {{"stats", "--format", "xml"}, 2, "unknown stats format 'xml'"},
        {{"export", "--format", "text"}, 2, "unknown export format 'text'"},
        {{"pending", "--older-than", "2w"}, 2, "not a duration"},
        {{"export", "--format", "csv", "--station", "st1"}, 2, "--station does not go"},
        {{"--", "board", "-odd"}, 0, "board key=-odd"},
        {{"stats", "--help"}, 0, "help"},
        {{"init"}, 0, "init"},
        {{}, 2, "no command given"},
        {{"frob"}, 2, "unknown command 'frob'"},
        {{"release", "02AB3C5601A1"}, 2, "needs --reason"},
        {{"release", "02AB3C5601A1", "--reason", " \t"}, 2, "needs --reason"},
        {{"who", "02AB3C5601A1", "--reason", "x"}, 2, "--reason does not go"},
        {{"pending", "--since", "2026-01-02"}, 2, "--since does not go"},
        {{"export"}, 2, "needs --format"},
        {{"export", "--format", "xml"}, 2, "unknown export format 'xml'"},
        {{"export", "--format", "csv", "--since", "2026-02-30"}, 2, "not a UTC time"},
        {{"who"}, 2, "needs a MAC"},
        {{"board"}, 2, "needs a board KEY"},
        {{"who", "02AB3C5601A"}, 2, "is not a MAC"},
        {{"board", long_key}, 2, "1 to 255"},
        {{"stats", "extra"}, 2, "unexpected argument 'extra'"},
        {{"who", "02AB3C5601A1", "x", "y"}, 2, "unexpected argument 'x'"},
        {{"stats", "--registry"}, 2, "--registry needs a value"},
        {{"--registry=", "stats"}, 2, "--registry needs a URL"},
        {{"--registry", "a", "--registry=b", "stats"}, 2, "given twice"},
        {{"-x", "stats"}, 2, "unknown option '-x'"},
        {{"--regist=a", "stats"}, 2, "unknown option '--regist=a'"},
    };
    // clang-format on
    for (const auto &row : rows) {
        std::vector<std::string> words = {"talvek-registry"};
        words.insert(words.end(), row.args.begin(), row.args.end());
        std::vector<char *> argv;
        for (auto &w : words)
            argv.push_back(&w[0]);
        SCOPED_TRACE(row.want);
        REGTOOL_ARGS a;
        char err[200] = "";
        ASSERT_EQ(ParseRegToolArgs(static_cast<int>(argv.size()), argv.data(), &a, err, sizeof err),
                  row.rc);
        if (row.rc == 0)
            EXPECT_EQ(Summary(a), row.want);
        else
            EXPECT_NE(std::string(err).find(row.want), std::string::npos) << err;
    }
}

TEST(RegToolArgs, UtcTime)
{
    // clang-format off
    const char *const refused[] = {"2023-02-29", "2100-02-29", "2026-04-31", "2026-12-07T24:00",
        "2026-12-07T11", "2026-12-07T11:05:09.1", "2026-12-7", "2026-12-07Z ", "1969-12-31"};
    struct { const char *text, *want; } rows[] = {
        {"2024-02-29", "2024-02-29T00:00:00.000Z"},
        {"2026-12-07T11:05Z", "2026-12-07T11:05:00.000Z"},
        {"2026-12-07 11:05:09.123", "2026-12-07T11:05:09.123Z"},
    };
    // clang-format on
    char out[32] = "";
    for (const auto &row : rows) {
        EXPECT_EQ(NormalizeUtcTime(row.text, out, sizeof out), 0) << row.text;
        EXPECT_STREQ(out, row.want);
    }
    for (const char *text : refused)
        EXPECT_EQ(NormalizeUtcTime(text, out, sizeof out), 1) << text;
}

TEST(RegToolArgs, Durations)
{
    // clang-format off
    const char *const refused[] = {"", "h", "10", "5x", "1h-5m", "3661d", "99999999999999999999s"};
    struct { const char *text; long long seconds; } rows[] = {
        {"90s", 90}, {"30m", 1800}, {"2h", 7200}, {"1d12h", 129600}, {"3660d", 316224000},
    };
    // clang-format on
    long long seconds = 0;
    for (const auto &row : rows) {
        EXPECT_EQ(ParseDuration(row.text, &seconds), 0) << row.text;
        EXPECT_EQ(seconds, row.seconds) << row.text;
    }
    for (const char *text : refused)
        EXPECT_EQ(ParseDuration(text, &seconds), 1) << text;
}

// Stored UTC to what people read, and local days back to UTC, in a zone
// with summer time: the day of the switch is 23 hours long.
TEST_F(RegToolLocal, TimesForPeople)
{
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    // clang-format off
    struct { const char *name; std::string have, want; } rows[] = {
        {"winter", LocalText("2026-01-02T03:04:05.678Z"), "2026-01-02 04:04:05 CET"},
        {"summer", LocalText("2026-07-01T22:30:00Z"), "2026-07-02 00:30:00 CEST"},
        {"no stamp", LocalText("yesterday"), "yesterday"},
        {"NULL", LocalText(nullptr), "-"},
        {"day of a late run", Day("2026-07-01T22:30:00.000Z"), "2026-07-02"},
        {"start of the switch day", DayStart("2026-03-29", 0), "2026-03-28T23:00:00.000Z"},
        {"its end", DayStart("2026-03-29", 1), "2026-03-29T22:00:00.000Z"},
        {"no such day", DayStart("2026-02-29", 0), "refused"},
        {"age in seconds", Age(59), "59s"},
        {"age in minutes", Age(3599), "59m 59s"},
        {"age in hours", Age(3 * 3600 + 7 * 60), "3h 07m"},
        {"age in days", Age(2 * 86400 + 4 * 3600 + 59), "2d 04h"},
        {"clock ahead", Age(-5), "0s"},
    };
    // clang-format on
    for (const auto &row : rows)
        EXPECT_EQ(row.have, row.want) << row.name;
}

// Each export field encoder, run on text into a string.
TEST(ExportFields, CsvAndJson)
{
    // clang-format off
    struct { void (*put)(FILE *, const char *); const char *text, *want; } rows[] = {
        {PutCsvField, "plain text", "plain text"},
        {PutCsvField, nullptr, ""},
        {PutCsvField, "", ""},
        {PutCsvField, "a,b", "\"a,b\""},
        {PutCsvField, "say \"hi\"", "\"say \"\"hi\"\"\""},
        {PutCsvField, "two\nlines", "\"two\nlines\""},
        {PutCsvField, "cr\r", "\"cr\r\""},
        {PutCsvField, " padded", "\" padded\""},
        {PutCsvField, "padded ", "\"padded \""},
        {PutCsvField, "=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
        {PutCsvField, "+1", "'+1"},
        {PutCsvField, "-2+3", "'-2+3"},
        {PutCsvField, "@SUM(A1)", "'@SUM(A1)"},
        {PutCsvField, "\t=1", "'\t=1"},
        {PutCsvField, "\r=1", "\"'\r=1\""},
        {PutCsvField, "a=1", "a=1"},
        {PutJsonString, "=1+2", "\"=1+2\""},
        {PutJsonString, nullptr, "null"},
        {PutJsonString, "To be filled", "\"To be filled\""},
        {PutJsonString, "q\"b\\", "\"q\\\"b\\\\\""},
        {PutJsonString, "\x01\n\t\x7f", "\"\\u0001\\u000a\\u0009\\u007f\""},
        {PutJsonString, "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},
        {PutJsonString, "\xFF", "\"\\ufffd\""},
        {PutJsonString, "end\xC3", "\"end\\ufffd\""},
        {PutJsonString, "\xC0\xAF", "\"\\ufffd\\ufffd\""},          // overlong '/'
        {PutJsonString, "\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},  // a surrogate
        {PutJsonString, "\xF4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},  // past U+10FFFF
    };
    // clang-format on
    for (const auto &row : rows) {
        char *buf = nullptr;
        size_t len = 0;
        FILE *f = open_memstream(&buf, &len);
        row.put(f, row.text);
        fclose(f);
        EXPECT_EQ(std::string(buf, len), row.want) << (row.text ? row.text : "NULL");
        free(buf);
    }
}

}  // namespace
