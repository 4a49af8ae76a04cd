// A MAC as the registry stores it: a 48-bit unsigned integer (byte 0 most
// significant), so that PostgreSQL and SQLite can hold it UNIQUE in one
// integer column, next to its 12-digit upper-case text for people.
#ifndef TALVEK_REGISTRY_MAC48_H
#define TALVEK_REGISTRY_MAC48_H

#include <cstdint>

constexpr int kMac48TextSize = 16;  // decimal: at most 15 digits and a terminator
constexpr int kMacHexSize = 13;     // 12 hex digits and a terminator
constexpr int kMacDashedSize = 18;  // six pairs, five dashes and a terminator

uint64_t MacToInteger(const uint8_t mac[6]);
// The integer in decimal, as bound to SQL.
void MacIntegerText(const uint8_t mac[6], char out[kMac48TextSize]);
// "02AB3C5601A1", the form of TALVEK.txt.
void MacHexText(const uint8_t mac[6], char out[kMacHexSize]);
// "02-AB-3C-56-01-A1", the form the operator and the feed are shown.
void MacDashedText(const uint8_t mac[6], char out[kMacDashedSize]);
// Accepts 12 hex digits, optionally in pairs separated by '-' or ':'
// (02AB3C5601A1, 02-ab-3c-56-01-a1, 02:AB:3C:56:01:A1). 0 on success.
int ParseMacArgument(const char *text, uint8_t mac[6]);

#endif
