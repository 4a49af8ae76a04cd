#include "registry/board_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "mac.h"
#include "registry/utf8.h"

void FitColumns(const char *text, size_t columns, char *out, size_t out_size)
{
    // First pass: how many characters there are; a cut keeps columns - 3
    // of them and adds "...".
    size_t count = 0;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    for (const unsigned char *q = p; *q != '\0'; count++) {
        int len = Utf8SequenceLength(q);
        q += len == 0 ? 1 : len;
    }
    size_t keep = count <= columns ? count : (columns >= 3 ? columns - 3 : 0);
    size_t n = 0;
    for (size_t c = 0; c < keep && *p != '\0'; c++) {
        int len = Utf8SequenceLength(p);
        len = len == 0 ? 1 : len;
        if (n + static_cast<size_t>(len) >= out_size)
            break;
        memcpy(out + n, p, static_cast<size_t>(len));
        n += static_cast<size_t>(len);
        p += len;
    }
    if (keep < count && n + 4 <= out_size) {
        memcpy(out + n, "...", 3);
        n += 3;
    }
    out[n] = '\0';
}

void GroupGuid(const char *key, char *out, size_t out_size)
{
    size_t len = strlen(key);
    int hex = len == 32;
    for (size_t i = 0; hex && i < len; i++)
        hex = IsHexDigit(key[i]);
    if (!hex) {
        snprintf(out, out_size, "%s", key);
        return;
    }
    snprintf(out, out_size, "%.8s-%.4s-%.4s-%.4s-%.12s", key, key + 8, key + 12, key + 16,
             key + 20);
}

void LocalTimeOfStamp(const char *stamp, char *out, size_t out_size)
{
    struct tm tm;
    memset(&tm, 0, sizeof(tm));
    if (sscanf(stamp, "%4d-%2d-%2dT%2d:%2d:%2d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
               &tm.tm_min, &tm.tm_sec) != 6) {
        snprintf(out, out_size, "%s", stamp);
        return;
    }
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    time_t t = timegm(&tm);
    struct tm local;
    if (t == static_cast<time_t>(-1) || localtime_r(&t, &local) == nullptr ||
        strftime(out, out_size, "%Y-%m-%d %H:%M:%S", &local) == 0)
        snprintf(out, out_size, "%s", stamp);
}

// Prints prefix and value on one line of at most 80 columns.
static void PrintFitted(const char *prefix, const char *value)
{
    char fitted[4 * kScreenColumns + 1];
    FitColumns(value, kScreenColumns - strlen(prefix), fitted, sizeof(fitted));
    printf("%s%s\n", prefix, fitted);
}

void ShowBoardLine(const REGISTRY_RUN *run)
{
    const BOARD_IDENTITY *id = &run->Identity;
    // The key is a copy of the first real field of these, in this order.
    static const struct {
        int Field;
        const char *Name;
    } kKeyFields[] = {
        {ID_SYSTEM_GUID, "GUID"}, {ID_PRODUCT_UUID, "UUID"}, {ID_BOARD_SERIAL, "serial"}};
    for (const auto &f : kKeyFields) {
        if (id->Key[0] == '\0' || id->Placeholder[f.Field] || strcmp(id->Value[f.Field], id->Key))
            continue;
        char value[kIdValueSize + 8];
        GroupGuid(id->Key, value, sizeof(value));
        char prefix[32];
        snprintf(prefix, sizeof(prefix), "Board: %s ", f.Name);
        PrintFitted(prefix, value);
        return;
    }
    puts("Board: no identity (GUID, UUID and serials are placeholders)");
}

// The current local day as the UTC stamps of its first moment and of the
// next day's, so that the stored stamps compare as text.
static void LocalDay(char from[kStampSize], char to[kStampSize])
{
    time_t now = time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    tm.tm_hour = 0;
    tm.tm_min = 0;
    tm.tm_sec = 0;
    tm.tm_isdst = -1;
    time_t start = mktime(&tm);
    tm.tm_mday += 1;
    tm.tm_isdst = -1;
    time_t end = mktime(&tm);
    time_t bounds[2] = {start, end};
    char *out[2] = {from, to};
    for (int k = 0; k < 2; k++) {
        struct tm u;
        gmtime_r(&bounds[k], &u);
        char text[64];
        snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.000Z",
                 (u.tm_year + 1900) % 10000, u.tm_mon + 1, u.tm_mday, u.tm_hour, u.tm_min,
                 u.tm_sec);
        memcpy(out[k], text, kStampSize - 1);
        out[k][kStampSize - 1] = '\0';
    }
}

// A board passes at its first run of the day when no run of it at this
// station started earlier that day. Each run's first start comes from one
// sort of the day's runs: asking "is there an earlier run" per run would
// scan the day once per run, and a station's day holds thousands.
static const char kDay[] =
    "SELECT COUNT(*), COUNT(DISTINCT board_key),"
    " COALESCE(SUM(CASE WHEN verdict = 'PASS' THEN 1 ELSE 0 END), 0),"
    " COALESCE(SUM(CASE WHEN board_key IS NOT NULL AND verdict = 'PASS'"
    "  AND started_utc = first_utc THEN 1 ELSE 0 END), 0)"
    " FROM (SELECT board_key, verdict, started_utc,"
    "  MIN(started_utc) OVER (PARTITION BY board_key) AS first_utc"
    "  FROM runs WHERE station = ?1 AND started_utc >= ?2 AND started_utc < ?3) AS day";

static int TakeCounts(void *ctx, int ncols, const char *const *cols)
{
    long *counts = static_cast<long *>(ctx);
    if (ncols < 4)
        return 1;
    for (int k = 0; k < 4; k++)
        counts[k] = cols[k] != nullptr ? atol(cols[k]) : 0;
    return 0;
}

void RegistryShowDay(REGISTRY_RUN *run)
{
    char from[kStampSize], to[kStampSize];
    LocalDay(from, to);
    const char *params[] = {run->Conf.Station, from, to};
    long counts[4] = {0, 0, 0, 0};  // runs, boards, PASS, boards passing at their first run
    char err[kDbErrorSize];
    if (RegDbQuery(run->Db, kDay, 3, params, TakeCounts, counts, err, sizeof(err)) != 0)
        return;
    char yield[32] = "n/a";
    if (counts[1] > 0)
        snprintf(yield, sizeof(yield), "%.1f%%", 100.0 * counts[3] / counts[1]);
    char tail[160];
    int n = snprintf(tail, sizeof(tail), ": runs %ld, boards %ld, PASS %ld, first-pass yield %s",
                     counts[0], counts[1], counts[2], yield);
    const char kHead[] = "Today at ";
    char station[4 * kScreenColumns + 1];
    size_t room = kScreenColumns - (sizeof(kHead) - 1);
    room = static_cast<size_t>(n) < room ? room - static_cast<size_t>(n) : 1;
    FitColumns(run->Conf.Station, room, station, sizeof(station));
    printf("%s%s%s\n", kHead, station, tail);
}
