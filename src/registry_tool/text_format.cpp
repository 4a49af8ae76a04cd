#include "registry_tool/text_format.h"

#include <cstring>

void PutCsvField(FILE *out, const char *text)
{
    if (!text)
        return;
    size_t len = strlen(text);
    bool quote = strpbrk(text, ",\"\r\n") != nullptr ||
                 (len > 0 && (text[0] == ' ' || text[len - 1] == ' '));
    if (!quote) {
        fputs(text, out);
        return;
    }
    putc('"', out);
    for (const char *p = text; *p; p++) {
        if (*p == '"')
            putc('"', out);
        putc(*p, out);
    }
    putc('"', out);
}

// Length of the valid UTF-8 sequence at p (1 to 4), or 0 when the bytes
// there are not one: overlong forms, surrogates and values past U+10FFFF
// are refused as the standard asks.
static int Utf8SequenceLength(const unsigned char *p)
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

void PutJsonString(FILE *out, const char *text)
{
    if (!text) {
        fputs("null", out);
        return;
    }
    putc('"', out);
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    while (*p) {
        unsigned char c = *p;
        if (c == '"' || c == '\\') {
            putc('\\', out);
            putc(c, out);
            p++;
        } else if (c < 0x20 || c == 0x7F) {
            fprintf(out, "\\u%04x", c);
            p++;
        } else if (c < 0x80) {
            putc(c, out);
            p++;
        } else {
            int n = Utf8SequenceLength(p);
            if (n == 0) {
                fputs("\\ufffd", out);
                p++;
            } else {
                fwrite(p, 1, static_cast<size_t>(n), out);
                p += n;
            }
        }
    }
    putc('"', out);
}
