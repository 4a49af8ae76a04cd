// who and board: what the registry knows about one MAC or one board.
#include <cstdarg>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "registry/mac48.h"
#include "registry_tool/commands.h"
#include "registry_tool/local_time.h"

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

int RegToolUnavailable(const char *reason)
{
    return RegToolError("MAC registry unavailable: %s", reason);
}

static const char *Shown(const char *text)
{
    return text ? text : "-";
}

// A stored time as people read it: local time with its zone.
struct LOCAL {
    char Text[64];
    explicit LOCAL(const char *stamp) { LocalTimeText(stamp, Text, sizeof Text); }
};

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
    printf("  %s  %s  station %s  board %s  run %s\n", LOCAL(c[0]).Text, Shown(c[1]), Shown(c[2]),
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
        return RegToolUnavailable(err);
    if (count == 0)
        printf("Runs: none\n");
    return 0;
}

// Columns: state, board_key, station, run_id, reserved_utc, verified_utc, readback, updated_utc.
static int PrintHolder(void *ctx, int ncols, const char *const *c)
{
    (void)ncols;
    *static_cast<int *>(ctx) = 1;
    printf("  state     %s (since %s)\n", Shown(c[0]), LOCAL(c[7]).Text);
    printf("  board     %s\n", c[1] ? c[1] : "unknown (no board key)");
    printf("  station   %s\n", Shown(c[2]));
    printf("  run       %s\n", Shown(c[3]));
    printf("  reserved  %s\n", LOCAL(c[4]).Text);
    if (c[5])
        printf("  verified  %s (read back %s)\n", LOCAL(c[5]).Text, Shown(c[6]));
    return 0;
}

// Columns: released_utc, station, reason, state_before, board_key, holder_station.
static int PrintRelease(void *ctx, int ncols, const char *const *c)
{
    (void)ncols;
    int *count = static_cast<int *>(ctx);
    if ((*count)++ == 0)
        printf("Releases:\n");
    printf("  %s  station %s  took it from board %s (%s, station %s)  reason: %s\n",
           LOCAL(c[0]).Text, Shown(c[1]), c[4] ? c[4] : "unknown", Shown(c[3]), Shown(c[5]),
           Shown(c[2]));
    return 0;
}

static int TakeCount(void *ctx, int ncols, const char *const *c)
{
    *static_cast<long long *>(ctx) = ncols > 0 && c[0] ? atoll(c[0]) : 0;
    return 0;
}

// Where runs name a MAC (12 hex digits, ?2): every column "who" searches.
#define RUNS_NAMING_MAC                                                                            \
    "eth0_before = ?2 OR eth0_requested = ?2 OR eth0_readback = ?2 OR eth1_before = ?2 "           \
    "OR eth1_requested = ?2 OR eth1_readback = ?2"

int RegToolWho(REG_DB *db, const uint8_t mac[6])
{
    char err[kDbErrorSize];
    char number[kMac48TextSize], hex[kMacHexSize], dashed[kMacDashedSize];
    MacIntegerText(mac, number);
    MacHexText(mac, hex);
    MacDashedText(mac, dashed);
    const char *params[] = {number, hex};
    long long seen = 0;
    if (RegDbQuery(db,
                   // The usual case, a MAC the registry holds, costs one
                   // look at the primary key.
                   "SELECT CASE WHEN EXISTS (SELECT 1 FROM macs WHERE mac = ?1) "
                   "OR EXISTS (SELECT 1 FROM releases WHERE mac = ?1) "
                   "OR EXISTS (SELECT 1 FROM runs WHERE " RUNS_NAMING_MAC ") THEN 1 ELSE 0 END",
                   2, params, TakeCount, &seen, err, sizeof err) != 0)
        return RegToolUnavailable(err);
    if (seen == 0)
        return RegToolError(
            "MAC %s is unknown to the registry: no reservation, run or release names it", dashed);
    printf("MAC %s\n", dashed);
    int found = 0;
    if (RegDbQuery(
            db,
            "SELECT state, board_key, station, run_id, reserved_utc, verified_utc, readback, "
            "updated_utc FROM macs WHERE mac = ?1",
            1, params, PrintHolder, &found, err, sizeof err) != 0)
        return RegToolUnavailable(err);
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
                   1, params, PrintRelease, &releases, err, sizeof err) != 0)
        return RegToolUnavailable(err);
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
           Shown(c[2]), LOCAL(c[3]).Text, LOCAL(c[4]).Text);
    return 0;
}

// The boards one lookup names; more are reported, not listed.
constexpr int kMaxBoards = 20;

struct BOARD_KEYS {
    int Count;
    char Key[kMaxBoards][kRegToolKeyMax + 1];
};

static int TakeBoardKey(void *ctx, int ncols, const char *const *c)
{
    BOARD_KEYS *keys = static_cast<BOARD_KEYS *>(ctx);
    if (ncols > 0 && c[0] && keys->Count < kMaxBoards)
        snprintf(keys->Key[keys->Count], sizeof keys->Key[0], "%s", c[0]);
    keys->Count++;
    return 0;
}

// A GUID or UUID as the operand may give it (either case, dashes or none)
// in the form the registry stores a System GUID: 32 lower-case hex digits.
// nullptr when the operand is no GUID.
static const char *GuidDigits(const char *key, char out[33])
{
    size_t n = 0;
    for (const char *p = key; *p; p++) {
        if (*p == '-')
            continue;
        if (n == 32 || !isxdigit(static_cast<unsigned char>(*p)))
            return nullptr;
        out[n++] = static_cast<char>(tolower(static_cast<unsigned char>(*p)));
    }
    out[n] = '\0';
    return n == 32 ? out : nullptr;
}

int RegToolBoard(REG_DB *db, const char *key)
{
    char err[kDbErrorSize], digits[33];
    // A board is named by its key in any case, by a GUID or UUID key with or
    // without its dashes, or by the board serial its runs read.
    const char *params[] = {key, GuidDigits(key, digits)};
    static BOARD_KEYS keys;
    keys.Count = 0;
    if (RegDbQuery(db,
                   "SELECT board_key FROM macs WHERE lower(board_key) = lower(CAST(?1 AS TEXT)) "
                   "OR lower(replace(board_key, '-', '')) = ?2 "
                   "UNION SELECT board_key FROM runs WHERE board_key IS NOT NULL AND "
                   "(lower(board_key) = lower(CAST(?1 AS TEXT)) OR lower(replace(board_key, '-', '')) = ?2 "
                   "OR lower(board_serial) = lower(CAST(?1 AS TEXT))) ORDER BY 1",
                   2, params, TakeBoardKey, &keys, err, sizeof err) != 0)
        return RegToolUnavailable(err);
    if (keys.Count == 0)
        return RegToolError("board %s is unknown to the registry: no MAC or run names it", key);
    for (int k = 0; k < keys.Count && k < kMaxBoards; k++) {
        const char *board = keys.Key[k];
        printf("%sBoard %s\n", k ? "\n" : "", board);
        int macs = 0;
        if (RegDbQuery(db,
                       "SELECT mac_text, state, station, reserved_utc, verified_utc FROM macs "
                       "WHERE board_key = ?1 ORDER BY mac",
                       1, &board, PrintBoardMac, &macs, err, sizeof err) != 0)
            return RegToolUnavailable(err);
        if (macs == 0)
            printf("MACs: none\n");
        if (ListRuns(db,
                     "SELECT " RUN_COLUMNS
                     " FROM runs WHERE board_key = ?1 ORDER BY started_utc, run_id",
                     board) != 0)
            return 1;
    }
    if (keys.Count > kMaxBoards)
        printf("\n%d more boards match %s: name one by its GUID.\n", keys.Count - kMaxBoards, key);
    return 0;
}
