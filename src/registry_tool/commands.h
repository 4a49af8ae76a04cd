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
// read it back, and every release of it. A MAC the registry never saw is an
// error: it is unknown. Times show in local time.
int RegToolWho(REG_DB *db, const uint8_t mac[6]);

// The MACs the registry gives the board, and its runs. The key matches a
// board key in any case, a GUID or UUID key with or without dashes, or a
// board serial the board's runs read; several boards may match. A key no
// MAC or run names is an error: the board is unknown.
int RegToolBoard(REG_DB *db, const char *key);

// The MACs reserved and never verified, reserved at least older_than
// seconds ago (0: all), oldest first, with board, station, run and age.
int RegToolPending(REG_DB *db, long long older_than);

// Frees the MAC for a new reservation; the release, its reason and the
// holder it took the MAC from go on record in the same transaction; the
// station goes on record with the user who released (and the one behind sudo).
int RegToolRelease(REG_DB *db, const uint8_t mac[6], const char *reason, const char *station);

// One row per run and port (a run that selected no port: one row without
// port), oldest first, runs started at since or later ("" for all).
int RegToolExport(REG_DB *db, RegToolFormat format, const char *since, FILE *out);

// Per local day and station: runs, distinct boards, each verdict, first-pass
// yield and retests; the totals last. args gives the days (Since, Until),
// the station and the format.
int RegToolStats(REG_DB *db, const REGTOOL_ARGS *args, FILE *out);

// The MES feed's outbox: the backlog (pending, age of the oldest, dead,
// sent), with dead the dead messages one a line, with retry_id that dead
// message made pending again.
int RegToolOutbox(REG_DB *db, int dead, const char *retry_id);

// Publishes the outbox to the AMQP 1.0 broker at url (relay.cpp). The
// registry's relay lock is taken first; a second relay exits with 1.
// once: drains what is pending and exits (0 done, 1 broker or registry
// failure); else runs until SIGTERM or SIGINT, reconnecting with backoff.
int RegToolRelay(REG_DB *db, const REGISTRY_CONF *conf, const REGTOOL_ARGS *args);

// The station check's two items, one line each, "ok: <what was found>" or
// "FAIL: <what to do>": the registry TALVEK.conf in the working directory
// names (or url, not nullptr) reachable, of a known schema version and
// readable; and the key this board will be recorded under. Opens the
// registry itself (a missing SQLite file is not created) and asks the BMC
// through ./kovripmi. 0 when both are ok, 1 otherwise.
int RegToolCheck(const char *url);

// Prints "talvek-registry: <text>" on standard error; returns 1.
int RegToolError(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Prints "talvek-registry: MAC registry unavailable: <reason>" on standard
// error; returns 1.
int RegToolUnavailable(const char *reason);

#endif
