// The allow-list file "TALVEK.ini": lines holding "AVL_MASK=" and
// "AVL_VALUE=", each followed by 12 hexadecimal digits.
#ifndef TALVEK_SOURCES_INI_H
#define TALVEK_SOURCES_INI_H

#include <cstdio>

#include "TALVEK.h"

constexpr int kIniLineSize = 256;  // 255 characters and a terminator

// Loads the list into the record, printing each entry. 0 when the file was
// read (also with no entry); 1 when "TALVEK.ini" cannot be opened.
int GetSetingFromIni(TALVEK_DATA *data);

// Reads the next line (ended by "\n", NUL or the end of the file) into a
// kIniLineSize buffer; characters past the 255th are discarded. 1 when a
// terminator was read, 0 when the end of the file came first.
int GetOneLine(FILE *Fp, char *Buffer);

// Two hexadecimal characters to one byte; 1 when either is not a digit.
int StrToByte(const char *Str, char *Byte);
int FoundAvlMask(const char *StrBuf, char *Mask);
int FoundAvlValue(const char *StrBuf, char *Value);
// 0 only when both keys parse; the mask is tried first.
int FoundAvlMaskAndAvlValue(const char *StrBuf, char *Mask, char *Value);

#endif
