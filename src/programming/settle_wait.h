// The wait after programming: optional cold reset, a countdown until the
// BMC answers again, and one pass that checks every programmed MAC.
#ifndef TALVEK_PROGRAMMING_SETTLE_WAIT_H
#define TALVEK_PROGRAMMING_SETTLE_WAIT_H

#include "TALVEK.h"

// Index 255 marks the wait after fast programming. 0 when every programmed
// port reads back its requested MAC, 1 otherwise.
int DelayAfterMacProgramming(int Index, TALVEK_DATA *data);

#endif
