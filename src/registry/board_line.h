// What the operator of a line station sees of the registry: the board the
// run is recorded under, whom a refused MAC belongs to and what to do about
// it, and the station's day. Every line fits 80 columns: a value too long
// for its line is cut and ends in "...".
#ifndef TALVEK_REGISTRY_BOARD_LINE_H
#define TALVEK_REGISTRY_BOARD_LINE_H

#include <cstddef>
#include <cstdint>

#include "registry/run_record.h"

constexpr size_t kScreenColumns = 80;

// Copies text into out, cut to at most columns characters (a UTF-8 sequence
// counts as one; a cut text ends in "..."). out_size >= 4 * columns + 1.
void FitColumns(const char *text, size_t columns, char *out, size_t out_size);

// A board key of 32 hexadecimal digits (a System GUID) in the groups
// 8-4-4-4-12; any other text unchanged.
void GroupGuid(const char *key, char *out, size_t out_size);

// A stored UTC stamp ("2026-01-02T03:04:05.678Z") as local time
// ("2026-01-02 05:04:05"); the stamp itself when it is not one.
void LocalTimeOfStamp(const char *stamp, char *out, size_t out_size);

// The refusal of a MAC the registry gives to another board: the MAC, its
// holder (the serial the registry knows for it, else its GUID in groups, or
// that it has no identity), the holder's station and since when, and what
// to do; for a holder without identity also how a re-run of the same board
// gets the MAC released. holder_key is nullptr for such a holder. Notes the
// run's failure cause. Runs inside the reservation's transaction.
void RegistryShowRefusal(REGISTRY_RUN *run, const uint8_t mac[6], const char *holder_key,
                         const char *station, const char *since_utc);

// "Today at <station>: runs N, boards N, PASS N, first-pass yield N.N%":
// this station's runs of the local day, this run's row included (call it
// once the row is in). A board counts by its key; its first-pass is its
// first run of the day at this station passing. Prints nothing when the
// registry cannot answer.
void RegistryShowDay(REGISTRY_RUN *run);

#endif
