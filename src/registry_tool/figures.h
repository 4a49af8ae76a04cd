// The line view's figures: what the report, the live page and the pools
// command show, read from the registry. Each figure is one SQL statement,
// written once and run unchanged on SQLite and PostgreSQL, so both back
// ends give the same numbers. Grouping by hour happens in SQL on the stored
// UTC text; the caller turns UTC hours into local hours and days.
#ifndef TALVEK_REGISTRY_TOOL_FIGURES_H
#define TALVEK_REGISTRY_TOOL_FIGURES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "registry/db.h"

// Which runs: started at Since or later and before Until (stored form,
// "" for no bound), at Station ("" for every station).
struct VIEW_PERIOD {
    char Since[32];
    char Until[32];
    char Station[256];
};

// A board is its board key; a run without a key is a board of its own.
// A board's first run is its first on record at any station, also one
// before the period: a board first tested before the period has only
// retests in it.
struct VIEW_SUMMARY {
    long Runs = 0;
    long Boards = 0;
    long Pass = 0;
    long Fail = 0;
    long Other = 0;      // any other verdict: aborted or incomplete runs
    long FirstRuns = 0;  // runs that were their board's first
    long FirstPass = 0;  // of those, the ones that passed
    std::string FirstUtc, LastUtc;  // the period's first and last start ("" with no run)
};

// Runs of one station in one UTC hour ("YYYY-MM-DDTHH").
struct VIEW_HOUR {
    std::string HourUtc;
    std::string Station;
    long Runs = 0;
    long FirstRuns = 0;
    long FirstPass = 0;
};

// How many runs of a station took Tenths tenths of a second (ended minus started).
struct VIEW_DURATION {
    std::string Station;
    long Tenths = 0;
    long Count = 0;
};

// Failed (not PASS) runs with the same message; NULL messages as "".
struct VIEW_MESSAGE {
    std::string Message;
    long Count = 0;
};

// A duplicate refusal (a run) or a release, newest first.
struct VIEW_EVENT {
    std::string WhenUtc;
    std::string Kind;  // "refusal" or "release"
    std::string Board, Station, Text;
};

// One allow-list entry: the MACs m with (m & Mask) == Value.
struct VIEW_RANGE {
    uint64_t Value = 0;
    uint64_t Mask = 0;
};

struct VIEW_POOL {
    VIEW_RANGE Range;
    uint64_t Total = 0;  // addresses in the range
    long Used = 0;       // reserved or verified
    long Released = 0;   // released, counted apart and not as used
    long Recent = 0;     // used ones reserved in the 7 days before now
};

struct VIEW_FIGURES {
    VIEW_SUMMARY Summary;
    std::vector<VIEW_HOUR> Hours;  // by hour, then station
    std::vector<VIEW_DURATION> Durations;
    std::vector<VIEW_MESSAGE> Messages;  // most frequent first
    std::vector<VIEW_EVENT> Events;      // at most kViewEvents, newest first
    std::vector<VIEW_POOL> Pools;        // in the order of the ranges
};

constexpr int kViewEvents = 20;
constexpr size_t kViewMaxRanges = 4096;  // allow-list entries taken from all files together

// Reads every figure for the period and the ranges. now_utc is the stored
// form of the current time, the end of the 7-day burn-rate window.
// 0 on success; 1 with the database's reason in err.
int LoadViewFigures(REG_DB *db, const VIEW_PERIOD *period, const std::vector<VIEW_RANGE> &ranges,
                    const char *now_utc, VIEW_FIGURES *out, char *err, size_t err_size);

// Only the pools (the pools command). second: nullptr, or another
// connection to the same registry, on which half of each pool is counted at
// the same time as the other half on db (twice as fast with two cores).
int LoadViewPools(REG_DB *db, REG_DB *second, const std::vector<VIEW_RANGE> &ranges,
                  const char *now_utc, std::vector<VIEW_POOL> *out, char *err, size_t err_size);

// Addresses in the range: 2 to the number of zero bits of the 48-bit mask,
// or 0 when the value has a bit the mask clears (no MAC can match it).
uint64_t ViewRangeSize(const VIEW_RANGE &range);

// The stored form of the time seconds before the stored time at (the
// 7-day window's start). 0 on success.
int ViewStampMinus(const char *at, long seconds, char out[32]);

#endif
