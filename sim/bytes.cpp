// Bounded parsing and formatting of the small textual items kovripmi handles:
// request bytes, scenario hex bytes and numbers, MAC text, reply layout and
// quoted escape strings. Every function checks its input completely and never
// reads or writes outside the buffers it is given.
#include <cstdio>
#include <cstring>

#include "sim.h"

static int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A request byte: "0x" (or "0X") and one or two hex digits, or one to three
// decimal digits with a value up to 255. Returns 0 and sets *value, else 1.
int ParseRequestByte(const char *text, int *value)
{
    if (text == nullptr)
        return 1;
    size_t len = strnlen(text, 8);
    if (len == 0 || len > 4)
        return 1;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (len < 3)
            return 1;
        int v = 0;
        for (size_t i = 2; i < len; i++) {
            int d = HexDigitValue(text[i]);
            if (d < 0)
                return 1;
            v = v * 16 + d;
        }
        *value = v;
        return 0;
    }
    if (len > 3)
        return 1;
    int v = 0;
    for (size_t i = 0; i < len; i++) {
        if (text[i] < '0' || text[i] > '9')
            return 1;
        v = v * 10 + (text[i] - '0');
    }
    if (v > 255)
        return 1;
    *value = v;
    return 0;
}

// A scenario byte: one or two hex digits, optionally behind "0x".
int ParseHexByte(const char *text, int *value)
{
    if (text == nullptr)
        return 1;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text += 2;
    size_t len = strnlen(text, 4);
    if (len == 0 || len > 2)
        return 1;
    int v = 0;
    for (size_t i = 0; i < len; i++) {
        int d = HexDigitValue(text[i]);
        if (d < 0)
            return 1;
        v = v * 16 + d;
    }
    *value = v;
    return 0;
}

// A decimal number from 0 to max (max at most SIM_MAX_COUNT).
int ParseNumber(const char *text, long max, long *value)
{
    if (text == nullptr)
        return 1;
    size_t len = strnlen(text, 12);
    if (len == 0 || len > 10)
        return 1;
    long v = 0;
    for (size_t i = 0; i < len; i++) {
        if (text[i] < '0' || text[i] > '9')
            return 1;
        v = v * 10 + (text[i] - '0');
    }
    if (v > max)
        return 1;
    *value = v;
    return 0;
}

// Exactly twelve hex digits, either case, most significant byte first.
int ParseMacText(const char *text, unsigned char mac[6])
{
    if (text == nullptr || strnlen(text, 13) != 12)
        return 1;
    for (int i = 0; i < 6; i++) {
        int hi = HexDigitValue(text[2 * i]);
        int lo = HexDigitValue(text[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return 1;
        mac[i] = (unsigned char)(hi * 16 + lo);
    }
    return 0;
}

void FormatMacText(const unsigned char mac[6], char out[13])
{
    snprintf(out, 13, "%02X%02X%02X%02X%02X%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
}

// The layout of a standard IPMI client's raw reply: every byte as a blank and
// two lower-case hex digits, a line break between groups of 16 bytes and one
// at the end (an empty reply is a lone line break). Returns the length
// written; output that would not fit in cap bytes is cut short.
size_t FormatReplyBytes(const unsigned char *bytes, size_t count, char *out, size_t cap)
{
    static const char digits[] = "0123456789abcdef";
    size_t n = 0;
    for (size_t i = 0; i < count; i++) {
        if (i != 0 && i % 16 == 0) {
            if (n + 1 > cap)
                return n;
            out[n++] = '\n';
        }
        if (n + 3 > cap)
            return n;
        out[n++] = ' ';
        out[n++] = digits[bytes[i] >> 4];
        out[n++] = digits[bytes[i] & 15];
    }
    if (n + 1 > cap)
        return n;
    out[n++] = '\n';
    return n;
}

// Reads a double-quoted string starting at text[0] == '"'. Escapes: \n \r \t
// \\ \" and \xNN (exactly two hex digits). Sets *len to the bytes stored and
// *end to the character behind the closing quote. Returns 0, or 1 for a
// missing quote, a bad escape or a result longer than cap.
int UnescapeQuoted(const char *text, unsigned char *out, size_t cap, size_t *len, const char **end)
{
    if (text[0] != '"')
        return 1;
    size_t n = 0;
    const char *p = text + 1;
    while (*p != '"') {
        if (*p == '\0')
            return 1;
        int c = (unsigned char)*p;
        if (c == '\\') {
            p++;
            switch (*p) {
            case 'n':
                c = '\n';
                break;
            case 'r':
                c = '\r';
                break;
            case 't':
                c = '\t';
                break;
            case '\\':
                c = '\\';
                break;
            case '"':
                c = '"';
                break;
            case 'x': {
                int hi = HexDigitValue(p[1]);
                int lo = hi < 0 ? -1 : HexDigitValue(p[2]);
                if (hi < 0 || lo < 0)
                    return 1;
                c = hi * 16 + lo;
                p += 2;
                break;
            }
            default:
                return 1;
            }
        }
        if (n >= cap)
            return 1;
        out[n++] = (unsigned char)c;
        p++;
    }
    *len = n;
    *end = p + 1;
    return 0;
}

int PortIndex(const char *name)
{
    if (strcmp(name, "eth0") == 0)
        return 0;
    if (strcmp(name, "eth1") == 0)
        return 1;
    return -1;
}
