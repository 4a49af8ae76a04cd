#include "mac.h"

int StrMacIsValid(const char *StrMac)
{
    for (int i = 0; i < 12; i++) {
        if (!IsHexDigit(StrMac[i]))
            return 1;
    }
    return 0;
}

uint8_t HexCharToByte(char ch)
{
    if (ch >= '0' && ch <= '9')
        return static_cast<uint8_t>(ch - '0');
    if (ch >= 'a' && ch <= 'f')
        return static_cast<uint8_t>(ch - 'a' + 10);
    if (ch >= 'A' && ch <= 'F')
        return static_cast<uint8_t>(ch - 'A' + 10);
    return 0;
}

void MacTextToBytes(const char *text, uint8_t mac[6])
{
    for (int k = 0; k < 6; k++)
        mac[k] =
            static_cast<uint8_t>(HexCharToByte(text[2 * k]) * 16 + HexCharToByte(text[2 * k + 1]));
}
