#include "registry/identity.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "mac.h"
#include "registry/utf8.h"
#include "transport/requests.h"

// Texts that fresh boards carry until someone fills them in, compared
// without regard to case. Keep every such text here: a placeholder taken for
// a board key would join unrelated boards into one, and both would get the
// same MAC.
static const char *const kFillerTexts[] = {
    "To Be Filled By O.E.M.",
    "Default string",
    "System Serial Number",
    "Chassis Serial Number",
    "Base Board Serial Number",
    "Not Specified",
    "Not Applicable",
    "N/A",
    "None",
    "0123456789",
    "123456789",
    "Invalid",
    "Unknown",
    "Empty",
};

// GUIDs that firmware writers leave in place, as the 16 bytes of the dashed
// form. A BMC may send them in that order or in the SMBIOS order (the first
// three fields little-endian); both are compared.
static const uint8_t kFillerGuids[][16] = {
    {0x03, 0x00, 0x02, 0x00, 0x04, 0x00, 0x05, 0x00, 0x00, 0x06, 0x00, 0x07, 0x00, 0x08, 0x00,
     0x09},
};

// The 16 bytes of a GUID or UUID written as 32 hex digits, dashes anywhere
// ignored. 0 when the text is one; 1 for any other text.
static int ParseGuid(const char *s, size_t len, uint8_t out[16])
{
    int digits = 0;
    for (size_t i = 0; i < len; i++) {
        if (s[i] == '-')
            continue;
        if (!IsHexDigit(s[i]) || digits == 32)
            return 1;
        int v = HexCharToByte(s[i]);
        out[digits / 2] = static_cast<uint8_t>(digits % 2 == 0 ? v << 4 : out[digits / 2] | v);
        digits++;
    }
    return digits == 32 ? 0 : 1;
}

// The same GUID with its first three fields byte-swapped (either order to
// the other).
static void SwapGuidFields(const uint8_t in[16], uint8_t out[16])
{
    static const int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int k = 0; k < 16; k++)
        out[k] = in[kOrder[k]];
}

static int IsFillerGuid(const char *s, size_t len)
{
    uint8_t bytes[16], swapped[16];
    if (ParseGuid(s, len, bytes) != 0)
        return 0;
    SwapGuidFields(bytes, swapped);
    for (const auto &filler : kFillerGuids) {
        if (memcmp(bytes, filler, 16) == 0 || memcmp(swapped, filler, 16) == 0)
            return 1;
    }
    return 0;
}

// 1 when the text is one character, once or repeated (all 0, all F, all
// blanks of a wiped field), dashes of a GUID aside: no line numbers boards
// that way, and all such boards would be one board.
static int OneRepeatedCharacter(const char *s, size_t len)
{
    char first = 0;
    for (size_t i = 0; i < len; i++) {
        char c = static_cast<char>(tolower(static_cast<unsigned char>(s[i])));
        if (c == '-' && len == 36)
            continue;
        if (first != 0 && c != first)
            return 0;
        first = c;
    }
    return 1;
}

int IsPlaceholderId(const char *value)
{
    while (*value == ' ' || *value == '\t')
        value++;
    size_t len = strlen(value);
    while (len > 0 && (value[len - 1] == ' ' || value[len - 1] == '\t'))
        len--;
    if (OneRepeatedCharacter(value, len) || IsFillerGuid(value, len))
        return 1;
    for (const char *p : kFillerTexts) {
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
static int ReadSystemGuid(char out[kIdValueSize])
{
    uint8_t guid[16];
    if (GetSystemGuid(guid) != 0)
        return 1;
    for (int k = 0; k < 16; k++)
        snprintf(out + 2 * k, 3, "%02x", guid[k]);
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
