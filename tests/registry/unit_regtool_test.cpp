// talvek-registry's pure parts: the command line, time text, and
// the export's field encoders.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "registry_tool/args.h"
#include "registry_tool/local_time.h"
#include "registry_tool/text_format.h"
#include "test.h"

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
    if (a.Command == REGTOOL_WHO || a.Command == REGTOOL_RELEASE) {
        char mac[14];
        snprintf(mac, sizeof mac, " %02X%02X%02X%02X%02X%02X", a.Mac[0], a.Mac[1], a.Mac[2],
                 a.Mac[3], a.Mac[4], a.Mac[5]);
        s += mac;
    }
    if (a.Key)
        s += std::string(" key=") + a.Key;
    if (a.Reason)
        s += std::string(" reason=") + a.Reason;
    if (a.Command == REGTOOL_EXPORT || a.Command == REGTOOL_STATS)
        s += formats[a.Format];
    if (a.Since[0])
        s += std::string(" since=") + a.Since;
    if (a.Until[0])
        s += std::string(" until=") + a.Until;
    if (a.Station)
        s += std::string(" station=") + a.Station;
    if (a.OlderThan)
        s += " older=" + std::to_string(a.OlderThan);
    if (a.Registry)
        s += std::string(" registry=") + a.Registry;
    return s;
}

// Test names from the rows' names.
template <class Case>
std::string NameOf(const ::testing::TestParamInfo<Case> &info)
{
    return TestName(info.param.name);
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

// A command line, and what the parser made of it or why it refused it.
struct ArgsCase {
    const char *name;
    std::vector<std::string> args;
    std::string want;  // accepted: the summary; refused: part of the reason
};

void PrintTo(const ArgsCase &c, std::ostream *os)
{
    *os << c.name;
}

// clang-format off
const std::vector<ArgsCase> kArgsAccepted = {
    {"who, dashed MAC", {"who", "02-ab-3c-56-01-a1"}, "who 02AB3C5601A1"},
    {"registry joined to its option", {"--registry=sqlite:/x.db", "board", "K1"}, "board key=K1 registry=sqlite:/x.db"},
    {"release with a reason", {"release", "02AB3C5601A1", "--reason", "rework"}, "release 02AB3C5601A1 reason=rework"},
    {"export since a day as JSON", {"export", "--since", "2026-01-02", "--format", "json"}, "export json since=2026-01-02T00:00:00.000Z"},
    {"export format joined", {"export", "--format=csv"}, "export csv"},
    {"stats on a PostgreSQL string", {"stats", "--registry", "host=/tmp dbname=x"}, "stats text registry=host=/tmp dbname=x"},
    {"stats of one local day and station", {"stats", "--since", "2026-01-02", "--until=2026-01-02", "--station", "st1", "--format", "csv"},
     "stats csv since=2026-01-01T23:00:00.000Z until=2026-01-02T23:00:00.000Z station=st1"},
    {"pending older than", {"pending", "--older-than", "1h30m"}, "pending older=5400"},
    {"pending", {"pending"}, "pending"},
    {"a key after the options' end", {"--", "board", "-odd"}, "board key=-odd"},
    {"help after a command", {"stats", "--help"}, "help"},
    {"init", {"init"}, "init"},
};

const std::string kLongKey(kRegToolKeyMax + 1, 'k');

const std::vector<ArgsCase> kArgsRefused = {
    {"since with a time", {"stats", "--since", "2026-01-02T10:00"}, "--since '2026-01-02T10:00' is not a day"},
    {"until no such day", {"stats", "--until", "2026-02-30"}, "--until '2026-02-30' is not a day"},
    {"until before since", {"stats", "--since", "2026-01-03", "--until", "2026-01-02"}, "--until is before --since"},
    {"stats as XML", {"stats", "--format", "xml"}, "unknown stats format 'xml'"},
    {"export as text", {"export", "--format", "text"}, "unknown export format 'text'"},
    {"older than in weeks", {"pending", "--older-than", "2w"}, "not a duration"},
    {"export of one station", {"export", "--format", "csv", "--station", "st1"}, "--station does not go"},
    {"no command", {}, "no command given"},
    {"unknown command", {"frob"}, "unknown command 'frob'"},
    {"release without a reason", {"release", "02AB3C5601A1"}, "needs --reason"},
    {"release with a blank reason", {"release", "02AB3C5601A1", "--reason", " \t"}, "needs --reason"},
    {"who with a reason", {"who", "02AB3C5601A1", "--reason", "x"}, "--reason does not go"},
    {"pending since", {"pending", "--since", "2026-01-02"}, "--since does not go"},
    {"export without a format", {"export"}, "needs --format"},
    {"export as XML", {"export", "--format", "xml"}, "unknown export format 'xml'"},
    {"export since no such time", {"export", "--format", "csv", "--since", "2026-02-30"}, "not a UTC time"},
    {"who without a MAC", {"who"}, "needs a MAC"},
    {"board without a key", {"board"}, "needs a board KEY"},
    {"who, a digit short", {"who", "02AB3C5601A"}, "is not a MAC"},
    {"key too long", {"board", kLongKey}, "1 to 255"},
    {"stats with an argument", {"stats", "extra"}, "unexpected argument 'extra'"},
    {"who with two arguments more", {"who", "02AB3C5601A1", "x", "y"}, "unexpected argument 'x'"},
    {"registry without a value", {"stats", "--registry"}, "--registry needs a value"},
    {"registry joined, empty", {"--registry=", "stats"}, "--registry needs a URL"},
    {"registry twice", {"--registry", "a", "--registry=b", "stats"}, "given twice"},
    {"unknown short option", {"-x", "stats"}, "unknown option '-x'"},
    {"unknown long option", {"--regist=a", "stats"}, "unknown option '--regist=a'"},
};
// clang-format on

// A command line as main() gets it. The parser's results point into its
// words, so it lives as long as they are looked at.
class CommandLine {
public:
    explicit CommandLine(const std::vector<std::string> &args)
    {
        words_.push_back("talvek-registry");
        words_.insert(words_.end(), args.begin(), args.end());
        for (auto &w : words_)
            argv_.push_back(&w[0]);
    }
    CommandLine(const CommandLine &) = delete;
    CommandLine &operator=(const CommandLine &) = delete;
    int Parse(REGTOOL_ARGS *a, char *err, size_t err_size)
    {
        return ParseRegToolArgs(static_cast<int>(argv_.size()), argv_.data(), a, err, err_size);
    }

private:
    std::vector<std::string> words_;
    std::vector<char *> argv_;
};

class ArgsAccepted : public RegToolLocal, public ::testing::WithParamInterface<ArgsCase> {};

TEST_P(ArgsAccepted, Summary)
{
    CommandLine line(GetParam().args);
    REGTOOL_ARGS a;
    char err[200] = "";
    ASSERT_EQ(line.Parse(&a, err, sizeof err), 0) << err;
    EXPECT_EQ(Summary(a), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(RegToolArgs, ArgsAccepted, ::testing::ValuesIn(kArgsAccepted),
                         NameOf<ArgsCase>);

class ArgsRefused : public RegToolLocal, public ::testing::WithParamInterface<ArgsCase> {};

TEST_P(ArgsRefused, Reason)
{
    CommandLine line(GetParam().args);
    REGTOOL_ARGS a;
    char err[200] = "";
    EXPECT_EQ(line.Parse(&a, err, sizeof err), 2);
    EXPECT_NE(std::string(err).find(GetParam().want), std::string::npos) << err;
}

INSTANTIATE_TEST_SUITE_P(RegToolArgs, ArgsRefused, ::testing::ValuesIn(kArgsRefused),
                         NameOf<ArgsCase>);

struct UtcTimeCase {
    const char *name, *text;
    std::optional<std::string> want;  // none: refused
};

void PrintTo(const UtcTimeCase &c, std::ostream *os)
{
    *os << c.name;
}

// clang-format off
const std::vector<UtcTimeCase> kUtcTimes = {
    {"leap day", "2024-02-29", "2024-02-29T00:00:00.000Z"},
    {"minutes and Z", "2026-12-07T11:05Z", "2026-12-07T11:05:00.000Z"},
    {"blank and milliseconds", "2026-12-07 11:05:09.123", "2026-12-07T11:05:09.123Z"},
    {"no leap day", "2023-02-29", std::nullopt},
    {"no leap day in 2100", "2100-02-29", std::nullopt},
    {"April 31", "2026-04-31", std::nullopt},
    {"hour 24", "2026-12-07T24:00", std::nullopt},
    {"hour without minutes", "2026-12-07T11", std::nullopt},
    {"one digit of milliseconds", "2026-12-07T11:05:09.1", std::nullopt},
    {"one digit day", "2026-12-7", std::nullopt},
    {"trailing blank", "2026-12-07Z ", std::nullopt},
    {"before 1970", "1969-12-31", std::nullopt},
};
// clang-format on

class UtcTime : public ::testing::TestWithParam<UtcTimeCase> {};

TEST_P(UtcTime, Normalized)
{
    char out[32] = "";
    int rc = NormalizeUtcTime(GetParam().text, out, sizeof out);
    if (GetParam().want) {
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(out, *GetParam().want);
    } else {
        EXPECT_EQ(rc, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(RegToolArgs, UtcTime, ::testing::ValuesIn(kUtcTimes),
                         NameOf<UtcTimeCase>);

struct DurationCase {
    const char *name, *text;
    std::optional<long long> seconds;  // none: refused
};

void PrintTo(const DurationCase &c, std::ostream *os)
{
    *os << c.name;
}

// clang-format off
const std::vector<DurationCase> kDurations = {
    {"seconds", "90s", 90},
    {"minutes", "30m", 1800},
    {"hours", "2h", 7200},
    {"days and hours", "1d12h", 129600},
    {"ten years", "3660d", 316224000},
    {"empty", "", std::nullopt},
    {"a unit alone", "h", std::nullopt},
    {"no unit", "10", std::nullopt},
    {"unknown unit", "5x", std::nullopt},
    {"a sign", "1h-5m", std::nullopt},
    {"past ten years", "3661d", std::nullopt},
    {"past 64 bits", "99999999999999999999s", std::nullopt},
};
// clang-format on

class Durations : public ::testing::TestWithParam<DurationCase> {};

TEST_P(Durations, Seconds)
{
    long long seconds = 0;
    int rc = ParseDuration(GetParam().text, &seconds);
    if (GetParam().seconds) {
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(seconds, *GetParam().seconds);
    } else {
        EXPECT_EQ(rc, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(RegToolArgs, Durations, ::testing::ValuesIn(kDurations),
                         NameOf<DurationCase>);

// Stored UTC to what people read, and local days back to UTC, in a zone
// with summer time: the day of the switch is 23 hours long.
struct TimeTextCase {
    const char *name;
    std::function<std::string()> have;  // run in that zone
    std::string want;
};

void PrintTo(const TimeTextCase &c, std::ostream *os)
{
    *os << c.name;
}

// clang-format off
const std::vector<TimeTextCase> kTimeTexts = {
    {"winter", [] { return LocalText("2026-01-02T03:04:05.678Z"); }, "2026-01-02 04:04:05 CET"},
    {"summer", [] { return LocalText("2026-07-01T22:30:00Z"); }, "2026-07-02 00:30:00 CEST"},
    {"no stamp", [] { return LocalText("yesterday"); }, "yesterday"},
    {"NULL", [] { return LocalText(nullptr); }, "-"},
    {"day of a late run", [] { return Day("2026-07-01T22:30:00.000Z"); }, "2026-07-02"},
    {"start of the switch day", [] { return DayStart("2026-03-29", 0); }, "2026-03-28T23:00:00.000Z"},
    {"its end", [] { return DayStart("2026-03-29", 1); }, "2026-03-29T22:00:00.000Z"},
    {"no such day", [] { return DayStart("2026-02-29", 0); }, "refused"},
    {"age in seconds", [] { return Age(59); }, "59s"},
    {"age in minutes", [] { return Age(3599); }, "59m 59s"},
    {"age in hours", [] { return Age(3 * 3600 + 7 * 60); }, "3h 07m"},
    {"age in days", [] { return Age(2 * 86400 + 4 * 3600 + 59); }, "2d 04h"},
    {"clock ahead", [] { return Age(-5); }, "0s"},
};
// clang-format on

class TimesForPeople : public RegToolLocal, public ::testing::WithParamInterface<TimeTextCase> {
protected:
    void SetUp() override
    {
        RegToolLocal::SetUp();
        setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
        tzset();
    }
};

TEST_P(TimesForPeople, Text)
{
    EXPECT_EQ(GetParam().have(), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(RegToolLocal, TimesForPeople, ::testing::ValuesIn(kTimeTexts),
                         NameOf<TimeTextCase>);

// Each export field encoder, run on text into a string.
struct FieldCase {
    const char *name;
    void (*put)(FILE *, const char *);
    std::optional<std::string> text;  // none: a NULL column
    std::string want;
};

void PrintTo(const FieldCase &c, std::ostream *os)
{
    *os << c.name;
}

// clang-format off
const std::vector<FieldCase> kFields = {
    {"CSV plain text", PutCsvField, "plain text", "plain text"},
    {"CSV NULL", PutCsvField, std::nullopt, ""},
    {"CSV empty", PutCsvField, "", ""},
    {"CSV comma", PutCsvField, "a,b", "\"a,b\""},
    {"CSV quotes", PutCsvField, "say \"hi\"", "\"say \"\"hi\"\"\""},
    {"CSV line feed", PutCsvField, "two\nlines", "\"two\nlines\""},
    {"CSV carriage return", PutCsvField, "cr\r", "\"cr\r\""},
    {"CSV leading blank", PutCsvField, " padded", "\" padded\""},
    {"CSV trailing blank", PutCsvField, "padded ", "\"padded \""},
    {"CSV formula with quotes", PutCsvField, "=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
    {"CSV plus", PutCsvField, "+1", "'+1"},
    {"CSV minus", PutCsvField, "-2+3", "'-2+3"},
    {"CSV at sign", PutCsvField, "@SUM(A1)", "'@SUM(A1)"},
    {"CSV tab first", PutCsvField, "\t=1", "'\t=1"},
    {"CSV carriage return first", PutCsvField, "\r=1", "\"'\r=1\""},
    {"CSV equals inside", PutCsvField, "a=1", "a=1"},
    {"JSON formula", PutJsonString, "=1+2", "\"=1+2\""},
    {"JSON NULL", PutJsonString, std::nullopt, "null"},
    {"JSON plain text", PutJsonString, "To be filled", "\"To be filled\""},
    {"JSON quote and backslash", PutJsonString, "q\"b\\", "\"q\\\"b\\\\\""},
    {"JSON control characters", PutJsonString, "\x01\n\t\x7f", "\"\\u0001\\u000a\\u0009\\u007f\""},
    {"JSON UTF-8 of every length", PutJsonString, "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},
    {"JSON lone 0xFF", PutJsonString, "\xFF", "\"\\ufffd\""},
    {"JSON cut sequence at the end", PutJsonString, "end\xC3", "\"end\\ufffd\""},
    {"JSON overlong slash", PutJsonString, "\xC0\xAF", "\"\\ufffd\\ufffd\""},
    {"JSON surrogate", PutJsonString, "\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},
    {"JSON past U+10FFFF", PutJsonString, "\xF4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},
};
// clang-format on

class CsvAndJson : public ::testing::TestWithParam<FieldCase> {};

TEST_P(CsvAndJson, Field)
{
    const FieldCase &c = GetParam();
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    c.put(f, c.text ? c.text->c_str() : nullptr);
    fclose(f);
    EXPECT_EQ(std::string(buf, len), c.want);
    free(buf);
}

INSTANTIATE_TEST_SUITE_P(RegToolExportFields, CsvAndJson, ::testing::ValuesIn(kFields),
                         NameOf<FieldCase>);

}  // namespace
