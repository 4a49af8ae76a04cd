// Command-line parsing into the run record, with its small validators.
#ifndef TALVEK_RUN_PARAMETERS_H
#define TALVEK_RUN_PARAMETERS_H

#include <cstdint>

#include "TALVEK.h"

// '1'..'4' store Ch - '1' in Index and return 0; anything else returns 1.
int CharMacIndexIsVaild(char Ch, int32_t *Index);
// 0 when the first 12 characters are hexadecimal digits, else 1.
int StrMacIsValid(const char *StrMac);
// One hexadecimal digit to 0..15; any other character to 0.
uint8_t HexCharToByte(char ch);
// Twelve digits of text to six bytes, most significant first.
void MacTextToBytes(const char *text, uint8_t mac[6]);

// Fills the run record from the arguments. 0 on success; 1 when a data
// file cannot be opened or does not hold a MAC.
int GetDataFromParameter(int op, char **op_str, TALVEK_DATA *data);

#endif
