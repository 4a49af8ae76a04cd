#include "registry_tool/relay_store.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "registry/stamp.h"

// Not the schema lock's key (db.cpp): the relay holds this one for hours.
// Any fixed number serves, as long as every relay uses the same.
constexpr long kRelayLockKey = 7417652;

static int TakeRow(void *ctx, int ncols, const char *const *cols)
{
    if (ncols != 4)
        return 1;
    auto *rows = static_cast<std::vector<OUTBOX_ROW> *>(ctx);
    OUTBOX_ROW &r = rows->emplace_back();
    r.UniqueId = cols[0] ? cols[0] : "";
    r.Name = cols[1] ? cols[1] : "";
    r.Handle = cols[2] ? cols[2] : "";
    r.Envelope = cols[3] ? cols[3] : "";
    return 0;
}

int RelayFetch(REG_DB *db, int limit, std::vector<OUTBOX_ROW> *rows, char *err, size_t err_size)
{
    char n[16];
    snprintf(n, sizeof(n), "%d", limit);
    const char *params[] = {n};
    rows->clear();
    return RegDbQuery(db,
                      "SELECT unique_id, message_name, handle, envelope FROM outbox"
                      " WHERE state = 'pending' ORDER BY enqueued_utc, run_id, part LIMIT ?1",
                      1, params, TakeRow, rows, err, err_size);
}

int RelayMarkSent(REG_DB *db, const std::vector<std::string> &ids, char *err, size_t err_size)
{
    if (ids.empty())
        return 0;
    char now[kStampSize];
    UtcStamp(now);
    REG_TRANSACTION txn(db);
    if (txn.Begin(err, err_size) != 0)
        return 1;
    for (const std::string &id : ids) {
        const char *params[] = {id.c_str(), now};
        if (RegDbExec(db,
                      "UPDATE outbox SET state = 'sent', sent_utc = ?2"
                      " WHERE unique_id = ?1 AND state = 'pending'",
                      2, params, nullptr, err, err_size) != 0)
            return 1;
    }
    return txn.Commit(err, err_size);
}

static int TakeInt(void *ctx, int ncols, const char *const *cols)
{
    *static_cast<int *>(ctx) = ncols > 0 && cols[0] ? atoi(cols[0]) : 0;
    return 0;
}

int RelayMarkRejected(REG_DB *db, const std::string &id, const char *why, int *dead, char *err,
                      size_t err_size)
{
    char limit[16];
    snprintf(limit, sizeof(limit), "%d", kRelayMaxRejections);
    const char *params[] = {id.c_str(), why, limit};
    *dead = 0;
    if (RegDbExec(db,
                  "UPDATE outbox SET rejections = rejections + 1, last_error = ?2,"
                  " state = CASE WHEN rejections + 1 >= CAST(?3 AS INTEGER) THEN 'dead' ELSE state END"
                  " WHERE unique_id = ?1 AND state = 'pending'",
                  3, params, nullptr, err, err_size) != 0)
        return 1;
    int is_dead = 0;
    if (RegDbQuery(db, "SELECT count(*) FROM outbox WHERE unique_id = ?1 AND state = 'dead'", 1,
                   params, TakeInt, &is_dead, err, err_size) != 0)
        return 1;
    *dead = is_dead;
    return 0;
}

int RelayPurge(REG_DB *db, int keep_days, long *removed, char *err, size_t err_size)
{
    time_t cutoff = time(nullptr) - static_cast<time_t>(keep_days) * 86400;
    struct tm tm;
    gmtime_r(&cutoff, &tm);
    char stamp[64];
    snprintf(stamp, sizeof(stamp), "%04d-%02d-%02dT%02d:%02d:%02d.000Z", tm.tm_year + 1900,
             tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    const char *params[] = {stamp};
    return RegDbExec(db, "DELETE FROM outbox WHERE state = 'sent' AND sent_utc < ?1", 1, params,
                     removed, err, err_size);
}

int RelayLock(REG_DB *db, char *err, size_t err_size)
{
    return RegDbTryOwnerLock(db, "relay", kRelayLockKey, err, err_size);
}
