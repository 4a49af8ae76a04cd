// Run identifiers and time stamps as the registry stores them.
#ifndef TALVEK_REGISTRY_STAMP_H
#define TALVEK_REGISTRY_STAMP_H

constexpr int kUuidSize = 37;   // 36 characters and a terminator
constexpr int kStampSize = 25;  // "2026-12-07T11:05:00.123Z" and a terminator

// A random (version 4) UUID from the kernel's generator. 0 on success.
int NewUuid(char out[kUuidSize]);
// The current UTC time with milliseconds, ISO 8601 with 'Z'. Text of this form
// sorts in time order, so both back ends compare and group it as text
// (substr(t, 1, 10) is the day).
void UtcStamp(char out[kStampSize]);

#endif
