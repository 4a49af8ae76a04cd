// The PostgreSQL back end (libpq): one database for a whole line.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <pthread.h>

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
    // means (PGPASSWORD, ~/.pgpass). Keepalives and the TCP user timeout
    // (ignored on a Unix socket) make a remote server that vanished an error
    // of the socket; the statement deadline below covers the rest.
    char timeout[16], user_timeout[16];
    char server[kDbErrorSize];
    if (PgNameServer(conninfo, server, sizeof(server), err, err_size) != 0)
        return 1;
    snprintf(timeout, sizeof(timeout), "%d", kDbConnectTimeoutS);
    snprintf(user_timeout, sizeof(user_timeout), "%d", kDbStatementDeadlineMs);
    const char *const keys[] = {"dbname",           "connect_timeout",  "application_name",
                                "keepalives",       "keepalives_idle",  "keepalives_interval",
                                "keepalives_count", "tcp_user_timeout", nullptr};
    const char *const values[] = {conninfo, timeout, "TALVEK",     "1",    "2",
                                  "2",      "2",     user_timeout, nullptr};
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
    // Sent without blocking, so that a server that stopped reading cannot
    // hold a statement's send past its deadline.
    if (pq->setnonblocking(conn, 1) != 0) {
        CleanReason(pq->errorMessage(conn), err, err_size);
        PgClose(db);
        return 1;
    }
    // "relation already exists, skipping" and the like must not reach the
    // operator's console.
    pq->setNoticeProcessor(conn, Silent, nullptr);
    const char *host = pq->host(conn);
    snprintf(db->Description, sizeof(db->Description), "postgresql %s/%s",
             host != nullptr && host[0] != '\0' ? host : "localhost", pq->db(conn));
    // The session's settings, in one round trip (a station pays for each):
    // - the server's own statement deadline, under ours;
    // - no plans compiled to machine code: the server does it when a plan's
    //   estimated cost is high, as a line view's scan of 100,000 runs is,
    //   seconds of compiling for tens of milliseconds of running (servers
    //   from 11 on have the setting);
    // - a random page priced as on SSDs and cached data: the default (4, a
    //   spinning disk with a cold cache) makes the server read a whole table
    //   instead of an index that holds every column a figure reads, a pool
    //   of a million MACs from the 190 MB table rather than its 65 MB
    //   covering index, at twice the time.
    char sql[256];
    snprintf(sql, sizeof(sql),
             "SELECT set_config('statement_timeout', '%d', false),"
             " set_config('random_page_cost', '1.1', false)%s",
             kDbServerStatementTimeoutMs,
             pq->serverVersion(conn) >= 110000 ? ", set_config('jit', 'off', false)" : "");
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

static long NowMs()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

// Waits until the connection's socket is ready for events or the deadline
// passes. 0 ready, 1 deadline. A signal does not end the wait early: the
// statement in flight is finished or given up, never left half-way.
static int WaitSocket(REG_DB *db, short events, long deadline)
{
    for (;;) {
        long left = deadline - NowMs();
        if (left <= 0)
            return 1;
        struct pollfd p = {pq->socket(db->Pg), events, 0};
        int n = poll(&p, 1, static_cast<int>(left));
        if (n > 0)
            return 0;
        if (n < 0 && errno != EINTR)
            return 0;  // the next libpq call reports what is wrong
    }
}

// PQcancel waits for the server to close the cancel connection, which a
// frozen server never does: it runs on a thread of its own, is given
// kDbCancelWaitMs, and is otherwise left to end with the process.
static void *CancelThread(void *arg)
{
    PGcancel *cancel = static_cast<PGcancel *>(arg);
    char ignored[256];
    pq->cancel(cancel, ignored, sizeof(ignored));
    pq->freeCancel(cancel);
    return nullptr;
}

// The deadline passed: asks the server to stop the statement (so that its
// locks go), closes the connection and fails every later statement at once.
static int GiveUp(REG_DB *db, char *err, size_t err_size)
{
    PGcancel *cancel = pq->getCancel(db->Pg);
    pthread_t thread;
    if (cancel != nullptr) {
        // The thread starts with every signal blocked: a signal for the run
        // goes to the main thread, and a SIGPIPE of the cancel's own send
        // ends nothing.
        sigset_t all, mine;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &mine);
        int started = pthread_create(&thread, nullptr, CancelThread, cancel) == 0;
        pthread_sigmask(SIG_SETMASK, &mine, nullptr);
        if (!started) {
            pq->freeCancel(cancel);
        } else {
            struct timespec until;
            clock_gettime(CLOCK_REALTIME, &until);
            until.tv_sec += kDbCancelWaitMs / 1000;
            until.tv_nsec += (kDbCancelWaitMs % 1000) * 1000000L;
            if (until.tv_nsec >= 1000000000L) {
                until.tv_sec++;
                until.tv_nsec -= 1000000000L;
            }
            if (pthread_timedjoin_np(thread, nullptr, &until) != 0)
                pthread_detach(thread);
        }
    }
    PgClose(db);
    db->InTransaction = 0;  // the server rolls it back when it sees the connection go
    snprintf(err, err_size, "no answer from the server within %d s", kDbStatementDeadlineMs / 1000);
    return 1;
}

// Sends the statement and waits for all of its results, within the deadline.
// *res receives the last result (nullptr when none came). 0 when the server
// answered in time (its answer may still be an error); 1 with err set when
// the connection failed or the deadline passed.
static int SendAndWait(REG_DB *db, const char *text, int nparams, const char *const *params,
                       PGresult **res, char *err, size_t err_size)
{
    *res = nullptr;
    long deadline = NowMs() + kDbStatementDeadlineMs;
    PGconn *conn = db->Pg;
    if (pq->sendQueryParams(conn, text, nparams, nullptr, params, nullptr, nullptr, 0) == 0) {
        CleanReason(pq->errorMessage(conn), err, err_size);
        return 1;
    }
    int flushing;
    while ((flushing = pq->flush(conn)) == 1) {
        if (WaitSocket(db, POLLIN | POLLOUT, deadline) != 0)
            return GiveUp(db, err, err_size);
        if (pq->consumeInput(conn) == 0)
            break;
    }
    for (int failed = flushing < 0;;) {
        while (!failed && pq->isBusy(conn)) {
            if (WaitSocket(db, POLLIN, deadline) != 0) {
                pq->clear(*res);
                *res = nullptr;
                return GiveUp(db, err, err_size);
            }
            failed = pq->consumeInput(conn) == 0;
        }
        if (failed) {
            pq->clear(*res);
            *res = nullptr;
            CleanReason(pq->errorMessage(conn), err, err_size);
            return 1;
        }
        PGresult *next = pq->getResult(conn);
        if (next == nullptr)
            return 0;
        pq->clear(*res);
        *res = next;
    }
}

int PgRun(REG_DB *db, const char *sql, int nparams, const char *const *params, long *changed,
          RegRowFn fn, void *ctx, char *err, size_t err_size)
{
    char text[kSqlSize];  // one per call: two connections may run at once
    if (db->Pg == nullptr) {
        snprintf(err, err_size, "the connection was closed after a statement got no answer");
        return 1;
    }
    if (Translate(sql, text, sizeof(text)) != 0) {
        snprintf(err, err_size, "statement too long");
        return 1;
    }
    PGresult *res = nullptr;
    if (SendAndWait(db, text, nparams, params, &res, err, err_size) != 0)
        return 1;
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
        if (n > kDbMaxColumns)
            n = kDbMaxColumns;
        for (int r = 0; r < rows; r++) {
            const char *cols[kDbMaxColumns];
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
