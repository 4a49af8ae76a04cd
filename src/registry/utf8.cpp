#include "registry/utf8.h"

int Utf8SequenceLength(const unsigned char *p)
{
    unsigned char c = p[0];
    int n;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0)
            lo = 0xA0;
        if (c == 0xED)
            hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0)
            lo = 0x90;
        if (c == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    if (p[1] < lo || p[1] > hi)
        return 0;
    for (int k = 2; k < n; k++) {
        if (p[k] < 0x80 || p[k] > 0xBF)
            return 0;
    }
    return n;
}
