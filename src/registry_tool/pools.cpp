// pools: how far each MAC range of the allow-list is used, for people,
// scripts and a cron job that pages someone before a station runs dry.
#include "registry_tool/pools.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "registry/stamp.h"
#include "registry_tool/commands.h"
#include "registry_tool/text_format.h"
#include "registry_tool/view.h"
#include "sources/ini.h"

static uint64_t BytesToInteger(const char bytes[6])
{
    uint64_t v = 0;
    for (int k = 0; k < 6; k++)
        v = v << 8 | static_cast<uint8_t>(bytes[k]);
    return v;
}

int ReadPoolRanges(const char *path, std::vector<VIEW_RANGE> *ranges, char *err, size_t err_size)
{
    FILE *fp = fopen(path, "r");
    if (!fp) {
        snprintf(err, err_size, "cannot open %s", path);
        return 1;
    }
    char line[kIniLineSize];
    int status = 0;
    for (;;) {
        int ended = GetOneLine(fp, line);
        if (ended == 0 && line[0] == '\0')
            break;
        char mask[6], value[6];
        if (line[0] != ';' && FoundAvlMaskAndAvlValue(line, mask, value) == 0) {
            VIEW_RANGE r;
            r.Mask = BytesToInteger(mask);
            r.Value = BytesToInteger(value);
            bool seen = false;
            for (const VIEW_RANGE &o : *ranges)
                seen = seen || (o.Mask == r.Mask && o.Value == r.Value);
            if (!seen && ranges->size() >= kViewMaxRanges) {
                snprintf(err, err_size, "more than %zu allow-list entries", kViewMaxRanges);
                status = 1;
                break;
            }
            if (!seen)
                ranges->push_back(r);
        }
        if (ended == 0)
            break;
    }
    if (status == 0 && ferror(fp)) {
        snprintf(err, err_size, "cannot read %s", path);
        status = 1;
    }
    fclose(fp);
    return status;
}

void PoolState(const VIEW_POOL &pool, POOL_STATE *s)
{
    *s = POOL_STATE{};
    uint64_t used = pool.Used > 0 ? static_cast<uint64_t>(pool.Used) : 0;
    s->Left = pool.Total > used ? pool.Total - used : 0;
    s->UsedPercent = pool.Total ? 100.0 * static_cast<double>(used) / pool.Total : 0;
    s->PerDay = pool.Recent / 7.0;
    s->HasDaysLeft = pool.Recent > 0;
    s->DaysLeft = s->HasDaysLeft ? s->Left / s->PerDay : 0;
    if (s->UsedPercent >= kPoolAlarmPercent || (s->HasDaysLeft && s->DaysLeft < kPoolAlarmDays)) {
        s->Level = "alarm";
    } else if (s->UsedPercent >= kPoolWarnPercent) {
        s->Level = "warning";
    }
}

std::string PoolRangeText(const VIEW_RANGE &range)
{
    char text[32];
    snprintf(text, sizeof text, "%012llX/%012llX", static_cast<unsigned long long>(range.Value),
             static_cast<unsigned long long>(range.Mask));
    return text;
}

// One pool's fields as text, in the order of kPoolFields.
static void PoolFields(const VIEW_POOL &p, const POOL_STATE &s, char f[9][32])
{
    snprintf(f[0], 32, "%s", PoolRangeText(p.Range).c_str());
    snprintf(f[1], 32, "%llu", static_cast<unsigned long long>(p.Total));
    snprintf(f[2], 32, "%ld", p.Used);
    snprintf(f[3], 32, "%ld", p.Released);
    snprintf(f[4], 32, "%llu", static_cast<unsigned long long>(s.Left));
    snprintf(f[5], 32, "%.1f", s.UsedPercent);
    snprintf(f[6], 32, "%.1f", s.PerDay);
    // Unknown without use in the last 7 days: empty (CSV), null (JSON), "-" (text).
    f[7][0] = '\0';
    if (s.HasDaysLeft)
        snprintf(f[7], 32, "%.1f", s.DaysLeft);
    snprintf(f[8], 32, "%s", s.Level);
}

static const char *const kPoolFields[9] = {"range", "total",    "used",      "released", "left",
                                           "used_percent", "per_day", "days_left", "state"};

static void PrintPool(RegToolPoolFormat format, const VIEW_POOL &p, const POOL_STATE &s)
{
    char f[9][32];
    PoolFields(p, s, f);
    if (format == REGTOOL_POOLS_TEXT) {
        printf("%-25s  %15s  %9s  %9s  %15s  %6s%%  %8s  %9s  %s\n", f[0], f[1], f[2], f[3], f[4],
               f[5], f[6], s.HasDaysLeft ? f[7] : "-", f[8]);
        return;
    }
    if (format == REGTOOL_POOLS_CSV) {
        for (int k = 0; k < 9; k++) {
            if (k)
                putchar(',');
            PutCsvField(stdout, f[k]);
        }
        fputs("\r\n", stdout);
        return;
    }
    putchar('{');
    for (int k = 0; k < 9; k++) {
        printf("%s", k ? "," : "");
        PutJsonString(stdout, kPoolFields[k]);
        putchar(':');
        bool text = k == 0 || k == 8;
        if (k == 7 && !s.HasDaysLeft) {
            fputs("null", stdout);
        } else if (text) {
            PutJsonString(stdout, f[k]);
        } else {
            fputs(f[k], stdout);
        }
    }
    fputs("}\n", stdout);
}

int RegToolPools(const REGISTRY_CONF *conf, REG_DB *db, const std::vector<VIEW_RANGE> &ranges,
                 RegToolPoolFormat format)
{
    char now[kStampSize];
    UtcStamp(now);
    std::vector<VIEW_POOL> pools;
    char err[kDbErrorSize] = "";
    // Without the second connection (a file another process has just
    // locked, say) the counts take twice as long and are the same.
    REG_DB *second = nullptr;
    if (RegDbOneCorePerStatement(db) && RegDbOpen(conf, &second, err, sizeof err) != 0)
        second = nullptr;
    int failed = LoadViewPools(db, second, ranges, now, &pools, err, sizeof err);
    RegDbClose(second);
    if (failed)
        return RegToolUnavailable(err);
    if (format == REGTOOL_POOLS_TEXT) {
        printf("%-25s  %15s  %9s  %9s  %15s  %7s  %8s  %9s  %s\n", "range (value/mask)", "total",
               "used", "released", "left", "used", "per day", "days left", "state");
    } else if (format == REGTOOL_POOLS_CSV) {
        for (int k = 0; k < 9; k++)
            printf("%s%s", k ? "," : "", kPoolFields[k]);
        fputs("\r\n", stdout);
    }
    int alarms = 0;
    for (const VIEW_POOL &p : pools) {
        POOL_STATE s;
        PoolState(p, &s);
        PrintPool(format, p, s);
        if (strcmp(s.Level, "alarm") == 0)
            alarms++;
    }
    if (alarms == 0)
        return 0;
    return RegToolError("%d pool(s) at or above %.0f %% used or with fewer than %.0f days left",
                        alarms, kPoolAlarmPercent, kPoolAlarmDays);
}
