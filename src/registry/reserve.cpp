// The reservation: after the current MACs are read and before any Fast Set
// MAC, one transaction decides for every MAC of the selected ports. The MAC
// is claimed by an INSERT that either creates the row or, on conflict, locks
// the existing one and returns its holder; there is no read-then-insert, so
// two stations claiming one MAC at once cannot both win.
#include <cstdio>
#include <cstring>

#include "mac.h"
#include "registry/board_line.h"
#include "registry/decide.h"
#include "registry/holder.h"
#include "registry/mac48.h"
#include "registry/runs.h"

static const char kClaim[] =
    "INSERT INTO macs (mac, mac_text, board_key, state, station, run_id, reserved_utc,"
    " updated_utc) VALUES (?1, ?2, ?3, 'reserved', ?4, ?5, ?6, ?6)"
    " ON CONFLICT (mac) DO UPDATE SET mac = excluded.mac"
    " RETURNING " HOLDER_COLUMNS;

static const char kHolder[] =
    "SELECT " HOLDER_COLUMNS " FROM macs WHERE mac = ?1";

static const char kTakeOver[] =
    "UPDATE macs SET board_key = ?2, state = 'reserved', station = ?3, run_id = ?4,"
    " reserved_utc = ?5, verified_utc = NULL, readback = NULL, updated_utc = ?5 WHERE mac = ?1";

static const char kRecordKey[] = "UPDATE macs SET board_key = ?2, updated_utc = ?3 WHERE mac = ?1";

// One MAC to decide. Claim: to be written or kept on the board, so it is
// reserved for this board unless another holds it. Check: on the board now
// but about to be replaced; refused when another board holds it, never
// reserved (it is leaving this board).
struct CLAIM {
    uint8_t Mac[6];
    int Claim;
};

static int AddClaim(CLAIM list[4], int n, const uint8_t mac[6], int claim)
{
    for (int i = 0; i < n; i++) {
        if (SameMac(list[i].Mac, mac)) {
            list[i].Claim |= claim;
            return n;
        }
    }
    memcpy(list[n].Mac, mac, 6);
    list[n].Claim = claim;
    return n + 1;
}

// The MACs of the selected ports: each requested MAC, and each MAC the BMC
// reported (a blank 00.. or FF.. port holds none).
static int CollectClaims(const REGISTRY_RUN *run, CLAIM list[4])
{
    int n = 0;
    for (int p = 0; p < 2; p++) {
        if (run->PortFlags[p] & REG_HAVE_REQUESTED)
            n = AddClaim(list, n, run->Requested[p], 1);
    }
    for (int p = 0; p < 2; p++) {
        int flags = run->PortFlags[p];
        const uint8_t *mac = run->Before[p];
        if (!(flags & REG_HAVE_BEFORE) || AllBytesAre(mac, 0x00) || AllBytesAre(mac, 0xFF))
            continue;
        int stays = !(flags & REG_HAVE_REQUESTED) || SameMac(mac, run->Requested[p]);
        n = AddClaim(list, n, mac, stays);
    }
    // Every station takes its rows in ascending MAC order, so two stations
    // claiming the same two MACs wait for each other instead of deadlocking.
    for (int i = 1; i < n; i++) {
        for (int j = i; j > 0 && MacToInteger(list[j].Mac) < MacToInteger(list[j - 1].Mac); j--) {
            CLAIM t = list[j];
            list[j] = list[j - 1];
            list[j - 1] = t;
        }
    }
    return n;
}

static int BoardHolds(const REGISTRY_RUN *run, const uint8_t mac[6])
{
    for (int p = 0; p < 2; p++) {
        if ((run->PortFlags[p] & REG_HAVE_BEFORE) && SameMac(run->Before[p], mac))
            return 1;
    }
    return 0;
}

static void PrintRefusal(REGISTRY_RUN *run, const uint8_t m[6], const HOLDER_ROW *h)
{
    // A holder key that is a placeholder names no board.
    const char *held_by = h->KeyNull || IsPlaceholderId(h->Key) ? nullptr : h->Key;
    char dashed[kMacDashedSize], line[kRegMessageSize];
    MacDashedText(m, dashed);
    snprintf(line, sizeof(line), "Mac %s is already registered to board %s (station %s, %s)",
             dashed, held_by != nullptr ? held_by : "unknown", h->Station, h->Reserved);
    RegistryShowRefusal(run, m, held_by, h->Station, h->Reserved);
    RegistryNoteFailure(run, line);
}

// Decides one MAC inside the transaction. 0 settled, 1 database failure,
// 2 refused (printed).
static int DecideOne(REGISTRY_RUN *run, const CLAIM *c, char *err, size_t err_size)
{
    const char *key = run->Identity.Key[0] != '\0' ? run->Identity.Key : nullptr;
    char number[kMac48TextSize], text[kMacHexSize], stamp[kStampSize];
    MacIntegerText(c->Mac, number);
    MacHexText(c->Mac, text);
    UtcStamp(stamp);

    HOLDER_ROW h;
    memset(&h, 0, sizeof(h));
    if (c->Claim) {
        const char *params[] = {number, text, key, run->Conf.Station, run->RunId, stamp};
        if (RegDbQuery(run->Db, kClaim, 6, params, TakeHolder, &h, err, err_size) != 0)
            return 1;
        if (!h.Exists) {
            snprintf(err, err_size, "the reservation returned no row");
            return 1;
        }
        if (strcmp(h.RunId, run->RunId) == 0)
            return 0;  // the row is new: reserved for this board
    } else {
        const char *params[] = {number};
        if (RegDbQuery(run->Db, kHolder, 1, params, TakeHolder, &h, err, err_size) != 0)
            return 1;
    }
    REG_HOLDER holder = {h.Exists, strcmp(h.State, "released") == 0, h.KeyNull ? nullptr : h.Key};
    int decision = RegistryDecide(&holder, run->Identity.Key, BoardHolds(run, c->Mac));
    if (decision == REG_REFUSE) {
        PrintRefusal(run, c->Mac, &h);
        return 2;
    }
    if (!c->Claim || decision == REG_KEEP)
        return 0;
    if (decision == REG_RESERVE) {
        const char *params[] = {number, key, run->Conf.Station, run->RunId, stamp};
        return RegDbExec(run->Db, kTakeOver, 5, params, nullptr, err, err_size);
    }
    if (key == nullptr && h.KeyNull)
        return 0;  // a repeat run of a board that still shows no key
    // The board's key is recorded; a placeholder the holder had is dropped.
    const char *params[] = {number, key, stamp};
    return RegDbExec(run->Db, kRecordKey, 3, params, nullptr, err, err_size);
}

// The claims and the run's first row in one transaction, rolled back unless
// all went in: 0 committed, 1 registry error, 2 a claim refused.
static int ReserveInOneTransaction(REGISTRY_RUN *run, char *err, size_t err_size)
{
    CLAIM list[4];
    int n = CollectClaims(run, list);
    REG_TRANSACTION txn(run->Db);
    int rc = txn.Begin(err, err_size);
    for (int i = 0; i < n && rc == 0; i++)
        rc = DecideOne(run, &list[i], err, err_size);
    // From here on the run is on record, whatever becomes of it.
    if (rc == 0)
        rc = RegistryBeginRun(run, err, err_size);
    if (rc == 0)
        rc = txn.Commit(err, err_size);
    return rc;
}

int ReserveClaims(REGISTRY_RUN *run)
{
    char err[kDbErrorSize];
    int rc = ReserveInOneTransaction(run, err, sizeof(err));
    if (rc == 0) {
        run->RowStarted = 1;
        return 0;
    }
    if (rc == 1)
        return RegistryUnavailable(run, err);
    run->Stopped = 1;
    return 1;
}
