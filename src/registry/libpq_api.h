// libpq, loaded at the first PostgreSQL connection and not before. Linked
// the ordinary way it would bring some twenty libraries (TLS, Kerberos,
// LDAP) into every TALVEK start, registry or not; a station whose registry
// is its own SQLite file, or that has none, must not pay for them, nor need
// them installed.
#ifndef TALVEK_REGISTRY_LIBPQ_API_H
#define TALVEK_REGISTRY_LIBPQ_API_H

#include <libpq-fe.h>

#include <cstddef>

// The libpq calls the registry makes, by the names libpq gives them.
struct PQ_API {
    decltype(&PQconnectdbParams) connectdbParams;
    decltype(&PQstatus) status;
    decltype(&PQerrorMessage) errorMessage;
    decltype(&PQsetNoticeProcessor) setNoticeProcessor;
    decltype(&PQhost) host;
    decltype(&PQdb) db;
    decltype(&PQserverVersion) serverVersion;
    decltype(&PQfinish) finish;
    decltype(&PQexecParams) execParams;
    decltype(&PQresultStatus) resultStatus;
    decltype(&PQresultErrorField) resultErrorField;
    decltype(&PQcmdStatus) cmdStatus;
    decltype(&PQcmdTuples) cmdTuples;
    decltype(&PQntuples) ntuples;
    decltype(&PQnfields) nfields;
    decltype(&PQgetisnull) getisnull;
    decltype(&PQgetvalue) getvalue;
    decltype(&PQclear) clear;
    // Statements under a deadline of our own (db_pg.cpp): sent without
    // blocking, waited for with poll, cancelled at the deadline.
    decltype(&PQsendQueryParams) sendQueryParams;
    decltype(&PQsetnonblocking) setnonblocking;
    decltype(&PQflush) flush;
    decltype(&PQsocket) socket;
    decltype(&PQconsumeInput) consumeInput;
    decltype(&PQisBusy) isBusy;
    decltype(&PQgetResult) getResult;
    decltype(&PQgetCancel) getCancel;
    decltype(&PQcancel) cancel;
    decltype(&PQfreeCancel) freeCancel;
    // Reading a connection string without connecting: what a failed
    // connection is reported as (never the string itself).
    decltype(&PQconninfoParse) conninfoParse;
    decltype(&PQconninfoFree) conninfoFree;
};

// Loads libpq once per process. 0 with *api set (valid for the rest of the
// process); 1 with the reason in err (libpq5 not installed, a symbol
// missing).
int LoadLibpq(const PQ_API **api, char *err, size_t err_size);

#endif
