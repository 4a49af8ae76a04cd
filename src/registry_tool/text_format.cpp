#include "registry_tool/text_format.h"

#include <cstring>

#include "registry/utf8.h"

void PutCsvField(FILE *out, const char *text)
{
    if (!text)
        return;
    size_t len = strlen(text);
    // A spreadsheet opening the file runs a cell that starts like a formula,
    // and board firmware strings reach these cells unchecked: the leading
    // apostrophe makes such a cell text there.
    bool formula = len > 0 && strchr("=+-@\t\r", text[0]) != nullptr;
    bool quote = strpbrk(text, ",\"\r\n") != nullptr ||
                 (len > 0 && (text[0] == ' ' || text[len - 1] == ' '));
    if (quote)
        putc('"', out);
    if (formula)
        putc('\'', out);
    for (const char *p = text; *p; p++) {
        if (quote && *p == '"')
            putc('"', out);
        putc(*p, out);
    }
    if (quote)
        putc('"', out);
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
