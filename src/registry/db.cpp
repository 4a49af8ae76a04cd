// The back-end-neutral entry points: each call goes to the back end of the
// connection, so callers write every statement once.
#include "registry/db.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/file.h>
#include <unistd.h>

#include "registry/db_impl.h"

int RegDbOpen(const REGISTRY_CONF *conf, REG_DB **db, char *err, size_t err_size)
{
    *db = nullptr;
    REG_DB *d = new (std::nothrow) REG_DB();
    if (d == nullptr) {
        snprintf(err, err_size, "out of memory");
        return 1;
    }
    d->Kind = conf->Kind;
    d->OwnerLockFd = -1;
    if (conf->Kind == REGISTRY_SQLITE)
        snprintf(d->Target, sizeof(d->Target), "%s", conf->Target);
    int rc;
    if (conf->Kind == REGISTRY_SQLITE)
        rc = LiteOpen(conf->Target, d, err, err_size);
    else if (conf->Kind == REGISTRY_POSTGRES)
        rc = PgOpen(conf->Target, d, err, err_size);
    else
        rc = 1, snprintf(err, err_size, "no registry configured");
    if (rc != 0) {
        delete d;
        return 1;
    }
    *db = d;
    return 0;
}

void RegDbClose(REG_DB *db)
{
    if (db == nullptr)
        return;
    RegDbRollback(db);
    if (db->OwnerLockFd >= 0)
        close(db->OwnerLockFd);
    if (db->Kind == REGISTRY_SQLITE)
        LiteClose(db);
    else
        PgClose(db);
    delete db;
}

int RegDbMissing(const REGISTRY_CONF *conf)
{
    return conf->Kind == REGISTRY_SQLITE && access(conf->Target, F_OK) != 0;
}

void RegDbDescribe(const REG_DB *db, char *out, size_t out_size)
{
    snprintf(out, out_size, "%s", db->Description);
}

static int Run(REG_DB *db, const char *sql, int nparams, const char *const *params, long *changed,
               RegRowFn fn, void *ctx, char *err, size_t err_size)
{
    if (nparams < 0 || nparams > kDbMaxParams) {
        snprintf(err, err_size, "too many parameters");
        return 1;
    }
    if (db->Kind == REGISTRY_SQLITE)
        return LiteRun(db, sql, nparams, params, changed, fn, ctx, err, err_size);
    return PgRun(db, sql, nparams, params, changed, fn, ctx, err, err_size);
}

int RegDbExec(REG_DB *db, const char *sql, int nparams, const char *const *params, long *changed,
              char *err, size_t err_size)
{
    return Run(db, sql, nparams, params, changed, nullptr, nullptr, err, err_size);
}

int RegDbQuery(REG_DB *db, const char *sql, int nparams, const char *const *params, RegRowFn fn,
               void *ctx, char *err, size_t err_size)
{
    return Run(db, sql, nparams, params, nullptr, fn, ctx, err, err_size);
}

int RegDbBegin(REG_DB *db, char *err, size_t err_size)
{
    // SQLite takes the write lock now, waiting within the lock budget, rather
    // than at the first write, where a second writer would fail at once.
    const char *sql = db->Kind == REGISTRY_SQLITE ? "BEGIN IMMEDIATE" : "BEGIN";
    if (RegDbExec(db, sql, 0, nullptr, nullptr, err, err_size) != 0)
        return 1;
    db->InTransaction = 1;
    return 0;
}

int RegDbCommit(REG_DB *db, char *err, size_t err_size)
{
    int rc = RegDbExec(db, "COMMIT", 0, nullptr, nullptr, err, err_size);
    if (rc != 0)
        RegDbRollback(db);
    db->InTransaction = 0;
    return rc;
}

void RegDbRollback(REG_DB *db)
{
    if (!db->InTransaction)
        return;
    char ignored[kDbErrorSize];
    RegDbExec(db, "ROLLBACK", 0, nullptr, nullptr, ignored, sizeof(ignored));
    db->InTransaction = 0;
}

int RegDbLockSchema(REG_DB *db, char *err, size_t err_size)
{
    if (db->Kind == REGISTRY_SQLITE)
        return 0;  // BEGIN IMMEDIATE holds the database's one write lock
    // Any fixed number serves, as long as every TALVEK program uses the same.
    return RegDbExec(db, "SELECT pg_advisory_xact_lock(7417651)", 0, nullptr, nullptr, err,
                     err_size);
}

const char *RegDbRowLock(const REG_DB *db)
{
    return db->Kind == REGISTRY_POSTGRES ? " FOR UPDATE" : "";
}

int RegDbOneCorePerStatement(const REG_DB *db)
{
    return db->Kind == REGISTRY_SQLITE;
}

static int TakeCount(void *ctx, int ncols, const char *const *cols)
{
    *static_cast<int *>(ctx) = ncols > 0 && cols[0] != nullptr ? atoi(cols[0]) : 0;
    return 0;
}

int RegDbTableExists(REG_DB *db, const char *table, int *exists, char *err, size_t err_size)
{
    const char *sql =
        db->Kind == REGISTRY_SQLITE
            ? "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?1"
            : "SELECT count(*) FROM information_schema.tables"
              " WHERE table_name = ?1 AND table_schema = current_schema()";
    *exists = 0;
    return RegDbQuery(db, sql, 1, &table, TakeCount, exists, err, err_size);
}

static int TakeFlag(void *ctx, int ncols, const char *const *cols)
{
    *static_cast<int *>(ctx) = ncols > 0 && cols[0] && (cols[0][0] == 't' || cols[0][0] == '1');
    return 0;
}

int RegDbTryOwnerLock(REG_DB *db, const char *name, long key, char *err, size_t err_size)
{
    if (db->Kind == REGISTRY_POSTGRES) {
        char number[24];
        snprintf(number, sizeof(number), "%ld", key);
        const char *params[] = {number};
        int taken = 0;
        if (RegDbQuery(db, "SELECT pg_try_advisory_lock(CAST(?1 AS BIGINT))", 1, params,
                       TakeFlag, &taken, err, err_size) != 0)
            return 1;
        return taken ? 0 : 2;
    }
    char path[sizeof(db->Target) + 64];
    snprintf(path, sizeof(path), "%s.%s.lock", db->Target, name);
    int f = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (f < 0) {
        snprintf(err, err_size, "%s: %s", path, strerror(errno));
        return 1;
    }
    if (flock(f, LOCK_EX | LOCK_NB) != 0) {
        int e = errno;
        close(f);
        if (e == EWOULDBLOCK)
            return 2;
        snprintf(err, err_size, "%s: %s", path, strerror(e));
        return 1;
    }
    if (db->OwnerLockFd >= 0)
        close(db->OwnerLockFd);
    db->OwnerLockFd = f;
    return 0;
}
