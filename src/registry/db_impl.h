// Inside the database layer: the connection record and the two back ends
// behind the dispatch in db.cpp. Nothing outside src/registry/db*.cpp uses it.
#ifndef TALVEK_REGISTRY_DB_IMPL_H
#define TALVEK_REGISTRY_DB_IMPL_H

#include "registry/db.h"

struct sqlite3;
struct pg_conn;

struct REG_DB {
    int Kind;  // REGISTRY_SQLITE or REGISTRY_POSTGRES
    sqlite3 *Lite;
    pg_conn *Pg;
    int InTransaction;  // RegDbClose rolls back what is still open
    long LockWaitedMs;  // SQLite: time spent waiting for other stations' locks
    int OwnerLockFd;    // SQLite: the flock RegDbTryOwnerLock took; -1 when none
    char Target[kConfTargetSize];  // SQLite: the file; PostgreSQL: "" (no password kept)
    char Description[300];
};

// (db_reason.cpp) Makes a back end's message one line without a final period, so that it
// fits "Error! MAC registry unavailable: <reason>.".
void CleanReason(const char *text, char *err, size_t err_size);

// Names the PostgreSQL server conninfo points at, "postgresql HOST[:PORT]/DB",
// from libpq's own parse of it, for the reason of a failed connection: libpq
// quotes a malformed string whole in its messages, and a URI whose password
// holds '@', '/' or ':' parses into a host, port or database made of pieces
// of the password. Such a string, and one libpq cannot parse, fails with only
// "the PostgreSQL connection string is malformed" in err: no part of it.
int PgNameServer(const char *conninfo, char *out, size_t out_size, char *err, size_t err_size);

int LiteOpen(const char *path, REG_DB *db, char *err, size_t err_size);
void LiteClose(REG_DB *db);
int LiteRun(REG_DB *db, const char *sql, int nparams, const char *const *params, long *changed,
            RegRowFn fn, void *ctx, char *err, size_t err_size);

int PgOpen(const char *conninfo, REG_DB *db, char *err, size_t err_size);
void PgClose(REG_DB *db);
int PgRun(REG_DB *db, const char *sql, int nparams, const char *const *params, long *changed,
          RegRowFn fn, void *ctx, char *err, size_t err_size);

#endif
