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
    if (a.Command == REGTOOL_WHO || a.Command == REGTOOL_RELEASE) {
        char mac[13];
        snprintf(mac, sizeof mac, "%02X%02X%02X%02X%02X%02X", a.Mac[0], a.Mac[1], a.Mac[2],
                 a.Mac[3], a.Mac[4], a.Mac[5]);
        s += std::string(" ") + mac;
    }
    if (a.Key)
        s += std::string(" key=") + a.Key;
    if (a.Reason)
        s += std::string(" reason=") + a.Reason;
    if (a.Command == REGTOOL_EXPORT)
        s += a.Format == REGTOOL_JSON ? " json" : " csv";
    if (a.Since[0])
        s += std::string(" since=") + a.Since;
    if (a.Registry)
        s += std::string(" registry=") + a.Registry;
    return s;
}

TEST(RegToolArgs, Table)
{
    const std::string long_key(kRegToolKeyMax + 1, 'k');
    // clang-format off
    struct {
        std::vector<std::string> args;
        int rc;
        std::string want;  // rc 0: the summary; rc 2: part of the reason
    } rows[] = {
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
        if (row.rc == 0) {
            EXPECT_EQ(Summary(a), row.want);
        } else {
            EXPECT_NE(std::string(err).find(row.want), std::string::npos) << err;
        }
    }
}

TEST(RegToolArgs, UtcTime)
{
    // clang-format off
    struct {
        const char *text;
        const char *want;  // nullptr: refused
    } rows[] = {
        {"2024-02-29", "2024-02-29T00:00:00.000Z"},
        {"2026-12-07T11:05Z", "2026-12-07T11:05:00.000Z"},
        {"2026-12-07 11:05:09.123", "2026-12-07T11:05:09.123Z"},
        {"2023-02-29", nullptr},
        {"2100-02-29", nullptr},
        {"2026-04-31", nullptr},
        {"2026-12-07T24:00", nullptr},
        {"2026-12-07T11", nullptr},
        {"2026-12-07T11:05:09.1", nullptr},
        {"2026-12-7", nullptr},
        {"2026-12-07Z ", nullptr},
        {"1969-12-31", nullptr},
    };
    // clang-format on
    for (const auto &row : rows) {
        char out[32] = "";
        int rc = NormalizeUtcTime(row.text, out, sizeof out);
        EXPECT_EQ(rc, row.want ? 0 : 1) << row.text;
        if (row.want) {
            EXPECT_STREQ(out, row.want);
        }
    }
}

// Runs an encoder on text into a string.
template <typename F> std::string Encode(F put, const char *text)
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    put(f, text);
    fclose(f);
    std::string s(buf, len);
    free(buf);
    return s;
}

TEST(ExportFields, Csv)
{
    // clang-format off
    struct {
        const char *text;
        const char *want;
    } rows[] = {
        {"plain text", "plain text"},
        {nullptr, ""},
        {"", ""},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"cr\r", "\"cr\r\""},
        {" padded", "\" padded\""},
        {"padded ", "\"padded \""},
    };
    // clang-format on
    for (const auto &row : rows)
        EXPECT_EQ(Encode(PutCsvField, row.text), row.want) << (row.text ? row.text : "NULL");
}

TEST(ExportFields, Json)
{
    // clang-format off
    struct {
        const char *text;
        const char *want;
    } rows[] = {
        {nullptr, "null"},
        {"To be filled", "\"To be filled\""},
        {"q\"b\\", "\"q\\\"b\\\\\""},
        {"\x01\n\t\x7f", "\"\\u0001\\u000a\\u0009\\u007f\""},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},
        {"\xFF", "\"\\ufffd\""},
        {"end\xC3", "\"end\\ufffd\""},
        {"\xC0\xAF", "\"\\ufffd\\ufffd\""},          // overlong '/'
        {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},  // a surrogate
        {"\xF4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},  // past U+10FFFF
    };
    // clang-format on
    for (const auto &row : rows)
        EXPECT_EQ(Encode(PutJsonString, row.text), row.want) << (row.text ? row.text : "NULL");
}

}  // namespace
