#include "registry_tool/local_time.h"

#include <cstdio>
#include <cstring>

int ParseUtcStamp(const char *stamp, time_t *t)
{
    struct tm tm {};
    int n = 0;
    if (stamp == nullptr ||
        sscanf(stamp, "%4d-%2d-%2dT%2d:%2d:%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
               &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &n) != 6 ||
        n != 19)
        return 1;
    const char *rest = stamp + n;
    if (rest[0] == '.' && strspn(rest + 1, "0123456789") == 3)
        rest += 4;
    if (strcmp(rest, "Z") != 0)
        return 1;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    *t = timegm(&tm);
    return 0;
}

void FormatUtcStamp(time_t t, char out[kStampSize])
{
    struct tm tm;
    gmtime_r(&t, &tm);
    strftime(out, kStampSize, "%Y-%m-%dT%H:%M:%S.000Z", &tm);
}

void LocalTimeText(const char *stamp, char *out, size_t out_size)
{
    time_t t;
    struct tm tm;
    if (stamp == nullptr) {
        snprintf(out, out_size, "-");
    } else if (ParseUtcStamp(stamp, &t) != 0 || localtime_r(&t, &tm) == nullptr ||
               strftime(out, out_size, "%Y-%m-%d %H:%M:%S %Z", &tm) == 0) {
        snprintf(out, out_size, "%s", stamp);
    }
}

int LocalDay(const char *stamp, char out[11])
{
    time_t t;
    struct tm tm;
    if (ParseUtcStamp(stamp, &t) != 0 || localtime_r(&t, &tm) == nullptr)
        return 1;
    return strftime(out, 11, "%Y-%m-%d", &tm) == 10 ? 0 : 1;
}

int LocalDayStartUtc(const char *day, int days_after, char out[kStampSize])
{
    struct tm tm {};
    int n = 0;
    if (sscanf(day, "%4d-%2d-%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &n) != 3 || n != 10 ||
        day[10] != '\0' || tm.tm_year < 1970 || tm.tm_mon < 1 || tm.tm_mon > 12 ||
        tm.tm_mday < 1)
        return 1;
    const int year = tm.tm_year, month = tm.tm_mon, mday = tm.tm_mday;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    tm.tm_isdst = -1;
    // mktime folds 2026-02-30 into March: such a date is refused.
    struct tm check = tm;
    if (mktime(&check) == static_cast<time_t>(-1) || check.tm_year + 1900 != year ||
        check.tm_mon + 1 != month || check.tm_mday != mday)
        return 1;
    tm.tm_mday += days_after;
    time_t t = mktime(&tm);
    if (t == static_cast<time_t>(-1))
        return 1;
    FormatUtcStamp(t, out);
    return 0;
}

void AgeText(long long seconds, char *out, size_t out_size)
{
    if (seconds < 0)
        seconds = 0;
    long long d = seconds / 86400, h = seconds / 3600 % 24, m = seconds / 60 % 60, s = seconds % 60;
    if (d > 0)
        snprintf(out, out_size, "%lldd %02lldh", d, h);
    else if (h > 0)
        snprintf(out, out_size, "%lldh %02lldm", h, m);
    else if (m > 0)
        snprintf(out, out_size, "%lldm %02llds", m, s);
    else
        snprintf(out, out_size, "%llds", s);
}
