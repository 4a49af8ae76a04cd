// The line view's pure parts: its command lines, how a failure message
// becomes a reason, and when a pool warns or alarms; and which MACs a
// pool's counts take from a registry file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "registry/conf.h"
#include "registry/schema.h"

#include "registry_tool/args.h"
#include "registry_tool/pools.h"
#include "registry_tool/view.h"
#include "test.h"

namespace {

// What the parser made of a view command line, as one comparable text.
std::string ViewSummary(const REGTOOL_ARGS &a)
{
    std::vector<std::string> parts;
    if (a.Html)
        parts.push_back(std::string("html=") + a.Html);
    if (a.Since[0])
        parts.push_back(std::string("since=") + a.Since);
    if (a.Until[0])
        parts.push_back(std::string("until=") + a.Until);
    if (a.Station)
        parts.push_back(std::string("station=") + a.Station);
    for (int k = 0; k < a.IniCount; k++)
        parts.push_back(std::string("ini=") + a.Ini[k]);
    if (a.Command == REGTOOL_POOLS)
        parts.push_back("format=" + std::to_string(a.PoolFormat));
    if (a.Listen)
        parts.push_back(std::string("listen=") + a.Listen);
    std::string s;
    for (const std::string &p : parts)
        s += (s.empty() ? "" : " ") + p;
    return s;
}

// Test names from the rows' names.
template <class Case>
std::string NameOf(const ::testing::TestParamInfo<Case> &info)
{
    return TestName(info.param.name);
}

// A view command line, and what the parser made of it or why it refused it.
struct ViewArgsCase {
    const char *name;
    std::vector<std::string> args;
    std::string want;  // accepted: the summary; refused: the reason
};

void PrintTo(const ViewArgsCase &c, std::ostream *os)
{
    *os << c.name;
}

// pools with one --ini more than it takes.
std::vector<std::string> ManyIni()
{
    std::vector<std::string> args = {"pools"};
    for (int k = 0; k <= kRegToolMaxIni; k++) {
        args.push_back("--ini");
        args.push_back("a.ini");
    }
    return args;
}

// clang-format off
const std::vector<ViewArgsCase> kViewArgsAccepted = {
    {"report with everything", {"report", "--html", "r.html", "--since", "2026-03-02", "--until=2026-03-03T06:00", "--station", "st1", "--ini", "a.ini", "--ini", "b.ini"},
     "html=r.html since=2026-03-02T00:00:00.000Z until=2026-03-03T06:00:00.000Z station=st1 ini=a.ini ini=b.ini"},
    {"pools as JSON", {"pools", "--ini", "a.ini", "--format", "json"}, "ini=a.ini format=2"},
    {"pools as text by default", {"pools", "--ini", "a.ini"}, "ini=a.ini format=0"},
    {"serve on an address", {"serve", "--listen", "0.0.0.0:80"}, "listen=0.0.0.0:80"},
};

const std::vector<ViewArgsCase> kViewArgsRefused = {
    {"report without a file", {"report"}, "report needs --html FILE"},
    {"pools without an allow-list", {"pools"}, "pools needs --ini FILE (an allow-list)"},
    {"pools in a format of export's", {"pools", "--ini", "a", "--format", "xml"}, "unknown pools format 'xml' (text, csv or json)"},
    {"an until that is no time", {"report", "--html", "r", "--until", "tomorrow"}, "--until 'tomorrow' is not a UTC time YYYY-MM-DD[THH:MM[:SS]]"},
    {"a listen address for a report", {"report", "--html", "r", "--listen", "x:1"}, "--listen does not go with this command"},
    {"an empty station", {"serve", "--station", ""}, "--station needs a name of 1 to 255 characters"},
    {"more allow-lists than taken", ManyIni(), "more than 16 --ini files"},
};
// clang-format on

// Parses a row's arguments after the program's name. The table outlives
// what the parser points into.
int Parse(const ViewArgsCase &c, REGTOOL_ARGS *args, char *err, size_t err_size)
{
    std::vector<char *> argv = {const_cast<char *>("talvek-registry")};
    for (const auto &a : c.args)
        argv.push_back(const_cast<char *>(a.c_str()));
    return ParseRegToolArgs(static_cast<int>(argv.size()), argv.data(), args, err, err_size);
}

class ViewArgsAccepted : public ::testing::TestWithParam<ViewArgsCase> {};

TEST_P(ViewArgsAccepted, Summary)
{
    REGTOOL_ARGS args;
    char err[300] = "";
    ASSERT_EQ(Parse(GetParam(), &args, err, sizeof err), 0) << err;
    EXPECT_EQ(ViewSummary(args), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(ViewArgs, ViewArgsAccepted, ::testing::ValuesIn(kViewArgsAccepted),
                         NameOf<ViewArgsCase>);

class ViewArgsRefused : public ::testing::TestWithParam<ViewArgsCase> {};

TEST_P(ViewArgsRefused, Reason)
{
    REGTOOL_ARGS args;
    char err[300] = "";
    EXPECT_EQ(Parse(GetParam(), &args, err, sizeof err), 2);
    EXPECT_EQ(std::string(err), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(ViewArgs, ViewArgsRefused, ::testing::ValuesIn(kViewArgsRefused),
                         NameOf<ViewArgsCase>);

TEST(ViewReason, SameFailureOnOtherBoardsIsOneReason)
{
    EXPECT_EQ(ViewReason("Mac 02-AB-3C-56-01-A1 is already registered to board 4C4C45 "
                         "(station st1, 2026-03-01T00:00:00.000Z)"),
              "Mac # is already registered to board #");
    EXPECT_EQ(ViewReason("fast programming failed"), "fast programming failed");
    EXPECT_EQ(ViewReason("MAC registry unavailable: timeout (5 s) reached"),
              "MAC registry unavailable: timeout # s) reached")
        << "only a closing parenthesis part is dropped";
}

// A range of 1,000 addresses (mask/value do not matter to the levels).
struct LevelCase {
    const char *name;
    long used, recent;
    const char *level;
    std::optional<double> days_left;  // none: no estimate, and DaysLeft stays 0
};

void PrintTo(const LevelCase &c, std::ostream *os)
{
    *os << c.name;
}

// clang-format off
const std::vector<LevelCase> kLevels = {
    {"idle, little used", 10, 0, "ok", std::nullopt},
    {"80 % used warns", 800, 0, "warning", std::nullopt},
    {"95 % used alarms", 950, 0, "alarm", std::nullopt},
    {"6.9 days left alarms", 500, 507, "alarm", 500 / (507 / 7.0)},
    {"7 days left is fine", 500, 500, "ok", 7.0},
};
// clang-format on

class Levels : public ::testing::TestWithParam<LevelCase> {};

TEST_P(Levels, State)
{
    const LevelCase &c = GetParam();
    VIEW_POOL pool;
    pool.Total = 1000;
    pool.Used = c.used;
    pool.Recent = c.recent;
    POOL_STATE s;
    PoolState(pool, &s);
    EXPECT_STREQ(s.Level, c.level);
    EXPECT_EQ(s.HasDaysLeft, c.days_left.has_value());
    EXPECT_DOUBLE_EQ(s.DaysLeft, c.days_left.value_or(0));
}

INSTANTIATE_TEST_SUITE_P(ViewPools, Levels, ::testing::ValuesIn(kLevels), NameOf<LevelCase>);

TEST(ViewPools, Ranges)
{
    EXPECT_EQ(ViewRangeSize({0x02AB3D100000ull, 0xFFFFFFFFF000ull}), 4096u);
    EXPECT_EQ(ViewRangeSize({0x02AB3D100001ull, 0xFFFFFFFFF000ull}), 0u) << "no MAC matches";
    EXPECT_EQ(PoolRangeText({0x02AB3D100000ull, 0xFFFFFFFFF000ull}), "02AB3D100000/FFFFFFFFF000");
}

// How a pool's counts are read: on the one connection, or split at the
// middle of the MACs on record with the upper half on a second connection
// (the pools command on a SQLite file).
struct SplitCase {
    const char *name;
    bool second_connection;
};

const SplitCase kSplits[] = {
    {"one connection", false},
    {"halves on two connections", true},
};

void PrintTo(const SplitCase &c, std::ostream *os)
{
    *os << c.name;
}

class PoolCounts : public ::testing::TestWithParam<SplitCase> {};

// A range with a hole in its mask lies between the same bounds as a whole
// one, so only the mask check keeps out the MACs between them that it does
// not hold. The MACs on record span 00..20, so a split falls on 10: a MAC on
// the split must be counted once, in one half.
TEST_P(PoolCounts, RangeWithHolesCountsOnlyItsOwn)
{
    char path[] = "/tmp/talvek-pools-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    REGISTRY_CONF conf;
    DefaultRegistryConf(&conf);
    char err[kDbErrorSize] = "";
    REG_DB *db = nullptr;
    REG_DB *second = nullptr;
    ASSERT_EQ(ParseRegistryTarget((std::string("sqlite:") + path).c_str(), &conf, err, sizeof err), 0);
    ASSERT_EQ(RegDbOpen(&conf, &db, err, sizeof err), 0) << err;
    ASSERT_EQ(RegistryEnsureSchema(db, nullptr, err, sizeof err), 0) << err;
    if (GetParam().second_connection) {
        ASSERT_EQ(RegDbOpen(&conf, &second, err, sizeof err), 0) << err;
    }
    // MAC (low byte), state, reserved: 01 lies between the holey range's
    // bounds (00..F0) but has a bit its mask requires clear.
    const char *macs[][3] = {{"0", "reserved", "2026-03-09T00:00:00.000Z"},
                             {"1", "verified", "2026-03-09T00:00:00.000Z"},
                             {"16", "verified", "2026-02-01T00:00:00.000Z"},
                             {"32", "released", "2026-03-09T00:00:00.000Z"}};
    for (const auto &m : macs) {
        std::string mac = std::to_string(0x02AB3D100000ull + std::stoull(m[0]));
        const char *params[] = {mac.c_str(), m[1], m[2]};
        EXPECT_EQ(RegDbExec(db,
                            "INSERT INTO macs (mac, mac_text, state, station, run_id,"
                            " reserved_utc, updated_utc) VALUES (?1, '-', ?2, 'st1', 'a1', ?3, ?3)",
                            3, params, nullptr, err, sizeof err),
                  0)
            << err;
    }
    std::vector<VIEW_POOL> pools;
    ASSERT_EQ(LoadViewPools(db, second,
                            {{0x02AB3D100000ull, 0xFFFFFFFFFF00ull},
                             {0x02AB3D100000ull, 0xFFFFFFFFFF0Full}},
                            "2026-03-10T00:00:00.000Z", &pools, err, sizeof err),
              0)
        << err;
    RegDbClose(second);
    RegDbClose(db);
    unlink(path);
    // clang-format off
    struct { const char *name; uint64_t total; long used, released, recent; } rows[] = {
        {"whole range 00..FF", 256, 3, 1, 2},
        {"holey range 00, 10, .. F0", 16, 2, 1, 1},
    };
    // clang-format on
    ASSERT_EQ(pools.size(), 2u);
    for (size_t k = 0; k < 2; k++) {
        EXPECT_EQ(pools[k].Total, rows[k].total) << rows[k].name;
        EXPECT_EQ(pools[k].Used, rows[k].used) << rows[k].name;
        EXPECT_EQ(pools[k].Released, rows[k].released) << rows[k].name;
        EXPECT_EQ(pools[k].Recent, rows[k].recent) << rows[k].name;
    }
}

INSTANTIATE_TEST_SUITE_P(ViewPools, PoolCounts, ::testing::ValuesIn(kSplits), NameOf<SplitCase>);

}  // namespace
