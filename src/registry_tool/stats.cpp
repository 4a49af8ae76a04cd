// stats: how the line is doing, per UTC day and station. FAIL counts
// ABORTED runs too; INCOMPLETE runs (killed, or still running) apart.
#include <cstdio>

#include "registry_tool/commands.h"

static int PrintStatsRow(void *ctx, int ncols, const char *const *c)
{
    (void)ncols;
    int *count = static_cast<int *>(ctx);
    if ((*count)++ == 0)
        printf("%-10s  %-20s  %8s  %8s  %8s  %10s\n", "day (UTC)", "station", "runs", "PASS",
               "FAIL", "INCOMPLETE");
    printf("%-10s  %-20s  %8s  %8s  %8s  %10s\n", c[0] ? c[0] : "-", c[1] ? c[1] : "-", c[2], c[3],
           c[4], c[5]);
    return 0;
}

int RegToolStats(REG_DB *db)
{
    char err[kDbErrorSize];
    int count = 0;
    if (RegDbQuery(db,
                   "SELECT substr(started_utc, 1, 10) AS day, station, count(*), "
                   "sum(CASE WHEN verdict = 'PASS' THEN 1 ELSE 0 END), "
                   "sum(CASE WHEN verdict IN ('FAIL', 'ABORTED') THEN 1 ELSE 0 END), "
                   "sum(CASE WHEN verdict = 'INCOMPLETE' THEN 1 ELSE 0 END) "
                   "FROM runs GROUP BY day, station ORDER BY day, station",
                   0, nullptr, PrintStatsRow, &count, err, sizeof err) != 0)
        return RegToolError("MAC registry unavailable: %s", err);
    if (count == 0)
        printf("No runs on record.\n");
    return 0;
}
