#include "sources/ini.h"

#include <cstdlib>
#include <cstring>

#include "mac.h"

static const char kIniName[] = "TALVEK.ini";

// The one line reader of the allow-list. getc_unlocked: the stream is this
// loader's alone, so no byte pays for a lock, and a 1,024-entry list loads
// in well under a millisecond.
int GetOneLine(FILE *Fp, char *Buffer)
{
    int len = 0;
    for (;;) {
        int c = getc_unlocked(Fp);
        if (c == EOF) {
            Buffer[len] = '\0';
            return 0;
        }
        if (c == '\n' || c == '\0') {
            Buffer[len] = '\0';
            return 1;
        }
        // A line longer than the buffer keeps its first 255 characters; the
        // rest up to the terminator is dropped, never a line of its own.
        if (len < kIniLineSize - 1)
            Buffer[len++] = static_cast<char>(c);
    }
}

int StrToByte(const char *Str, char *Byte)
{
    *Byte = 0;
    if (!IsHexDigit(Str[0]) || !IsHexDigit(Str[1]))
        return 1;
    *Byte = static_cast<char>(HexCharToByte(Str[0]) << 4 | HexCharToByte(Str[1]));
    return 0;
}

// Finds the first occurrence of key and converts the 12 digits behind it.
// StrToByte stops at the first non-digit, the line's NUL included, so
// nothing past the end of the line is read.
static int FoundKeyBytes(const char *line, const char *key, char *bytes)
{
    const char *at = strstr(line, key);
    if (at == nullptr)
        return 1;
    const char *digits = at + strlen(key);
    for (int k = 0; k < 6; k++) {
        if (StrToByte(digits + 2 * k, &bytes[k]) != 0)
            return 1;
    }
    return 0;
}

int FoundAvlMask(const char *StrBuf, char *Mask)
{
    return FoundKeyBytes(StrBuf, "AVL_MASK=", Mask);
}

int FoundAvlValue(const char *StrBuf, char *Value)
{
    return FoundKeyBytes(StrBuf, "AVL_VALUE=", Value);
}

int FoundAvlMaskAndAvlValue(const char *StrBuf, char *Mask, char *Value)
{
    if (FoundAvlMask(StrBuf, Mask) != 0)
        return 1;
    return FoundAvlValue(StrBuf, Value) != 0 ? 1 : 0;
}

static void PrintEntry(int index, const AVAILABLE_MAC_STRUCT *e)
{
    const unsigned char *m = reinterpret_cast<const unsigned char *>(e->Mask);
    const unsigned char *v = reinterpret_cast<const unsigned char *>(e->Value);
    printf("INI(%d) - AVL_MASK=%02X%02X%02X%02X%02X%02X, AVL_VALUE=%02X%02X%02X%02X%02X%02X\n",
           index, m[0], m[1], m[2], m[3], m[4], m[5], v[0], v[1], v[2], v[3], v[4], v[5]);
}

// Parses one line into the next free slot; a full table parses into a
// scratch entry only to notice (and announce once) that entries are lost.
static void TakeLine(TALVEK_DATA *data, const char *line, bool *warned)
{
    if (line[0] == ';')
        return;
    AVAILABLE_MAC_STRUCT scratch;
    bool full = data->AvailabelMacCount >= kMaxAvailabelMac;
    AVAILABLE_MAC_STRUCT *slot = full ? &scratch : &data->AvailabelMac[data->AvailabelMacCount];
    if (FoundAvlMaskAndAvlValue(line, slot->Mask, slot->Value) != 0)
        return;
    if (full) {
        if (!*warned)
            printf("Warning! Only the first %d entries of %s are used.\n", kMaxAvailabelMac,
                   kIniName);
        *warned = true;
        return;
    }
    PrintEntry(data->AvailabelMacCount, slot);
    data->AvailabelMacCount++;
}

int GetSetingFromIni(TALVEK_DATA *data)
{
    FILE *fp = fopen(kIniName, "r");
    if (fp == nullptr) {
        printf("\nError! Can not open INI file - %s.\n", kIniName);
        return 1;
    }
    char *line = static_cast<char *>(malloc(kIniLineSize));
    if (line == nullptr) {
        fclose(fp);
        printf("\nError! Can not open INI file - %s.\n", kIniName);
        return 1;
    }
    data->AvailabelMacCount = 0;
    bool warned = false;
    for (;;) {
        int ended = GetOneLine(fp, line);
        // A last line without a line end is parsed like any other.
        if (ended == 0 && line[0] == '\0')
            break;
        TakeLine(data, line, &warned);
        if (ended == 0)
            break;
    }
    free(line);
    // A file that cannot be read (a directory, an I/O error) is no allow-list.
    int unreadable = ferror(fp);
    fclose(fp);
    if (unreadable) {
        printf("\nError! Can not open INI file - %s.\n", kIniName);
        return 1;
    }
    return 0;
}
