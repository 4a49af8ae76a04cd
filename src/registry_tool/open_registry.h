// Finding and opening the registry talvek-registry works on.
#ifndef TALVEK_REGISTRY_TOOL_OPEN_REGISTRY_H
#define TALVEK_REGISTRY_TOOL_OPEN_REGISTRY_H

#include "registry/conf.h"
#include "registry/db.h"

// The registry is the one --registry names (url not nullptr), else the one
// TALVEK.conf in the working directory names; conf receives it and the
// station name (TALVEK.conf's, else the host name). 0 on success; 1 after
// printing why not (no TALVEK.conf or no registry in it included).
int ResolveRegistry(const char *url, REGISTRY_CONF *conf);

// Opens it. With creating 0 (every command but init) a SQLite file that
// does not exist is an error rather than made empty, and the schema must be
// there and of this program's version. 0 on success; 1 after printing why not.
int OpenRegistry(const REGISTRY_CONF *conf, int creating, REG_DB **db);

#endif
