#include "registry/identity.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

#include "mac.h"
#include "registry/utf8.h"
#include "transport/execmd.h"
#include "transport/requests.h"

// Values that fresh boards carry until someone fills them in. Keep every
// such text here: a placeholder taken for a board key would join unrelated
// boards into one.
static const char *const kPlaceholders[] = {
    "",
    "03000200-0400-0500-0006-000700080009",
    "To be filled by O.E.M.",
    "Default string",
    "0123456789",
    "None",
    "Not Specified",
};

// 1 when every hexadecimal digit is d (either case), dashes aside, and the
// text is a whole GUID/UUID: 32 digits.
static int AllDigitsAre(const char *s, size_t len, char d)
{
    int digits = 0;
    for (size_t i = 0; i < len; i++) {
        if (s[i] == '-')
            continue;
        if (s[i] != d && s[i] != (d | 0x20))
            return 0;
        digits++;
    }
    return digits == 32;
}

int IsPlaceholderId(const char *value)
{
    while (*value == ' ' || *value == '\t')
        value++;
    size_t len = strlen(value);
    while (len > 0 && (value[len - 1] == ' ' || value[len - 1] == '\t'))
        len--;
    if (AllDigitsAre(value, len, '0') || AllDigitsAre(value, len, 'F'))
        return 1;
    for (const char *p : kPlaceholders) {
        if (strlen(p) == len && strncasecmp(value, p, len) == 0)
            return 1;
    }
    return 0;
}

void ChooseBoardKey(BOARD_IDENTITY *id)
{
    for (int f = 0; f < kIdFields; f++)
        id->Placeholder[f] = !id->Present[f] || IsPlaceholderId(id->Value[f]);
    id->Key[0] = '\0';
    static const int kKeyOrder[] = {ID_SYSTEM_GUID, ID_PRODUCT_UUID, ID_BOARD_SERIAL};
    for (int f : kKeyOrder) {
        if (!id->Placeholder[f]) {
            memcpy(id->Key, id->Value[f], sizeof(id->Key));
            return;
        }
    }
}

// Copies raw into out (out_size > 0) as text every database takes: control
// characters become '?', bytes that are not UTF-8 become "\xHH" (so that
// boards whose firmware left different junk still differ). A value longer
// than out is cut between characters: it is kept for people to read, and
// the first bytes still tell boards apart.
static void PrintableUtf8(const unsigned char *raw, char *out, size_t out_size)
{
    size_t n = 0;
    for (const unsigned char *p = raw; *p != '\0';) {
        int len = *p < 0x80 ? 1 : Utf8SequenceLength(p);
        char piece[5];
        if (len == 0)
            snprintf(piece, sizeof(piece), "\\x%02X", *p);
        else if (len == 1)
            snprintf(piece, sizeof(piece), "%c", *p < 0x20 || *p == 0x7F ? '?' : *p);
        else
            snprintf(piece, sizeof(piece), "%.*s", len, reinterpret_cast<const char *>(p));
        size_t piece_len = strlen(piece);
        if (n + piece_len >= out_size)
            break;
        memcpy(out + n, piece, piece_len);
        n += piece_len;
        p += len == 0 ? 1 : len;
    }
    out[n] = '\0';
}

int ReadDmiValue(const char *dir, const char *name, char *out, size_t out_size)
{
    char path[600];
    if (snprintf(path, sizeof(path), "%s/%s", dir, name) >= static_cast<int>(sizeof(path)))
        return 1;
    FILE *f = fopen(path, "r");
    if (f == nullptr)
        return 1;
    unsigned char raw[kIdValueSize];
    size_t n = fread(raw, 1, sizeof(raw) - 1, f);
    int failed = ferror(f);
    fclose(f);
    if (failed)
        return 1;
    raw[n] = '\0';
    n = strlen(reinterpret_cast<char *>(raw));
    while (n > 0 &&
           (raw[n - 1] == '\n' || raw[n - 1] == '\r' || raw[n - 1] == ' ' || raw[n - 1] == '\t'))
        raw[--n] = '\0';
    PrintableUtf8(raw, out, out_size);
    return 0;
}

// Get System GUID: 16 bytes, kept as 32 hex digits in the order received.
// The reply array is never cleared, so a short reply is told apart by
// marking the 16 places first; the marks are undone where no reply byte
// landed, leaving the array as a failed request would.
static int ReadSystemGuid(char out[kIdValueSize])
{
    int saved[16];
    for (int k = 0; k < 16; k++) {
        saved[k] = ResponseData[k];
        ResponseData[k] = -1;
    }
    BuildGetSystemGuid();
    int failed = Execmd(gCmd) != 0;
    for (int k = 0; k < 16; k++) {
        if (ResponseData[k] < 0) {
            ResponseData[k] = saved[k];
            failed = 1;
        }
    }
    if (failed)
        return 1;
    for (int k = 0; k < 16; k++)
        snprintf(out + 2 * k, 3, "%02x", ResponseData[k] & 0xFF);
    return 0;
}

void ReadBoardIdentity(const char *dmi_dir, BOARD_IDENTITY *id)
{
    memset(id, 0, sizeof(*id));
    id->Present[ID_SYSTEM_GUID] = ReadSystemGuid(id->Value[ID_SYSTEM_GUID]) == 0;
    static const char *const kFiles[] = {"product_uuid", "board_serial", "product_serial"};
    for (int f = ID_PRODUCT_UUID; f <= ID_PRODUCT_SERIAL; f++)
        id->Present[f] = ReadDmiValue(dmi_dir, kFiles[f - 1], id->Value[f], kIdValueSize) == 0;
    for (int f = 0; f < kIdFields; f++) {
        if (!id->Present[f])
            id->Value[f][0] = '\0';
    }
    ChooseBoardKey(id);
}
