// A MAC's row in the macs table as the reservation and the release read it:
// who holds the MAC, since when, and in which state.
#ifndef TALVEK_REGISTRY_HOLDER_H
#define TALVEK_REGISTRY_HOLDER_H

#include "registry/conf.h"
#include "registry/stamp.h"

struct HOLDER_ROW {
    int Exists;   // 0: the registry has no row for the MAC (the rest is empty)
    int KeyNull;  // 1: the row's board_key is NULL, and Key is ""
    char Key[256];
    char State[16];  // "reserved", "verified" or "released"
    char Station[kConfStationSize];
    char Reserved[32];  // reserved_utc
    char RunId[kUuidSize];
};

// The columns TakeHolder reads, in its order: for a SELECT or a RETURNING.
#define HOLDER_COLUMNS "board_key, state, station, reserved_utc, run_id"

// A RegRowFn filling the HOLDER_ROW at ctx from one row of HOLDER_COLUMNS.
int TakeHolder(void *ctx, int ncols, const char *const *cols);

#endif
