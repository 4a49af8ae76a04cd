// Writes the requested MACs with the fast OEM requests, only where the BMC
// holds something else.
#ifndef TALVEK_PROGRAMMING_FAST_PROGRAM_H
#define TALVEK_PROGRAMMING_FAST_PROGRAM_H

#include "TALVEK.h"

// 0 when the BMC holds the selected MACs afterwards (or already did);
// 1 on failure and, without a request, when no port is selected.
int ProgramFastSetGetMacOemCmd(TALVEK_DATA *data);

#endif
