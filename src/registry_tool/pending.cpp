// pending: MACs reserved and never verified, what a line engineer chases
// after a crash or a power cut at a station.
#include <cstdio>
#include <ctime>

#include "registry_tool/commands.h"
#include "registry_tool/local_time.h"

struct PENDING_CTX {
    time_t Now;
    int Count;
};

// Columns: mac_text, board_key, station, run_id, reserved_utc.
static int PrintPending(void *ctx, int ncols, const char *const *c)
{
    (void)ncols;
    PENDING_CTX *x = static_cast<PENDING_CTX *>(ctx);
    if (x->Count++ == 0)
        printf("Reserved, never verified (oldest first):\n");
    char local[64], age[32] = "unknown";
    LocalTimeText(c[4], local, sizeof local);
    time_t reserved;
    if (ParseUtcStamp(c[4], &reserved) == 0)
        AgeText(static_cast<long long>(x->Now - reserved), age, sizeof age);
    printf("  %s  age %s  reserved %s\n    board %s  station %s  run %s\n", c[0] ? c[0] : "-", age,
           local, c[1] ? c[1] : "unknown", c[2] ? c[2] : "-", c[3] ? c[3] : "-");
    return 0;
}

int RegToolPending(REG_DB *db, long long older_than)
{
    char err[kDbErrorSize], cutoff[kStampSize];
    PENDING_CTX x = {time(nullptr), 0};
    FormatUtcStamp(x.Now - static_cast<time_t>(older_than), cutoff);
    const char *param = cutoff;
    // Without --older-than every reservation counts, also one a station's
    // clock put a little ahead of this machine's.
    const char *sql = older_than > 0
                          ? "SELECT mac_text, board_key, station, run_id, reserved_utc FROM macs "
                            "WHERE state = 'reserved' AND reserved_utc <= ?1 "
                            "ORDER BY reserved_utc, mac"
                          : "SELECT mac_text, board_key, station, run_id, reserved_utc FROM macs "
                            "WHERE state = 'reserved' ORDER BY reserved_utc, mac";
    if (RegDbQuery(db, sql, older_than > 0 ? 1 : 0, &param, PrintPending, &x, err, sizeof err) != 0)
        return RegToolUnavailable(err);
    if (x.Count == 0)
        printf("No MAC is reserved without being verified%s.\n",
               older_than > 0 ? " for that long" : "");
    return 0;
}
