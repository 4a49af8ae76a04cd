// release: frees a MAC for rework, on record.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <unistd.h>

#include "registry/holder.h"
#include "registry/mac48.h"
#include "registry/stamp.h"
#include "registry_tool/commands.h"

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
    char sql[200];
    snprintf(sql, sizeof sql, "SELECT " HOLDER_COLUMNS " FROM macs WHERE mac = ?1%s",
             RegDbRowLock(db));
    if (RegDbQuery(db, sql, 1, &by_number, TakeHolder, h, err, err_size) != 0)
        return 1;
    if (!h->Exists || strcmp(h->State, "released") == 0)
        return 0;
    const char *update[] = {now, number};
    if (RegDbExec(db, "UPDATE macs SET state = 'released', updated_utc = ?1 WHERE mac = ?2", 2,
                  update, nullptr, err, err_size) != 0)
        return 1;
    const char *insert[] = {id,         number,   hex,      h->KeyNull ? nullptr : h->Key,
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
    REG_TRANSACTION txn(db);
    if (txn.Begin(err, sizeof err) != 0 ||
        ReleaseLocked(db, mac, reason, station, &h, err, sizeof err) != 0)
        return RegToolUnavailable(err);
    char dashed[kMacDashedSize];
    MacDashedText(mac, dashed);
    if (!h.Exists || strcmp(h.State, "released") == 0)
        return RegToolError("MAC %s is %s; nothing released", dashed,
                            h.Exists ? "already released" : "not registered");
    if (txn.Commit(err, sizeof err) != 0)
        return RegToolError("MAC registry unavailable: %s; nothing released", err);
    printf("Released %s: it was %s for board %s (station %s, run %s).\n", dashed, h.State,
           h.KeyNull ? "unknown" : h.Key, h.Station, h.RunId);
    // The engineer must not run it again, or think it undone, because the
    // report was lost (a full disk, a closed pipe).
    if (fflush(stdout) != 0 || ferror(stdout))
        return RegToolError("MAC %s is released (committed), but this report could not be "
                            "written to standard output",
                            dashed);
    return 0;
}
