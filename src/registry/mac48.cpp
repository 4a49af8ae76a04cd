#include "registry/mac48.h"

#include <cstdio>

#include "mac.h"

uint64_t MacToInteger(const uint8_t mac[6])
{
    uint64_t value = 0;
    for (int k = 0; k < 6; k++)
        value = value << 8 | mac[k];
    return value;
}

void MacIntegerText(const uint8_t mac[6], char out[kMac48TextSize])
{
    snprintf(out, kMac48TextSize, "%llu", static_cast<unsigned long long>(MacToInteger(mac)));
}

void MacHexText(const uint8_t mac[6], char out[kMacHexSize])
{
    snprintf(out, kMacHexSize, "%02X%02X%02X%02X%02X%02X", mac[0], mac[1], mac[2], mac[3], mac[4],
             mac[5]);
}

void MacDashedText(const uint8_t mac[6], char out[kMacDashedSize])
{
    snprintf(out, kMacDashedSize, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3],
             mac[4], mac[5]);
}

int ParseMacArgument(const char *text, uint8_t mac[6])
{
    // Either twelve digits in a row, or six pairs with one separator kind
    // between every pair: a half-separated text is more likely a typo.
    const char *s = text;
    char sep = 0;
    for (int k = 0; k < 6; k++) {
        if (k > 0 && (*s == '-' || *s == ':')) {
            if (k == 1)
                sep = *s;
            if (*s != sep)
                return 1;
            s++;
        } else if (k > 0 && sep != 0) {
            return 1;
        }
        if (!IsHexDigit(s[0]) || !IsHexDigit(s[1]))
            return 1;
        mac[k] = static_cast<uint8_t>(HexCharToByte(s[0]) << 4 | HexCharToByte(s[1]));
        s += 2;
    }
    return *s == '\0' ? 0 : 1;
}
