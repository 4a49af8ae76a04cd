// Small MAC helpers shared by the stages: a MAC is six bytes, most
// significant first; as text it is twelve hexadecimal digits. Every folder
// may use them; they use nothing of the program's own.
#ifndef TALVEK_MAC_H
#define TALVEK_MAC_H

#include <cstdint>
#include <cstring>

// '0'-'9', 'a'-'f', 'A'-'F'; nothing else (no byte of 0x80 or more).
constexpr bool IsHexDigit(int c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

inline bool SameMac(const uint8_t a[6], const uint8_t b[6])
{
    return memcmp(a, b, 6) == 0;
}

// All six bytes equal value: 00-00-00-00-00-00 and FF-FF-FF-FF-FF-FF are
// what an unprogrammed or unreadable port reports.
inline bool AllBytesAre(const uint8_t mac[6], uint8_t value)
{
    for (int k = 0; k < 6; k++) {
        if (mac[k] != value)
            return false;
    }
    return true;
}

// 0 when the first 12 characters are hexadecimal digits, else 1. Stops at
// the first character that is not a digit, so a short string fails at its
// terminator and nothing behind it is read.
int StrMacIsValid(const char *StrMac);
// One hexadecimal digit to 0..15; any other character to 0.
uint8_t HexCharToByte(char ch);
// Twelve digits of text to six bytes, most significant first.
void MacTextToBytes(const char *text, uint8_t mac[6]);

#endif
