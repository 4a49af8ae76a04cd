// The registry stores UTC ("2026-12-07T11:05:00.123Z", see registry/stamp.h);
// people read the station's local time (the TZ of the machine). These turn
// one into the other. CSV and JSON keep the stored UTC text.
#ifndef TALVEK_REGISTRY_TOOL_LOCAL_TIME_H
#define TALVEK_REGISTRY_TOOL_LOCAL_TIME_H

#include <cstddef>
#include <ctime>

#include "registry/stamp.h"

// A stored stamp ("YYYY-MM-DDTHH:MM:SS", optional ".mmm", then "Z") to
// seconds since the epoch. 0 on success, 1 for other text.
int ParseUtcStamp(const char *stamp, time_t *t);

// t as a stored stamp, milliseconds ".000".
void FormatUtcStamp(time_t t, char out[kStampSize]);

// A stored stamp as local time, "2026-12-07 12:05:00 CET"; "-" for nullptr,
// and text that is no stamp as it is.
void LocalTimeText(const char *stamp, char *out, size_t out_size);

// The local day "YYYY-MM-DD" a stored stamp falls on. 0 on success.
int LocalDay(const char *stamp, char out[11]);

// The first instant of the local day "YYYY-MM-DD" after day (days_after
// 0: that day's own start) as a stored stamp, so that it compares with the
// stored ones as text. 0 on success; 1 for text that is not a real date.
int LocalDayStartUtc(const char *day, int days_after, char out[kStampSize]);

// A duration for people: "45s", "12m 05s", "3h 07m", "2d 04h". Negative
// durations (a station's clock ahead of this one) read as "0s".
void AgeText(long long seconds, char *out, size_t out_size);

#endif
