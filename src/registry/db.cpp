// The back-end-neutral entry points: each call goes to the back end of the
// connection, so callers write every statement once.
#include "registry/db.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "registry/db_impl.h"

void CleanReason(const char *text, char *err, size_t err_size)
{
    // Back ends report over several lines and with tabs; fold every run of
    // white space into one blank.
    size_t n = 0;
    int blank = 0;
    for (const char *s = text; *s != '\0' && n + 1 < err_size; s++) {
        if (*s == '\n' || *s == '\r' || *s == '\t' || *s == ' ') {
            blank = n > 0;
            continue;
        }
        if (blank && n + 2 < err_size)
            err[n++] = ' ';
        blank = 0;
        err[n++] = *s;
    }
    while (n > 0 && (err[n - 1] == '.' || err[n - 1] == ' '))
        n--;
    err[n] = '\0';
    if (n == 0)
        snprintf(err, err_size, "unknown error");
}

int RegDbOpen(const REGISTRY_CONF *conf, REG_DB **db, char *err, size_t err_size)
{
    *db = nullptr;
    REG_DB *d = new (std::nothrow) REG_DB();
    if (d == nullptr) {
        snprintf(err, err_size, "out of memory");
        return 1;
    }
    d->Kind = conf->Kind;
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
    if (db->Kind == REGISTRY_SQLITE)
        LiteClose(db);
    else
        PgClose(db);
    delete db;
}

int RegDbKind(const REG_DB *db)
{
    return db->Kind;
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
