// The relay's side of the outbox table: what to publish next, what the
// broker did with it, and the one-relay-per-registry lock. Plain database
// work, apart from the broker client (relay.cpp), so that it can be tested
// without a broker.
#ifndef TALVEK_REGISTRY_TOOL_RELAY_STORE_H
#define TALVEK_REGISTRY_TOOL_RELAY_STORE_H

#include <cstddef>
#include <string>
#include <vector>

#include "registry/conf.h"
#include "registry/db.h"

// A message the broker refused this many times is moved to 'dead'.
constexpr int kRelayMaxRejections = 3;

struct OUTBOX_ROW {
    std::string UniqueId, Name, Handle, Envelope;
};

// Up to limit pending rows, oldest first: by enqueued_utc, then run_id, then
// part, so that a run's messages go out in their order.
int RelayFetch(REG_DB *db, int limit, std::vector<OUTBOX_ROW> *rows, char *err, size_t err_size);

// In one transaction: the rows the broker accepted become 'sent' (now).
int RelayMarkSent(REG_DB *db, const std::vector<std::string> &ids, char *err, size_t err_size);

// The broker refused the row: counts it, keeps why, and moves it to 'dead'
// at kRelayMaxRejections (*dead 1). It stays pending otherwise.
int RelayMarkRejected(REG_DB *db, const std::string &id, const char *why, int *dead, char *err,
                      size_t err_size);

// Removes rows sent more than keep_days days ago.
int RelayPurge(REG_DB *db, int keep_days, long *removed, char *err, size_t err_size);

// Takes the registry's relay lock for the life of the connection (on SQLite
// an flock on "<file>.relay.lock" beside the file). 0 taken; 2 another relay
// holds it; 1 error (reason in err).
int RelayLock(REG_DB *db, char *err, size_t err_size);

#endif
