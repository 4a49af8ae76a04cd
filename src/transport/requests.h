// The BMC request catalogue: the exact text of every request line and the
// two operations that are nothing but one request.
#ifndef TALVEK_TRANSPORT_REQUESTS_H
#define TALVEK_TRANSPORT_REQUESTS_H

#include <cstdint>

// Writes the prefix "./kovripmi raw " and the fixed argument text into gCmd.
void BuildFixedRequest(const char *args);
// Formats the argument text into SNgCmd, appends it to gCmd behind the
// prefix, and clears SNgCmd again.
void BuildFormattedRequest(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Line builders; each leaves the complete request in gCmd.
void BuildGetDeviceId();                                        // 0x06 0x01
void BuildColdReset();                                          // 0x06 0x02
void BuildGetSystemGuid();                                      // 0x06 0x37 (registry only)
void BuildFastGetMacFixed(int position);                        // 0x3a 0xa1 0x00 / 0x01
void BuildFastGetMac(int position);                             // 0x3a 0xa1 %d
void BuildFastSetMac(int position, const uint8_t mac[6]);       // 0x3a 0xa0 %d + 6
void BuildFastSetMacFixed(int position, const uint8_t mac[6]);  // 0x3a 0xa0 0x0N + 6
void BuildFastSetMacBoth(const uint8_t mac0[6], const uint8_t mac1[6]);

// Sends Fast Get MAC (formatted form) and copies reply bytes 0..5 to mac.
// Returns the runner's result; mac is filled from ResponseData either way.
int FastGetMac(int position, uint8_t mac[6]);
// Sends Get System GUID and copies the 16 reply bytes, in the order received,
// to guid. 1 when the request fails or the reply is shorter than 16 bytes
// (guid is then left untouched).
int GetSystemGuid(uint8_t guid[16]);
// Copies the first six reply bytes out of ResponseData.
void TakeReplyMac(uint8_t mac[6]);

int ShowBmcVersion();
int ColdReset();

#endif
