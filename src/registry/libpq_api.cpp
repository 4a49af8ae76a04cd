// Loads libpq by its soname and takes the calls the registry makes.
#include "registry/libpq_api.h"

#include <dlfcn.h>

#include <cstdio>

static const char kLibpq[] = "libpq.so.5";

// Every symbol or none: a partly loaded table would fail later, mid-run.
static int Take(void *lib, const char *name, void *slot, char *err, size_t err_size)
{
    void *fn = dlsym(lib, name);
    if (fn == nullptr) {
        snprintf(err, err_size, "%s lacks %s", kLibpq, name);
        return 1;
    }
    *static_cast<void **>(slot) = fn;
    return 0;
}

int LoadLibpq(const PQ_API **api, char *err, size_t err_size)
{
    static PQ_API table;
    static bool loaded = false;
    if (loaded) {
        *api = &table;
        return 0;
    }
    void *lib = dlopen(kLibpq, RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) {
        const char *why = dlerror();
        snprintf(err, err_size, "cannot load %s (install libpq5): %s", kLibpq,
                 why != nullptr ? why : "unknown error");
        return 1;
    }
    PQ_API t;
    const struct {
        const char *name;
        void *slot;
    } calls[] = {
        {"PQconnectdbParams", &t.connectdbParams},
        {"PQstatus", &t.status},
        {"PQerrorMessage", &t.errorMessage},
        {"PQsetNoticeProcessor", &t.setNoticeProcessor},
        {"PQhost", &t.host},
        {"PQdb", &t.db},
        {"PQfinish", &t.finish},
        {"PQexecParams", &t.execParams},
        {"PQresultStatus", &t.resultStatus},
        {"PQresultErrorField", &t.resultErrorField},
        {"PQcmdStatus", &t.cmdStatus},
        {"PQcmdTuples", &t.cmdTuples},
        {"PQntuples", &t.ntuples},
        {"PQnfields", &t.nfields},
        {"PQgetisnull", &t.getisnull},
        {"PQgetvalue", &t.getvalue},
        {"PQclear", &t.clear},
        {"PQsendQueryParams", &t.sendQueryParams},
        {"PQsetnonblocking", &t.setnonblocking},
        {"PQflush", &t.flush},
        {"PQsocket", &t.socket},
        {"PQconsumeInput", &t.consumeInput},
        {"PQisBusy", &t.isBusy},
        {"PQgetResult", &t.getResult},
        {"PQgetCancel", &t.getCancel},
        {"PQcancel", &t.cancel},
        {"PQfreeCancel", &t.freeCancel},
        {"PQconninfoParse", &t.conninfoParse},
        {"PQconninfoFree", &t.conninfoFree},
        {"PQserverVersion", &t.serverVersion},
    };
    for (const auto &c : calls) {
        if (Take(lib, c.name, c.slot, err, err_size) != 0) {
            dlclose(lib);
            return 1;
        }
    }
    table = t;
    loaded = true;
    *api = &table;
    return 0;
}
