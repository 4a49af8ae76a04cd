// The commands of talvek-registry. Each runs against an open registry whose
// schema open_registry.h has checked, prints its answer on standard output
// and its errors on standard error ("talvek-registry: ..."), and returns the
// program's exit status: 0 done, 1 error.
#ifndef TALVEK_REGISTRY_TOOL_COMMANDS_H
#define TALVEK_REGISTRY_TOOL_COMMANDS_H

#include <cstdint>
#include <cstdio>

#include "registry/db.h"
#include "registry_tool/args.h"

// The MAC's holder and state, every run that had it before, asked for it or
// read it back, and every release of it. A MAC the registry never saw is
// no error: the answer says so.
int RegToolWho(REG_DB *db, const uint8_t mac[6]);

// The MACs the registry gives the board with this key, and its runs.
int RegToolBoard(REG_DB *db, const char *key);

// Frees the MAC for a new reservation; the release, its reason and the
// holder it took the MAC from go on record in the same transaction.
int RegToolRelease(REG_DB *db, const uint8_t mac[6], const char *reason, const char *station);

// One row per run and port (a run that selected no port: one row without
// port), oldest first, runs started at since or later ("" for all).
int RegToolExport(REG_DB *db, RegToolFormat format, const char *since, FILE *out);

// Runs, PASS and FAIL by UTC day and station.
int RegToolStats(REG_DB *db);

// The station check's two items, one line each, "ok: <what was found>" or
// "FAIL: <what to do>": the registry TALVEK.conf in the working directory
// names (or url, not nullptr) reachable, of a known schema version and
// readable; and the key this board will be recorded under. Opens the
// registry itself (a missing SQLite file is not created) and asks the BMC
// through ./kovripmi. 0 when both are ok, 1 otherwise.
int RegToolCheck(const char *url);

// Prints "talvek-registry: <text>" on standard error; returns 1.
int RegToolError(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

#endif
