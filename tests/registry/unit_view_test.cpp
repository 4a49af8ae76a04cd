// The line view's pure parts: its command lines, how a failure message
// becomes a reason, and when a pool warns or alarms; and which MACs a
// pool's counts take from a registry file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "registry/conf.h"
#include "registry/schema.h"

#include "registry_tool/args.h"
#include "registry_tool/pools.h"
#include "registry_tool/view.h"

namespace {

// What the parser made of a view command line, as one comparable text.
std::string ViewSummary(const REGTOOL_ARGS &a)
{
    std::string s = a.Html ? std::string(" html=") + a.Html : "";
    s += a.Since[0] ? std::string(" since=") + a.Since : "";
    s += a.Until[0] ? std::string(" until=") + a.Until : "";
    s += a.Station ? std::string(" station=") + a.Station : "";
    for (int k = 0; k < a.IniCount; k++)
        s += std::string(" ini=") + a.Ini[k];
    s += a.Command == REGTOOL_POOLS ? " format=" + std::to_string(a.PoolFormat) : "";
    s += a.Listen ? std::string(" listen=") + a.Listen : "";
    return s.empty() ? s : s.substr(1);
}

TEST(ViewArgs, Table)
{
    std::vector<std::string> many_ini = {"pools"};
    for (int k = 0; k <= kRegToolMaxIni; k++)
        many_ini.insert(many_ini.end(), {"--ini", "a.ini"});
    // clang-format off
    // want: rc 0, the summary; rc 2, the reason
    struct { const char *name; std::vector<std::string> args; int rc; std::string want; } rows[] = {
        {"report with everything", {"report", "--html", "r.html", "--since", "2026-03-02", "--until=2026-03-03T06:00", "--station", "st1", "--ini", "a.ini", "--ini", "b.ini"}, 0,
         "html=r.html since=2026-03-02T00:00:00.000Z until=2026-03-03T06:00:00.000Z station=st1 ini=a.ini ini=b.ini"},
        {"pools as JSON", {"pools", "--ini", "a.ini", "--format", "json"}, 0, "ini=a.ini format=2"},
        {"pools as text by default", {"pools", "--ini", "a.ini"}, 0, "ini=a.ini format=0"},
        {"serve on an address", {"serve", "--listen", "0.0.0.0:80"}, 0, "listen=0.0.0.0:80"},
        {"report without a file", {"report"}, 2, "report needs --html FILE"},
        {"pools without an allow-list", {"pools"}, 2, "pools needs --ini FILE (an allow-list)"},
        {"pools in a format of export's", {"pools", "--ini", "a", "--format", "xml"}, 2, "unknown pools format 'xml' (text, csv or json)"},
        {"an until that is no time", {"report", "--html", "r", "--until", "tomorrow"}, 2, "--until 'tomorrow' is not a UTC time YYYY-MM-DD[THH:MM[:SS]]"},
        {"a listen address for a report", {"report", "--html", "r", "--listen", "x:1"}, 2, "--listen does not go with this command"},
        {"an empty station", {"serve", "--station", ""}, 2, "--station needs a name of 1 to 255 characters"},
        {"more allow-lists than taken", many_ini, 2, "more than 16 --ini files"},
    };
    // clang-format on
    for (const auto &row : rows) {
        std::vector<char *> argv = {const_cast<char *>("talvek-registry")};
        for (const auto &a : row.args)
            argv.push_back(const_cast<char *>(a.c_str()));
        REGTOOL_ARGS args;
        char err[300] = "";
        int rc = ParseRegToolArgs(static_cast<int>(argv.size()), argv.data(), &args, err, sizeof err);
        EXPECT_EQ(rc, row.rc) << row.name << ": " << err;
        EXPECT_EQ(rc == 0 ? ViewSummary(args) : std::string(err), row.want) << row.name;
    }
}

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

TEST(ViewPools, Levels)
{
    // clang-format off
    // A range of 1,000 addresses (mask/value do not matter to the levels).
    struct { const char *name; long used, recent; const char *level; bool has_days; double days; } rows[] = {
        {"idle, little used", 10, 0, "ok", false, 0},
        {"80 % used warns", 800, 0, "warning", false, 0},
        {"95 % used alarms", 950, 0, "alarm", false, 0},
        {"6.9 days left alarms", 500, 507, "alarm", true, 500 / (507 / 7.0)},
        {"7 days left is fine", 500, 500, "ok", true, 7.0},
    };
    // clang-format on
    for (const auto &row : rows) {
        VIEW_POOL pool;
        pool.Total = 1000;
        pool.Used = row.used;
        pool.Recent = row.recent;
        POOL_STATE s;
        PoolState(pool, &s);
        EXPECT_STREQ(s.Level, row.level) << row.name;
        EXPECT_EQ(s.HasDaysLeft, row.has_days) << row.name;
        EXPECT_DOUBLE_EQ(s.DaysLeft, row.days) << row.name;
    }
    EXPECT_EQ(ViewRangeSize({0x02AB3D100000ull, 0xFFFFFFFFF000ull}), 4096u);
    EXPECT_EQ(ViewRangeSize({0x02AB3D100001ull, 0xFFFFFFFFF000ull}), 0u) << "no MAC matches";
    EXPECT_EQ(PoolRangeText({0x02AB3D100000ull, 0xFFFFFFFFF000ull}), "02AB3D100000/FFFFFFFFF000");
}

// A range with a hole in its mask lies between the same bounds as a whole
// one, so only the mask check keeps out the MACs between them that it does
// not hold; both are counted from the one query.
TEST(ViewPools, RangeWithHolesCountsOnlyItsOwn)
{
    char path[] = "/tmp/talvek-pools-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    REGISTRY_CONF conf;
    DefaultRegistryConf(&conf);
    char err[kDbErrorSize] = "";
    REG_DB *db = nullptr;
    ASSERT_EQ(ParseRegistryTarget((std::string("sqlite:") + path).c_str(), &conf, err, sizeof err), 0);
    ASSERT_EQ(RegDbOpen(&conf, &db, err, sizeof err), 0) << err;
    ASSERT_EQ(RegistryEnsureSchema(db, nullptr, err, sizeof err), 0) << err;
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
    ASSERT_EQ(LoadViewPools(db,
                            {{0x02AB3D100000ull, 0xFFFFFFFFFF00ull},
                             {0x02AB3D100000ull, 0xFFFFFFFFFF0Full}},
                            "2026-03-10T00:00:00.000Z", &pools, err, sizeof err),
              0)
        << err;
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

}  // namespace
