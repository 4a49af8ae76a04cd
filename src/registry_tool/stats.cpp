// stats: how the line is doing, per local day and station.
//
// One query, the same on both back ends, gives every run in the window
// with whether it was its board's first run anywhere; the local day and
// the counting are done here, since SQLite and PostgreSQL know local time
// in different ways.
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "registry_tool/commands.h"
#include "registry_tool/local_time.h"
#include "registry_tool/text_format.h"

static const char kStatsQuery[] =
    "SELECT r.started_utc, r.station, r.board_key, r.verdict, "
    "CASE WHEN r.board_key IS NULL THEN NULL "
    "WHEN EXISTS (SELECT 1 FROM runs f WHERE f.board_key = r.board_key AND "
    "(f.started_utc < r.started_utc OR (f.started_utc = r.started_utc AND f.run_id < r.run_id))) "
    "THEN 0 ELSE 1 END "
    "FROM runs r WHERE r.started_utc >= ?1 "
    "AND (CAST(?2 AS TEXT) IS NULL OR r.started_utc < ?2) "
    "AND (CAST(?3 AS TEXT) IS NULL OR r.station = ?3) "
    "ORDER BY r.started_utc, r.run_id";

// The verdicts counted apart, in column order; a run with another verdict
// counts among the runs only.
static const char *const kVerdicts[] = {"PASS", "FAIL", "ABORTED", "INCOMPLETE"};
constexpr int kVerdictCount = 4;

// Runs of a board without a key (all its identities placeholders) count as
// runs, but name no board: they are neither first runs nor retests.
struct COUNTS {
    long long Runs = 0;
    long long Verdict[kVerdictCount] = {};
    long long FirstRuns = 0;  // boards whose first run is here
    long long FirstPass = 0;  // ... and passed
    long long Retests = 0;    // runs of a board after its first
    std::set<std::string> Boards;
};

struct STATS_CTX {
    std::map<std::pair<std::string, std::string>, COUNTS> Groups;  // by (local day, station)
    COUNTS Total;
};

static void Count(COUNTS *n, const char *board, const char *verdict, const char *first)
{
    n->Runs++;
    for (int k = 0; k < kVerdictCount; k++)
        n->Verdict[k] += verdict && strcmp(verdict, kVerdicts[k]) == 0;
    if (!board || !first)
        return;
    n->Boards.insert(board);
    bool is_first = strcmp(first, "1") == 0;
    n->FirstRuns += is_first;
    n->FirstPass += is_first && verdict && strcmp(verdict, "PASS") == 0;
    n->Retests += !is_first;
}

// Columns: started_utc, station, board_key, verdict, first (1, 0 or NULL).
static int TakeRun(void *ctx, int ncols, const char *const *c)
{
    (void)ncols;
    STATS_CTX *x = static_cast<STATS_CTX *>(ctx);
    char day[11];
    if (LocalDay(c[0], day) != 0)
        snprintf(day, sizeof day, "%.10s", c[0] ? c[0] : "unknown");
    Count(&x->Groups[{day, c[1] ? c[1] : ""}], c[2], c[3], c[4]);
    Count(&x->Total, c[2], c[3], c[4]);
    return 0;
}

// First-pass yield in percent, one decimal; "" when no board had its first run here.
static std::string Yield(const COUNTS &n)
{
    if (n.FirstRuns == 0)
        return "";
    char text[16];
    snprintf(text, sizeof text, "%.1f", 100.0 * static_cast<double>(n.FirstPass) /
                                            static_cast<double>(n.FirstRuns));
    return text;
}

static void TextRow(FILE *out, const char *day, const char *station, const COUNTS &n)
{
    std::string yield = Yield(n);
    char fpy[64] = "-";
    if (!yield.empty())
        snprintf(fpy, sizeof fpy, "%s%% (%lld/%lld)", yield.c_str(), n.FirstPass, n.FirstRuns);
    fprintf(out, "%-11s  %-20s %6lld %7zu %6lld %6lld %8lld %11lld  %-18s %7lld\n", day, station,
            n.Runs, n.Boards.size(), n.Verdict[0], n.Verdict[1], n.Verdict[2], n.Verdict[3], fpy,
            n.Retests);
}

static const char *const kFieldNames[] = {
    "day",     "day_start_utc", "station",    "runs",       "boards",     "pass",
    "fail",    "aborted",       "incomplete", "first_runs", "first_pass", "first_pass_yield",
    "retests",
};

// One CSV or JSON record; day_start and station nullptr for the totals.
static void DataRow(FILE *out, RegToolFormat format, const char *day, const char *day_start,
                    const char *station, const COUNTS &n)
{
    std::string yield = Yield(n);
    const long long numbers[] = {n.Runs,       static_cast<long long>(n.Boards.size()),
                                 n.Verdict[0], n.Verdict[1],
                                 n.Verdict[2], n.Verdict[3],
                                 n.FirstRuns,  n.FirstPass};
    const char *texts[] = {day, day_start, station};
    const size_t kFields = sizeof kFieldNames / sizeof kFieldNames[0];
    if (format == REGTOOL_JSON)
        putc('{', out);
    for (size_t k = 0; k < kFields; k++) {
        if (k > 0)
            putc(',', out);
        if (format == REGTOOL_JSON) {
            PutJsonString(out, kFieldNames[k]);
            putc(':', out);
        }
        if (k < 3) {
            if (format == REGTOOL_JSON)
                PutJsonString(out, texts[k]);
            else
                PutCsvField(out, texts[k]);
        } else if (k < 11) {
            fprintf(out, "%lld", numbers[k - 3]);
        } else if (k == 11) {
            fputs(!yield.empty() ? yield.c_str() : format == REGTOOL_JSON ? "null" : "", out);
        } else {
            fprintf(out, "%lld", n.Retests);
        }
    }
    fputs(format == REGTOOL_JSON ? "}\n" : "\r\n", out);
}

int RegToolStats(REG_DB *db, const REGTOOL_ARGS *args, FILE *out)
{
    char err[kDbErrorSize];
    STATS_CTX x;
    const char *params[] = {args->Since, args->Until[0] ? args->Until : nullptr, args->Station};
    if (RegDbQuery(db, kStatsQuery, 3, params, TakeRun, &x, err, sizeof err) != 0)
        return RegToolUnavailable(err);
    if (args->Format == REGTOOL_TEXT) {
        if (x.Total.Runs == 0) {
            fprintf(out, "No runs on record%s.\n",
                    args->Since[0] || args->Until[0] || args->Station ? " for that choice" : "");
            return 0;
        }
        fprintf(out, "%-11s  %-20s %6s %7s %6s %6s %8s %11s  %-18s %7s\n", "day (local)",
                "station", "runs", "boards", "PASS", "FAIL", "ABORTED", "INCOMPLETE",
                "first-pass yield", "retests");
        for (const auto &[where, n] : x.Groups)
            TextRow(out, where.first.c_str(), where.second.c_str(), n);
        TextRow(out, "total", "", x.Total);
        return 0;
    }
    if (args->Format == REGTOOL_CSV) {
        for (size_t k = 0; k < sizeof kFieldNames / sizeof kFieldNames[0]; k++)
            fprintf(out, "%s%s", k ? "," : "", kFieldNames[k]);
        fputs("\r\n", out);
    }
    for (const auto &[where, n] : x.Groups) {
        char start[kStampSize];
        bool known = LocalDayStartUtc(where.first.c_str(), 0, start) == 0;
        DataRow(out, args->Format, where.first.c_str(), known ? start : nullptr,
                where.second.c_str(), n);
    }
    DataRow(out, args->Format, "total", nullptr, nullptr, x.Total);
    return 0;
}
