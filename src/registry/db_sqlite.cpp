// The SQLite back end (libsqlite3): a station's own registry file.
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "registry/db_impl.h"

static int LiteFail(REG_DB *db, const char *what, char *err, size_t err_size)
{
    char reason[kDbErrorSize];
    snprintf(reason, sizeof(reason), "%s%s", what, sqlite3_errmsg(db->Lite));
    CleanReason(reason, err, err_size);
    return 1;
}

static long NowMs()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

// Waits one step for a lock another station holds, counting the time against
// the connection's budget. 1 to try again, 0 when the budget is spent.
static int WaitForLock(void *ctx, int)
{
    REG_DB *db = static_cast<REG_DB *>(ctx);
    if (db->LockWaitedMs >= kDbLockWaitMs)
        return 0;
    // Short steps: the lock is held for a commit or two (a few ms), and a
    // long sleep leaves it free while the waiters doze, which at eight
    // stations made some runs wait a quarter of a second.
    long start = NowMs();
    sqlite3_sleep(1);
    db->LockWaitedMs += NowMs() - start;
    return 1;
}

// Turning a new file to WAL needs the file to itself, and SQLite answers
// "database is locked" at once, not through the busy handler, while another
// station is doing the same (many stations starting on an empty file). The
// switch is tried again within the same lock budget.
static int SetWal(REG_DB *db, char *err, size_t err_size)
{
    for (;;) {
        if (LiteRun(db, "PRAGMA journal_mode=WAL", 0, nullptr, nullptr, nullptr, nullptr, err,
                    err_size) == 0)
            return 0;
        if ((sqlite3_errcode(db->Lite) & 0xFF) != SQLITE_BUSY || !WaitForLock(db, 0))
            return 1;
    }
}

// Byte order under the name PostgreSQL gives it, "C": a statement written
// once can ask both back ends to compare stored times byte by byte, which
// on PostgreSQL spares the server's locale rules (the same order for
// these ASCII texts, at a fraction of the cost).
static int ByteOrder(void *, int a_size, const void *a, int b_size, const void *b)
{
    int c = memcmp(a, b, static_cast<size_t>(a_size < b_size ? a_size : b_size));
    return c != 0 ? c : a_size - b_size;
}

int LiteOpen(const char *path, REG_DB *db, char *err, size_t err_size)
{
    int rc = sqlite3_open_v2(path, &db->Lite, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        char what[kDbErrorSize];
        snprintf(what, sizeof(what), "%.150s: ", path);
        LiteFail(db, what, err, err_size);
        LiteClose(db);
        return 1;
    }
    snprintf(db->Description, sizeof(db->Description), "sqlite %s", path);
    sqlite3_busy_handler(db->Lite, WaitForLock, db);
    if (sqlite3_create_collation_v2(db->Lite, "C", SQLITE_UTF8, nullptr, ByteOrder, nullptr) !=
        SQLITE_OK) {
        LiteFail(db, "", err, err_size);
        LiteClose(db);
        return 1;
    }
    // WAL lets readers (talvek-registry who/export) run beside a station's
    // write; synchronous=FULL makes every committed reservation survive a
    // power cut of the station.
    if (SetWal(db, err, err_size) != 0 ||
        LiteRun(db, "PRAGMA synchronous=FULL", 0, nullptr, nullptr, nullptr, nullptr, err,
                err_size) != 0) {
        LiteClose(db);
        return 1;
    }
    return 0;
}

void LiteClose(REG_DB *db)
{
    sqlite3_close(db->Lite);
    db->Lite = nullptr;
}

static int Bind(sqlite3_stmt *st, int nparams, const char *const *params)
{
    for (int i = 0; i < nparams; i++) {
        int rc = params[i] == nullptr
                     ? sqlite3_bind_null(st, i + 1)
                     : sqlite3_bind_text(st, i + 1, params[i], -1, SQLITE_TRANSIENT);
        if (rc != SQLITE_OK)
            return rc;
    }
    return SQLITE_OK;
}

int LiteRun(REG_DB *db, const char *sql, int nparams, const char *const *params, long *changed,
            RegRowFn fn, void *ctx, char *err, size_t err_size)
{
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db->Lite, sql, -1, &st, nullptr) != SQLITE_OK)
        return LiteFail(db, "", err, err_size);
    if (Bind(st, nparams, params) != SQLITE_OK) {
        LiteFail(db, "", err, err_size);
        sqlite3_finalize(st);
        return 1;
    }
    int rc;
    err[0] = '\0';
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        if (fn == nullptr)
            continue;
        const char *cols[kDbMaxColumns];
        int n = sqlite3_column_count(st);
        if (n > kDbMaxColumns)
            n = kDbMaxColumns;
        for (int c = 0; c < n; c++)
            cols[c] = reinterpret_cast<const char *>(sqlite3_column_text(st, c));
        if (fn(ctx, n, cols) != 0) {
            sqlite3_finalize(st);
            if (err[0] == '\0')
                snprintf(err, err_size, "stopped");
            return 1;
        }
    }
    if (rc != SQLITE_DONE) {
        LiteFail(db, "", err, err_size);
        sqlite3_finalize(st);
        return 1;
    }
    if (changed != nullptr)
        *changed = sqlite3_changes(db->Lite);
    sqlite3_finalize(st);
    return 0;
}
