// talvek-registry outbox: the MES feed's backlog, its dead messages, and
// sending a dead one again.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "registry_tool/commands.h"

struct BACKLOG {
    long Pending = 0, Dead = 0, Sent = 0;
    std::string Oldest;  // enqueued_utc of the oldest pending row
};

static int TakeBacklog(void *ctx, int ncols, const char *const *cols)
{
    auto *b = static_cast<BACKLOG *>(ctx);
    if (ncols != 4)
        return 1;
    b->Pending = cols[0] ? atol(cols[0]) : 0;
    b->Dead = cols[1] ? atol(cols[1]) : 0;
    b->Sent = cols[2] ? atol(cols[2]) : 0;
    b->Oldest = cols[3] ? cols[3] : "";
    return 0;
}

// Seconds since a registry time ("2026-12-07T11:05:00.123Z"); -1 if unreadable.
static long SecondsSince(const std::string &stamp)
{
    struct tm tm = {};
    if (sscanf(stamp.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
               &tm.tm_hour, &tm.tm_min, &tm.tm_sec) != 6)
        return -1;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    long age = static_cast<long>(time(nullptr) - timegm(&tm));
    return age < 0 ? 0 : age;
}

static int Backlog(REG_DB *db)
{
    BACKLOG b;
    char err[kDbErrorSize];
    if (RegDbQuery(db,
                   "SELECT sum(CASE WHEN state = 'pending' THEN 1 ELSE 0 END),"
                   " sum(CASE WHEN state = 'dead' THEN 1 ELSE 0 END),"
                   " sum(CASE WHEN state = 'sent' THEN 1 ELSE 0 END),"
                   " min(CASE WHEN state = 'pending' THEN enqueued_utc END) FROM outbox",
                   0, nullptr, TakeBacklog, &b, err, sizeof err) != 0)
        return RegToolUnavailable(err);
    printf("Pending: %ld\n", b.Pending);
    if (b.Pending > 0)
        printf("Oldest pending: %s (%ld s ago)\n", b.Oldest.c_str(), SecondsSince(b.Oldest));
    printf("Dead: %ld\n", b.Dead);
    printf("Sent (kept): %ld\n", b.Sent);
    return 0;
}

static int PrintDead(void *ctx, int ncols, const char *const *cols)
{
    if (ncols != 6)
        return 1;
    ++*static_cast<long *>(ctx);
    printf("%s  %s  %s  %s  refused %s times: %s\n", cols[0], cols[1], cols[2], cols[3],
           cols[4] ? cols[4] : "0", cols[5] ? cols[5] : "");
    return 0;
}

static int ListDead(REG_DB *db)
{
    long n = 0;
    char err[kDbErrorSize];
    if (RegDbQuery(db,
                   "SELECT unique_id, enqueued_utc, message_name, handle, rejections, last_error"
                   " FROM outbox WHERE state = 'dead' ORDER BY enqueued_utc, run_id, part",
                   0, nullptr, PrintDead, &n, err, sizeof err) != 0)
        return RegToolUnavailable(err);
    if (n == 0)
        printf("No dead messages.\n");
    return 0;
}

static int Retry(REG_DB *db, const char *id)
{
    const char *params[] = {id};
    long changed = 0;
    char err[kDbErrorSize];
    if (RegDbExec(db,
                  "UPDATE outbox SET state = 'pending', rejections = 0"
                  " WHERE unique_id = ?1 AND state = 'dead'",
                  1, params, &changed, err, sizeof err) != 0)
        return RegToolUnavailable(err);
    if (changed != 1)
        return RegToolError("no dead message %s in the outbox", id);
    printf("Message %s is pending again: the relay sends it next.\n", id);
    return 0;
}

int RegToolOutbox(REG_DB *db, int dead, const char *retry_id)
{
    if (retry_id)
        return Retry(db, retry_id);
    return dead ? ListDead(db) : Backlog(db);
}
