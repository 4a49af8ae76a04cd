// The registry's database layer: one small interface over SQLite
// (libsqlite3) and PostgreSQL (libpq), so that every statement is written
// once. Statements use numbered placeholders ?1, ?2, ... ; the PostgreSQL
// back end turns them into $1, $2, ... . Every value travels as a bound
// text parameter (nullptr binds SQL NULL), never pasted into the statement.
// Integers are bound as their decimal text; both back ends convert it for an
// integer column or comparison. Both know the collation "C", byte order
// (SQLite's connections are given it), for comparisons that need not follow
// the server's locale.
//
// Every function that can fail returns 0 on success and 1 on failure, with a
// one-line reason (no final period, never a password) in err.
//
// How long a registry can hold a station up, at worst (the one place that
// says so; the guide and the manual pages repeat it):
// - PostgreSQL, connecting: kDbConnectTimeoutS per server address tried.
// - PostgreSQL, every statement: kDbStatementDeadlineMs, timed by this
//   program, not the server, so that a frozen server (stopped processes, a
//   host gone, a cable pulled) cannot hold it longer. At the deadline the
//   statement is cancelled (the cancel gets kDbCancelWaitMs) and the
//   connection closed; every later statement of the run fails at once. A
//   server that stops answering therefore fails the run at most
//   kDbStatementDeadlineMs + kDbCancelWaitMs (9 s) after the first statement
//   that meets the silence. The server's own statement_timeout,
//   kDbServerStatementTimeoutMs, is shorter, so that a statement that is
//   merely slow (waiting for another station's row) ends with the server's
//   own reason. TCP keepalives and a TCP user timeout make a dead remote
//   host an error of the socket too.
// - SQLite: all waits of one connection for other stations' locks together
//   stop at kDbLockWaitMs; the statement that would wait longer fails with
//   "database is locked".
#ifndef TALVEK_REGISTRY_DB_H
#define TALVEK_REGISTRY_DB_H

#include <cstddef>

#include "registry/conf.h"

constexpr size_t kDbErrorSize = 256;
constexpr int kDbMaxParams = 40;
constexpr int kDbMaxColumns = 64;                  // columns a row callback receives, at most
constexpr int kDbLockWaitMs = 10000;               // SQLite: all lock waits of a connection
constexpr int kDbConnectTimeoutS = 5;              // PostgreSQL: connect timeout
constexpr int kDbStatementDeadlineMs = 8000;       // PostgreSQL: this program's deadline
constexpr int kDbServerStatementTimeoutMs = 6000;  // PostgreSQL: the server's statement_timeout
constexpr int kDbCancelWaitMs = 1000;              // PostgreSQL: the cancel at the deadline

struct REG_DB;  // an open connection; opaque

// Opens the registry named by conf (Kind REGISTRY_SQLITE or REGISTRY_POSTGRES).
// SQLite: creates the file if missing, WAL journal, synchronous=FULL, lock
// waits up to kDbLockWaitMs in all. PostgreSQL: connect timeout
// kDbConnectTimeoutS, keepalives, statement deadline kDbStatementDeadlineMs,
// server notices silenced.
// On failure *db is nullptr.
int RegDbOpen(const REGISTRY_CONF *conf, REG_DB **db, char *err, size_t err_size);
void RegDbClose(REG_DB *db);  // nullptr is fine; rolls back an open transaction

// 1 when conf names a SQLite file that does not exist: opening it would
// create an empty registry, which a command that only reads must not do.
int RegDbMissing(const REGISTRY_CONF *conf);

// "sqlite TALVEK.db" or "postgresql host/db": what the operator is shown.
void RegDbDescribe(const REG_DB *db, char *out, size_t out_size);

// Runs one statement with nparams bound text parameters. *changed (may be
// nullptr) receives the number of rows inserted, updated or deleted.
int RegDbExec(REG_DB *db, const char *sql, int nparams, const char *const *params, long *changed,
              char *err, size_t err_size);

// Called once per result row with its column texts (nullptr for NULL), the
// first kDbMaxColumns of them.
// Returning non-zero stops the query; RegDbQuery then returns 1 with err
// "stopped" unless the callback wrote its own reason into err.
typedef int (*RegRowFn)(void *ctx, int ncols, const char *const *cols);

// Runs one statement that returns rows (SELECT, or INSERT/UPDATE ... RETURNING).
int RegDbQuery(REG_DB *db, const char *sql, int nparams, const char *const *params, RegRowFn fn,
               void *ctx, char *err, size_t err_size);

// Transactions. RegDbBegin takes the write lock at once where the back end
// has one (SQLite: BEGIN IMMEDIATE, waiting within the lock budget), so a
// transaction never fails half-way for a lock another station holds. A
// failed COMMIT rolls back. Callers hold a REG_TRANSACTION rather than
// pairing these by hand.
int RegDbBegin(REG_DB *db, char *err, size_t err_size);
int RegDbCommit(REG_DB *db, char *err, size_t err_size);
void RegDbRollback(REG_DB *db);  // no error: nothing to do with one; nothing when none is open

// One transaction for the life of a scope: Begin opens it, Commit ends it,
// and one still open when the guard goes (every early return) is rolled back.
struct REG_TRANSACTION {
    explicit REG_TRANSACTION(REG_DB *db) : Db(db) {}
    ~REG_TRANSACTION() { RegDbRollback(Db); }
    REG_TRANSACTION(const REG_TRANSACTION &) = delete;
    REG_TRANSACTION &operator=(const REG_TRANSACTION &) = delete;
    int Begin(char *err, size_t err_size) { return RegDbBegin(Db, err, err_size); }
    int Commit(char *err, size_t err_size) { return RegDbCommit(Db, err, err_size); }
    REG_DB *Db;
};

// " FOR UPDATE" where the back end locks the rows a SELECT inside a
// transaction reads (PostgreSQL); "" where the transaction's write lock
// already keeps every other writer out (SQLite). Appended to such a SELECT.
const char *RegDbRowLock(const REG_DB *db);

// 1 where a statement runs on one core of the machine (SQLite), so a long
// count split over two connections takes half the time; 0 where the server
// spreads a long statement over its cores itself (PostgreSQL's parallel
// query) and a second connection would only add its start.
int RegDbOneCorePerStatement(const REG_DB *db);

// *exists 1 when the current schema has a table of that name.
int RegDbTableExists(REG_DB *db, const char *table, int *exists, char *err, size_t err_size);

// Inside a transaction: serialises schema creation and upgrade across every
// station of the database (PostgreSQL: a transaction-scoped advisory lock;
// SQLite: the write lock that RegDbBegin already holds).
int RegDbLockSchema(REG_DB *db, char *err, size_t err_size);

// Takes a lock that at most one process of the whole registry holds, kept
// until RegDbClose: on PostgreSQL a session advisory lock with this key, on
// SQLite an flock on "<file>.<name>.lock" beside the file. 0 taken; 2
// another process holds it; 1 error (reason in err).
int RegDbTryOwnerLock(REG_DB *db, const char *name, long key, char *err, size_t err_size);

#endif
