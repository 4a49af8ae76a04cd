// talvek-registry's pure parts: the command line, time text, and
// the export's field encoders.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "registry_tool/args.h"
#include "registry_tool/text_format.h"

namespace {

// What the parser made of a line, as one comparable text.
std::string Summary(const REGTOOL_ARGS &a)
{
    static const char *const names[] = {"none",  "help",    "init",   "who",
                                        "board", "release", "export", "stats"};
    std::string s = names[a.Command];
    char mac[14];
    if (a.Command == REGTOOL_WHO || a.Command == REGTOOL_RELEASE)
        s.append(mac, snprintf(mac, sizeof mac, " %02X%02X%02X%02X%02X%02X", a.Mac[0], a.Mac[1],
                               a.Mac[2], a.Mac[3], a.Mac[4], a.Mac[5]));
    s += a.Key ? std::string(" key=") + a.Key : "";
    s += a.Reason ? std::string(" reason=") + a.Reason : "";
    s += a.Command != REGTOOL_EXPORT ? "" : a.Format == REGTOOL_JSON ? " json" : " csv";
    s += a.Since[0] ? std::string(" since=") + a.Since : "";
    return s + (a.Registry ? std::string(" registry=") + a.Registry : "");
}

TEST(RegToolArgs, Table)
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
        {{"stats", "--registry", "host=/tmp dbname=x"}, 0, "stats registry=host=/tmp dbname=x"},
        {{"--", "board", "-odd"}, 0, "board key=-odd"},
        {{"stats", "--help"}, 0, "help"},
        {{"init"}, 0, "init"},
        {{}, 2, "no command given"},
        {{"frob"}, 2, "unknown command 'frob'"},
        {{"release", "02AB3C5601A1"}, 2, "needs --reason"},
        {{"release", "02AB3C5601A1", "--reason", " \t"}, 2, "needs --reason"},
        {{"who", "02AB3C5601A1", "--reason", "x"}, 2, "--reason does not go"},
        {{"stats", "--since", "2026-01-02"}, 2, "--since does not go"},
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
