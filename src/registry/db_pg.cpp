// The PostgreSQL back end (libpq): one database for a whole line.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "registry/db_impl.h"
#include "registry/libpq_api.h"

constexpr size_t kSqlSize = 8192;

// Set by the first PgOpen; every other call here runs on an open connection.
static const PQ_API *pq = nullptr;

static void Silent(void *, const char *) {}

int PgOpen(const char *conninfo, REG_DB *db, char *err, size_t err_size)
{
    // The station's string comes first and is expanded as a connection
    // string; the keys after it override it. Passwords stay with libpq's own
    // means (PGPASSWORD, ~/.pgpass).
    char timeout[16];
    char server[kDbErrorSize];
    if (PgNameServer(conninfo, server, sizeof(server), err, err_size) != 0)
        return 1;
    snprintf(timeout, sizeof(timeout), "%d", kDbConnectTimeoutS);
    const char *const keys[] = {"dbname", "connect_timeout", "application_name", nullptr};
    const char *const values[] = {conninfo, timeout, "TALVEK", nullptr};
    PGconn *conn = pq->connectdbParams(keys, values, 1);
    if (conn == nullptr) {
        snprintf(err, err_size, "out of memory");
        return 1;
    }
    db->Pg = conn;
    if (pq->status(conn) != CONNECTION_OK) {
        char reason[kDbErrorSize];
        CleanReason(pq->errorMessage(conn), reason, sizeof(reason));
        snprintf(err, err_size, "%s: %s", server, reason);
        PgClose(db);
        return 1;
    }
    // "relation already exists, skipping" and the like must not reach the
    // operator's console.
    pq->setNoticeProcessor(conn, Silent, nullptr);
    const char *host = pq->host(conn);
    snprintf(db->Description, sizeof(db->Description), "postgresql %s/%s",
             host != nullptr && host[0] != '\0' ? host : "localhost", pq->db(conn));
    char sql[64];
    snprintf(sql, sizeof(sql), "SET statement_timeout = %d", kDbStatementTimeoutMs);
    if (PgRun(db, sql, 0, nullptr, nullptr, nullptr, nullptr, err, err_size) != 0) {
        PgClose(db);
        return 1;
    }
    return 0;
}

// The value of keyword in libpq's parse, nullptr when not given.
static const char *Option(const PQconninfoOption *options, const char *keyword)
{
    for (const PQconninfoOption *o = options; o->keyword != nullptr; o++) {
        if (strcmp(o->keyword, keyword) == 0)
            return o->val != nullptr && o->val[0] != '\0' ? o->val : nullptr;
    }
    return nullptr;
}

int PgNameServer(const char *conninfo, char *out, size_t out_size, char *err, size_t err_size)
{
    if (LoadLibpq(&pq, err, err_size) != 0)
        return 1;
    // No message wanted: libpq's would quote the string.
    PQconninfoOption *options = pq->conninfoParse(conninfo, nullptr);
    if (options == nullptr) {
        snprintf(err, err_size, "the PostgreSQL connection string is malformed");
        return 1;
    }
    const char *host = Option(options, "host");
    const char *port = Option(options, "port");
    const char *dbname = Option(options, "dbname");
    if (host == nullptr)
        host = Option(options, "hostaddr");
    // A host or database with '@', or a port that is not numbers: a URI's
    // user info cut short by a character of its password.
    bool sane = (host == nullptr || strchr(host, '@') == nullptr) &&
                (dbname == nullptr || strchr(dbname, '@') == nullptr) &&
                (port == nullptr || port[strspn(port, "0123456789,")] == '\0');
    if (sane)
        snprintf(out, out_size, "postgresql %s%s%s/%s", host != nullptr ? host : "localhost",
                 port != nullptr ? ":" : "", port != nullptr ? port : "",
                 dbname != nullptr ? dbname : "(default database)");
    pq->conninfoFree(options);
    if (!sane) {
        snprintf(err, err_size, "the PostgreSQL connection string is malformed");
        return 1;
    }
    return 0;
}

void PgClose(REG_DB *db)
{
    if (db->Pg == nullptr)
        return;
    pq->finish(db->Pg);
    db->Pg = nullptr;
}

// ?N becomes $N outside quoted text; the statements are the program's own,
// so a statement that does not fit is a programming error, reported as such.
static int Translate(const char *sql, char *out, size_t size)
{
    size_t n = 0;
    char quote = 0;
    for (const char *s = sql; *s != '\0'; s++) {
        if (n + 1 >= size)
            return 1;
        char c = *s;
        if (quote != 0) {
            if (c == quote)
                quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '?') {
            c = '$';
        }
        out[n++] = c;
    }
    out[n] = '\0';
    return 0;
}

static int ResultFail(PGresult *res, REG_DB *db, char *err, size_t err_size)
{
    const char *primary =
        res != nullptr ? pq->resultErrorField(res, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    CleanReason(primary != nullptr ? primary : pq->errorMessage(db->Pg), err, err_size);
    pq->clear(res);
    return 1;
}

int PgRun(REG_DB *db, const char *sql, int nparams, const char *const *params, long *changed,
          RegRowFn fn, void *ctx, char *err, size_t err_size)
{
    static char text[kSqlSize];
    if (Translate(sql, text, sizeof(text)) != 0) {
        snprintf(err, err_size, "statement too long");
        return 1;
    }
    PGresult *res = pq->execParams(db->Pg, text, nparams, nullptr, params, nullptr, nullptr, 0);
    ExecStatusType st = pq->resultStatus(res);
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK)
        return ResultFail(res, db, err, err_size);
    // A COMMIT of a transaction that failed earlier reports success but
    // rolled back: that must not pass for a commit.
    if (strcmp(pq->cmdStatus(res), "ROLLBACK") == 0 && strcmp(text, "ROLLBACK") != 0) {
        pq->clear(res);
        snprintf(err, err_size, "the transaction was rolled back");
        return 1;
    }
    if (changed != nullptr)
        *changed = atol(pq->cmdTuples(res));
    err[0] = '\0';
    if (fn != nullptr) {
        int rows = pq->ntuples(res);
        int n = pq->nfields(res);
        if (n > 64)
            n = 64;
        for (int r = 0; r < rows; r++) {
            const char *cols[64];
            for (int c = 0; c < n; c++)
                cols[c] = pq->getisnull(res, r, c) ? nullptr : pq->getvalue(res, r, c);
            if (fn(ctx, n, cols) != 0) {
                pq->clear(res);
                if (err[0] == '\0')
                    snprintf(err, err_size, "stopped");
                return 1;
            }
        }
    }
    pq->clear(res);
    return 0;
}
