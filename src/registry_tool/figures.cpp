#include "registry_tool/figures.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <system_error>
#include <thread>

// The period's runs, with ?1 since, ?2 until and ?3 station ("" for none).
// The station is compared first so that PostgreSQL takes ?3 as text.
#define PERIOD_WHERE                                                                               \
    " WHERE r.started_utc >= ?1 AND (r.started_utc < ?2 OR ?2 = '')"                               \
    " AND (r.station = ?3 OR ?3 = '')"

// 1 when the run is its board's first on record (ties broken by run id); a
// run without a board key is a board of its own. runs_board_started makes
// it one probe of an index that holds every column it reads, however long
// the history.
#define FIRST_RUN                                                                                  \
    "CASE WHEN r.board_key IS NULL OR NOT EXISTS (SELECT 1 FROM runs e"                            \
    " WHERE e.board_key = r.board_key AND e.started_utc <= r.started_utc"                          \
    " AND (e.started_utc < r.started_utc OR e.run_id < r.run_id)) THEN 1 ELSE 0 END"

// The summary's counts are the sums of the hours (one pass of the board
// probe for both); this adds what hours cannot give. A run without a key
// is a board of its own, so those are counted rather than made distinct:
// the query then reads only columns of runs_view.
static const char kBoardsSql[] =
    "SELECT count(DISTINCT r.board_key) + count(CASE WHEN r.board_key IS NULL THEN 1 END),"
    " min(r.started_utc), max(r.started_utc) FROM runs r" PERIOD_WHERE;

// The period's runs are materialised once with their board probe (both
// back ends would otherwise work it out again for each sum that reads it),
// then counted by hour and station.
static const char kHoursSql[] =
    "WITH p AS MATERIALIZED (SELECT substr(r.started_utc, 1, 13) AS hour, r.station AS station,"
    " r.verdict AS verdict, " FIRST_RUN " AS first FROM runs r" PERIOD_WHERE ")"
    " SELECT hour, station, count(*), sum(first),"
    " sum(CASE WHEN first = 1 AND verdict = 'PASS' THEN 1 ELSE 0 END),"
    " sum(CASE WHEN verdict = 'PASS' THEN 1 ELSE 0 END),"
    " sum(CASE WHEN verdict = 'FAIL' THEN 1 ELSE 0 END)"
    " FROM p GROUP BY hour, station ORDER BY hour, station";

// Durations are worked out here from the two stored times: cheaper than
// the same arithmetic on text in SQL, and the same on both back ends.
static const char kDurationsSql[] = "SELECT r.station, r.started_utc, r.ended_utc FROM runs r"
    PERIOD_WHERE;

static const char kMessagesSql[] =
    "SELECT COALESCE(r.message, ''), count(*) FROM runs r" PERIOD_WHERE
    " AND r.verdict <> 'PASS' GROUP BY COALESCE(r.message, '')"
    " ORDER BY count(*) DESC, COALESCE(r.message, '')";

// Refusals are the runs whose message is the registry's duplicate refusal.
// Only a run that did not pass has a message: saying so lets runs_failed
// find them without reading every run of the period.
static const char kEventsSql[] =
    "SELECT * FROM ("
    "SELECT r.started_utc AS at, 'refusal' AS kind, r.board_key AS board, r.station AS station,"
    " r.message AS text FROM runs r" PERIOD_WHERE
    " AND r.verdict <> 'PASS' AND r.message LIKE 'Mac % is already registered to board %'"
    " UNION ALL "
    "SELECT l.released_utc, 'release', l.board_key, l.station, l.mac_text || ': ' || l.reason"
    " FROM releases l WHERE l.released_utc >= ?1 AND (l.released_utc < ?2 OR ?2 = '')"
    " AND (l.station = ?3 OR ?3 = '')"
    ") AS events ORDER BY at DESC, kind LIMIT 20";

// ?1 and ?2 the lowest and highest MAC counted, ?3 the start of the
// burn-rate window, and for a range with holes ?4 its mask and ?5 its value.
// The bounds let macs_used and macs_released find the MACs, and each holds
// the columns its count reads, so a million MACs are one pass over an index.
// A range without holes (ones above zeros) is exact by its bounds alone and
// has a statement without the mask check: SQLite would work out even a
// check that a bound parameter turns off once per MAC, a sixth of the time.
// The casts: an expression has no column type to convert the bound to.
#define POOL_COUNTS(IN_POOL)                                                                       \
    "SELECT count(*), count(*) FILTER (WHERE reserved_utc >= ?3 COLLATE \"C\"),"                   \
    " (SELECT count(*) FROM macs WHERE state = 'released' AND" IN_POOL ")"                        \
    " FROM macs WHERE state <> 'released' AND" IN_POOL

// A FILTER clause rather than count(CASE ...), and the times compared byte
// by byte (db.h's collation "C"), not by the server's locale: a fifth less
// on PostgreSQL over a million MACs, the same counts.
static const char kPoolSql[] = POOL_COUNTS(" mac >= ?1 AND mac <= ?2");
static const char kHoledPoolSql[] =
    POOL_COUNTS(" mac >= ?1 AND mac <= ?2 AND (mac & CAST(?4 AS BIGINT)) = CAST(?5 AS BIGINT)");

// The lowest and highest MAC on record between the range's bounds, each
// from one end of the primary key (SQLite finds min() and max() so only one
// to a SELECT; together they would read every MAC): where a count is split.
static const char kPoolSpanSql[] =
    "SELECT (SELECT min(mac) FROM macs WHERE mac >= ?1 AND mac <= ?2),"
    " (SELECT max(mac) FROM macs WHERE mac >= ?1 AND mac <= ?2)";

static_assert(kViewEvents == 20, "kEventsSql's LIMIT");

static constexpr uint64_t kMac48 = 0xFFFFFFFFFFFFull;

static long Number(const char *text)
{
    return text ? strtol(text, nullptr, 10) : 0;
}

static std::string Text(const char *text)
{
    return text ? text : "";
}

static int TakeBoards(void *ctx, int ncols, const char *const *c)
{
    if (ncols != 3)
        return 1;
    VIEW_SUMMARY *s = static_cast<VIEW_SUMMARY *>(ctx);
    s->Boards = Number(c[0]);
    s->FirstUtc = Text(c[1]);
    s->LastUtc = Text(c[2]);
    return 0;
}

static int TakeHour(void *ctx, int ncols, const char *const *c)
{
    if (ncols != 7)
        return 1;
    VIEW_FIGURES *f = static_cast<VIEW_FIGURES *>(ctx);
    VIEW_HOUR h;
    h.HourUtc = Text(c[0]);
    h.Station = Text(c[1]);
    h.Runs = Number(c[2]);
    h.FirstRuns = Number(c[3]);
    h.FirstPass = Number(c[4]);
    f->Hours.push_back(h);
    VIEW_SUMMARY &s = f->Summary;
    s.Runs += h.Runs;
    s.FirstRuns += h.FirstRuns;
    s.FirstPass += h.FirstPass;
    s.Pass += Number(c[5]);
    s.Fail += Number(c[6]);
    s.Other = s.Runs - s.Pass - s.Fail;
    return 0;
}

// Milliseconds since the start of the month of a stored time
// ("YYYY-MM-DDTHH:MM:SS.mmmZ"), or -1 when it is not of that form.
static long long MonthMs(const char *t)
{
    static const int at[] = {8, 11, 14, 17, 20};
    static const long long unit[] = {86400000, 3600000, 60000, 1000, 1};
    long long ms = 0;
    for (int k = 0; k < 5; k++) {
        int width = k == 4 ? 3 : 2, v = 0;
        for (int d = 0; d < width; d++) {
            char c = t[at[k] + d];
            if (c < '0' || c > '9')
                return -1;
            v = v * 10 + (c - '0');
        }
        ms += v * unit[k];
    }
    return ms;
}

// Per station, a count per tenth of a second; a run is minutes long, so
// one that ends in a later month than it started crossed one month's end
// and is left out rather than guessed.
using DurationCounts = std::map<std::string, std::map<long, long>>;

static int TakeDuration(void *ctx, int ncols, const char *const *c)
{
    if (ncols != 3 || !c[0] || !c[1] || !c[2] || strlen(c[1]) < 23 || strlen(c[2]) < 23)
        return 1;
    long long from = MonthMs(c[1]), to = MonthMs(c[2]);
    if (from < 0 || to < 0 || strncmp(c[1], c[2], 7) != 0)
        return 0;
    (*static_cast<DurationCounts *>(ctx))[c[0]][static_cast<long>((to - from) / 100)]++;
    return 0;
}

static int TakeMessage(void *ctx, int ncols, const char *const *c)
{
    if (ncols != 2)
        return 1;
    VIEW_MESSAGE m;
    m.Message = Text(c[0]);
    m.Count = Number(c[1]);
    static_cast<std::vector<VIEW_MESSAGE> *>(ctx)->push_back(m);
    return 0;
}

static int TakeEvent(void *ctx, int ncols, const char *const *c)
{
    if (ncols != 5)
        return 1;
    VIEW_EVENT e;
    e.WhenUtc = Text(c[0]);
    e.Kind = Text(c[1]);
    e.Board = Text(c[2]);
    e.Station = Text(c[3]);
    e.Text = Text(c[4]);
    static_cast<std::vector<VIEW_EVENT> *>(ctx)->push_back(e);
    return 0;
}

static int TakePool(void *ctx, int ncols, const char *const *c)
{
    if (ncols != 3)
        return 1;
    VIEW_POOL *p = static_cast<VIEW_POOL *>(ctx);
    p->Used = Number(c[0]);
    p->Recent = Number(c[1]);
    p->Released = Number(c[2]);
    return 0;
}

uint64_t ViewRangeSize(const VIEW_RANGE &range)
{
    uint64_t mask = range.Mask & kMac48;
    if ((range.Value & ~mask & kMac48) != 0)
        return 0;
    int free_bits = 48 - __builtin_popcountll(mask);
    return 1ull << free_bits;
}

int ViewStampMinus(const char *at, long seconds, char out[32])
{
    struct tm t = {};
    int ms = 0;
    if (sscanf(at, "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
               &t.tm_min, &t.tm_sec, &ms) != 7)
        return 1;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    time_t when = timegm(&t) - seconds;
    struct tm u;
    if (gmtime_r(&when, &u) == nullptr)
        return 1;
    if (strftime(out, 32, "%Y-%m-%dT%H:%M:%S", &u) != 19 || ms < 0 || ms > 999)
        return 1;
    snprintf(out + 19, 32 - 19, ".%03dZ", ms);
    return 0;
}

// One count of a pool's MACs from low to high, on its own connection.
struct POOL_COUNT {
    REG_DB *Db;
    const char *Sql;
    int Nparams;
    char Low[24], High[24];
    const char *Window, *Mask, *Value;
    VIEW_POOL Counts;
    int Failed;
    char Err[kDbErrorSize];
};

static void CountPool(POOL_COUNT *c)
{
    const char *params[] = {c->Low, c->High, c->Window, c->Mask, c->Value};
    c->Failed = RegDbQuery(c->Db, c->Sql, c->Nparams, params, TakePool, &c->Counts, c->Err,
                           sizeof c->Err);
}

static int TakeSpan(void *ctx, int ncols, const char *const *c)
{
    if (ncols != 2)
        return 1;
    uint64_t *span = static_cast<uint64_t *>(ctx);
    if (c[0] != nullptr && c[1] != nullptr) {
        span[0] = strtoull(c[0], nullptr, 10);
        span[1] = strtoull(c[1], nullptr, 10);
    }
    return 0;
}

static void Decimal(uint64_t v, char out[24])
{
    snprintf(out, 24, "%llu", static_cast<unsigned long long>(v));
}

// The pool's counts. With a second connection, the MACs on record are
// split at the middle of their span and the two halves counted at once,
// one on each connection (a count reads every MAC of the pool, and each
// connection keeps one core busy); the halves are two moments a few
// milliseconds apart, which a figure of use does not mind.
static int CountOnePool(REG_DB *db, REG_DB *second, VIEW_POOL *pool, const char *window,
                        char *err, size_t err_size)
{
    uint64_t mask = pool->Range.Mask & kMac48;
    uint64_t top = pool->Range.Value | (~mask & kMac48);
    // Ones above zeros: every MAC between the bounds is in the range.
    bool whole = ((~mask & kMac48) & ((~mask & kMac48) + 1)) == 0;
    char bits[24], value[24];
    Decimal(mask, bits);
    Decimal(pool->Range.Value, value);
    POOL_COUNT halves[2];
    for (POOL_COUNT &h : halves) {
        h.Db = db;
        h.Sql = whole ? kPoolSql : kHoledPoolSql;
        h.Nparams = whole ? 3 : 5;
        h.Window = window;
        h.Mask = bits;
        h.Value = value;
        h.Failed = 0;
        h.Err[0] = '\0';
    }
    uint64_t span[2] = {pool->Range.Value, top};
    if (second != nullptr) {
        char high[24];
        Decimal(top, high);
        const char *bounds[] = {value, high};
        if (RegDbQuery(db, kPoolSpanSql, 2, bounds, TakeSpan, span, err, err_size) != 0)
            return 1;
    }
    int parts = second != nullptr && span[0] < span[1] ? 2 : 1;
    uint64_t middle = span[0] + (span[1] - span[0]) / 2;
    Decimal(span[0], halves[0].Low);
    Decimal(parts == 2 ? middle : span[1], halves[0].High);
    Decimal(middle + 1, halves[1].Low);
    Decimal(span[1], halves[1].High);
    std::thread other;
    if (parts == 2) {
        halves[1].Db = second;
        try {
            other = std::thread(CountPool, &halves[1]);
        } catch (const std::system_error &) {
            CountPool(&halves[1]);  // no thread to be had: one half after the other
        }
    }
    CountPool(&halves[0]);
    if (other.joinable())
        other.join();
    for (int k = 0; k < parts; k++) {
        if (halves[k].Failed) {
            snprintf(err, err_size, "%s", halves[k].Err);
            return 1;
        }
        pool->Used += halves[k].Counts.Used;
        pool->Recent += halves[k].Counts.Recent;
        pool->Released += halves[k].Counts.Released;
    }
    return 0;
}

int LoadViewPools(REG_DB *db, REG_DB *second, const std::vector<VIEW_RANGE> &ranges,
                  const char *now_utc, std::vector<VIEW_POOL> *out, char *err, size_t err_size)
{
    out->clear();
    char window[32];
    if (ViewStampMinus(now_utc, 7L * 86400, window) != 0) {
        snprintf(err, err_size, "bad time '%s'", now_utc);
        return 1;
    }
    for (const VIEW_RANGE &range : ranges) {
        VIEW_POOL pool;
        pool.Range = range;
        pool.Total = ViewRangeSize(range);
        if (pool.Total != 0 && CountOnePool(db, second, &pool, window, err, err_size) != 0)
            return 1;
        out->push_back(pool);
    }
    return 0;
}

int LoadViewFigures(REG_DB *db, const VIEW_PERIOD *period, const std::vector<VIEW_RANGE> &ranges,
                    const char *now_utc, VIEW_FIGURES *out, char *err, size_t err_size)
{
    *out = VIEW_FIGURES{};
    const char *params[] = {period->Since, period->Until, period->Station};
    DurationCounts durations;
    struct {
        const char *sql;
        RegRowFn fn;
        void *ctx;
    } steps[] = {
        {kBoardsSql, TakeBoards, &out->Summary},
        {kHoursSql, TakeHour, out},
        {kDurationsSql, TakeDuration, &durations},
        {kMessagesSql, TakeMessage, &out->Messages},
        {kEventsSql, TakeEvent, &out->Events},
    };
    for (const auto &step : steps) {
        if (RegDbQuery(db, step.sql, 3, params, step.fn, step.ctx, err, err_size) != 0)
            return 1;
    }
    for (const auto &station : durations) {
        for (const auto &tenths : station.second) {
            VIEW_DURATION d;
            d.Station = station.first;
            d.Tenths = tenths.first;
            d.Count = tenths.second;
            out->Durations.push_back(d);
        }
    }
    return LoadViewPools(db, nullptr, ranges, now_utc, &out->Pools, err, err_size);
}
