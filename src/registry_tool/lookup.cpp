// who and board: what the registry knows about one MAC or one board.
#include <cstdarg>
#include <cstdio>

#include "registry/mac48.h"
#include "registry_tool/commands.h"

int RegToolError(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    fputs("talvek-registry: ", stderr);
    vfprintf(stderr, fmt, ap);
    fputs("\n", stderr);
    va_end(ap);
    return 1;
}

static const char *Shown(const char *text)
{
    return text ? text : "-";
}

// Columns of every runs listing, in this order.
#define RUN_COLUMNS                                                                                \
    "started_utc, verdict, station, board_key, run_id, "                                           \
    "eth0_before, eth0_requested, eth0_readback, eth0_result, "                                    \
    "eth1_before, eth1_requested, eth1_readback, eth1_result, message"

static int PrintRun(void *ctx, int ncols, const char *const *c)
{
    (void)ncols;
    int *count = static_cast<int *>(ctx);
    if ((*count)++ == 0)
        printf("Runs:\n");
    printf("  %s  %s  station %s  board %s  run %s\n", Shown(c[0]), Shown(c[1]), Shown(c[2]),
           c[3] ? c[3] : "unknown", Shown(c[4]));
    for (int port = 0; port < 2; port++) {
        const char *const *p = c + 5 + 4 * port;
        if (!p[0] && !p[1] && !p[2] && !p[3])
            continue;
        printf("    eth%d  before %s  requested %s  read back %s  %s\n", port, Shown(p[0]),
               Shown(p[1]), Shown(p[2]), Shown(p[3]));
    }
    if (c[13])
        printf("    message: %s\n", c[13]);
    return 0;
}

// Runs the listing query; "Runs: none" when it finds nothing.
static int ListRuns(REG_DB *db, const char *sql, const char *param)
{
    char err[kDbErrorSize];
    int count = 0;
    if (RegDbQuery(db, sql, 1, &param, PrintRun, &count, err, sizeof err) != 0)
        return RegToolError("MAC registry unavailable: %s", err);
    if (count == 0)
        printf("Runs: none\n");
    return 0;
}

// Columns: state, board_key, station, run_id, reserved_utc, verified_utc, readback, updated_utc.
static int PrintHolder(void *ctx, int ncols, const char *const *c)
{
    (void)ncols;
    *static_cast<int *>(ctx) = 1;
    printf("  state     %s (since %s)\n", Shown(c[0]), Shown(c[7]));
    printf("  board     %s\n", c[1] ? c[1] : "unknown (no board key)");
    printf("  station   %s\n", Shown(c[2]));
    printf("  run       %s\n", Shown(c[3]));
    printf("  reserved  %s\n", Shown(c[4]));
    if (c[5])
        printf("  verified  %s (read back %s)\n", c[5], Shown(c[6]));
    return 0;
}

// Columns: released_utc, station, reason, state_before, board_key, holder_station.
static int PrintRelease(void *ctx, int ncols, const char *const *c)
{
    (void)ncols;
    int *count = static_cast<int *>(ctx);
    if ((*count)++ == 0)
        printf("Releases:\n");
    printf("  %s  station %s  took it from board %s (%s, station %s)  reason: %s\n", Shown(c[0]),
           Shown(c[1]), c[4] ? c[4] : "unknown", Shown(c[3]), Shown(c[5]), Shown(c[2]));
    return 0;
}

int RegToolWho(REG_DB *db, const uint8_t mac[6])
{
    char err[kDbErrorSize];
    char number[kMac48TextSize], hex[kMacHexSize];
    MacIntegerText(mac, number);
    MacHexText(mac, hex);
    const char *by_number = number;
    printf("MAC %02X-%02X-%02X-%02X-%02X-%02X\n", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    int found = 0;
    if (RegDbQuery(
            db,
            "SELECT state, board_key, station, run_id, reserved_utc, verified_utc, readback, "
            "updated_utc FROM macs WHERE mac = ?1",
            1, &by_number, PrintHolder, &found, err, sizeof err) != 0)
        return RegToolError("MAC registry unavailable: %s", err);
    if (!found)
        printf("  state     not registered\n");
    if (ListRuns(db,
                 "SELECT " RUN_COLUMNS " FROM runs WHERE eth0_before = ?1 OR eth0_requested = ?1 "
                 "OR eth0_readback = ?1 OR eth1_before = ?1 OR eth1_requested = ?1 "
                 "OR eth1_readback = ?1 ORDER BY started_utc, run_id",
                 hex) != 0)
        return 1;
    int releases = 0;
    if (RegDbQuery(db,
                   "SELECT released_utc, station, reason, state_before, board_key, holder_station "
                   "FROM releases WHERE mac = ?1 ORDER BY released_utc, release_id",
                   1, &by_number, PrintRelease, &releases, err, sizeof err) != 0)
        return RegToolError("MAC registry unavailable: %s", err);
    return 0;
}

// Columns: mac_text, state, station, reserved_utc, verified_utc.
static int PrintBoardMac(void *ctx, int ncols, const char *const *c)
{
    (void)ncols;
    int *count = static_cast<int *>(ctx);
    if ((*count)++ == 0)
        printf("MACs:\n");
    printf("  %s  %s  station %s  reserved %s  verified %s\n", Shown(c[0]), Shown(c[1]),
           Shown(c[2]), Shown(c[3]), Shown(c[4]));
    return 0;
}

int RegToolBoard(REG_DB *db, const char *key)
{
    char err[kDbErrorSize];
    printf("Board %s\n", key);
    int macs = 0;
    if (RegDbQuery(db,
                   "SELECT mac_text, state, station, reserved_utc, verified_utc FROM macs "
                   "WHERE board_key = ?1 ORDER BY mac",
                   1, &key, PrintBoardMac, &macs, err, sizeof err) != 0)
        return RegToolError("MAC registry unavailable: %s", err);
    if (macs == 0)
        printf("MACs: none\n");
    return ListRuns(
        db, "SELECT " RUN_COLUMNS " FROM runs WHERE board_key = ?1 ORDER BY started_utc, run_id",
        key);
}
