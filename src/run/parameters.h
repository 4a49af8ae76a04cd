// Command-line parsing into the run record, with its small validators.
#ifndef TALVEK_RUN_PARAMETERS_H
#define TALVEK_RUN_PARAMETERS_H

#include <cstdint>

#include "TALVEK.h"

// '1'..'4' store Ch - '1' in Index and return 0; anything else returns 1.
int CharMacIndexIsVaild(char Ch, int32_t *Index);

// Fills the run record from the arguments. 0 on success; 1 when a data
// file cannot be opened or does not hold a MAC.
int GetDataFromParameter(int op, char **op_str, TALVEK_DATA *data);

#endif
