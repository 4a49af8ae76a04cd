// MAC pools: the allow-list entries of TALVEK.ini files as address ranges,
// and how far each is used up.
#ifndef TALVEK_REGISTRY_TOOL_POOLS_H
#define TALVEK_REGISTRY_TOOL_POOLS_H

#include <cstddef>
#include <string>
#include <vector>

#include "registry_tool/figures.h"

// Percent used at which a pool warns, and at which (or under kPoolAlarmDays
// days left at the last 7 days' rate) it alarms.
constexpr double kPoolWarnPercent = 80.0;
constexpr double kPoolAlarmPercent = 95.0;
constexpr double kPoolAlarmDays = 7.0;

// Appends the entries of one allow-list file, read the way TALVEK reads its
// own (same line reader and key parser, ';' lines are comments). An entry
// already taken from an earlier line or file is not taken twice. 0 on
// success; 1 with the reason in err (cannot read, or more than
// kViewMaxRanges entries in all).
int ReadPoolRanges(const char *path, std::vector<VIEW_RANGE> *ranges, char *err, size_t err_size);

// A pool's derived figures, the same wherever it is shown.
struct POOL_STATE {
    double UsedPercent = 0;  // of Total; 0 for an empty range
    uint64_t Left = 0;       // Total - Used (released addresses can be reserved again)
    double PerDay = 0;       // the last 7 days' reservations per day
    bool HasDaysLeft = false;  // false when nothing was reserved in the last 7 days
    double DaysLeft = 0;
    const char *Level = "ok";  // "ok", "warning" or "alarm"
};
void PoolState(const VIEW_POOL &pool, POOL_STATE *state);

// "VVVVVVVVVVVV/MMMMMMMMMMMM", value and mask in upper-case hex.
std::string PoolRangeText(const VIEW_RANGE &range);

#endif
