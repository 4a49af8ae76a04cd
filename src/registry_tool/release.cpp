// release: frees a MAC for rework, on record.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <unistd.h>

#include "registry/mac48.h"
#include "registry/stamp.h"
#include "registry_tool/commands.h"

struct HOLDER_ROW {
    int Found;
    char State[16];
    char Key[256];
    int HasKey;
    char Station[kConfStationSize];
    char RunId[kUuidSize];
};

static void CopyText(char *dst, size_t size, const char *src)
{
    snprintf(dst, size, "%s", src ? src : "");
}

// Columns: state, board_key, station, run_id.
static int TakeHolder(void *ctx, int ncols, const char *const *c)
{
    (void)ncols;
    HOLDER_ROW *h = static_cast<HOLDER_ROW *>(ctx);
    h->Found = 1;
    CopyText(h->State, sizeof h->State, c[0]);
    h->HasKey = c[1] != nullptr;
    CopyText(h->Key, sizeof h->Key, c[1]);
    CopyText(h->Station, sizeof h->Station, c[2]);
    CopyText(h->RunId, sizeof h->RunId, c[3]);
    return 0;
}

// A user name as it goes on record: the characters of ordinary account
// names, anything else (SUDO_USER is only an environment variable) as '?'.
static void PutUserName(const char *name, char *out, size_t size)
{
    size_t n = 0;
    for (const char *p = name; *p && n + 1 < size && n < 32; p++)
        out[n++] = isalnum(static_cast<unsigned char>(*p)) || strchr("._-@$", *p) ? *p : '?';
    out[n] = '\0';
}

// The station a release is made at, with who made it beside it: the account
// that runs this program and, under sudo, the user behind it,
// "line3-st07 (by root, sudo from alice)". It goes into releases.station.
static void ReleasedAt(const char *station, char *out, size_t size)
{
    char user[40], sudo[40] = "";
    struct passwd *pw = getpwuid(geteuid());
    const char *login = getenv("LOGNAME");
    if (pw != nullptr && pw->pw_name != nullptr)
        PutUserName(pw->pw_name, user, sizeof user);
    else if (login != nullptr && login[0] != '\0')
        PutUserName(login, user, sizeof user);
    else
        snprintf(user, sizeof user, "uid %u", static_cast<unsigned>(geteuid()));
    const char *behind = getenv("SUDO_USER");
    if (behind != nullptr && behind[0] != '\0')
        PutUserName(behind, sudo, sizeof sudo);
    snprintf(out, size, "%s (by %s%s%s)", station, user, sudo[0] ? ", sudo from " : "", sudo);
}

// Inside the transaction: the holder is read and replaced under the write
// lock (SQLite) or the row lock (PostgreSQL's FOR UPDATE), so a station
// reserving the MAC at the same moment sees it held or released, never half.
static int ReleaseLocked(REG_DB *db, const uint8_t mac[6], const char *reason, const char *station,
                         HOLDER_ROW *h, char *err, size_t err_size)
{
    char number[kMac48TextSize], hex[kMacHexSize], now[kStampSize], id[kUuidSize];
    MacIntegerText(mac, number);
    MacHexText(mac, hex);
    UtcStamp(now);
    if (NewUuid(id) != 0) {
        snprintf(err, err_size, "no random release id from the kernel");
        return 1;
    }
    const char *by_number = number;
    const char *lock = RegDbKind(db) == REGISTRY_POSTGRES ? " FOR UPDATE" : "";
    char sql[200];
    snprintf(sql, sizeof sql, "SELECT state, board_key, station, run_id FROM macs WHERE mac = ?1%s",
             lock);
    if (RegDbQuery(db, sql, 1, &by_number, TakeHolder, h, err, err_size) != 0)
        return 1;
    if (!h->Found || strcmp(h->State, "released") == 0)
        return 0;
    const char *update[] = {now, number};
    if (RegDbExec(db, "UPDATE macs SET state = 'released', updated_utc = ?1 WHERE mac = ?2", 2,
                  update, nullptr, err, err_size) != 0)
        return 1;
    const char *insert[] = {id,         number,   hex,      h->HasKey ? h->Key : nullptr,
                            h->Station, h->RunId, h->State, station,
                            reason,     now};
    return RegDbExec(db,
                     "INSERT INTO releases (release_id, mac, mac_text, board_key, holder_station, "
                     "holder_run_id, state_before, station, reason, released_utc) "
                     "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)",
                     10, insert, nullptr, err, err_size);
}

int RegToolRelease(REG_DB *db, const uint8_t mac[6], const char *reason, const char *station)
{
    char err[kDbErrorSize];
    HOLDER_ROW h{};
    char at[kConfStationSize + 100];
    ReleasedAt(station, at, sizeof at);
    station = at;
    if (RegDbBegin(db, err, sizeof err) != 0)
        return RegToolError("MAC registry unavailable: %s", err);
    if (ReleaseLocked(db, mac, reason, station, &h, err, sizeof err) != 0) {
        RegDbRollback(db);
        return RegToolError("MAC registry unavailable: %s", err);
    }
    if (!h.Found || strcmp(h.State, "released") == 0) {
        RegDbRollback(db);
        return RegToolError("MAC %02X-%02X-%02X-%02X-%02X-%02X is %s; nothing released", mac[0],
                            mac[1], mac[2], mac[3], mac[4], mac[5],
                            h.Found ? "already released" : "not registered");
    }
    if (RegDbCommit(db, err, sizeof err) != 0)
        return RegToolError("MAC registry unavailable: %s; nothing released", err);
    printf("Released %02X-%02X-%02X-%02X-%02X-%02X: it was %s for board %s (station %s, run %s).\n",
           mac[0], mac[1], mac[2], mac[3], mac[4], mac[5], h.State, h.HasKey ? h.Key : "unknown",
           h.Station, h.RunId);
    // The engineer must not run it again, or think it undone, because the
    // report was lost (a full disk, a closed pipe).
    if (fflush(stdout) != 0 || ferror(stdout))
        return RegToolError("MAC %02X-%02X-%02X-%02X-%02X-%02X is released (committed), but this "
                            "report could not be written to standard output",
                            mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return 0;
}
